// Feeds arbitrary bytes to bootcrank-analyze's record reader and, for what
// it accepts, to every analysis and output: nothing may crash, hang or
// overflow. The JSON scanner is checked against nlohmann's parser on the
// same bytes: both accept or both refuse, with the same events (except that
// nlohmann stops at a NUL byte as if the input ended there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "analyze/chrome_trace.h"
#include "analyze/critical_chain.h"
#include "analyze/html_report.h"
#include "analyze/json_scanner.h"
#include "analyze/record_reader.h"
#include "analyze/replay.h"
#include "analyze/svg_plot.h"

using bootcrank::analyze::ScanJson;

namespace {

using json = nlohmann::json;

// Every event as text, to compare two parsers.
struct Recorder : nlohmann::json_sax<json> {
  std::string log;
  bool failed = false;
  bool Add(const std::string& s) { return log += s + '\n', true; }
  bool null() override { return Add("n"); }
  bool boolean(bool b) override { return Add(b ? "t" : "f"); }
  bool number_integer(number_integer_t n) override { return Add("i" + std::to_string(n)); }
  bool number_unsigned(number_unsigned_t n) override { return Add("u" + std::to_string(n)); }
  bool number_float(number_float_t, const string_t& s) override { return Add("d" + s); }
  bool string(string_t& s) override { return Add("s" + s); }
  bool binary(binary_t&) override { return Add("b"); }
  bool start_object(std::size_t) override { return Add("{"); }
  bool key(string_t& k) override { return Add("k" + k); }
  bool end_object() override { return Add("}"); }
  bool start_array(std::size_t) override { return Add("["); }
  bool end_array() override { return Add("]"); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return failed = true, false;
  }
};

void CompareParsers(const std::string& text) {
  Recorder reference, ours;
  json::sax_parse(text.begin(), text.end(), &reference);
  bool scanned = true;
  try {
    ScanJson(text.data(), text.data() + text.size(), &ours);
  } catch (const bootcrank::analyze::JsonSyntaxError&) {
    scanned = false;
  }
  // nlohmann takes a NUL byte for the end of the input; JSON has none.
  bool nul = text.find('\0') != std::string::npos;
  if (nul ? scanned : reference.failed == scanned || (scanned && reference.log != ours.log)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace bootcrank::analyze;
  std::string text(reinterpret_cast<const char*>(data), size);
  CompareParsers(text);
  for (bool lean : {false, true}) {
    BootRecord record;
    try {
      record = ParseBootRecord(text, "fuzz.json", lean);
    } catch (const RecordError&) {
      continue;
    }
    if (record.nodes.size() > 2000) continue;
    BootGraph graph(record);
    CriticalChain chain = ChainToEnd(graph);
    for (size_t i = 0; i < graph.Size() && i < 4; ++i) ChainTo(graph, i);
    PlotOptions options;
    options.chain = &chain;
    RenderTimelineSvg(graph, options);
    (void)ChromeTrace(graph).dump(-1, ' ', false, json::error_handler_t::replace);
    RenderHtmlReport(graph);
    if (record.HasGraph()) {
      ReplayOptions replay;
      replay.workers = 1 + static_cast<int>(size % 3);
      ReplayResult r = Replay(graph, replay);
      BootGraph predicted(r.predicted);
      ChainToEnd(predicted);
    }
  }
  return 0;
}
