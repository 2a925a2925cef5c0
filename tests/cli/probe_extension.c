/*
 * A CLI extension for the tests. On registration it appends the path it was
 * loaded from, and a newline, to the file named by HVCLI_PROBE_LOG (when
 * set), so a test sees which directories were read and in what order. Its
 * commands (registered by the first copy loaded; later copies find them
 * taken and still succeed):
 *
 *   probe ok                        succeeds
 *   probe fail --first=A --second=B fails with the two errors A and B
 *   probe echo --text=T             succeeds, appending T and a newline to
 *                                   HVCLI_PROBE_LOG
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bootcrank/hvcli_extension.h"

static const struct hvcli_host* host;

static void Record(const char* text) {
  const char* log = getenv("HVCLI_PROBE_LOG");
  if (log == NULL) return;
  int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  size_t length = strlen(text);
  char* line = malloc(length + 1);
  if (line != NULL) {
    memcpy(line, text, length);
    line[length] = '\n';
    if (write(fd, line, length + 1) < 0) {
    }
    free(line);
  }
  close(fd);
}

static void Ok(struct hvcli_call* call, void* context) {
  (void)call;
  (void)context;
}

static void Fail(struct hvcli_call* call, void* context) {
  (void)context;
  host->add_error(call, host->parameter(call, "first"));
  host->add_error(call, host->parameter(call, "second"));
}

static void Echo(struct hvcli_call* call, void* context) {
  (void)context;
  Record(host->parameter(call, "text"));
}

static const char* const kFailParameters[] = {"first", "second", NULL};
static const char* const kEchoParameters[] = {"text", NULL};

int hvcli_extension_register(const struct hvcli_host* table) {
  Dl_info self;
  if (dladdr((void*)&hvcli_extension_register, &self) != 0 && self.dli_fname != NULL) {
    Record(self.dli_fname);
  }
  host = table;
  table->add_command(table->registry, "probe ok", NULL, Ok, NULL);
  table->add_command(table->registry, "probe fail", kFailParameters, Fail, NULL);
  table->add_command(table->registry, "probe echo", kEchoParameters, Echo, NULL);
  return 0;
}
