// Feeds arbitrary bytes to bootcrank-analyze's record reader and, for what
// it accepts, to every analysis and output: nothing may crash, hang or
// overflow. The JSON scanner is checked against nlohmann's parser on the
// same bytes: both accept or both refuse, with the same events (except that
// nlohmann stops at a NUL byte as if the input ended there).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "analyze/chrome_trace.h"
#include "analyze/critical_chain.h"
#include "analyze/html_report.h"
#include "analyze/record_reader.h"
#include "analyze/replay.h"
#include "analyze/svg_plot.h"
#include "tests/analyze/sax_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace bootcrank::analyze;
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string reference = NlohmannEvents(text), ours = ScannerEvents(text);
  // nlohmann takes a NUL byte for the end of the input; JSON has none.
  if (text.find('\0') != std::string::npos
          ? !Refused(ours)
          : Refused(reference) != Refused(ours) || (!Refused(ours) && reference != ours))
    abort();
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
    (void)ChromeTrace(graph).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
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
