#include "host/replace_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "host/files.h"
#include "host/open_file.h"

namespace bootcrank {
namespace host {

namespace {

const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t kSuffixLength = 6;
constexpr int kNameAttempts = 100;

// Six characters for a temporary name.
std::string RandomSuffix() {
  uint8_t bytes[kSuffixLength];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    uint64_t mix = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 32);
    for (uint8_t& byte : bytes) {
      mix = mix * 6364136223846793005u + 1442695040888963407u;
      byte = static_cast<uint8_t>(mix >> 56);
    }
  }
  std::string suffix;
  for (uint8_t byte : bytes) suffix += kLetters[byte % (sizeof kLetters - 1)];
  return suffix;
}

bool IsTemporaryName(const std::string& name, const std::string& base) {
  if (name.size() != base.size() + 1 + kSuffixLength || name.compare(0, base.size(), base) != 0 ||
      name[base.size()] != '.') {
    return false;
  }
  for (size_t i = base.size() + 1; i < name.size(); ++i) {
    char c = name[i];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// The directory part of `path` ("." when it has none).
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Makes the rename itself durable; a failure here loses nothing the caller
// could act on.
void SyncDirectoryOf(const std::string& path) {
  UniqueFd directory(OpenWithoutWaiting(DirectoryOf(path), O_RDONLY | O_DIRECTORY));
  if (directory.Valid()) fsync(directory.Get());
}

}  // namespace

int FileReplacement::Begin(const std::string& path, mode_t mode, Destination destination) {
  Discard();
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (destination == Destination::kNamedByUser) {
      file_.Reset(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
      if (!file_.Valid()) return errno;
      path_ = path;
      return 0;
    }
    if (S_ISLNK(st.st_mode)) return ELOOP;
    if (destination == Destination::kFixedFile) {
      UniqueFd probe(OpenWithoutWaiting(path, O_WRONLY | O_NOFOLLOW));
      if (!probe.Valid()) return errno;
    }
  }
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string name = path + "." + RandomSuffix();
    file_.Reset(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode));
    if (file_.Valid()) {
      path_ = path;
      temporary_ = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

int FileReplacement::Write(const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(file_.Get(), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return 0;
}

int FileReplacement::Commit(Step* failed, int* modeError) {
  *modeError = 0;
  *failed = Step::kSync;
  if (!file_.Valid()) return EBADF;
  if (temporary_.empty()) return file_.Close();
  if (fsync(file_.Get()) != 0) return errno;

  struct stat st;
  if (lstat(path_.c_str(), &st) != 0) {
    if (errno != ENOENT) *modeError = errno;
  } else if (S_ISLNK(st.st_mode)) {
    *failed = Step::kRename;
    return ELOOP;
  } else if (S_ISREG(st.st_mode) && fchmod(file_.Get(), st.st_mode & 07777) != 0) {
    *modeError = errno;
  }
  if (rename(temporary_.c_str(), path_.c_str()) != 0) {
    *failed = Step::kRename;
    return errno;
  }
  temporary_.clear();
  file_.Reset();
  SyncDirectoryOf(path_);
  return 0;
}

void FileReplacement::Discard() {
  file_.Reset();
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  path_.clear();
}

void RemoveLeftoverTemporaries(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string directory = DirectoryOf(path);
  std::vector<std::string> names;
  if (ListDirectory(directory, &names) != 0) return;
  for (const std::string& name : names) {
    if (!IsTemporaryName(name, base)) continue;
    std::string file = directory + "/" + name;
    struct stat st;
    if (lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) unlink(file.c_str());
  }
}

}  // namespace host
}  // namespace bootcrank
