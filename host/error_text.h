// The system's text for an error number, the one way to turn errno into the
// words that messages carry.
//
// Thread-safe (strerror_r).
#ifndef BOOTCRANK_HOST_ERROR_TEXT_H_
#define BOOTCRANK_HOST_ERROR_TEXT_H_

#include <string>

namespace bootcrank {
namespace host {

// strerror's text for `error` ("No such file or directory" for ENOENT).
std::string ErrorText(int error);

}  // namespace host
}  // namespace bootcrank

#endif  // BOOTCRANK_HOST_ERROR_TEXT_H_
