#include "host/error_text.h"

#include <cstring>

namespace bootcrank {
namespace host {

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r may return a static text instead of filling `buffer`.
  return strerror_r(error, buffer, sizeof buffer);
}

}  // namespace host
}  // namespace bootcrank
