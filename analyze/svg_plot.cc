#include "analyze/svg_plot.h"

#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "analyze/lanes.h"
#include "analyze/table.h"

namespace bootcrank {
namespace analyze {

namespace {

const int kWidth = 1280;
const int kLeft = 260;           // where the time axis starts
const int kRight = kWidth - 90;  // where it ends; durations are written after the bars
const int kRow = 16;

std::string Number(double v) {
  char text[32];
  snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// A tick step of 1, 2 or 5 times a power of ten giving about ten ticks.
Micros TickStep(Micros span) {
  double raw = std::max<double>(static_cast<double>(span) / 10.0, 1.0);
  double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double f : {1.0, 2.0, 5.0, 10.0})
    if (f * magnitude >= raw) return static_cast<Micros>(f * magnitude);
  return static_cast<Micros>(10 * magnitude);
}

std::string UtcDate(Micros t) {
  if (t == kNoTime) return "";
  time_t seconds = static_cast<time_t>(t / 1000000);
  struct tm tm;
  gmtime_r(&seconds, &tm);
  char text[40];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

}  // namespace

std::string XmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control characters other than tab and newline are not allowed in XML.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n')
          out += ' ';
        else
          out += c;
    }
  }
  return out;
}

const char* KindColour(const std::string& kind) {
  if (kind == "json") return "#4e79a7";
  if (kind == "native") return "#9467bd";
  if (kind == "debug") return "#8c8c8c";
  if (kind == "daemon") return "#2ca02c";
  return "#17a2b8";
}

std::string NodeDetails(const BootGraph& graph, size_t node) {
  const RecordNode& n = graph.Node(node);
  Micros origin = Origin(graph);
  std::ostringstream text;
  text << n.name << " ("
       << (n.barrier        ? (n.kind.empty() ? "" : n.kind + " ") + "barrier"
           : n.kind.empty() ? "plugin"
                            : n.kind + " plugin")
       << ")";
  if (!n.result.empty()) text << "\nresult: " << n.result;
  if (!n.skipReason.empty()) text << " (" << n.skipReason << ")";
  if (!n.error.empty()) text << "\nerror: " << n.error;
  if (n.Ran()) {
    if (n.ready != kNoTime)
      text << "\nready " << FormatOffset(n.ready - origin) << ", waited for a worker "
           << FormatDuration(n.started - n.ready);
    text << "\nran " << FormatOffset(n.started - origin) << " to " << FormatOffset(n.ended - origin)
         << ": " << FormatDuration(n.Duration());
    if (n.worker >= 0) text << " on worker " << n.worker;
  }
  if (!n.after.empty()) {
    text << "\nafter:";
    for (const std::string& a : n.after) text << " " << a;
  }
  for (const CommandResult& c : n.commands) {
    text << "\n" << (c.status == 0 ? "ok " : "FAILED ") << c.command;
    if (!c.error.empty()) text << ": " << c.error;
  }
  return text.str();
}

