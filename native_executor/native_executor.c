/*
 * nativeExecutor <library> <plugin-name> <method>
 * nativeExecutor <library> <plugin-name> --describe
 *
 * Loads a native plugin's shared object, calls the entry point of its
 * "operations" table that the method names ("start" or
 * "apply_host_profile") and exits with the result: 0 when the entry point
 * returned 0, the returned value when it is 1 to 255, and 1 otherwise.
 * Usage errors, a library that cannot be loaded, a missing "operations"
 * symbol or slot and an unknown method are reported on standard error and
 * end with a non-zero status before any plugin code runs (apart from the
 * object's own initialisers).
 *
 * With --describe (which no method name can clash with) it only loads the
 * object and writes what its "metadata" and "operations" tables hold on
 * standard output, for bootcrank, which never loads plugin code itself. The
 * answer is a sequence of netstrings ("<length>:<bytes>,", the length in
 * decimal), one of:
 *
 *   "tables" <has apply_host_profile: "0" or "1"> <version>
 *       and, when the version is 1 to 4: <requires> <provides>
 *       and, from version 3 on: <plugin version> <run once byte>
 *                               <required flags> <disabling flags>
 *   "no-object" <loader error>              dlopen failed
 *   "no-symbol" <symbol> <loader error>     dlsym failed
 *
 * where a number is in decimal, a list is its count followed by the names,
 * and a null string or list is sent empty. Only the fields that the version
 * defines are read. The answer is written on a descriptor of its own: what
 * the object's constructors print on standard output goes to standard error.
 * Exit status 0 after a whole answer; a crash, exit or hang of the object's
 * code shows in the status or the lack of an answer.
 */
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <bootcrank/native_plugin.h>

static int Fail(const char *plugin, const char *what, const char *detail) {
  fprintf(stderr, "nativeExecutor: %s: %s%s%s\n", plugin, what, detail ? ": " : "",
          detail ? detail : "");
  return EXIT_FAILURE;
}

static void PutBytes(FILE *out, const char *bytes, size_t length) {
  fprintf(out, "%zu:", length);
  fwrite(bytes, 1, length, out);
  fputc(',', out);
}

static void PutString(FILE *out, const char *text) {
  PutBytes(out, text != NULL ? text : "", text != NULL ? strlen(text) : 0);
}

static void PutNumber(FILE *out, unsigned long number) {
  char text[32];
  snprintf(text, sizeof(text), "%lu", number);
  PutString(out, text);
}

static void PutList(FILE *out, bootcrank_name_list list) {
  size_t count = 0;
  while (list != NULL && list[count] != NULL) ++count;
  PutNumber(out, count);
  for (size_t i = 0; i < count; ++i) PutString(out, list[i]);
}

/* Looks `symbol` up; on a loader error answers "no-symbol" and returns 0. */
static int LookUp(FILE *out, void *handle, const char *symbol, const void **address) {
  dlerror();
  *address = dlsym(handle, symbol);
  const char *error = dlerror();
  if (error == NULL) return 1;
  PutString(out, "no-symbol");
  PutString(out, symbol);
  PutString(out, error);
  return 0;
}

static void DescribeTables(FILE *out, const void *operations_symbol, const void *metadata_symbol) {
  const struct bootcrank_operations *operations = operations_symbol;
  const struct bootcrank_metadata *metadata = metadata_symbol;
  PutString(out, "tables");
  PutNumber(out, operations != NULL && operations->apply_host_profile != NULL);
  /* A metadata symbol of value null declares no version at all. */
  uint32_t version = metadata != NULL ? metadata->version : 0;
  PutNumber(out, version);
  if (version < 1 || version > 4) return;
  PutList(out, metadata->requires_barriers);
  PutList(out, metadata->provides_barriers);
  /* Tables of version 1 and 2 may end here. */
  if (version < 3) return;
  PutString(out, metadata->plugin_version);
  PutNumber(out, metadata->run_once);
  PutList(out, metadata->required_flags);
  PutList(out, metadata->disabling_flags);
}

static int Describe(const char *library, const char *plugin) {
  int answer_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (answer_fd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    return Fail(plugin, "cannot set up the answer", strerror(errno));
  }
  FILE *out = fdopen(answer_fd, "w");
  if (out == NULL) return Fail(plugin, "cannot set up the answer", strerror(errno));

  dlerror();
  void *handle = dlopen(library, RTLD_LAZY | RTLD_GLOBAL);
  if (handle == NULL) {
    const char *error = dlerror();
    PutString(out, "no-object");
    PutString(out, error != NULL ? error : "cannot load object");
  } else {
    const void *operations, *metadata;
    if (LookUp(out, handle, "operations", &operations) &&
        LookUp(out, handle, "metadata", &metadata)) {
      DescribeTables(out, operations, metadata);
    }
    dlclose(handle);
  }
  if (fclose(out) != 0) return Fail(plugin, "cannot write the answer", strerror(errno));
  return EXIT_SUCCESS;
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
  if (strcmp(method, "--describe") == 0) {
    return Describe(library, plugin);
  } else if (strcmp(method, "start") == 0) {
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
