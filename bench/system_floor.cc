// The floor for running debug injections: the commands of a debug.conf run
// with system() from N threads, in file order, ignoring every dependency.
// No orchestrator can run the same commands faster on the same workers, so
// bench/run reports bootcrank's wall time against this program's.
//
//   bench_system_floor <threads> <debug.conf>
//
// Only the command (the text after the third colon) of each line is used;
// the generator writes no colon inside a command.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3 || std::atoi(argv[1]) < 1) {
    std::fprintf(stderr, "usage: %s <threads> <debug.conf>\n", argv[0]);
    return 2;
  }
  std::vector<std::string> commands;
  std::ifstream in(argv[2]);
  for (std::string line; std::getline(in, line);) {
    size_t colon = std::string::npos;
    for (int i = 0; i < 3; ++i) {
      colon = line.find(':', colon == std::string::npos ? 0 : colon + 1);
      if (colon == std::string::npos) break;
    }
    if (colon != std::string::npos) commands.push_back(line.substr(colon + 1));
  }
  if (commands.empty()) {
    std::fprintf(stderr, "%s: no commands in %s\n", argv[0], argv[2]);
    return 2;
  }
  std::atomic<size_t> next{0};
  std::atomic<int> failed{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < std::atoi(argv[1]); ++i) {
    workers.emplace_back([&] {
      for (size_t n; (n = next++) < commands.size();) {
        if (std::system(commands[n].c_str()) != 0) ++failed;
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  return failed == 0 ? 0 : 1;
}
