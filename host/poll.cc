#include "host/poll.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

namespace {

struct Registration {
  uint64_t id;
  int classSet;
  int flags;
  PollerFunction f;
  void* clientData;
  int type;
  int fd;
};

// The poll state of one process. A forked child never uses its parent's copy:
// another thread may have held `mutex` at the fork.
struct PollState {
  pid_t owner;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  int wake[2] = {-1, -1};                   // self-pipe for Poll_NotifyChange
  std::vector<Registration> registrations;  // guarded by mutex
  uint64_t nextId = 1;                      // guarded by mutex
};

std::atomic<PollState*> state{nullptr};
pthread_mutex_t initMutex = PTHREAD_MUTEX_INITIALIZER;

// The state of this process, or null before Poll_InitDefault.
PollState* Current() {
  PollState* s = state.load();
  return s != nullptr && s->owner == getpid() ? s : nullptr;
}

class Locked {
 public:
  explicit Locked(PollState* s) : s_(s) { pthread_mutex_lock(&s_->mutex); }
  ~Locked() { pthread_mutex_unlock(&s_->mutex); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  PollState* s_;
};

void Drain(int fd) {
  char buffer[64];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

}  // namespace

int Poll_InitDefault(void) {
  pthread_mutex_lock(&initMutex);
  PollState* old = state.load();
  if (old == nullptr || old->owner != getpid()) {
    // A forked child's inherited state is abandoned, not destroyed: its mutex
    // may be locked forever. Its pipe is this process's copy, so close it.
    if (old != nullptr) {
      close(old->wake[0]);
      close(old->wake[1]);
    }
    PollState* fresh = new PollState;
    fresh->owner = getpid();
    if (pipe2(fresh->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
      fresh->wake[0] = fresh->wake[1] = -1;
    }
    state.store(fresh);
  }
  pthread_mutex_unlock(&initMutex);
  return 0;
}

int Poll_Callback(int classSet, int flags, PollerFunction f, void* clientData, int type, int fd,
                  void* lock) {
  PollState* s = Current();
  if (s == nullptr || f == nullptr || fd < 0 || type != POLL_DEVICE ||
      (flags & POLL_FLAG_READ) == 0 || lock != nullptr) {
    return -1;
  }
  Locked held(s);
  for (const Registration& r : s->registrations) {
    if (r.f == f && r.clientData == clientData && r.fd == fd) return -1;
  }
  s->registrations.push_back(Registration{s->nextId++, classSet, flags, f, clientData, type, fd});
  return 0;
}

int Poll_CallbackRemove(int classSet, int flags, PollerFunction f, void* clientData, int type) {
  PollState* s = Current();
  if (s == nullptr) return 0;
  Locked held(s);
  for (auto it = s->registrations.begin(); it != s->registrations.end(); ++it) {
    if (it->classSet == classSet && it->flags == flags && it->f == f &&
        it->clientData == clientData && it->type == type) {
      s->registrations.erase(it);
      return 1;
    }
  }
  return 0;
}

void Poll_NotifyChange(int /*classSet*/) {
  PollState* s = Current();
  if (s == nullptr || s->wake[1] < 0) return;
  char byte = 1;
  // A full pipe already guarantees a wake-up; nothing to do on EAGAIN.
  while (write(s->wake[1], &byte, 1) < 0 && errno == EINTR) {
  }
}

void Poll_Loop(int loop, bool* exit, int /*pollClass*/) {
  PollState* s = Current();
  if (s == nullptr) return;
  std::vector<pollfd> fds;
  std::vector<uint64_t> ids;
  for (;;) {
    if (exit != nullptr && *exit) return;
    fds.clear();
    ids.clear();
    fds.push_back(pollfd{s->wake[0], POLLIN, 0});
    ids.push_back(0);
    {
      Locked held(s);
      for (const Registration& r : s->registrations) {
        fds.push_back(pollfd{r.fd, POLLIN, 0});
        ids.push_back(r.id);
      }
    }
    int ready;
    do {
      ready = poll(fds.data(), fds.size(), -1);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return;
    if (fds[0].revents != 0) Drain(s->wake[0]);

    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      PollerFunction f = nullptr;
      void* clientData = nullptr;
      {
        Locked held(s);
        for (auto it = s->registrations.begin(); it != s->registrations.end(); ++it) {
          if (it->id != ids[i]) continue;
          if ((fds[i].revents & POLLNVAL) != 0) {
            s->registrations.erase(it);
          } else {
            f = it->f;
            clientData = it->clientData;
            if ((it->flags & POLL_FLAG_PERIODIC) == 0) s->registrations.erase(it);
          }
          break;
        }
      }
      if (f == nullptr) continue;  // removed meanwhile, or closed
      f(clientData);
      if (exit != nullptr && *exit) return;
    }
    if (!loop) return;
  }
}
