#include "runcontrol/command_line.h"

#include <getopt.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace bootcrank {

const char kUsageText[] =
    " -h,--help                  display this help message\n"
    "    --init                  run in init mode (this will cause hvsyslog to be\n"
    "                            launched, and the start method to be invoked on the\n"
    "                            plugins)\n"
    "    --invoke                run a particular method from the plugin's function\n"
    "                            pointer table (requires --method)\n"
    "    --method=<method>       specifies the method identifier\n"
    "    --plugin=<plugin>[,<plugin>]\n"
    "                            comma separated list of plugins to load (note that \n"
    "                            this will prevent the loading of all plugins, and \n"
    "                            only the specified plugins will be loaded), which\n"
    "                            are specified by the filename (basename of the\n"
    "                            plugin path)\n"
    "    --trace                 trace execution of the plugins for debugging \n"
    "                            purposes\n"
    "    --verbose               logs plugin execution to syslog to aid in debugging\n"
    "    --randomize[=seed]      evaluate the execution order randomizing the\n"
    "                            order of independent jobs. Only useful for testing.\n"
    "                            You can specify an optional seed for reproducibility\n"
    "    --parallel              evaluate the execution order accounting for\n"
    "                            parallelism between jobs which are independent\n"
    "    --plugin-flags=<flag>[,<flag>]\n"
    "                            specify flags for conditional execution of plugins.\n"
    "                            If there are multiple occurences of this option, the\n"
    "                            last one is the only one that counts. See plugin\n"
    "                            documentation for which plugins support flags.\n"
    "    --interactive           prompts before performing the action, allowing\n"
    "                            plugins to be skipped, executed, or to fall to a\n"
    "                            troubleshooting shell\n"
    "    --disable-plugins=<plugin>[,<plugin>]\n"
    "                            a comma separated list of plugins to be disabled\n"
    "                            during execution, which are specified by the\n"
    "                            filename (basename of the plugin path)\n"
    "    --dump-dependency-tree[=<path>]\n"
    "                            dump plugin dependency tree information to the file\n"
    "                            specified by path.  If path is not specified, the\n"
    "                            information will be dumped to the console\n"
    "    --interactive-mode-requires=<plugin>[,<plugin>]\n"
    "                            interactive mode requires the specified plugins to \n"
    "                            be loaded before it can be activated\n"
    "    --daemon=[wait|nowait]\n"
    "                            run daemon operations (requires --method). The \n"
    "                            optional wait mode specifies whether bootcrank \n"
    "                            should wait for daemon start/stop to complete. \n"
    "                            Defaults to 'nowait' if unspecified.\n"
    "    --daemon-wait-timeout=timeoutInSecs\n"
    "                            specify how long bootcrank should wait for daemons \n"
    "                            to start/stop, before moving on to the next one.   \n"
    "                            The default is 40 secs.                            \n";

namespace {

enum OptionId {
  kInit = 256,
  kPluginFlags,
  kTrace,
  kInvoke,
  kMethod,
  kPlugin,
  kVerbose,
  kParallel,
  kRandomize,
  kRunOnce,
  kInteractive,
  kDisablePlugins,
  kPluginDirectory,
  kDumpDependencyTree,
  kInteractiveModeRequires,
  kDaemon,
  kDaemonWaitTimeout,
};

const struct option kOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"init", no_argument, nullptr, kInit},
    {"plugin-flags", required_argument, nullptr, kPluginFlags},
    {"trace", no_argument, nullptr, kTrace},
    {"invoke", no_argument, nullptr, kInvoke},
    {"method", required_argument, nullptr, kMethod},
    {"plugin", required_argument, nullptr, kPlugin},
    {"verbose", no_argument, nullptr, kVerbose},
    {"parallel", no_argument, nullptr, kParallel},
    {"randomize", optional_argument, nullptr, kRandomize},
    {"run-once", required_argument, nullptr, kRunOnce},
    {"interactive", no_argument, nullptr, kInteractive},
    {"disable-plugins", required_argument, nullptr, kDisablePlugins},
    {"plugin-directory", required_argument, nullptr, kPluginDirectory},
    {"dump-dependency-tree", optional_argument, nullptr, kDumpDependencyTree},
    {"interactive-mode-requires", required_argument, nullptr, kInteractiveModeRequires},
    {"daemon", optional_argument, nullptr, kDaemon},
    {"daemon-wait-timeout", required_argument, nullptr, kDaemonWaitTimeout},
    {nullptr, 0, nullptr, 0},
};

