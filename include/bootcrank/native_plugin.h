/*
 * bootcrank native plugin interface.
 *
 * A native plugin is a shared object in the plugin directory whose file name
 * ends in ".so". It exports two data symbols with C linkage:
 *
 *   "metadata"    a struct bootcrank_metadata: interface version, barriers,
 *                 boot flags and run-once marker. While bootcrank builds the
 *                 dependency graph, nativeExecutor loads the object in a
 *                 child process and reports this table and whether the
 *                 apply_host_profile slot is set; the object is never loaded
 *                 into bootcrank, but its constructors run in that child, so
 *                 they should do nothing.
 *   "operations"  a struct bootcrank_operations: the entry points. They never
 *                 run inside bootcrank; the program nativeExecutor loads the
 *                 object in a child process and calls the one slot that the
 *                 method names.
 *
 * Every entry point returns 0 for success. A value from 1 to 255 becomes the
 * executor's exit status (and bootcrank reports "exited with code N"); any
 * other non-zero value becomes exit status 1.
 *
 * Interface versions: 1 declares start, requires and provides; 2 adds the
 * apply-host-profile entry point; 3 adds plugin_version, run_once,
 * required_flags and disabling_flags; 4 declares nothing beyond 3. Fields of
 * version 3 are not read from objects of version 1 or 2, so those may end
 * their table after provides_barriers.
 *
 * Example (C):
 *
 *   #include <bootcrank/native_plugin.h>
 *
 *   static const char *const provided[] = {"storage-ready", NULL};
 *   static int start(void) { return mount_things(); }
 *
 *   BOOTCRANK_EXPORT const struct bootcrank_metadata metadata = {
 *       .version = 1, .provides_barriers = provided};
 *   BOOTCRANK_EXPORT const struct bootcrank_operations operations = {
 *       .start = start};
 *
 * In C++ declare both objects inside extern "C" { ... } and mark them extern,
 * since a namespace-scope const object has internal linkage there.
 */
#ifndef BOOTCRANK_NATIVE_PLUGIN_H_
#define BOOTCRANK_NATIVE_PLUGIN_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Gives a symbol default visibility, also under -fvisibility=hidden. */
#define BOOTCRANK_EXPORT __attribute__((visibility("default")))

/* Lists of names (barriers, boot flags): an array of pointers to
 * NUL-terminated strings, ended by a null pointer. A null list means none. */
typedef const char *const *bootcrank_name_list;

/* The "metadata" table. 64-bit, natural alignment: the offsets are part of
 * the interface (checked below). */
struct bootcrank_metadata {
  uint32_t version;                      /* offset 0: 1 to 4 */
  bootcrank_name_list requires_barriers; /* offset 8: finished before start */
  bootcrank_name_list provides_barriers; /* offset 16: wait for this plugin */
  /* From version 3 on: */
  const char *plugin_version;          /* offset 24: run-once version text */
  uint8_t run_once;                    /* offset 32: 0 or 1 */
  bootcrank_name_list required_flags;  /* offset 40: all must be given */
  bootcrank_name_list disabling_flags; /* offset 48: any one disables */
};

/* The "operations" table: one slot per method. A null slot means the plugin
 * has no such method; a non-null apply_host_profile (with version 2 or more)
 * makes bootcrank apply host profiles through this plugin at boot. */
typedef int (*bootcrank_entry_point)(void);
struct bootcrank_operations {
  bootcrank_entry_point start;              /* slot 0, method "start" */
  bootcrank_entry_point apply_host_profile; /* slot 1, "apply_host_profile" */
};

#if defined(__LP64__) || defined(_LP64)
#ifdef __cplusplus
#define BOOTCRANK_STATIC_ASSERT_ static_assert
#else
#define BOOTCRANK_STATIC_ASSERT_ _Static_assert
#endif
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_metadata, requires_barriers) == 8,
                         "layout");
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_metadata, provides_barriers) == 16,
                         "layout");
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_metadata, plugin_version) == 24,
                         "layout");
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_metadata, run_once) == 32, "layout");
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_metadata, required_flags) == 40,
                         "layout");
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_metadata, disabling_flags) == 48,
                         "layout");
BOOTCRANK_STATIC_ASSERT_(sizeof(struct bootcrank_metadata) == 56, "layout");
BOOTCRANK_STATIC_ASSERT_(__builtin_offsetof(struct bootcrank_operations, apply_host_profile) == 8,
                         "layout");
#undef BOOTCRANK_STATIC_ASSERT_
#endif

#ifdef __cplusplus
}
#endif

#endif /* BOOTCRANK_NATIVE_PLUGIN_H_ */
