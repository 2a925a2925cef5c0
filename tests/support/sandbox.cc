#include "support/sandbox.h"

#include "host/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef BOOTCRANK_STAGE
#define BOOTCRANK_STAGE ""
#endif

namespace bootcrank {
namespace testing {

namespace {

namespace fs = std::filesystem;

int DecodeStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + strerror(errno));
}

// Asks an executor process serving in `root` to stop, so that no test leaves
// one behind. Usually nothing is listening.
void StopExecutor(const std::string& root) {
  std::string path = root + "/var/run/quarro/bootcrankExecutor.sock";
  struct sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return;
  memcpy(address.sun_path, path.c_str(), path.size());
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) {
    (void)!write(fd, "stop", 4);
    shutdown(fd, SHUT_WR);
    struct pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, 2000);  // the executor closes the connection once it saw it
  }
  close(fd);
}

}  // namespace

int Shell(const std::string& command) {
  int status = system(command.c_str());
  return status == -1 ? -1 : DecodeStatus(status);
}

Sandbox::Sandbox() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bcsb-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) throw SystemError("mkdtemp");
  root_ = pattern;
  if (*BOOTCRANK_STAGE != '\0') {
    fs::copy(BOOTCRANK_STAGE, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  for (const char* dir : {"/dev", "/var/log", "/var/run/quarro", "/bootbank",
                          "/etc/quarro/bootcrank", "/usr/libexec/bootcrank/plugins"}) {
    MakeDirectory(dir);
  }
  WriteFile("/dev/kmsg", "");
  WriteFile("/dev/log", "");
}

Sandbox::~Sandbox() {
  StopExecutor(root_);
  Remove("");
}

// Like mkdir -p and rm -rf: a failure shows in what the test does next.
void Sandbox::MakeDirectory(const std::string& absolute) const {
  std::error_code ignored;
  fs::create_directories(Path(absolute), ignored);
}

void Sandbox::Remove(const std::string& absolute) const {
  std::error_code ignored;
  fs::remove_all(Path(absolute), ignored);
}

void Sandbox::WriteFile(const std::string& absolute, const std::string& content, mode_t mode) const {
  MakeDirectory(absolute.substr(0, absolute.rfind('/')));
  std::string path = Path(absolute);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  fs::permissions(path, static_cast<fs::perms>(mode));
}

std::string Sandbox::ReadFile(const std::string& absolute) const {
  std::ostringstream text;
  text << std::ifstream(Path(absolute), std::ios::binary).rdbuf();
  return text.str();
}

bool Sandbox::Exists(const std::string& absolute) const { return fs::exists(fs::symlink_status(Path(absolute))); }

std::vector<std::string> Sandbox::Environment(const std::vector<std::string>& extra) const {
  const char* path = getenv("PATH");
  std::vector<std::string> env = {"BOOTCRANK_ROOT=" + root_,
                                  std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin")};
  // A sanitizer build's program runs with the options the suite was given.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

RunResult Sandbox::Run(const std::vector<std::string>& args, int timeoutSeconds,
                       const std::vector<std::string>& extraEnv) const {
  std::vector<std::string> argv = {Program()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = Environment(extraEnv);
  return RunProcess(argv, &env, timeoutSeconds);
}

RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>* env,
                     int timeoutSeconds) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw SystemError("pipe");
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (size_t i = 0; env != nullptr && i < env->size(); ++i) envp.push_back(const_cast<char*>((*env)[i].c_str()));
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) throw SystemError("fork");
  if (pid == 0) {
    setpgid(0, 0);
    dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    // Only the standard streams: whatever the test runner left open must
    // not reach the program, so that what its children inherit is its own.
    host::CloseDescriptorsFrom(3);
    execve(args[0], args.data(), env != nullptr ? envp.data() : environ);
    _exit(127);
  }
  close(out[1]);
  close(err[1]);

  RunResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  bool exited = false;
  int status = 0;
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    int n = poll(fds, 2, 100);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < 2 && n > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
    if (!exited) exited = waitpid(pid, &status, WNOHANG) == pid;
    // A descendant (a daemon) may keep a pipe open after the program ended;
    // once the program is gone and the pipes are quiet, stop reading.
    if (exited && n == 0) break;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      exited = waitpid(pid, &status, 0) == pid;
    }
  }
  for (auto& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  if (!exited) waitpid(pid, &status, 0);
  result.status = DecodeStatus(status);
  return result;
}

}  // namespace testing
}  // namespace bootcrank
