#include "analyze/verify.h"

#include <algorithm>
#include <exception>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <tuple>
#include <utility>

#include "base/settings.h"
#include "cli/autocli_command.h"
#include "cli/autocli_option_parser.h"
#include "cli/client/control_socket.h"
#include "cli/hvcli_dispatcher.h"
#include "graph/barrier.h"
#include "graph/cycles.h"
#include "graph/graph.h"
#include "host/files.h"
#include "host/host_paths.h"
#include "host/host_root.h"
#include "host/log.h"
#include "host/read_file.h"
#include "plugins/debug_config.h"
#include "plugins/discovery.h"
#include "plugins/json_descriptor.h"
#include "plugins/json_plugin.h"

namespace bootcrank {
namespace analyze {
namespace {

// Cycles beyond this many are counted, not listed.
constexpr size_t kListedCycles = 100;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A JSON file that failed to load: its syntax error's line and column, when
// the failure is one.
Finding LoadFailureFinding(const LoadFailure& failure) {
  Finding finding{failure.file, 0, 0, "load-error", failure.reason};
  if (failure.file.size() < 5 || failure.file.compare(failure.file.size() - 5, 5, ".json") != 0) {
    return finding;
  }
  std::string text;
  if (host::ReadFile(failure.file, kMaxDescriptorBytes, &text) != host::ReadResult::kComplete) {
    return finding;
  }
  try {
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, true, true);
    (void)parsed;
  } catch (const nlohmann::json::parse_error& e) {
    // The parser counts the byte it stopped at from 1.
    LineAndColumn(text, e.byte > 0 ? e.byte - 1 : 0, &finding.line, &finding.column);
    std::string what = e.what();
    size_t colon = what.find("syntax error");
    finding.message =
        failure.reason + " (" + (colon != std::string::npos ? what.substr(colon) : what) + ")";
  }
  return finding;
}

// The debug injection file line by line: malformed lines and bad escapes.
// True when a bad escape would end discovery.
bool CheckDebugConfig(std::vector<Finding>* findings) {
  const std::string path = host::HostPath(host::kDebugConfigPath);
  std::string text;
  if (host::ReadFile(path, 16 * 1024 * 1024, &text) != host::ReadResult::kComplete) return false;
  std::istringstream in(text);
  std::string line;
  bool fatal = false;
  for (int number = 1; std::getline(in, line); ++number) {
    std::istringstream one(line);
    std::vector<MalformedDebugLine> malformed;
    try {
      ReadDebugEntries(one, &malformed);
    } catch (const std::exception& e) {
      findings->push_back(
          {path, number, 0, "debug-conf",
           std::string("bad escape: ") + e.what() + "; the boot would stop discovery here"});
      fatal = true;
      continue;
    }
    if (!malformed.empty()) {
      findings->push_back(
          {path, number, 0, "debug-conf",
           "malformed entry (needs name:requires:provides:command, no ':' in the command): " +
               malformed.front().text});
    }
  }
  return fatal;
}

// Where a plugin comes from, as a finding's place.
Finding At(const Plugin& plugin, const char* kind, const std::string& message) {
  return Finding{plugin.SourceFile(), plugin.SourceLine(), 0, kind, message};
}

std::string PlaceOf(const Plugin& plugin) {
  return plugin.SourceLine() > 0 ? plugin.SourceFile() + ":" + std::to_string(plugin.SourceLine())
                                 : plugin.SourceFile();
}

std::vector<Plugin*> PluginsOf(const Graph& graph) {
  std::vector<Plugin*> plugins;
  for (Node* node : graph.Nodes()) {
    if (auto* plugin = dynamic_cast<Plugin*>(node)) plugins.push_back(plugin);
  }
  return plugins;
}

void CheckDuplicates(const std::vector<Plugin*>& plugins, std::vector<Finding>* findings) {
  std::map<std::string, const Plugin*> first;
  for (const Plugin* plugin : plugins) {
    auto inserted = first.emplace(plugin->Name(), plugin);
    if (inserted.second) continue;
    findings->push_back(At(*plugin, "duplicate",
                           "plugin name " + Quoted(plugin->Name()) + " is also that of " +
                               PlaceOf(*inserted.first->second)));
  }
}

// Barriers that plugins require and nothing provides.
void CheckProviders(const Graph& graph, std::vector<Finding>* findings) {
  std::vector<std::string> provided;
  std::vector<InitBarrier*> missing;
  {
    GraphLockHolder lock;
    for (InitBarrier* barrier : graph.AllBarriers()) {
      if (barrier->Dependencies().empty()) {
        missing.push_back(barrier);
      } else {
        provided.push_back(barrier->Name());
      }
    }
  }
  for (InitBarrier* barrier : missing) {
    std::string nearest = NearestName(barrier->Name(), provided);
    std::string hint = nearest.empty() ? "" : " (did you mean " + Quoted(nearest) + "?)";
    GraphLockHolder lock;
    for (Node* dependent : barrier->Dependents()) {
      auto* plugin = dynamic_cast<Plugin*>(dependent);
      if (plugin == nullptr) continue;
      findings->push_back(At(*plugin, "no-provider",
                             Quoted(plugin->Name()) + " requires " + Quoted(barrier->Name()) +
                                 ", which nothing provides" + hint));
    }
  }
}

// Every dependency cycle, each edge named by the entry that makes it.
void CheckCycles(const Graph& graph, const RunList& runList, std::vector<Finding>* findings) {
  // The edges before the breaker drops any: "from" depends on "to".
  std::map<std::pair<std::string, std::string>, std::string> edges;
  std::map<std::string, const Plugin*> byName;
  {
    GraphLockHolder lock;
    for (Node* node : graph.Nodes()) {
      auto* plugin = dynamic_cast<Plugin*>(node);
      if (plugin != nullptr) byName.emplace(plugin->Name(), plugin);
      for (Node* to : node->Dependencies()) {
        auto* provider = dynamic_cast<Plugin*>(to);
        std::string text;
        if (plugin != nullptr && dynamic_cast<InitBarrier*>(to) != nullptr) {
          text = Quoted(plugin->Name()) + " requires " + Quoted(to->Name()) + " (" +
                 PlaceOf(*plugin) + ")";
        } else if (provider != nullptr && dynamic_cast<InitBarrier*>(node) != nullptr) {
          text = Quoted(provider->Name()) + " provides " + Quoted(node->Name()) + " (" +
                 PlaceOf(*provider) + ")";
        } else {
          text = Quoted(node->Name()) + " waits for " + Quoted(to->Name());
        }
        edges.emplace(std::make_pair(node->Name(), to->Name()), text);
      }
    }
  }
  size_t total = 0;
  std::vector<CycleReport> reports = BreakDependencyCycles(graph, AsNodes(runList), &total);
  size_t listed = 0;
  for (const CycleReport& report : reports) {
    if (listed == kListedCycles || report.nodes.empty()) break;
    ++listed;
    std::string message = "dependency cycle of " + std::to_string(report.length) + " nodes: ";
    const Plugin* owner = nullptr;
    for (size_t i = 0; i < report.nodes.size(); ++i) {
      const std::string& from = report.nodes[i];
      const std::string& to = report.nodes[(i + 1) % report.nodes.size()];
      if (owner == nullptr && byName.count(from) != 0) owner = byName[from];
      auto edge = edges.find({from, to});
      if (i > 0) message += "; ";
      message += edge != edges.end() ? edge->second : Quoted(from) + " -> " + Quoted(to);
    }
    if (report.length > report.nodes.size()) {
      message += "; ... and " + std::to_string(report.length - report.nodes.size()) + " more nodes";
    }
    Finding finding{owner != nullptr ? owner->SourceFile() : std::string(),
                    owner != nullptr ? owner->SourceLine() : 0, 0, "cycle", message};
    findings->push_back(finding);
  }
  if (total > listed) {
    std::string file = !findings->empty() ? findings->back().file : std::string();
    findings->push_back(
        {file, 0, 0, "cycle", "... and " + std::to_string(total - listed) + " more cycles"});
  }
}

// The JSON plugins' commands: length, and a parse against the installed
// CLI extensions' registry (nothing runs).
void CheckCommands(const std::vector<Plugin*>& plugins, bool parse,
                   std::vector<Finding>* findings) {
  std::unique_ptr<HvcliDispatcher> dispatcher;
  if (parse) {
    try {
      dispatcher = std::make_unique<HvcliDispatcher>();
    } catch (const std::exception& e) {
      findings->push_back(
          {"", 0, 0, "command",
           std::string("CLI extensions not loaded, commands not parsed: ") + e.what()});
    }
  }
  for (const Plugin* plugin : plugins) {
    auto* json = dynamic_cast<const JSONPlugin*>(plugin);
    if (json == nullptr) continue;
    for (const auto* list : {&json->StartCommands(), &json->HostProfileCommands()}) {
      const char* method = list == &json->StartCommands() ? "start" : "apply_host_profile";
      for (const std::string& command : *list) {
        std::string shown = command.size() > 60 ? command.substr(0, 57) + "..." : command;
        if (command.size() > cli::kMaxCommandLineBytes) {
          findings->push_back(At(*plugin, "command-length",
                                 std::string(method) + " command of " +
                                     std::to_string(command.size()) + " bytes, longer than the " +
                                     std::to_string(cli::kMaxCommandLineBytes) +
                                     " the executor takes: " + Quoted(shown)));
          continue;
        }
        if (!dispatcher) continue;
        Toolbelt::AutoCli::OptionParser parser;
        if (parser.ParseString(command)) continue;
        std::vector<std::string> errors = parser.GetParseErrors();
        if (errors.empty()) {
          auto input = Toolbelt::AutoCli::CommandInput::New();
          input->SetCommandPath(parser.GetCommandPath());
          for (const auto& parameter : parser.GetCommandParameters())
            input->AddParameter(parameter.first, parameter.second);
          errors = dispatcher->CheckCommand(*input);
        }
        for (const std::string& error : errors) {
          findings->push_back(At(*plugin, "command",
                                 std::string(method) + " command " + Quoted(shown) + ": " + error));
        }
      }
    }
  }
}

void CheckRunOnce(const std::vector<Plugin*>& plugins, std::vector<Finding>* findings) {
  for (const Plugin* plugin : plugins) {
    if (!plugin->RunOnce()) continue;
    std::string key = plugin->Name() + plugin->PluginVersion();
    std::string recorded = RunOnceKey(*plugin);
    if (key == recorded) continue;
    findings->push_back(At(*plugin, "run-once",
                           "run-once key " + Quoted(key) + " is recorded as " + Quoted(recorded) +
                               ", so the plugin runs again on every boot"));
  }
}

}  // namespace

namespace {

// The edit distance, or something above `limit` as soon as every way through
// the rest of the table is above it (a row's minimum never decreases).
size_t BoundedEditDistance(const std::string& a, const std::string& b, size_t limit) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    size_t least = row[0];
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
      least = std::min(least, row[j]);
    }
    if (least > limit) return least;
  }
  return row[b.size()];
}

}  // namespace

