// `bootcrank-analyze verify`: the findings of Verify as compiler-style lines
// or a JSON array, and the exit status.
#include <nlohmann/json.hpp>

#include "analyze/command.h"
#include "analyze/table.h"
#include "analyze/verify.h"
#include "host/host_paths.h"
#include "host/host_root.h"

namespace bootcrank {
namespace analyze {
namespace {

std::string Place(const Finding& finding) {
  std::string place = finding.file.empty() ? "bootcrank-analyze" : finding.file;
  if (finding.line > 0) place += ":" + std::to_string(finding.line);
  if (finding.line > 0 && finding.column > 0) place += ":" + std::to_string(finding.column);
  return place;
}

}  // namespace

int RunVerify(const Invocation& call) {
  Arguments args(call.args, {"--json", "--plugin-directory=", "--plugin-flags=", "--no-commands"});
  args.ExpectPositional(0, 0);
  VerifyOptions options;
  std::vector<std::string> directories = args.Values("--plugin-directory");
  options.pluginDirectory =
      directories.empty() ? host::HostPath(host::kPluginDirectoryPath) : directories.back();
  for (const std::string& list : args.Values("--plugin-flags")) {
    size_t start = 0;
    while (start <= list.size()) {
      size_t comma = list.find(',', start);
      if (comma == std::string::npos) comma = list.size();
      if (comma > start) options.bootFlags.insert(list.substr(start, comma - start));
      start = comma + 1;
    }
  }
  options.checkCommands = !args.Flag("--no-commands");
  std::vector<Finding> findings;
  try {
    findings = Verify(options);
  } catch (const VerifyError& e) {
    call.err << "bootcrank-analyze verify: cannot check: " << e.what() << "\n";
    return kExitUsage;
  }
  if (args.Flag("--json")) {
    nlohmann::json array = nlohmann::json::array();
    for (const Finding& f : findings) {
      array.push_back({{"file", f.file},
                       {"line", f.line},
                       {"column", f.column},
                       {"kind", f.kind},
                       {"message", f.message}});
    }
    call.out << JsonText(array, 2) << "\n";
  } else {
    for (const Finding& f : findings) {
      call.out << Paint(Place(f), colour::kBold, call.colour) << ": "
               << Paint(f.kind, colour::kRed, call.colour) << ": " << f.message << "\n";
    }
    std::string summary = findings.empty()
                              ? "verify: no findings in " + options.pluginDirectory
                              : "verify: " + std::to_string(findings.size()) +
                                    (findings.size() == 1 ? " finding in " : " findings in ") +
                                    options.pluginDirectory;
    call.out << Paint(summary, findings.empty() ? colour::kGreen : colour::kYellow, call.colour)
             << "\n";
  }
  return findings.empty() ? kExitOk : kExitFindings;
}

}  // namespace analyze
}  // namespace bootcrank
