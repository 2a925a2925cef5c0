/*
 * bootmark: a sample native plugin.
 *
 * Provides the barrier "bootmark-ready". Its start method records that the
 * boot reached it in "/var/run/quarro/bootmark.started"; its
 * apply-host-profile method records a host-profile boot in
 * "/var/run/quarro/bootmark.hostprofile". Each marker holds the wall-clock
 * time of the call.
 *
 * Methods run in nativeExecutor with an empty environment, so the plugin
 * finds a sandbox root from its own location: installed as
 * "<root>/usr/libexec/bootcrank/plugins/libbootmark.so", it writes below
 * <root>; anywhere else, below "/".
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <bootcrank/native_plugin.h>

static const char kPluginDir[] = "/usr/libexec/bootcrank/plugins/";

/* The root that this object is installed below, "" for "/". */
static void FindRoot(char *root, size_t size) {
  Dl_info info;
  root[0] = '\0';
  if (dladdr((void *)FindRoot, &info) == 0 || info.dli_fname == NULL) return;
  const char *at = strstr(info.dli_fname, kPluginDir);
  if (at == NULL || (size_t)(at - info.dli_fname) >= size) return;
  snprintf(root, size, "%.*s", (int)(at - info.dli_fname), info.dli_fname);
}

static int WriteMarker(const char *marker) {
  char root[4096], directory[4200], path[4400], line[64];
  FindRoot(root, sizeof(root));
  snprintf(directory, sizeof(directory), "%s/var/run/quarro", root);
  for (char *slash = strchr(directory + strlen(root) + 1, '/'); slash != NULL;
       slash = strchr(slash + 1, '/')) {
    *slash = '\0';
    int failed = mkdir(directory, 0755) != 0 && errno != EEXIST;
    *slash = '/';
    if (failed) break;
  }
  if (mkdir(directory, 0755) != 0 && errno != EEXIST) {
    fprintf(stderr, "bootmark: cannot create %s: %s\n", directory, strerror(errno));
    return 2;
  }
  snprintf(path, sizeof(path), "%s/%s", directory, marker);
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "bootmark: cannot open %s: %s\n", path, strerror(errno));
    return 2;
  }
  time_t now = time(NULL);
  struct tm utc;
  gmtime_r(&now, &utc);
  size_t length = strftime(line, sizeof(line), "%Y-%m-%dT%H:%M:%SZ\n", &utc);
  int ok = write(fd, line, length) == (ssize_t)length;
  if (close(fd) != 0) ok = 0;
  if (!ok) {
    fprintf(stderr, "bootmark: cannot write %s\n", path);
    return 3;
  }
  return 0;
}

static int Start(void) { return WriteMarker("bootmark.started"); }
static int ApplyHostProfile(void) { return WriteMarker("bootmark.hostprofile"); }

static const char *const kProvides[] = {"bootmark-ready", NULL};

BOOTCRANK_EXPORT const struct bootcrank_metadata metadata = {
    .version = 3,
    .requires_barriers = NULL,
    .provides_barriers = kProvides,
    .plugin_version = "1.0",
    .run_once = 0,
    .required_flags = NULL,
    .disabling_flags = NULL,
};

BOOTCRANK_EXPORT const struct bootcrank_operations operations = {
    .start = Start,
    .apply_host_profile = ApplyHostProfile,
};
