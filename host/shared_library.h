// SharedLibrary: a shared object loaded into this process (dlopen), such as
// a CLI extension, unloaded again when its owner goes.
//
// Not thread-safe; an object belongs to one thread.
#ifndef BOOTCRANK_HOST_SHARED_LIBRARY_H_
#define BOOTCRANK_HOST_SHARED_LIBRARY_H_

#include <string>

namespace bootcrank {
namespace host {

class SharedLibrary {
 public:
  // Loads `path` with every symbol bound at once and none made global.
  explicit SharedLibrary(const std::string& path);
  ~SharedLibrary();  // unloads it, when it was loaded
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool Loaded() const { return handle_ != nullptr; }
  // The loader's text for a failed load ("" after a successful one).
  const std::string& Error() const { return error_; }
  // The address of `name`; null when the library does not define it.
  void* Symbol(const char* name) const;

 private:
  void* handle_;
  std::string error_;
};

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_SHARED_LIBRARY_H_
