#include "plugins/native_tables.h"

#include <string.h>

#include <cstdint>

#include "base/exception.h"
#include "host/captured_run.h"

namespace bootcrank {
namespace {

const char kReadingTables[] = "reading its tables in nativeExecutor: ";

// Takes the netstrings of an answer in order. Anything that does not follow
// the format throws the malformed-answer exception, naming the byte where
// the offending field starts.
class AnswerReader {
 public:
  AnswerReader(const std::string& answer, const std::string& path) : text_(answer), path_(path) {}

  std::string String(const char* field) {
    start_ = next_;
    size_t length = 0, digits = 0;
    for (; next_ + digits < text_.size() && text_[next_ + digits] >= '0' &&
           text_[next_ + digits] <= '9';
         ++digits) {
      if (digits == 9) Reject(std::string("expected ") + field);  // longer than any answer
      length = length * 10 + (text_[next_ + digits] - '0');
    }
    size_t colon = next_ + digits;
    if (digits == 0 || (digits > 1 && text_[next_] == '0') || colon >= text_.size() ||
        text_[colon] != ':' || text_.size() - colon - 1 <= length ||
        text_[colon + 1 + length] != ',') {
      Reject(std::string("expected ") + field);
    }
    next_ = colon + 2 + length;
    return text_.substr(colon + 1, length);
  }

  // A decimal number from 0 to `max`, without leading zeros.
  uint64_t Number(const char* field, uint64_t max) {
    std::string digits = String(field);
    uint64_t value = 0;
    bool valid = !digits.empty() && (digits.size() == 1 || digits[0] != '0');
    for (char c : digits) {
      uint64_t digit = static_cast<uint64_t>(c - '0');
      if (c < '0' || c > '9' || digit > max || value > (max - digit) / 10) {
        valid = false;
        break;
      }
      value = value * 10 + digit;
    }
    if (!valid) Reject(std::string("bad ") + field);
    return value;
  }

  std::vector<std::string> List(const char* field) {
    // Each name takes at least three bytes ("0:,").
    uint64_t count = Number(field, (text_.size() - next_) / 3);
    std::vector<std::string> names;
    for (uint64_t i = 0; i < count; ++i) names.push_back(String(field));
    return names;
  }

  void End() {
    start_ = next_;
    if (next_ != text_.size()) Reject("unexpected data");
  }

  [[noreturn]] void Reject(const std::string& what) const {
    throw InvalidPluginException(path_, std::string(kReadingTables) + "malformed answer: " + what +
                                            " at byte " + std::to_string(start_));
  }

 private:
  const std::string& text_;
  const std::string& path_;
  size_t next_ = 0;   // where the next field starts
  size_t start_ = 0;  // where the field being read starts
};

std::string ErrorText(int error) {
  const char* text = strerrordesc_np(error);
  return text ? text : "error " + std::to_string(error);
}

std::string SignalText(int signal) {
  const char* text = sigdescr_np(signal);
  return std::to_string(signal) + (text ? std::string(" (") + text + ")" : "");
}

}  // namespace

NativeTables ParseNativeTables(const std::string& answer, const std::string& path) {
  AnswerReader reader(answer, path);
  std::string kind = reader.String("answer kind");
  if (kind == "no-object") {
    std::string error = reader.String("loader error");
    reader.End();
    throw InvalidPluginException(path, error);
  }
  if (kind == "no-symbol") {
    std::string symbol = reader.String("symbol");
    std::string error = reader.String("loader error");
    reader.End();
    throw Exception("Failed loading symbol: " + symbol + " Located at: " + path +
                    " Reason: " + error);
  }
  if (kind != "tables") reader.Reject("bad answer kind");

  NativeTables tables;
  tables.hasHostProfileEntry = reader.Number("host profile flag", 1) == 1;
  tables.version = static_cast<uint32_t>(reader.Number("version", UINT32_MAX));
  if (tables.version < 1 || tables.version > 4) {
    reader.End();
    throw InvalidPluginException(path, "Unsupported API version");
  }
  tables.requiresBarriers = reader.List("requires list");
  tables.providesBarriers = reader.List("provides list");
  if (tables.version >= 3) {
    tables.pluginVersion = reader.String("plugin version");
    tables.runOnce = reader.Number("run-once byte", 255) != 0;
    tables.requiredFlags = reader.List("required flags");
    tables.disablingFlags = reader.List("disabling flags");
  }
  reader.End();
  return tables;
}

NativeTables ReadNativeTables(const std::string& program, const std::string& name,
                              const std::string& path) {
  using End = host::CapturedRun::End;
  host::CapturedRun run = host::RunCapturingOutput(
      {program, path, name, "--describe"}, kNativeTablesTimeLimit, kNativeTablesAnswerLimit);
  std::string failure;
  switch (run.end) {
    case End::kExited:
      if (run.code == 0 && !run.output.empty()) return ParseNativeTables(run.output, path);
      failure = "exited with code " + std::to_string(run.code);
      if (run.code == 0) failure += " without an answer";
      break;
    case End::kSignalled: failure = "killed by signal " + SignalText(run.code); break;
    case End::kTimedOut:
      failure = "no answer within " + std::to_string(kNativeTablesTimeLimit.count()) + " s; killed";
      break;
    case End::kTooLong:
      failure = "answer longer than " + std::to_string(kNativeTablesAnswerLimit) + " bytes";
      break;
    case End::kNotStarted: failure = "cannot start " + program + ": " + ErrorText(run.code); break;
    case End::kLost: failure = "cannot read its exit status: " + ErrorText(run.code); break;
  }
  throw InvalidPluginException(path, kReadingTables + failure);
}

}  // namespace bootcrank
