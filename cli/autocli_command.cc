#include "cli/autocli_command.h"

namespace Toolbelt {
namespace CallSpec {

void Input::AddParameter(const std::string& name, const std::string& value) {
  parameters_.emplace_back(name, value);
}

const std::string* Input::FindParameter(const std::string& name) const {
  for (auto it = parameters_.rbegin(); it != parameters_.rend(); ++it) {
    if (it->first == name) return &it->second;
  }
  return nullptr;
}

}  // namespace CallSpec
}  // namespace Toolbelt
