// Questions about the file system and the few changes to it that are not
// file contents: whether a path exists, what a directory holds, making
// directories.
//
// Thread-safe.
#ifndef BOOTCRANK_HOST_FILES_H_
#define BOOTCRANK_HOST_FILES_H_

#include <sys/types.h>

#include <string>
#include <vector>

namespace bootcrank {
namespace host {

// Whether something (of any type, a dangling link too) exists at `path`.
bool PathExists(const std::string& path);

// Whether `path`, links followed, is a regular file.
bool IsRegularFile(const std::string& path);

// Whether `path`, links followed, is a directory.
bool IsDirectory(const std::string& path);

// Whether the descriptor `fd` is a terminal.
bool IsTerminal(int fd);

// Whether `path`, links followed, exists and is neither a regular file nor a
// directory (a FIFO, a device, a socket): something a blocking open or read
// could wait on for ever.
bool IsSpecialFile(const std::string& path);

// The names in `directory` but "." and "..", in the order the system lists
// them. Returns 0, or the errno value of opening or reading it.
int ListDirectory(const std::string& directory, std::vector<std::string>* names);

// Creates `directory` and its missing parents with `mode`, like mkdir -p.
// Returns 0, or the errno value with the path that could not be made in
// `failed` (ENOTDIR for `directory` itself when it is there but not a
// directory).
int MakeDirectories(const std::string& directory, mode_t mode, std::string* failed);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_FILES_H_
