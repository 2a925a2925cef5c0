/*
 * The core CLI extension: file and sysctl commands for JSON plugins.
 *
 *   file write   --path=P --content=C   create or truncate P (0644), write C
 *   file append  --path=P --content=C   create P if missing, append C
 *   sysctl set   --key=K --value=V      write V to /proc/sys/K, dots in K
 *                                       turned into slashes
 *
 * P must be absolute and is taken below the host root, like /proc/sys.
 * Content and values are written as given, without a newline. Failures are
 * reported as command errors with the system's error text.
 */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bootcrank/hvcli_extension.h"

static const struct hvcli_host* host;

static void Fail(struct hvcli_call* call, const char* what, const char* path, int error) {
  char text[4352];
  snprintf(text, sizeof text, "%s %s: %s", what, path, strerror(error));
  host->add_error(call, text);
}

/* Resolves `path` below the host root into `resolved`; reports and returns 0
 * when it is not absolute or too long. */
static int Resolve(struct hvcli_call* call, const char* path, char* resolved, size_t size) {
  size_t length = host->host_path(path, resolved, size);
  if (length == (size_t)-1) {
    char text[4352];
    snprintf(text, sizeof text, "path is not absolute: %.4096s", path);
    host->add_error(call, text);
    return 0;
  }
  if (length >= size) {
    Fail(call, "cannot resolve", path, ENAMETOOLONG);
    return 0;
  }
  return 1;
}

/* Opens `resolved` with `flags`, writes all of `content` and closes it. The
 * open does not block: a FIFO without a reader fails with ENXIO instead of
 * holding the executor, and with it every later command, for ever. Writes
 * block again once the file is open. */
static void WriteFile(struct hvcli_call* call, const char* resolved, int flags,
                      const char* content) {
  int fd = open(resolved, flags | O_WRONLY | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd < 0) {
    Fail(call, "cannot open", resolved, errno);
    return;
  }
  int mode = fcntl(fd, F_GETFL);
  if (mode != -1) fcntl(fd, F_SETFL, mode & ~O_NONBLOCK);
  size_t left = strlen(content);
  while (left > 0) {
    ssize_t written = write(fd, content, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(call, "cannot write", resolved, errno);
      close(fd);
      return;
    }
    content += written;
    left -= (size_t)written;
  }
  if (close(fd) != 0) Fail(call, "cannot close", resolved, errno);
}

static void FileCommand(struct hvcli_call* call, void* flags) {
  char resolved[4096];
  if (!Resolve(call, host->parameter(call, "path"), resolved, sizeof resolved)) return;
  WriteFile(call, resolved, (int)(long)flags, host->parameter(call, "content"));
}

static void SysctlSet(struct hvcli_call* call, void* context) {
  (void)context;
  const char* key = host->parameter(call, "key");
  char path[4096] = "/proc/sys/";
  size_t length = strlen(path);
  int fresh = 1; /* at the start of a key component */
  for (const char* k = key; *k != '\0'; ++k) {
    char c = *k == '.' ? '/' : *k;
    if (c == '/' && fresh) break; /* empty component: rejected below */
    fresh = c == '/';
    if (length + 1 >= sizeof path) break;
    path[length++] = c;
  }
  path[length] = '\0';
  if (*key == '\0' || fresh || length != strlen("/proc/sys/") + strlen(key)) {
    char text[4352];
    snprintf(text, sizeof text, "invalid sysctl key '%.4096s'", key);
    host->add_error(call, text);
    return;
  }
  char resolved[4096];
  if (!Resolve(call, path, resolved, sizeof resolved)) return;
  WriteFile(call, resolved, O_TRUNC, host->parameter(call, "value"));
}

static const char* const kFileParameters[] = {"path", "content", NULL};
static const char* const kSysctlParameters[] = {"key", "value", NULL};

__attribute__((visibility("default"))) int hvcli_extension_register(
    const struct hvcli_host* table) {
  if (table->abi_version != HVCLI_EXTENSION_ABI_VERSION ||
      table->size < sizeof(struct hvcli_host)) {
    return -1;
  }
  host = table;
  if (table->add_command(table->registry, "file write", kFileParameters, FileCommand,
                         (void*)(long)(O_CREAT | O_TRUNC)) != 0 ||
      table->add_command(table->registry, "file append", kFileParameters, FileCommand,
                         (void*)(long)(O_CREAT | O_APPEND)) != 0 ||
      table->add_command(table->registry, "sysctl set", kSysctlParameters, SysctlSet, NULL) != 0) {
    return -1;
  }
  return 0;
}
