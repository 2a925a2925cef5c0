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
#include <thread>

#ifndef BOOTCRANK_STAGE
#define BOOTCRANK_STAGE ""
#endif

namespace bootcrank {
namespace testing {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int DecodeStatus(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::runtime_error SystemError(const std::string& what) {
  return std::runtime_error(what + ": " + strerror(errno));
}

}  // namespace

int Shell(const std::string& command) {
  int status = system(command.c_str());
  return status == -1 ? -1 : DecodeStatus(status);
}

std::string ReadAll(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

Sandbox::Sandbox() {
  const char* tmp = getenv("TMPDIR");
  root_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/bcsb-XXXXXX";
  if (mkdtemp(&root_[0]) == nullptr) throw SystemError("mkdtemp");
  if (*BOOTCRANK_STAGE != '\0') {
    fs::copy(BOOTCRANK_STAGE, root_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  }
  for (const char* dir : {"/var/log", "/var/run/quarro", "/bootbank", "/etc/quarro/bootcrank",
                          "/usr/libexec/bootcrank/plugins"}) {
    MakeDirectory(dir);
  }
  WriteFile("/dev/kmsg", "");
  WriteFile("/dev/log", "");
}

// Asks an executor left serving in the root (usually none) to stop.
Sandbox::~Sandbox() {
  struct sockaddr_un address = {AF_UNIX, {}};
  Path("/var/run/quarro/bootcrankExecutor.sock")
      .copy(address.sun_path, sizeof address.sun_path - 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) == 0) {
    (void)!write(fd, "stop", 4);
    shutdown(fd, SHUT_WR);
    struct pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, 2000);  // closed once the executor saw it
  }
  close(fd);
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

void Sandbox::WriteFile(const std::string& absolute, const std::string& content,
                        mode_t mode) const {
  MakeDirectory(absolute.substr(0, absolute.rfind('/')));
  std::ofstream out(Path(absolute), std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  if (!out) throw std::runtime_error("cannot write " + Path(absolute));
  fs::permissions(Path(absolute), static_cast<fs::perms>(mode));
}

std::string Sandbox::ReadFile(const std::string& absolute) const { return ReadAll(Path(absolute)); }

bool Sandbox::Exists(const std::string& absolute) const {
  return fs::exists(fs::symlink_status(Path(absolute)));
}

std::vector<std::string> Sandbox::Environment() const {
  const char* path = getenv("PATH");
  std::vector<std::string> env = {"BOOTCRANK_ROOT=" + root_,
                                  std::string("PATH=") + (path ? path : "/usr/bin:/bin")};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  return env;
}

RunResult Sandbox::Run(const std::vector<std::string>& args, int timeoutSeconds) const {
  return Start(args).Wait(timeoutSeconds);
}

Started Sandbox::Start(const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {Program()}, env = Environment();
  argv.insert(argv.end(), args.begin(), args.end());
  return Started(argv, &env);
}

Started::Started(const std::vector<std::string>& argv, const std::vector<std::string>* env) {
  // Unlinked files: a daemon left running may keep them open harmlessly.
  for (int& fd : files_) {
    char name[] = "/tmp/bcrun-XXXXXX";
    if ((fd = mkostemp(name, O_CLOEXEC)) < 0) throw SystemError("mkostemp");
    unlink(name);
  }
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (size_t i = 0; env != nullptr && i < env->size(); ++i) {
    envp.push_back(const_cast<char*>((*env)[i].c_str()));
  }
  args.push_back(nullptr);
  envp.push_back(nullptr);
  if ((pid_ = fork()) < 0) throw SystemError("fork");
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(open("/dev/null", O_RDONLY | O_CLOEXEC), 0);
    dup2(files_[0], 1);
    dup2(files_[1], 2);
    host::CloseDescriptorsFrom(3);  // what the children inherit is then the program's own doing
    execve(args[0], args.data(), env != nullptr ? envp.data() : environ);
    _exit(127);
  }
}

Started::~Started() {
  if (!waited_) Wait(0);
  for (int fd : files_) close(fd);
}

std::string Started::Output(int stream) const {
  return ReadAll("/proc/self/fd/" + std::to_string(files_[stream - 1]));
}

bool Started::AwaitOutput(const std::string& text, int timeoutSeconds) const {
  for (auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
       Output(1).find(text) == std::string::npos;) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

RunResult Started::Wait(int timeoutSeconds) {
  auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  waited_ = true;
  return RunResult{DecodeStatus(status), Output(1), Output(2)};
}

RunResult RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>* env,
                     int timeoutSeconds) {
  return Started(argv, env).Wait(timeoutSeconds);
}

}  // namespace testing
}  // namespace bootcrank
