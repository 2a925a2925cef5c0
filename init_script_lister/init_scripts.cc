#include "init_script_lister/init_scripts.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "init_script_lister/lsb_header.h"

namespace bootcrank {

namespace {

namespace fs = std::filesystem;

// Debian's /etc/insserv.conf, for hosts that have none.
const char kDebianFacilities[] =
    "$local_fs +mountall +mountall-bootclean +mountoverflowtmp +umountfs\n"
    "$network +networking +ifupdown\n"
    "$named +named +dnsmasq +lwresd +bind9 +unbound +pdns-recursor $network\n"
    "$remote_fs $local_fs +mountnfs +mountnfs-bootclean +umountnfs +sendsigs\n"
    "$syslog +rsyslog +sysklogd +syslog-ng +dsyslog +inetutils-syslogd\n"
    "$time +hwclock\n"
    "$portmap +rpcbind\n";

using Facilities = std::map<std::string, std::vector<std::string>>;

struct Script {
  LsbHeader header;
  bool linked = false;  // an S or K link in the runlevel's directory decides
  bool enabled = false;
  bool waitsForAll = false;
  std::set<std::string> after;  // the enabled scripts it starts after
  int priority = 0;
  enum { kUnvisited, kVisiting, kDone } state = kUnvisited;
};

struct Link {
  bool start = false;
  int priority = 0;
};

// Only regular files are opened: a FIFO would hold the listing up.
bool IsRegularFile(const std::string& path, bool executable = false) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         (!executable || (st.st_mode & S_IXUSR));
}

// Not a file that a package or an editor left beside the real ones.
bool IsOwnFile(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.back() != '~' &&
         name.find(".dpkg-") == std::string::npos && name.find(".ucf-") == std::string::npos;
}

bool IsScriptName(const std::string& name) {
  static const std::set<std::string> kNotScripts = {"README", "skeleton", "rc", "rcS"};
  return IsOwnFile(name) && kNotScripts.count(name) == 0;
}

// The names in `dir`, sorted; none when it cannot be read.
std::vector<std::string> Names(const std::string& dir, std::error_code& error) {
  std::vector<std::string> names;
  fs::directory_iterator it(dir, error), end;
  for (; !error && it != end; it.increment(error)) names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int DefaultRunlevel(const std::string& root) {
  std::string path = root + "/etc/inittab";
  if (!IsRegularFile(path)) return 2;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream entry(line);
    for (std::string field; std::getline(entry, field, ':');) fields.push_back(field);
    if (line.empty() || line[0] == '#' || fields.size() < 3 || fields[2] != "initdefault") continue;
    if (fields[1].size() == 1 && fields[1][0] >= '1' && fields[1][0] <= '5')
      return fields[1][0] - '0';
  }
  return 2;
}

// Script name -> its link in /etc/rc<runlevel>.d; an S link wins over a K
// link, the lowest S number over the others.
std::map<std::string, Link> RunlevelLinks(const std::string& root, int runlevel) {
  std::map<std::string, Link> links;
  std::error_code ignored;  // no directory: no links
  for (const std::string& name :
       Names(root + "/etc/rc" + std::to_string(runlevel) + ".d", ignored)) {
    if (name.size() < 4 || (name[0] != 'S' && name[0] != 'K') ||
        !isdigit(static_cast<unsigned char>(name[1])) ||
        !isdigit(static_cast<unsigned char>(name[2]))) {
      continue;
    }
    Link link{name[0] == 'S', (name[1] - '0') * 10 + (name[2] - '0')};
    auto [it, inserted] = links.emplace(name.substr(3), link);
    if (!inserted && link.start && (!it->second.start || link.priority < it->second.priority))
      it->second = link;
  }
  return links;
}

void ReadFacilities(std::istream& in, Facilities& facilities) {
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line.substr(0, line.find('#')));
    std::string facility, member;
    if (!(words >> facility) || facility[0] != '$') continue;  // also "<interactive>" and the like
    while (words >> member) facilities[facility].push_back(member.substr(member[0] == '+'));
  }
}

Facilities HostFacilities(const std::string& root) {
  std::vector<std::string> files = {root + "/etc/insserv.conf"};
  std::error_code ignored;
  for (const std::string& name : Names(root + "/etc/insserv.conf.d", ignored)) {
    if (IsOwnFile(name)) files.push_back(root + "/etc/insserv.conf.d/" + name);
  }
  Facilities facilities;
  bool found = false;
  for (const std::string& file : files) {
    if (!IsRegularFile(file)) continue;
    std::ifstream in(file);
    ReadFacilities(in, facilities);
    found = true;
  }
  if (!found) {
    std::istringstream debian(kDebianFacilities);
    ReadFacilities(debian, facilities);
  }
  return facilities;
}