// Digits only after an optional sign; true with the value when it fits.
bool ParseDecimal(const char* text, bool allowMinus, uint64_t limit, bool& negative,
                  uint64_t& value) {
  if (text == nullptr) return false;
  negative = false;
  if (*text == '+' || (allowMinus && *text == '-')) negative = *text++ == '-';
  if (*text == '\0') return false;
  value = 0;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
    value = value * 10 + static_cast<uint64_t>(*text - '0');
    if (value > limit) return false;
  }
  return true;
}

template <typename Collection>
void SplitInto(const std::string& text, Collection& out) {
  size_t begin = 0;
  while (begin <= text.size()) {
    size_t end = text.find(',', begin);
    if (end == std::string::npos) end = text.size();
    if (end > begin) out.insert(out.end(), text.substr(begin, end - begin));
    begin = end + 1;
  }
}

}  // namespace

void SplitCommaList(const std::string& text, std::vector<std::string>& out) {
  SplitInto(text, out);
}

void SplitCommaList(const std::string& text, std::set<std::string>& out) { SplitInto(text, out); }

bool ParseSeed(const char* text, int64_t& seed) {
  bool negative;
  uint64_t value;
  // The magnitude of INT32_MIN is one more than INT32_MAX.
  if (!ParseDecimal(text, true, uint64_t{INT32_MAX} + 1, negative, value)) return false;
  if (!negative && value > INT32_MAX) return false;
  seed = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
  return true;
}

bool ParseTimeout(const char* text, uint32_t& seconds) {
  bool negative;
  uint64_t value;
  if (!ParseDecimal(text, false, UINT32_MAX, negative, value)) return false;
  seconds = static_cast<uint32_t>(value);
  return true;
}

ParseResult ParseCommandLine(int argc, char** argv, Settings& settings, CommandLine& line) {
  optind = 0;  // full re-initialisation, so that tests may parse repeatedly
  for (;;) {
    int id = getopt_long(argc, argv, "h", kOptions, nullptr);
    if (id == -1) break;
    switch (id) {
      case 'h':
        fputs(kUsageText, stdout);
        fflush(stdout);
        return ParseResult::kHelp;
      case kInit: line.init = true; break;
      case kPluginFlags:
        line.bootFlags.clear();
        SplitCommaList(optarg, line.bootFlags);
        break;
      case kTrace: settings.trace = true; break;
      case kInvoke: settings.invoke = true; break;
      case kMethod: settings.method = optarg; break;
      case kPlugin: SplitCommaList(optarg, line.pluginNames); break;
      case kVerbose: settings.verbose = true; break;
      case kParallel:
        settings.parallel = true;
        settings.interactive = false;
        break;
      case kRandomize: {
        settings.randomize = true;
        int64_t seed;
        if (ParseSeed(optarg, seed)) settings.randomSeed = seed;
        break;
      }
      case kRunOnce: SplitCommaList(optarg, line.runOnce); break;
      case kInteractive:
        settings.interactive = true;
        settings.parallel = false;
        break;
      case kDisablePlugins: SplitCommaList(optarg, settings.disabledPlugins); break;
      case kPluginDirectory:
        line.pluginDirectory = optarg;
        line.pluginDirectoryGiven = true;
        break;
      case kDumpDependencyTree:
        line.dump = true;
        line.dumpToFile = optarg != nullptr;
        line.dumpPath = optarg != nullptr ? optarg : "";
        break;
      case kInteractiveModeRequires: SplitCommaList(optarg, settings.interactiveRequires); break;
      case kDaemon:
        line.daemon = true;
        if (optarg != nullptr) settings.daemonWait = strcmp(optarg, "wait") == 0;
        break;
      case kDaemonWaitTimeout: {
        uint32_t seconds;
        if (ParseTimeout(optarg, seconds)) settings.daemonWaitTimeout = seconds;
        break;
      }
      default:
        fprintf(stderr, "usage: %s --help for usage information\n",
                argc > 0 && argv[0] != nullptr ? argv[0] : "bootcrank");
        return ParseResult::kError;
    }
  }
  return ParseResult::kRun;
}

Combination CheckCombination(const Settings& settings, CommandLine& line) {
  if (line.daemon) {
    if (settings.interactive || settings.invoke || settings.method.empty() || line.init ||
        !line.pluginNames.empty()) {
      return Combination::kInvalid;
    }
    if (settings.method == "start") {
      line.stop = false;
    } else if (settings.method == "stop") {
      line.stop = true;
    } else {
      return Combination::kInvalid;
    }
  }
  if (settings.invoke && (settings.method.empty() || line.pluginNames.empty())) {
    return Combination::kInvokeIncomplete;
  }
  return Combination::kValid;
}

}  // namespace bootcrank
