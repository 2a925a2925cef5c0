// The host event-poll library: callbacks on descriptor readiness, run by a
// loop that leaves when a caller-owned flag becomes true.
//
// One poll state per process, created by Poll_InitDefault (a forked child
// gets a fresh one on its own first call). Registrations and wake-ups may come
// from any thread; callbacks run on the thread that runs Poll_Loop, without
// any internal lock held, so a callback may register or remove callbacks
// (including itself) and wake the loop.
#ifndef BOOTCRANK_HOST_POLL_H_
#define BOOTCRANK_HOST_POLL_H_

// Poll class sets (registrations) and poll classes (loops). The program uses
// one of each: all its callbacks belong to the main class.
enum {
  POLL_CLASS_MAIN = 0,  // the poll class a loop serves
  POLL_CS_MAIN = 1,     // the class set of callbacks served by that class
};

// Registration flags.
enum {
  POLL_FLAG_READ = 0x01,                // call back when the descriptor is readable
  POLL_FLAG_REMOVE_AT_POWEROFF = 0x04,  // accepted, no effect on this host
  POLL_FLAG_PERIODIC = 0x10,            // stay registered after each call
};

// Event types. Only descriptor events exist on this host.
enum {
  POLL_DEVICE = 2,
};

typedef void (*PollerFunction)(void* clientData);

// Prepares the calling process's poll state (idempotent). Returns 0.
int Poll_InitDefault(void);

// Registers `f` with `clientData` for readiness of `fd`. `lock` must be null.
// Returns 0 when registered; -1 for an invalid descriptor, event type, flag
// set or lock, for a registration that already exists (same function, data
// and descriptor), or when Poll_InitDefault was not called in this process.
int Poll_Callback(int classSet, int flags, PollerFunction f, void* clientData, int type, int fd,
                  void* lock);

// Unregisters the callback registered with these values. Returns 1 when one
// was found and removed, 0 otherwise. A callback removed while the loop runs
// is not called again, even for readiness already seen.
int Poll_CallbackRemove(int classSet, int flags, PollerFunction f, void* clientData, int type);

// Dispatches callbacks until `*exit` is true (checked before every wait and
// after every callback). With `loop` 0 it waits and dispatches only once.
// `exit` may be null with `loop` 0. Returns at once when Poll_InitDefault was
// not called in this process. A registered descriptor found closed
// (POLLNVAL) is unregistered instead of being reported again and again.
void Poll_Loop(int loop, bool* exit, int pollClass);

// Wakes a loop blocked in its wait so that it looks at its exit flag and
// registrations again. Safe from any thread.
void Poll_NotifyChange(int classSet);

#endif  // BOOTCRANK_HOST_POLL_H_
