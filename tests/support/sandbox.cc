#include "support/sandbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef BOOTCRANK_STAGE
#define BOOTCRANK_STAGE ""
#endif

namespace bootcrank {
namespace testing {

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

// Asks an executor process serving in `root` to stop, so that no test leaves
// one behind. Ignores every failure: usually nothing is listening.
void StopExecutor(const std::string& root) {
  std::string path = root + "/var/run/quarro/bootcrankExecutor.sock";
  struct sockaddr_un address;
  memset(&address, 0, sizeof address);
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
  if (status == -1) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

Sandbox::Sandbox() {
  const char* tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/bcsb-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error(std::string("mkdtemp: ") + strerror(errno));
  }
  root_ = buffer.data();
  std::string stage = BOOTCRANK_STAGE;
  if (!stage.empty() && Shell("cp -a " + Quote(stage) + "/. " + Quote(root_) + "/") != 0) {
    throw std::runtime_error("cannot copy the staged install from " + stage);
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
  Shell("rm -rf " + Quote(root_));
}

void Sandbox::MakeDirectory(const std::string& absolute) const {
  Shell("mkdir -p " + Quote(Path(absolute)));
}

void Sandbox::Remove(const std::string& absolute) const {
  Shell("rm -rf " + Quote(Path(absolute)));
}

void Sandbox::WriteFile(const std::string& absolute, const std::string& content,
                        mode_t mode) const {
  std::string path = Path(absolute);
  std::string dir = path.substr(0, path.rfind('/'));
  Shell("mkdir -p " + Quote(dir));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  chmod(path.c_str(), mode);
}

std::string Sandbox::ReadFile(const std::string& absolute) const {
  std::ifstream in(Path(absolute), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Sandbox::Exists(const std::string& absolute) const {
  struct stat st;
  return lstat(Path(absolute).c_str(), &st) == 0;
}

std::vector<std::string> Sandbox::Environment(const std::vector<std::string>& extra) const {
  std::vector<std::string> env = {"BOOTCRANK_ROOT=" + root_};
  const char* path = getenv("PATH");
  env.push_back(std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"));
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

RunResult RunProcess(const std::vector<std::string>& argv,
                     const std::vector<std::string>* env, int timeoutSeconds) {
  RunResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + strerror(errno));
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  if (env != nullptr) {
    for (const std::string& e : *env) envp.push_back(const_cast<char*>(e.c_str()));
  }
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + strerror(errno));
  if (pid == 0) {
    setpgid(0, 0);
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    if (env != nullptr) {
      execve(args[0], args.data(), envp.data());
    } else {
      execv(args[0], args.data());
    }
    _exit(127);
  }
  close(out[1]);
  close(err[1]);

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  struct pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  bool exited = false, killed = false;
  int status = 0;
  while (open > 0) {
    int n = poll(fds, 2, 100);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (!exited && waitpid(pid, &status, WNOHANG) == pid) exited = true;
    // A descendant (a daemon) may keep a pipe open after the program ended;
    // once the program is gone and the pipes are quiet, stop reading.
    if (exited && n == 0) break;
    if (!exited && std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      killed = true;
      waitpid(pid, &status, 0);
      exited = true;
    }
  }
  for (auto& p : fds) {
    if (p.fd >= 0) close(p.fd);
  }
  if (!exited) waitpid(pid, &status, 0);
  if (killed || WIFSIGNALED(status)) {
    result.status = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : SIGKILL);
  } else {
    result.status = WEXITSTATUS(status);
  }
  return result;
}

}  // namespace testing
}  // namespace bootcrank
