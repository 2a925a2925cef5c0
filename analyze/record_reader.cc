#include "analyze/record_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "analyze/profiling_log.h"

namespace bootcrank {
namespace analyze {

namespace {

using nlohmann::json;

// Where a value sits, which decides what it fills.
enum class Context {
  kTop, kRoot, kProgram, kHost, kSettings, kPlugins, kPlugin, kSource, kStrings,
  kCommands, kCommand, kBarriers, kBarrier, kLoadFailures, kLoadFailure, kCycles,
  kCycle, kDropped, kMissingBarriers, kMissingBarrier, kSkip,
};

bool IsArray(Context c) {
  return c == Context::kPlugins || c == Context::kStrings || c == Context::kCommands ||
         c == Context::kBarriers || c == Context::kLoadFailures || c == Context::kCycles ||
         c == Context::kMissingBarriers;
}

// One scalar token.
struct Value {
  enum Type { kNull, kBool, kInteger, kFloat, kString } type;
  int64_t integer = 0;
  bool boolean = false;
  double real = 0;
  std::string* text = nullptr;
};

const char* TypeName(const Value& v) {
  switch (v.type) {
    case Value::kNull: return "null";
    case Value::kBool: return "a boolean";
    case Value::kInteger: return "an integer";
    case Value::kFloat: return "a number with a fraction";
    case Value::kString: return "a string";
  }
  return "a value";
}

class Handler : public nlohmann::json_sax<json> {
 public:
  explicit Handler(const std::string& path) : path_(path) { stack_.emplace_back(Context::kTop); }

  BootRecord Finish() {
    if (!sawSchema_) Fail("no \"schema\" member: not a boot record");
    record_.nodes = std::move(plugins_);
    for (auto& b : barriers_) record_.nodes.push_back(std::move(b));
    record_.path = path_;
    return std::move(record_);
  }

  bool null() override { return Scalar(Value{Value::kNull}); }
  bool boolean(bool b) override {
    Value v{Value::kBool};
    v.boolean = b;
    return Scalar(v);
  }
  bool number_integer(number_integer_t n) override {
    Value v{Value::kInteger};
    v.integer = n;
    return Scalar(v);
  }
  bool number_unsigned(number_unsigned_t n) override {
    if (n > static_cast<number_unsigned_t>(INT64_MAX)) Fail(Where() + ": number out of range");
    Value v{Value::kInteger};
    v.integer = static_cast<int64_t>(n);
    return Scalar(v);
  }
  bool number_float(number_float_t n, const string_t&) override {
    Value v{Value::kFloat};
    v.real = n;
    return Scalar(v);
  }
  bool string(string_t& s) override {
    Value v{Value::kString};
    v.text = &s;
    return Scalar(v);
  }
  bool binary(binary_t&) override { return true; }
  bool key(string_t& k) override {
    stack_.back().key.swap(k);
    return true;
  }
  bool start_object(std::size_t) override {
    Frame& top = stack_.back();
    ++top.index;
    Context child = Context::kSkip;
    const std::string& k = top.key;
    switch (top.ctx) {
      case Context::kTop: child = Context::kRoot; break;
      case Context::kRoot:
        if (k == "program") child = Context::kProgram;
        else if (k == "host") child = Context::kHost;
        else if (k == "settings") child = Context::kSettings;
        else if (Known(k)) Fail(Where() + ": expected an array, not an object");
        break;
      case Context::kPlugins:
        plugins_.emplace_back();
        node_ = &plugins_.back();
        child = Context::kPlugin;
        break;
      case Context::kBarriers:
        barriers_.emplace_back();
        node_ = &barriers_.back();
        node_->barrier = true;
        child = Context::kBarrier;
        break;
      case Context::kPlugin:
        if (k == "source") child = Context::kSource;
        break;
      case Context::kCommands:
        node_->commands.emplace_back();
        child = Context::kCommand;
        break;
      case Context::kLoadFailures:
        record_.loadFailures.emplace_back();
        child = Context::kLoadFailure;
        break;
      case Context::kCycles:
        record_.cycles.emplace_back();
        child = Context::kCycle;
        break;
      case Context::kCycle:
        if (k == "dropped") child = Context::kDropped;
        break;
      case Context::kMissingBarriers:
        record_.missingBarriers.emplace_back();
        child = Context::kMissingBarrier;
        break;
      case Context::kStrings:
        Fail(Where() + ": expected a string, not an object");
        break;
      default: break;
    }
    if (top.ctx == Context::kTop) {
      if (seenRoot_) Fail("more than one JSON value");
      seenRoot_ = true;
    }
    stack_.emplace_back(child);
    return true;
  }
  bool end_object() override {
    Context ctx = stack_.back().ctx;
    stack_.pop_back();
    if ((ctx == Context::kPlugin || ctx == Context::kBarrier) && node_->name.empty())
      Fail(Where() + ": no \"name\"");
    return true;
  }
  bool start_array(std::size_t) override {
    Frame& top = stack_.back();
    ++top.index;
    const std::string& k = top.key;
    Frame child{Context::kSkip};
    switch (top.ctx) {
      case Context::kTop: Fail("not a boot record: a JSON array, not an object");
      case Context::kRoot:
        if (k == "plugins") child.ctx = Context::kPlugins;
        else if (k == "barriers") child.ctx = Context::kBarriers;
        else if (k == "load_failures") child.ctx = Context::kLoadFailures;
        else if (k == "cycles") child.ctx = Context::kCycles;
        else if (k == "missing_barriers") child.ctx = Context::kMissingBarriers;
        else if (k == "arguments") child = Strings(&record_.arguments);
        else if (k == "boot_flags") child = Strings(&record_.bootFlags);
        else if (Known(k)) Fail(Where() + ": expected an object or a value, not an array");
        break;
      case Context::kPlugin:
      case Context::kBarrier:
        if (k == "after") child = Strings(&node_->after);
        else if (k == "requires") child = Strings(&node_->requires);
        else if (k == "provides") child = Strings(&node_->provides);
        else if (k == "commands" && top.ctx == Context::kPlugin) child.ctx = Context::kCommands;
        break;
      case Context::kCycle:
        if (k == "nodes") child = Strings(&record_.cycles.back().nodes);
        break;
      case Context::kMissingBarrier:
        if (k == "required_by") child = Strings(&record_.missingBarriers.back().requiredBy);
        break;
      default:
        if (IsArray(top.ctx)) Fail(Where() + ": expected " + Element(top.ctx) + ", not an array");
        break;
    }
    child.array = true;
    stack_.push_back(child);
    return true;
  }
  bool end_array() override {
    stack_.pop_back();
    return true;
  }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override {
    std::string what = e.what();
    // nlohmann's text starts with "[json.exception.parse_error.101] parse error at ...".
    size_t cut = what.find("] ");
    if (cut != std::string::npos) what = what.substr(cut + 2);
    throw RecordError(path_ + ": not valid JSON (byte " + std::to_string(position) + "): " + what);
  }

