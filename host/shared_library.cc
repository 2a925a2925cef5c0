#include "host/shared_library.h"

#include <dlfcn.h>

namespace bootcrank {
namespace host {

SharedLibrary::SharedLibrary(const std::string& path)
    : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    const char* error = dlerror();
    error_ = error != nullptr ? error : "cannot load object";
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* SharedLibrary::Symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

}  // namespace host
}  // namespace bootcrank
