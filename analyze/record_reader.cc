#include "analyze/record_reader.h"

#include <errno.h>
#include <string.h>

#include <cstdint>
#include <vector>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "analyze/json_scanner.h"
#include "analyze/profiling_log.h"
#include "host/error_text.h"
#include "host/read_file.h"

namespace bootcrank {
namespace analyze {

namespace {

using nlohmann::json;

// More workers than any host has processors to double.
constexpr int64_t kMostWorkers = 65536;

// Where a value sits, which decides what it fills.
enum class Context {
  kTop,
  kRoot,
  kProgram,
  kHost,
  kSettings,
  kPlugins,
  kPlugin,
  kSource,
  kStrings,
  kCommands,
  kCommand,
  kBarriers,
  kBarrier,
  kLoadFailures,
  kLoadFailure,
  kCycles,
  kCycle,
  kDropped,
  kMissingBarriers,
  kMissingBarrier,
  kSkip,
};

enum class Key : uint8_t {
  // Root members first (Known relies on the order).
  kSchema,
  kStart,
  kEnd,
  kUptimeSeconds,
  kExitStatus,
  kSignal,
  kMode,
  kProgram,
  kHost,
  kSettings,
  kPlugins,
  kBarriers,
  kLoadFailures,
  kCycles,
  kMissingBarriers,
  kArguments,
  kBootFlags,
  // Members of nested objects.
  kAfter,
  kCommand,
  kCommands,
  kDepth,
  kDropped,
  kEnded,
  kError,
  kExecutionClass,
  kFile,
  kFrom,
  kInteractive,
  kKernel,
  kKind,
  kLine,
  kName,
  kNodes,
  kParallel,
  kProvides,
  kRandomSeed,
  kRandomize,
  kReady,
  kReason,
  kRequiredBy,
  kRequires,
  kResult,
  kSkipReason,
  kSource,
  kStarted,
  kStatus,
  kTo,
  kVerbose,
  kVersion,
  kWorker,
  kWorkers,
  kOther,  // a member this reader does not know
};

const struct {
  const char* name;
  Key key;
} kKeys[] = {
    {"schema", Key::kSchema},
    {"start", Key::kStart},
    {"end", Key::kEnd},
    {"uptime_seconds", Key::kUptimeSeconds},
    {"exit_status", Key::kExitStatus},
    {"signal", Key::kSignal},
    {"mode", Key::kMode},
    {"program", Key::kProgram},
    {"host", Key::kHost},
    {"settings", Key::kSettings},
    {"plugins", Key::kPlugins},
    {"barriers", Key::kBarriers},
    {"load_failures", Key::kLoadFailures},
    {"cycles", Key::kCycles},
    {"missing_barriers", Key::kMissingBarriers},
    {"arguments", Key::kArguments},
    {"boot_flags", Key::kBootFlags},
    {"after", Key::kAfter},
    {"command", Key::kCommand},
    {"commands", Key::kCommands},
    {"depth", Key::kDepth},
    {"dropped", Key::kDropped},
    {"ended", Key::kEnded},
    {"error", Key::kError},
    {"execution_class", Key::kExecutionClass},
    {"file", Key::kFile},
    {"from", Key::kFrom},
    {"interactive", Key::kInteractive},
    {"kernel", Key::kKernel},
    {"kind", Key::kKind},
    {"line", Key::kLine},
    {"name", Key::kName},
    {"nodes", Key::kNodes},
    {"parallel", Key::kParallel},
    {"provides", Key::kProvides},
    {"random_seed", Key::kRandomSeed},
    {"randomize", Key::kRandomize},
    {"ready", Key::kReady},
    {"reason", Key::kReason},
    {"required_by", Key::kRequiredBy},
    {"requires", Key::kRequires},
    {"result", Key::kResult},
    {"skip_reason", Key::kSkipReason},
    {"source", Key::kSource},
    {"started", Key::kStarted},
    {"status", Key::kStatus},
    {"to", Key::kTo},
    {"verbose", Key::kVerbose},
    {"version", Key::kVersion},
    {"worker", Key::kWorker},
    {"workers", Key::kWorkers},
};

// The Key of a member name: a search among the names of the same length.
Key Classify(const std::string& name) {
  static const std::vector<std::vector<std::pair<std::string, Key>>> byLength = [] {
    std::vector<std::vector<std::pair<std::string, Key>>> table(32);
    for (const auto& k : kKeys) table[strlen(k.name)].emplace_back(k.name, k.key);
    return table;
  }();
  if (name.empty() || name.size() >= byLength.size()) return Key::kOther;
  for (const auto& [text, key] : byLength[name.size()])
    if (text[0] == name[0] && memcmp(text.data(), name.data(), name.size()) == 0) return key;
  return Key::kOther;
}

// Members a lean reading skips: what `fleet` does not look at.
bool LeanSkips(Key k) {
  return k == Key::kCommands || k == Key::kSource || k == Key::kRequires || k == Key::kProvides ||
         k == Key::kError || k == Key::kSkipReason;
}

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

class Handler : public SkippingSax {
 public:
  Handler(const std::string& path, bool lean) : path_(path), lean_(lean) {
    stack_.emplace_back(Context::kTop);
  }

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
    Frame& top = stack_.back();
    top.key.swap(k);
    top.field = Classify(top.key);
    return true;
  }
  // A lean reading passes over what it leaves out, and over unknown
  // members anywhere: the scanner then only matches their brackets.
  bool SkipValue() override {
    const Frame& top = stack_.back();
    return lean_ && (top.field == Key::kOther || LeanSkips(top.field));
  }
  bool start_object(std::size_t) override {
    Frame& top = stack_.back();
    ++top.index;
    Context child = Context::kSkip;
    Key k = top.field;
    switch (top.ctx) {
      case Context::kTop: child = Context::kRoot; break;
      case Context::kRoot:
        if (k == Key::kProgram)
          child = Context::kProgram;
        else if (k == Key::kHost)
          child = Context::kHost;
        else if (k == Key::kSettings)
          child = Context::kSettings;
        else if (Known(k))
          Fail(Where() + ": expected an array, not an object");
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
        if (k == Key::kSource) child = Context::kSource;
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
        if (k == Key::kDropped) child = Context::kDropped;
        break;
      case Context::kMissingBarriers:
        record_.missingBarriers.emplace_back();
        child = Context::kMissingBarrier;
        break;
      case Context::kStrings: Fail(Where() + ": expected a string, not an object"); break;
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
    Key k = top.field;
    Frame child{Context::kSkip};
    switch (top.ctx) {
      case Context::kTop: Fail("not a boot record: a JSON array, not an object");
      case Context::kRoot:
        if (k == Key::kPlugins)
          child.ctx = Context::kPlugins;
        else if (k == Key::kBarriers)
          child.ctx = Context::kBarriers;
        else if (k == Key::kLoadFailures)
          child.ctx = Context::kLoadFailures;
        else if (k == Key::kCycles)
          child.ctx = Context::kCycles;
        else if (k == Key::kMissingBarriers)
          child.ctx = Context::kMissingBarriers;
        else if (k == Key::kArguments)
          child = Strings(&record_.arguments);
        else if (k == Key::kBootFlags)
          child = Strings(&record_.bootFlags);
        else if (Known(k))
          Fail(Where() + ": expected an object or a value, not an array");
        break;
      case Context::kPlugin:
      case Context::kBarrier:
        if (k == Key::kAfter)
          child = Strings(&node_->after);
        else if (k == Key::kRequires)
          child = Strings(&node_->requires);
        else if (k == Key::kProvides)
          child = Strings(&node_->provides);
        else if (k == Key::kCommands && top.ctx == Context::kPlugin)
          child.ctx = Context::kCommands;
        break;
      case Context::kCycle:
        if (k == Key::kNodes) child = Strings(&record_.cycles.back().nodes);
        break;
      case Context::kMissingBarrier:
        if (k == Key::kRequiredBy) child = Strings(&record_.missingBarriers.back().requiredBy);
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
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& e) override {
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
    std::string key;          // the member being read, in an object
    Key field = Key::kOther;  // ... and what it is
    size_t index = 0;         // values seen so far, in an array
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
  static bool Known(Key k) { return k != Key::kOther && k <= Key::kBootFlags; }

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
  // A worker count or index: bootcrank runs at most twice
  // the processor count; a larger number is not a real run.
  int WorkerNumber(const Value& v, int least) const {
    int64_t n = Integer(v);
    if (n < least || n > kMostWorkers) Fail(Where() + ": worker number out of range");
    return static_cast<int>(n);
  }

  // A time: microseconds since the epoch, from 1970 to the year 3000.
  Micros Time(const Value& v) const {
    int64_t t = Integer(v);
    if (t < 0 || t > kLatestTime) Fail(Where() + ": time out of range (microseconds since 1970)");
    return t;
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
    if (top.ctx == Context::kTop)
      Fail("not a boot record: a JSON " + std::string(TypeName(v)) + ", not an object");
    if (top.ctx == Context::kStrings) {
      if (v.type != Value::kString) Wrong(v, "a string");
      top.strings->push_back(std::move(*v.text));
      return true;
    }
    if (IsArray(top.ctx)) Wrong(v, Element(top.ctx));
    if (v.type == Value::kNull || top.ctx == Context::kSkip) return true;  // absent, or unknown
    Key k = top.field;
    switch (top.ctx) {
      case Context::kRoot: Root(k, v); break;
      case Context::kProgram:
        if (k == Key::kName)
          record_.programName = Text(v);
        else if (k == Key::kVersion)
          record_.programVersion = Text(v);
        break;
      case Context::kHost:
        if (k == Key::kName)
          record_.hostName = Text(v);
        else if (k == Key::kKernel)
          record_.kernel = Text(v);
        break;
      case Context::kSettings:
        if (k == Key::kParallel)
          record_.parallel = Bool(v);
        else if (k == Key::kWorkers)
          record_.workers = WorkerNumber(v, 0);  // 0: an empty run list
        else if (k == Key::kRandomize)
          record_.randomize = Bool(v);
        else if (k == Key::kRandomSeed)
          record_.randomSeed = Integer(v);
        else if (k == Key::kInteractive)
          record_.interactive = Bool(v);
        else if (k == Key::kVerbose)
          record_.verbose = Bool(v);
        break;
      case Context::kPlugin:
      case Context::kBarrier: NodeMember(k, v); break;
      case Context::kSource:
        if (k == Key::kFile)
          node_->sourceFile = Text(v);
        else if (k == Key::kLine)
          node_->sourceLine = Int32(v);
        break;
      case Context::kCommand: {
        CommandResult& c = node_->commands.back();
        if (k == Key::kCommand)
          c.command = Text(v);
        else if (k == Key::kStatus)
          c.status = Int32(v);
        else if (k == Key::kError)
          c.error = Text(v);
        break;
      }
      case Context::kLoadFailure:
        if (k == Key::kFile)
          record_.loadFailures.back().file = Text(v);
        else if (k == Key::kReason)
          record_.loadFailures.back().reason = Text(v);
        break;
      case Context::kDropped:
        if (k == Key::kFrom)
          record_.cycles.back().droppedFrom = Text(v);
        else if (k == Key::kTo)
          record_.cycles.back().droppedTo = Text(v);
        break;
      case Context::kMissingBarrier:
        if (k == Key::kName) record_.missingBarriers.back().name = Text(v);
        break;
      default: break;
    }
    return true;
  }

  void Root(Key k, const Value& v) {
    if (k == Key::kSchema) {
      // An integer major version, or "major.minor" text.
      int64_t major = 0;
      if (v.type == Value::kInteger)
        major = v.integer;
      else if (v.type == Value::kFloat)
        major = v.real >= 1e9 ? 1000000000 : v.real >= 0 ? static_cast<int64_t>(v.real) : 0;
      else if (v.type == Value::kString)
        major = strtoll(v.text->c_str(), nullptr, 10);  // saturates
      else
        Wrong(v, "a version number");
      if (major > kRecordSchema)
        Fail("record schema version " + std::to_string(major) +
             " is newer than this program reads (" + std::to_string(kRecordSchema) +
             "); use a newer bootcrank-analyze");
      if (major < 1) Fail("bad record schema version " + std::to_string(major));
      record_.schema = static_cast<int>(major);
      sawSchema_ = true;
    } else if (k == Key::kStart) {
      record_.start = Time(v);
    } else if (k == Key::kEnd) {
      record_.end = Time(v);
    } else if (k == Key::kUptimeSeconds) {
      record_.uptimeSeconds = Integer(v);
      if (record_.uptimeSeconds < 0 || record_.uptimeSeconds > kLatestTime / 1000000)
        Fail(Where() + ": uptime out of range");
    } else if (k == Key::kExitStatus) {
      record_.exitStatus = Int32(v);
    } else if (k == Key::kSignal) {
      record_.signal = Text(v);
    } else if (k == Key::kMode) {
      record_.mode = Text(v);
    } else if (Known(k)) {
      Wrong(v, k == Key::kProgram || k == Key::kHost || k == Key::kSettings ? "an object"
                                                                            : "an array");
    }
  }

  void NodeMember(Key k, const Value& v) {
    RecordNode& n = *node_;
    if (k == Key::kName)
      n.name = Text(v);
    else if (k == Key::kKind)
      n.kind = Text(v);
    else if (k == Key::kReady)
      n.ready = Time(v);
    else if (k == Key::kStarted)
      n.started = Time(v);
    else if (k == Key::kEnded)
      n.ended = Time(v);
    else if (k == Key::kWorker)
      n.worker = WorkerNumber(v, 0);
    else if (n.barrier)
      return;
    else if (k == Key::kResult)
      n.result = Text(v);
    else if (k == Key::kExecutionClass)
      n.executionClass = static_cast<uint32_t>(Int32(v));
    else if (k == Key::kDepth)
      n.depth = Int32(v);
    else if (k == Key::kError)
      n.error = Text(v);
    else if (k == Key::kSkipReason)
      n.skipReason = Text(v);
  }

  std::string path_;
  bool lean_;
  std::vector<Frame> stack_;
  BootRecord record_;
  std::vector<RecordNode> plugins_, barriers_;
  RecordNode* node_ = nullptr;  // the plugin or barrier being read
  bool sawSchema_ = false;
  bool seenRoot_ = false;
};

}  // namespace

BootRecord ParseRecordJson(const std::string& text, const std::string& path, bool lean) {
  Handler handler(path, lean);
  try {
    ScanJson(text.data(), text.data() + text.size(), &handler);
  } catch (const JsonSyntaxError& e) {
    throw RecordError(path + ": not valid JSON (byte " + std::to_string(e.Position()) +
                      "): " + e.what());
  }
  return handler.Finish();
}

BootRecord ParseBootRecord(const std::string& text, const std::string& path, bool lean) {
  size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string::npos && (text[first] == '{' || text[first] == '['))
    return ParseRecordJson(text, path, lean);
  if (LooksLikeProfilingLog(text)) return ParseProfilingLog(text, path);
  if (first == std::string::npos) throw RecordError(path + ": empty file");
  throw RecordError(path + ": neither a boot record (JSON) nor a profiling log");
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  switch (host::ReadFile(path, std::string().max_size(), &text)) {
    case host::ReadResult::kComplete:
    case host::ReadResult::kTooLarge:  // cannot happen: no file is that large
      return text;
    case host::ReadResult::kNotOpened:
      throw RecordError(path + ": cannot open: " + host::ErrorText(errno));
    case host::ReadResult::kReadError: break;
  }
  throw RecordError(path + ": cannot read: " + host::ErrorText(errno));
}

BootRecord ReadBootRecord(const std::string& path, bool lean) {
  return ParseBootRecord(ReadWholeFile(path), path, lean);
}

}  // namespace analyze
}  // namespace bootcrank
