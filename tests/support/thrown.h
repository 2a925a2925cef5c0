// The text of the exception a call throws, for tests of failure messages.
#ifndef BOOTCRANK_TESTS_SUPPORT_THROWN_H_
#define BOOTCRANK_TESTS_SUPPORT_THROWN_H_

#include <exception>
#include <string>

namespace bootcrank {
namespace testing {

// what() of the `E` that `call` throws; "" when it returns. An exception of
// another type propagates and fails the test.
template <typename E = std::exception, typename F>
std::string Thrown(F&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

}  // namespace testing
}  // namespace bootcrank

#endif  // BOOTCRANK_TESTS_SUPPORT_THROWN_H_