 private:
  struct Frame {
    explicit Frame(Context c) : ctx(c) {}
    Context ctx;
    std::string key;     // the member being read, in an object
    size_t index = 0;    // values seen so far, in an array
    bool array = false;
    std::vector<std::string>* strings = nullptr;
  };

  static Frame Strings(std::vector<std::string>* target) {
    Frame f{Context::kStrings};
    f.strings = target;
    f.array = true;
    return f;
  }

  static const char* Element(Context c) {
    return c == Context::kStrings ? "a string" : "an object";
  }

  // Root members whose type is fixed, so a wrong type is an error rather
  // than an unknown member skipped.
  static bool Known(const std::string& k) {
    static const char* const kNames[] = {"plugins", "barriers", "load_failures", "cycles", "missing_barriers",
                                         "arguments", "boot_flags", "program", "host", "settings",
                                         "schema", "start", "end", "uptime_seconds", "exit_status",
                                         "signal", "mode"};
    for (const char* n : kNames)
      if (k == n) return true;
    return false;
  }

  [[noreturn]] void Fail(const std::string& what) const { throw RecordError(path_ + ": " + what); }

  // "plugins[3].started" for the value being read.
  std::string Where() const {
    std::string where;
    for (size_t i = 1; i < stack_.size(); ++i) {
      const Frame& f = stack_[i];
      if (f.array) {
        if (f.index > 0) where += "[" + std::to_string(f.index - 1) + "]";
      } else if (!f.key.empty()) {
        if (!where.empty()) where += ".";
        where += f.key;
      }
    }
    return where.empty() ? "record" : where;
  }

  [[noreturn]] void Wrong(const Value& v, const char* expected) const {
    Fail(Where() + ": expected " + expected + ", not " + TypeName(v));
  }
  int64_t Integer(const Value& v) const {
    if (v.type != Value::kInteger) Wrong(v, "an integer");
    return v.integer;
  }
  int Int32(const Value& v) const {
    int64_t n = Integer(v);
    if (n < INT32_MIN || n > INT32_MAX) Fail(Where() + ": number out of range");
    return static_cast<int>(n);
  }
  bool Bool(const Value& v) const {
    if (v.type != Value::kBool) Wrong(v, "true or false");
    return v.boolean;
  }
  std::string Text(const Value& v) const {
    if (v.type != Value::kString) Wrong(v, "a string");
    return std::move(*v.text);
  }

