// Lock annotations that clang's -Wthread-safety checks; empty for other
// compilers. A member declared `GUARDED_BY(graphLock)` may be touched only
// while the graph lock is held, a function declared `REQUIRES(graphLock)` only
// be called with it held, and the compiler reports every place that does not.
#ifndef BOOTCRANK_BASE_THREAD_ANNOTATIONS_H_
#define BOOTCRANK_BASE_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define BOOTCRANK_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define BOOTCRANK_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) BOOTCRANK_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY BOOTCRANK_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) BOOTCRANK_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) BOOTCRANK_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) BOOTCRANK_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) BOOTCRANK_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) BOOTCRANK_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) BOOTCRANK_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) BOOTCRANK_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS BOOTCRANK_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // BOOTCRANK_BASE_THREAD_ANNOTATIONS_H_