std::string RenderTimelineSvg(const BootGraph& graph, const PlotOptions& options) {
  const BootRecord& record = graph.Record();
  Micros origin = Origin(graph);
  Micros runEnd = graph.RunEnd();
  Micros end =
      std::max(record.end != kNoTime ? record.end : origin, runEnd != kNoTime ? runEnd : origin);
  Micros span = std::max<Micros>(end - origin, 1);
  auto x = [&](Micros t) {
    return kLeft + static_cast<double>(t - origin) * (kRight - kLeft) / span;
  };

  std::vector<bool> onChain(graph.Size(), false);
  if (options.chain != nullptr)
    for (const ChainLink& link : options.chain->links) onChain[link.node] = true;
  std::vector<size_t> rows = RanByStart(record);
  std::vector<size_t> notRun;
  for (size_t i = 0; i < graph.Size(); ++i)
    if (!graph.Node(i).Ran() && !graph.Node(i).barrier) notRun.push_back(i);
  Lanes lanes = AssignLanes(record);

  const int axisY = 96;
  const int rowsY = axisY + 10;
  const int notRunY = rowsY + static_cast<int>(rows.size()) * kRow + (notRun.empty() ? 0 : 24);
  const int lanesY = notRunY + static_cast<int>(notRun.size()) * kRow + 40;
  const int legendY = lanesY + lanes.count * 20 + 24;
  const int height = legendY + 40;

  std::ostringstream svg;
  if (!options.embedded) svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << kWidth << " " << height
      << "\" font-family=\"sans-serif\" font-size=\"11\">\n";
  svg << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  // Title and the run's facts.
  std::string title = "bootcrank boot";
  if (!record.hostName.empty()) title += " of " + record.hostName;
  if (record.start != kNoTime) title += ", " + UtcDate(record.start);
  svg << "<text x=\"10\" y=\"22\" font-size=\"16\" font-weight=\"bold\">" << XmlEscape(title)
      << "</text>\n";
  int ran = 0, failed = 0;
  for (const RecordNode& n : record.nodes)
    if (!n.barrier) {
      ran += n.Ran();
      failed += n.result == "failed";
    }
  std::ostringstream facts;
  facts << "run " << FormatDuration(end - origin) << ", " << ran << " plugins ran";
  if (failed > 0) facts << ", " << failed << " failed";
  if (!record.mode.empty()) facts << ", mode " << record.mode;
  facts << ", "
        << (lanes.inferred
                ? "workers not recorded"
                : std::to_string(lanes.count) + (lanes.count == 1 ? " worker" : " workers"));
  if (!record.HasGraph()) facts << " (from a profiling log: no ready times, kinds or results)";
  svg << "<text x=\"10\" y=\"40\" fill=\"#444\">" << XmlEscape(facts.str()) << "</text>\n";

  // The kernel's share: the uptime at start against bootcrank's own run.
  if (record.uptimeSeconds >= 0) {
    Micros kernel = record.uptimeSeconds * 1000000;
    double total = static_cast<double>(kernel + span);
    double split = 10 + (kWidth - 20) * kernel / total;
    svg << "<g><title>"
        << XmlEscape("kernel and early boot until bootcrank started: " + FormatDuration(kernel))
        << "</title><rect x=\"10\" y=\"50\" width=\"" << Number(split - 10)
        << "\" height=\"16\" fill=\"#bbbbbb\"/><text x=\"14\" y=\"62\">"
        << XmlEscape("kernel " + FormatDuration(kernel)) << "</text></g>\n";
    // bootcrank's share is often a sliver: its label then goes before it.
    bool inside = kWidth - 10 - split > 130;
    svg << "<g><title>" << XmlEscape("bootcrank: " + FormatDuration(span)) << "</title><rect x=\""
        << Number(split) << "\" y=\"50\" width=\"" << Number(std::max(kWidth - 10 - split, 1.0))
        << "\" height=\"16\" fill=\"#4e79a7\"/>"
        << "<text x=\"" << Number(inside ? split + 4 : split - 4) << "\" y=\"62\""
        << (inside ? " fill=\"#ffffff\"" : " text-anchor=\"end\"") << ">"
        << XmlEscape("bootcrank " + FormatDuration(span)) << "</text></g>\n";
  }

  // Time axis and grid.
  Micros step = TickStep(span);
  int gridBottom = lanesY + lanes.count * 20;
  svg << "<g stroke=\"#e4e4e4\">\n";
  for (Micros t = 0; t <= span; t += step)
    svg << "<line x1=\"" << Number(x(origin + t)) << "\" y1=\"" << axisY << "\" x2=\""
        << Number(x(origin + t)) << "\" y2=\"" << gridBottom << "\"/>\n";
  svg << "</g>\n<g fill=\"#666\" text-anchor=\"middle\">\n";
  for (Micros t = 0; t <= span; t += step)
    svg << "<text x=\"" << Number(x(origin + t)) << "\" y=\"" << axisY - 4 << "\">"
        << (t == 0 ? "0" : FormatDuration(t)) << "</text>\n";
  svg << "</g>\n";

  auto group = [&](size_t node) {
    svg << "<g" << (options.embedded ? " data-node=\"" + std::to_string(node) + "\"" : "")
        << "><title>" << XmlEscape(NodeDetails(graph, node)) << "</title>";
  };

  // One row per node that ran.
  for (size_t r = 0; r < rows.size(); ++r) {
    size_t i = rows[r];
    const RecordNode& n = graph.Node(i);
    double y = rowsY + r * kRow;
    bool bad = n.result == "failed";
    group(i);
    svg << "<text x=\"" << kLeft - 6 << "\" y=\"" << Number(y + 11) << "\" text-anchor=\"end\""
        << (bad ? " fill=\"" + std::string(kFailedColour) + "\" font-weight=\"bold\"" : "")
        << (n.barrier ? " fill=\"#777\" font-style=\"italic\"" : "") << ">" << XmlEscape(n.name)
        << "</text>";
    if (n.ready != kNoTime && n.started > n.ready)
      svg << "<rect x=\"" << Number(x(n.ready)) << "\" y=\"" << Number(y + 4) << "\" width=\""
          << Number(std::max(x(n.started) - x(n.ready), 0.5))
          << "\" height=\"5\" fill=\"#d9d9d9\"/>";
    if (n.barrier) {
      double cx = x(n.ended), cy = y + 7;
      svg << "<polygon points=\"" << Number(cx) << "," << Number(cy - 5) << " " << Number(cx + 5)
          << "," << Number(cy) << " " << Number(cx) << "," << Number(cy + 5) << " "
          << Number(cx - 5) << "," << Number(cy) << "\" fill=\"#555\""
          << (onChain[i] ? " stroke=\"" + std::string(kChainColour) + "\" stroke-width=\"2\"" : "")
          << "/>";
    } else {
      double bx = x(n.started), bw = std::max(x(n.ended) - bx, 1.0);
      svg << "<rect x=\"" << Number(bx) << "\" y=\"" << Number(y + 1) << "\" width=\"" << Number(bw)
          << "\" height=\"12\" fill=\"" << (bad ? kFailedColour : KindColour(n.kind)) << "\""
          << (onChain[i] ? " stroke=\"" + std::string(kChainColour) + "\" stroke-width=\"2\"" : "")
          << "/>";
      svg << "<text x=\"" << Number(bx + bw + 4) << "\" y=\"" << Number(y + 11)
          << "\" fill=\"#555\" font-size=\"10\">" << FormatDuration(n.Duration()) << "</text>";
    }
    svg << "</g>\n";
  }

  // Plugins that did not run.
  if (!notRun.empty())
    svg << "<text x=\"10\" y=\"" << notRunY - 8 << "\" font-weight=\"bold\">Did not run</text>\n";
  for (size_t r = 0; r < notRun.size(); ++r) {
    size_t i = notRun[r];
    const RecordNode& n = graph.Node(i);
    double y = notRunY + r * kRow;
    std::string why = n.result.empty() ? "did not run" : n.result;
    if (!n.skipReason.empty()) why += " (" + n.skipReason + ")";
    group(i);
    svg << "<text x=\"" << kLeft - 6 << "\" y=\"" << Number(y + 11)
        << "\" text-anchor=\"end\" fill=\"#999\">" << XmlEscape(n.name) << "</text><text x=\""
        << kLeft << "\" y=\"" << Number(y + 11) << "\" fill=\"#999\">" << XmlEscape(why)
        << "</text></g>\n";
  }

  // Worker lanes.
  svg << "<text x=\"10\" y=\"" << lanesY - 8 << "\" font-weight=\"bold\">"
      << (lanes.inferred ? "Lanes (inferred from overlaps: the profiling log names no workers)"
                         : "Workers")
      << "</text>\n";
  for (int l = 0; l < lanes.count; ++l)
    svg << "<text x=\"" << kLeft - 6 << "\" y=\"" << lanesY + l * 20 + 13
        << "\" text-anchor=\"end\">" << (lanes.inferred ? "lane " : "worker ") << l << "</text>\n";
  for (size_t i : rows) {
    const RecordNode& n = graph.Node(i);
    double y = lanesY + lanes.lane[i] * 20;
    group(i);
    if (n.barrier)
      svg << "<rect x=\"" << Number(x(n.started)) << "\" y=\"" << Number(y + 1)
          << "\" width=\"1.5\" height=\"16\" fill=\"#555\"/>";
    else
      svg << "<rect x=\"" << Number(x(n.started)) << "\" y=\"" << Number(y + 2) << "\" width=\""
          << Number(std::max(x(n.ended) - x(n.started), 1.0)) << "\" height=\"14\" fill=\""
          << (n.result == "failed" ? kFailedColour : KindColour(n.kind))
          << "\" stroke=\"#ffffff\" stroke-width=\"0.5\"/>";
    svg << "</g>\n";
  }

  // Legend.
  struct Item {
    const char* label;
    std::string colour;
  };
  std::vector<Item> items = {{"json", KindColour("json")},       {"native", KindColour("native")},
                             {"debug", KindColour("debug")},     {"daemon", KindColour("daemon")},
                             {"kind unknown", KindColour("")},   {"failed", kFailedColour},
                             {"waiting for a worker", "#d9d9d9"}};
  double lx = 10;
  for (const Item& item : items) {
    svg << "<rect x=\"" << lx << "\" y=\"" << legendY << "\" width=\"12\" height=\"12\" fill=\""
        << item.colour << "\"/><text x=\"" << lx + 16 << "\" y=\"" << legendY + 10 << "\">"
        << item.label << "</text>\n";
    lx += 24 + 7 * std::string(item.label).size();
  }
  svg << "<polygon points=\"" << lx + 6 << "," << legendY + 1 << " " << lx + 11 << ","
      << legendY + 6 << " " << lx + 6 << "," << legendY + 11 << " " << lx + 1 << "," << legendY + 6
      << "\" fill=\"#555\"/><text x=\"" << lx + 16 << "\" y=\"" << legendY + 10
      << "\">barrier</text>\n";
  lx += 80;
  if (options.chain != nullptr)
    svg << "<rect x=\"" << lx << "\" y=\"" << legendY
        << "\" width=\"12\" height=\"12\" fill=\"none\" stroke=\"" << kChainColour
        << "\" stroke-width=\"2\"/><text x=\"" << lx + 16 << "\" y=\"" << legendY + 10
        << "\">critical chain</text>\n";
  svg << "</svg>\n";
  return svg.str();
}

}  // namespace analyze
}  // namespace bootcrank
