/* CLI extension for the tests: registering appends its own path to the file
 * $HVCLI_PROBE_LOG; "probe ok" succeeds; "probe fail --first=A --second=B"
 * fails with errors A and B. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "bootcrank/hvcli_extension.h"

static const struct hvcli_host* host;
static const char* const kFailParameters[] = {"first", "second", NULL};

static void Run(struct hvcli_call* call, void* context) {
  for (const char* const* name = context; name != NULL && *name != NULL; ++name)
    host->add_error(call, host->parameter(call, *name));
}

int hvcli_extension_register(const struct hvcli_host* table) {
  const char* log = getenv("HVCLI_PROBE_LOG");
  int fd = log == NULL ? -1 : open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  Dl_info self;
  if (fd >= 0 && dladdr((void*)&hvcli_extension_register, &self) != 0)
    dprintf(fd, "%s\n", self.dli_fname);
  if (fd >= 0) close(fd);
  host = table;
  table->add_command(table->registry, "probe ok", NULL, Run, NULL);
  table->add_command(table->registry, "probe fail", kFailParameters, Run, (void*)kFailParameters);
  return 0;
}