class Orderer {
 public:
  Orderer(std::map<std::string, Script>& scripts, Facilities facilities,
          std::vector<std::string>& warnings)
      : scripts_(scripts), facilities_(std::move(facilities)), warnings_(warnings) {
    for (auto& [name, script] : scripts_) {
      if (!script.enabled) continue;
      providers_[name].insert(name);
      for (const std::string& provided : script.header.provides) providers_[provided].insert(name);
    }
  }

  // Fills every enabled script's `after` set.
  void Link() {
    for (auto& [name, script] : scripts_) {
      if (!script.enabled) continue;
      for (const auto* field : {&script.header.requiredStart, &script.header.shouldStart}) {
        for (const std::string& needed : *field) {
          if (needed == "$all") {
            script.waitsForAll = true;
          } else {
            for (const std::string& other : Providers(needed)) script.after.insert(other);
          }
        }
      }
      for (const std::string& later : script.header.startBefore) {
        for (const std::string& other : Providers(later)) scripts_[other].after.insert(name);
      }
    }
    for (auto& [name, script] : scripts_) {
      if (!script.waitsForAll) continue;
      for (auto& [other, candidate] : scripts_) {
        if (candidate.enabled && !candidate.waitsForAll) script.after.insert(other);
      }
    }
    for (auto& [name, script] : scripts_) script.after.erase(name);
  }

  // One step after the latest script it waits for; a linked script keeps its
  // link's number.
  int Priority(const std::string& name) {
    Script& script = scripts_[name];
    if (script.linked || script.state == Script::kDone) return script.priority;
    script.state = Script::kVisiting;
    int priority = 1;
    for (const std::string& other : script.after) {
      if (scripts_[other].state == Script::kVisiting) {
        warnings_.push_back("dependency cycle: " + name + " starts without waiting for " + other);
        continue;
      }
      priority = std::max(priority, Priority(other) + 1);
    }
    script.priority = priority;
    script.state = Script::kDone;
    return priority;
  }

 private:
  // The enabled scripts that provide `name`, a script name or a facility.
  std::set<std::string> Providers(const std::string& name) {
    std::set<std::string> seen, found;
    std::function<void(const std::string&)> add = [&](const std::string& wanted) {
      if (!seen.insert(wanted).second) return;
      auto provider = providers_.find(wanted);
      if (provider != providers_.end())
        found.insert(provider->second.begin(), provider->second.end());
      auto facility = facilities_.find(wanted);
      if (facility == facilities_.end()) return;
      for (const std::string& member : facility->second) add(member);
    };
    add(name);
    return found;
  }

  std::map<std::string, Script>& scripts_;
  const Facilities facilities_;
  std::map<std::string, std::set<std::string>> providers_;
  std::vector<std::string>& warnings_;
};

}  // namespace

InitScripts ListInitScripts(const std::string& root) {
  InitScripts result;
  result.runlevel = DefaultRunlevel(root);
  const std::string directory = root + "/etc/init.d";
  std::error_code error;
  std::vector<std::string> names = Names(directory, error);
  if (error) throw std::runtime_error("cannot read " + directory + ": " + error.message());

  std::map<std::string, Script> scripts;
  for (const std::string& name : names) {
    std::string path = directory + "/" + name;
    if (!IsScriptName(name) || !IsRegularFile(path, true)) continue;
    if (name.find_first_of(" \t\n\r\v\f") != std::string::npos) {
      result.warnings.push_back("leaving out " + path + ": white space in its name");
      continue;
    }
    std::ifstream in(path, std::ios::binary);
    scripts[name].header = ReadLsbHeader(in);
  }

  const std::map<std::string, Link> links = RunlevelLinks(root, result.runlevel);
  const std::string runlevel = std::to_string(result.runlevel);
  for (auto& [name, script] : scripts) {
    auto link = links.find(name);
    script.linked = link != links.end();
    if (script.linked) {
      script.enabled = link->second.start;
      script.priority = link->second.priority;
    } else {
      const std::vector<std::string>& levels = script.header.defaultStart;
      script.enabled = std::find(levels.begin(), levels.end(), runlevel) != levels.end();
    }
  }

  Orderer orderer(scripts, HostFacilities(root), result.warnings);
  orderer.Link();
  for (auto& [name, script] : scripts) {
    if (script.enabled) result.scripts.push_back({name, orderer.Priority(name)});
  }
  std::stable_sort(
      result.scripts.begin(), result.scripts.end(),
      [](const ListedScript& a, const ListedScript& b) { return a.priority < b.priority; });
  return result;
}

}  // namespace bootcrank
