#include "analyze/command.h"

#include <errno.h>
#include <string.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "analyze/record_files.h"
#include "analyze/record_reader.h"
#include "host/error_text.h"

namespace bootcrank {
namespace analyze {

Arguments::Arguments(const std::vector<std::string>& args,
                     const std::vector<std::string>& options) {
  bool optionsEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional_.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    size_t eq = arg.find('=');
    std::string name = arg.substr(0, eq);
    bool known = false, takesValue = false;
    for (const std::string& o : options) {
      bool valued = !o.empty() && o.back() == '=';
      if ((valued ? o.substr(0, o.size() - 1) : o) == name) {
        known = true;
        takesValue = valued;
      }
    }
    if (!known) throw UsageError("unknown option '" + name + "'");
    if (!takesValue) {
      if (eq != std::string::npos) throw UsageError("option '" + name + "' takes no value");
      given_.emplace_back(name, "");
    } else if (eq != std::string::npos) {
      given_.emplace_back(name, arg.substr(eq + 1));
    } else if (i + 1 < args.size()) {
      given_.emplace_back(name, args[++i]);
    } else {
      throw UsageError("option '" + name + "' needs a value");
    }
  }
}

bool Arguments::Flag(const std::string& name) const {
  for (const auto& g : given_)
    if (g.first == name) return true;
  return false;
}

std::vector<std::string> Arguments::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const auto& g : given_)
    if (g.first == name) values.push_back(g.second);
  return values;
}

std::string Arguments::OutputPath() const {
  std::string path;
  for (const auto& g : given_)
    if (g.first == "-o" || g.first == "--output") path = g.second;
  return path;
}

void Arguments::ExpectPositional(size_t min, size_t max) const {
  if (positional_.size() < min) throw UsageError("missing argument");
  if (positional_.size() > max) throw UsageError("unexpected argument '" + positional_[max] + "'");
}

BootRecord LoadRecord(const std::string& path) {
  return ReadBootRecord(path.empty() ? NewestRecord() : path);
}

void RequireGraph(const BootRecord& record, const std::string& command) {
  if (record.HasGraph()) return;
  throw RecordError(record.path + ": " + command + " needs a boot record; a profiling log lacks " +
                    record.Missing());
}

void NoteMissing(const BootRecord& record, std::ostream& err) {
  if (record.HasGraph()) return;
  err << "bootcrank-analyze: note: " << record.path << " is a profiling log; it lacks "
      << record.Missing() << "\n";
}

long long ParseNumber(const std::string& text, const std::string& what) {
  char* stop = nullptr;
  errno = 0;
  long long value = strtoll(text.c_str(), &stop, 10);
  if (text.empty() || *stop != '\0' || errno != 0)
    throw UsageError(what + ": not a whole number: '" + text + "'");
  return value;
}

void WriteOutput(const std::string& text, const std::string& path, std::ostream& out) {
  if (path.empty() || path == "-") {
    out << text;
    return;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (file) file << text;
  if (file) file.close();
  if (!file) throw RecordError(path + ": cannot write: " + host::ErrorText(errno));
}

std::string JsonText(const nlohmann::json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace analyze
}  // namespace bootcrank
