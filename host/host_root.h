// Resolution of the program's fixed host paths.
//
// Every fixed path that names a file, directory, device or program of the host
// (the profiling log, the boot bank record, the control socket, init scripts,
// /dev/kmsg, ...) goes through HostPath. When the environment variable
// BOOTCRANK_ROOT holds a non-empty absolute path, the fixed path is taken below
// that directory instead of below "/"; this is how tests, the demo and staging
// run the real program without touching the machine's own files.
//
// Never pass paths that arrive as data (option arguments, script paths printed
// by the listing tool, debug commands), nor "/dev/null", "/bin/sh" or the
// working directory "/": those always mean the real machine.
//
// Thread-safe: reads the environment only.
#ifndef BOOTCRANK_HOST_HOST_ROOT_H_
#define BOOTCRANK_HOST_HOST_ROOT_H_

#include <string>

namespace bootcrank {
namespace host {

// The host root: BOOTCRANK_ROOT when it is set to an absolute path, else "".
// Trailing slashes are dropped, so "/" and "" both mean the real root.
std::string HostRoot();

// `absolutePath` (which must begin with "/") below the host root.
std::string HostPath(const std::string& absolutePath);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_HOST_ROOT_H_
