// UniqueFd: the owner of one descriptor, closed when the owner goes.
//
// Code outside host/ holds the descriptors that host calls hand out in a
// UniqueFd instead of closing them itself. -1 means "none".
//
// Not thread-safe; an owner belongs to one thread at a time.
#ifndef BOOTCRANK_HOST_UNIQUE_FD_H_
#define BOOTCRANK_HOST_UNIQUE_FD_H_

namespace bootcrank {
namespace host {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Gives the descriptor up without closing it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the held descriptor (keeping errno) and holds `fd` instead.
  void Reset(int fd = -1);
  // Closes the held descriptor; returns 0 or close's errno (EINTR counts as
  // closed, as Linux always releases the descriptor).
  int Close();

 private:
  int fd_ = -1;
};

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_UNIQUE_FD_H_
