/*
 * nativeExecutor <library> <plugin-name> <method>
 *
 * Loads a native plugin's shared object, calls the entry point of its
 * "operations" table that the method names ("start" or
 * "apply_host_profile") and exits with the result: 0 when the entry point
 * returned 0, the returned value when it is 1 to 255, and 1 otherwise.
 * Usage errors, a library that cannot be loaded, a missing "operations"
 * symbol or slot and an unknown method are reported on standard error and
 * end with a non-zero status before any plugin code runs (apart from the
 * object's own initialisers).
 */
#include <dlfcn.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <bootcrank/native_plugin.h>

static int Fail(const char *plugin, const char *what, const char *detail) {
  fprintf(stderr, "nativeExecutor: %s: %s%s%s\n", plugin, what, detail ? ": " : "",
          detail ? detail : "");
  return EXIT_FAILURE;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: nativeExecutor <library> <plugin-name> <method>\n");
    return 2;
  }
  const char *library = argv[1];
  const char *plugin = argv[2];
  const char *method = argv[3];

  size_t slot;
  if (strcmp(method, "start") == 0) {
    slot = offsetof(struct bootcrank_operations, start);
  } else if (strcmp(method, "apply_host_profile") == 0) {
    slot = offsetof(struct bootcrank_operations, apply_host_profile);
  } else {
    return Fail(plugin, "unknown method", method);
  }

  void *handle = dlopen(library, RTLD_NOW | RTLD_GLOBAL);
  if (handle == NULL) return Fail(plugin, "cannot load library", dlerror());

  dlerror();
  const struct bootcrank_operations *operations = dlsym(handle, "operations");
  const char *error = dlerror();
  if (error != NULL) return Fail(plugin, "missing symbol operations", error);
  if (operations == NULL) return Fail(plugin, "symbol operations is null", NULL);

  bootcrank_entry_point entry;
  memcpy(&entry, (const char *)operations + slot, sizeof(entry));
  if (entry == NULL) return Fail(plugin, "no entry point for method", method);

  int result = entry();
  /* exit() rather than _exit(): the plugin's buffered output is flushed. */
  if (result == 0) exit(EXIT_SUCCESS);
  exit(result >= 1 && result <= 255 ? result : EXIT_FAILURE);
}
