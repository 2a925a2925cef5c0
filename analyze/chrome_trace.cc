#include "analyze/chrome_trace.h"

#include "analyze/lanes.h"

namespace bootcrank {
namespace analyze {

namespace {

const int kProcess = 1;
const int kKernelTrack = 1000;  // after every worker track

nlohmann::json Metadata(const char* what, int tid, const std::string& name) {
  return {{"ph", "M"}, {"name", what}, {"pid", kProcess}, {"tid", tid}, {"args", {{"name", name}}}};
}

}  // namespace

nlohmann::json ChromeTrace(const BootGraph& graph) {
  const BootRecord& record = graph.Record();
  // Timestamps count from the kernel's start when the uptime is known, so
  // that no event starts before zero.
  Micros origin = Origin(graph);
  if (record.uptimeSeconds >= 0) origin -= record.uptimeSeconds * 1000000;
  Lanes lanes = AssignLanes(record);
  nlohmann::json events = nlohmann::json::array();
  std::string process = "bootcrank";
  if (!record.hostName.empty()) process += " on " + record.hostName;
  events.push_back(
      {{"ph", "M"}, {"name", "process_name"}, {"pid", kProcess}, {"args", {{"name", process}}}});
  for (int l = 0; l < lanes.count; ++l) {
    events.push_back(
        Metadata("thread_name", l, (lanes.inferred ? "lane " : "worker ") + std::to_string(l)));
    events.push_back(Metadata("thread_sort_index", l, std::to_string(l)));
  }
  if (record.uptimeSeconds >= 0) {
    events.push_back(Metadata("thread_name", kKernelTrack, "kernel"));
    events.push_back({{"ph", "X"},
                      {"name", "kernel and early boot"},
                      {"cat", "kernel"},
                      {"pid", kProcess},
                      {"tid", kKernelTrack},
                      {"ts", 0},
                      {"dur", record.uptimeSeconds * 1000000}});
  }
  for (size_t i : RanByStart(record)) {
    const RecordNode& n = record.nodes[i];
    nlohmann::json args = nlohmann::json::object();
    if (!n.kind.empty()) args["kind"] = n.kind;
    if (!n.result.empty()) args["result"] = n.result;
    if (!n.error.empty()) args["error"] = n.error;
    if (n.ready != kNoTime) {
      args["ready"] = n.ready - origin;
      args["worker_wait"] = n.started - n.ready;
    }
    if (!n.after.empty()) args["after"] = n.after;
    events.push_back({{"ph", "X"},
                      {"name", n.name},
                      {"cat", n.barrier ? "barrier" : "plugin"},
                      {"pid", kProcess},
                      {"tid", lanes.lane[i]},
                      {"ts", n.started - origin},
                      {"dur", n.ended - n.started},
                      {"args", args}});
    if (n.result == "failed") events.back()["cname"] = "terrible";
  }
  nlohmann::json trace = {{"traceEvents", events}, {"displayTimeUnit", "ms"}};
  trace["otherData"] = {{"record", record.path}, {"lanes_inferred", lanes.inferred}};
  if (!record.HasGraph()) trace["otherData"]["missing"] = record.Missing();
  return trace;
}

}  // namespace analyze
}  // namespace bootcrank
