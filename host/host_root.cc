#include "host/host_root.h"

#include <cstdlib>

namespace bootcrank {
namespace host {

std::string HostRoot() {
  const char* root = std::getenv("BOOTCRANK_ROOT");
  if (root == nullptr || root[0] != '/') return std::string();
  std::string r(root);
  while (!r.empty() && r.back() == '/') r.pop_back();
  return r;
}

std::string HostPath(const std::string& absolutePath) { return HostRoot() + absolutePath; }

}  // namespace host
}  // namespace bootcrank