  bool Scalar(const Value& v) {
    Frame& top = stack_.back();
    ++top.index;
    if (top.ctx == Context::kTop) Fail("not a boot record: a JSON " + std::string(TypeName(v)) + ", not an object");
    if (top.ctx == Context::kStrings) {
      if (v.type != Value::kString) Wrong(v, "a string");
      top.strings->push_back(std::move(*v.text));
      return true;
    }
    if (IsArray(top.ctx)) Wrong(v, Element(top.ctx));
    if (v.type == Value::kNull || top.ctx == Context::kSkip) return true;  // absent, or unknown
    const std::string& k = top.key;
    switch (top.ctx) {
      case Context::kRoot: Root(k, v); break;
      case Context::kProgram:
        if (k == "name") record_.programName = Text(v);
        else if (k == "version") record_.programVersion = Text(v);
        break;
      case Context::kHost:
        if (k == "name") record_.hostName = Text(v);
        else if (k == "kernel") record_.kernel = Text(v);
        break;
      case Context::kSettings:
        if (k == "parallel") record_.parallel = Bool(v);
        else if (k == "workers") record_.workers = Int32(v);
        else if (k == "randomize") record_.randomize = Bool(v);
        else if (k == "random_seed") record_.randomSeed = Integer(v);
        else if (k == "interactive") record_.interactive = Bool(v);
        else if (k == "verbose") record_.verbose = Bool(v);
        break;
      case Context::kPlugin:
      case Context::kBarrier: NodeMember(k, v); break;
      case Context::kSource:
        if (k == "file") node_->sourceFile = Text(v);
        else if (k == "line") node_->sourceLine = Int32(v);
        break;
      case Context::kCommand: {
        CommandResult& c = node_->commands.back();
        if (k == "command") c.command = Text(v);
        else if (k == "status") c.status = Int32(v);
        else if (k == "error") c.error = Text(v);
        break;
      }
      case Context::kLoadFailure:
        if (k == "file") record_.loadFailures.back().file = Text(v);
        else if (k == "reason") record_.loadFailures.back().reason = Text(v);
        break;
      case Context::kDropped:
        if (k == "from") record_.cycles.back().droppedFrom = Text(v);
        else if (k == "to") record_.cycles.back().droppedTo = Text(v);
        break;
      case Context::kMissingBarrier:
        if (k == "name") record_.missingBarriers.back().name = Text(v);
        break;
      default: break;
    }
    return true;
  }

  void Root(const std::string& k, const Value& v) {
    if (k == "schema") {
      // An integer major version, or "major.minor" text.
      int64_t major = 0;
      if (v.type == Value::kInteger) major = v.integer;
      else if (v.type == Value::kFloat) major = static_cast<int64_t>(v.real);
      else if (v.type == Value::kString) major = atoll(v.text->c_str());
      else Wrong(v, "a version number");
      if (major > kRecordSchema)
        Fail("record schema version " + std::to_string(major) + " is newer than this program reads (" +
             std::to_string(kRecordSchema) + "); use a newer bootcrank-analyze");
      if (major < 1) Fail("bad record schema version " + std::to_string(major));
      record_.schema = static_cast<int>(major);
      sawSchema_ = true;
    } else if (k == "start") {
      record_.start = Integer(v);
    } else if (k == "end") {
      record_.end = Integer(v);
    } else if (k == "uptime_seconds") {
      record_.uptimeSeconds = Integer(v);
    } else if (k == "exit_status") {
      record_.exitStatus = Int32(v);
    } else if (k == "signal") {
      record_.signal = Text(v);
    } else if (k == "mode") {
      record_.mode = Text(v);
    } else if (Known(k)) {
      Wrong(v, k == "program" || k == "host" || k == "settings" ? "an object" : "an array");
    }
  }

  void NodeMember(const std::string& k, const Value& v) {
    RecordNode& n = *node_;
    if (k == "name") n.name = Text(v);
    else if (k == "kind") n.kind = Text(v);
    else if (k == "ready") n.ready = Integer(v);
    else if (k == "started") n.started = Integer(v);
    else if (k == "ended") n.ended = Integer(v);
    else if (k == "worker") n.worker = Int32(v);
    else if (n.barrier) return;
    else if (k == "result") n.result = Text(v);
    else if (k == "execution_class") n.executionClass = static_cast<uint32_t>(Int32(v));
    else if (k == "depth") n.depth = Int32(v);
    else if (k == "error") n.error = Text(v);
    else if (k == "skip_reason") n.skipReason = Text(v);
  }

  std::string path_;
  std::vector<Frame> stack_;
  BootRecord record_;
  std::vector<RecordNode> plugins_, barriers_;
  RecordNode* node_ = nullptr;  // the plugin or barrier being read
  bool sawSchema_ = false;
  bool seenRoot_ = false;
};

}  // namespace

BootRecord ParseRecordJson(const std::string& text, const std::string& path) {
  Handler handler(path);
  json::sax_parse(text.begin(), text.end(), &handler);
  return handler.Finish();
}

BootRecord ParseBootRecord(const std::string& text, const std::string& path) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && text[first] == '{') return ParseRecordJson(text, path);
  if (LooksLikeProfilingLog(text)) return ParseProfilingLog(text, path);
  if (first == std::string::npos) throw RecordError(path + ": empty file");
  throw RecordError(path + ": neither a boot record (JSON) nor a profiling log");
}

std::string ReadWholeFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw RecordError(path + ": cannot open: " + strerror(errno));
  std::string text;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int error = errno;
      close(fd);
      throw RecordError(path + ": cannot read: " + strerror(error));
    }
    if (n == 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return text;
}

BootRecord ReadBootRecord(const std::string& path) {
  return ParseBootRecord(ReadWholeFile(path), path);
}

}  // namespace analyze
}  // namespace bootcrank
