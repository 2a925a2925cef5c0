// The program's exception classes. Each composes its text once, in the
// constructor; what() returns it. Thrown by value, caught by reference.
#ifndef BOOTCRANK_BASE_EXCEPTION_H_
#define BOOTCRANK_BASE_EXCEPTION_H_

#include <exception>
#include <string>

namespace bootcrank {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// "method `<method>' is not implemented"
class NotImplementedException : public Exception {
 public:
  explicit NotImplementedException(const std::string& method)
      : Exception("method `" + method + "' is not implemented") {}
};

// "<plugin>-><method>() failed: <reason>"
class MethodFailedException : public Exception {
 public:
  MethodFailedException(const std::string& method, const std::string& plugin,
                        const std::string& reason)
      : Exception(plugin + "->" + method + "() failed: " + reason) {}
};

// "plugin `<plugin>' is invalid: <reason>"
class InvalidPluginException : public Exception {
 public:
  InvalidPluginException(const std::string& plugin, const std::string& reason)
      : Exception("plugin `" + plugin + "' is invalid: " + reason) {}
};

}  // namespace bootcrank

#endif  // BOOTCRANK_BASE_EXCEPTION_H_