size_t EditDistance(const std::string& a, const std::string& b) {
  return BoundedEditDistance(a, b, static_cast<size_t>(-1));
}

std::string NearestName(const std::string& name, const std::vector<std::string>& candidates) {
  size_t limit = std::max<size_t>(2, name.size() / 3);
  std::string best;
  size_t bestDistance = limit + 1;
  for (const std::string& candidate : candidates) {
    // Lengths further apart than the limit cannot be close enough.
    size_t gap = candidate.size() > name.size() ? candidate.size() - name.size()
                                                : name.size() - candidate.size();
    if (gap > limit) continue;
    size_t distance = BoundedEditDistance(name, candidate, bestDistance);
    if (distance < bestDistance || (distance == bestDistance && candidate < best)) {
      best = candidate;
      bestDistance = distance;
    }
  }
  return bestDistance <= limit ? best : std::string();
}

void LineAndColumn(const std::string& text, size_t offset, int* line, int* column) {
  *line = 1;
  *column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++*line;
      *column = 1;
    } else {
      ++*column;
    }
  }
}

std::vector<Finding> Verify(const VerifyOptions& options) {
  if (!host::IsDirectory(options.pluginDirectory)) {
    throw VerifyError(options.pluginDirectory + ": not a plugin directory");
  }
  std::vector<Finding> findings;
  // The loaders' messages and alerts say what the findings say; verify
  // reports in its own format only.
  host::LogCapture quiet([](const char*, const char*) {});
  bool stops = CheckDebugConfig(&findings);
  if (!stops) {
    Graph graph;
    Settings& settings = Settings::Instance();
    settings.pluginDirectory = options.pluginDirectory;
    std::set<std::string> runOnceSet;
    RunList runList;
    std::vector<LoadFailure> failures;
    try {
      DiscoverPlugins(graph, {}, options.bootFlags, runOnceSet, settings, runList, &failures);
    } catch (const std::exception& e) {
      throw VerifyError(options.pluginDirectory + ": " + e.what());
    }
    for (const LoadFailure& failure : failures) findings.push_back(LoadFailureFinding(failure));
    std::vector<Plugin*> plugins = PluginsOf(graph);
    CheckDuplicates(plugins, &findings);
    CheckProviders(graph, &findings);
    CheckRunOnce(plugins, &findings);
    CheckCommands(plugins, options.checkCommands, &findings);
    CheckCycles(graph, runList, &findings);
  }
  std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
    return std::tie(a.file, a.line, a.column) < std::tie(b.file, b.line, b.column);
  });
  return findings;
}

}  // namespace analyze
}  // namespace bootcrank
