/*
 * Command extensions of the bootcrank CLI executor.
 *
 * An extension is a shared object ("*.so") placed in one of the CLI extension
 * directories (/usr/lib/quarro/hvcli, .../int, .../int/ext, .../ext). The
 * executor loads the objects of each directory in name order and calls the
 * one function that each must export:
 *
 *     int hvcli_extension_register(const struct hvcli_host* host);
 *
 * The function registers the extension's commands through `host` and returns
 * 0; any other value rejects the whole extension (none of its commands stay
 * registered). Everything an extension needs comes through the function
 * table, so it links against nothing of the program; it is plain C and may be
 * written in any language that can export a C function.
 *
 * A command is named by its path, the words that start the command line
 * ("file write"), and lists the parameters it takes. All listed parameters
 * are required, and no other is accepted: the executor reports a missing or
 * unknown parameter itself and does not call the handler. A handler reports
 * failure by adding at least one error text; a handler that adds none has
 * succeeded.
 *
 *     static void Hello(struct hvcli_call* call, void* context) {
 *       const struct hvcli_host* host = context;
 *       if (strcmp(host->parameter(call, "name"), "world") != 0)
 *         host->add_error(call, "only the world may be greeted");
 *     }
 *     static const char* const kHelloParameters[] = {"name", NULL};
 *     int hvcli_extension_register(const struct hvcli_host* host) {
 *       if (host->abi_version != HVCLI_EXTENSION_ABI_VERSION) return -1;
 *       return host->add_command(host->registry, "greet hello",
 *                                kHelloParameters, Hello, (void*)host);
 *     }
 *
 * Threads: the executor runs one command at a time; handlers, the table and
 * the call are used on that one thread only. The table stays valid while the
 * extension is loaded; a call and the strings it returns only during the
 * handler.
 */
#ifndef BOOTCRANK_HVCLI_EXTENSION_H_
#define BOOTCRANK_HVCLI_EXTENSION_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define HVCLI_EXTENSION_ABI_VERSION 1u
#define HVCLI_EXTENSION_REGISTER_SYMBOL "hvcli_extension_register"

struct hvcli_registry; /* where commands are registered; opaque */
struct hvcli_call;     /* one running command; opaque */

typedef void (*hvcli_handler)(struct hvcli_call* call, void* context);

struct hvcli_host {
  uint32_t abi_version; /* HVCLI_EXTENSION_ABI_VERSION */
  uint32_t size;        /* sizeof(struct hvcli_host) of the executor */
  struct hvcli_registry* registry;

  /* Registers `handler` (called with `context`) for the command `path`,
   * words separated by single blanks. `parameters` is a null-terminated list
   * of parameter names (without "--"), or null for none; it must stay valid
   * while the extension is loaded. Returns 0, or -1 for an empty or
   * malformed path or a path that is already registered. */
  int (*add_command)(struct hvcli_registry* registry, const char* path,
                     const char* const* parameters, hvcli_handler handler, void* context);

  /* The value of parameter `name` (the last one when given twice), or null
   * when the command line does not give it. */
  const char* (*parameter)(struct hvcli_call* call, const char* name);

  /* Records one error text (copied); the command then fails. */
  void (*add_error)(struct hvcli_call* call, const char* text);

  /* Records one named result value (copied). */
  void (*add_result)(struct hvcli_call* call, const char* name, const char* value);

  /* Resolves the absolute host path `path` below the host root into
   * `buffer` (NUL-terminated when `size` > 0). Returns the length of the
   * full result, excluding the NUL, like snprintf: a result >= `size` was
   * truncated. Returns (size_t)-1 when `path` does not begin with "/". */
  size_t (*host_path)(const char* path, char* buffer, size_t size);
};

typedef int (*hvcli_register_function)(const struct hvcli_host* host);

/* The function every extension exports. */
int hvcli_extension_register(const struct hvcli_host* host);

#ifdef __cplusplus
}
#endif

#endif /* BOOTCRANK_HVCLI_EXTENSION_H_ */
