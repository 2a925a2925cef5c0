// The CLI framework's call objects: what a command receives (its path,
// dispatcher name and parameters) and what it reports (results and errors).
//
// Not thread-safe: one command uses its input and output on one thread.
#ifndef BOOTCRANK_CLI_AUTOCLI_COMMAND_H_
#define BOOTCRANK_CLI_AUTOCLI_COMMAND_H_

#include <list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Toolbelt {
namespace CallSpec {

using Parameter = std::pair<std::string, std::string>;  // (name, value)

// Named parameters of a call, in the order they were added; a name may repeat.
class Input {
 public:
  virtual ~Input() = default;
  void AddParameter(const std::string& name, const std::string& value);
  const std::vector<Parameter>& GetParameters() const { return parameters_; }
  // The value of the last parameter called `name`, or null.
  const std::string* FindParameter(const std::string& name) const;

 private:
  std::vector<Parameter> parameters_;
};

// Results and errors of a call. A call failed when it holds an error.
class Output {
 public:
  virtual ~Output() = default;
  void AddError(const std::string& text) { errors_.push_back(text); }
  void AddResult(const std::string& name, const std::string& value) {
    results_.emplace_back(name, value);
  }
  bool HasError() const { return !errors_.empty(); }
  std::vector<std::string> GetErrors() const { return errors_; }
  const std::vector<Parameter>& GetResults() const { return results_; }

 private:
  std::vector<std::string> errors_;
  std::vector<Parameter> results_;
};

}  // namespace CallSpec

namespace AutoCli {

class CommandInput : public CallSpec::Input {
 public:
  static std::shared_ptr<CommandInput> New() { return std::make_shared<CommandInput>(); }
  // The name of the program that dispatches; informational.
  void SetDispatcher(const std::string& name) { dispatcher_ = name; }
  const std::string& GetDispatcher() const { return dispatcher_; }
  // The words that name the command, e.g. {"file", "write"}.
  void SetCommandPath(const std::list<std::string>& path) { path_ = path; }
  const std::list<std::string>& GetCommandPath() const { return path_; }

 private:
  std::string dispatcher_;
  std::list<std::string> path_;
};

class CommandOutput : public CallSpec::Output {
 public:
  static std::shared_ptr<CommandOutput> New() { return std::make_shared<CommandOutput>(); }
};

}  // namespace AutoCli
}  // namespace Toolbelt

#endif  // BOOTCRANK_CLI_AUTOCLI_COMMAND_H_
