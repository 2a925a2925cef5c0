#include "graph/dependency_dump.h"

#include <cstdint>
#include <iostream>
#include <sstream>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "base/graph_lock.h"
#include "graph/node.h"
#include "host/replace_file.h"

namespace bootcrank {

namespace {

// Unique within the process, stable for the node's life.
uint64_t NodeId(const Node* node) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(node));
}

void DumpGraph(const Graph& graph, const std::vector<Node*>& runList, std::ostream& out) {
  out << "digraph g {\n";
  for (Node* plugin : runList) DumpNode(plugin, out);
  for (InitBarrier* barrier : graph.AllBarriers()) DumpNode(barrier, out);
  out << "}\n" << std::flush;
}

}  // namespace

void DumpNode(Node* node, std::ostream& out) {
  uint64_t id = NodeId(node);
  out << id << " [label=\"" << node->Name() << "\"" << node->DotAttributes() << "];\n"
      << std::flush;
  GraphLockHolder lock;
  for (const Node* dependent : node->Dependents()) {
    out << id << " -> " << NodeId(dependent) << ";\n" << std::flush;
  }
}

bool DumpDependencyTree(const Graph& graph, const std::vector<Node*>& runList,
                        const std::string* path) {
  if (path == nullptr) {
    DumpGraph(graph, runList, std::cout);
    return true;
  }
  // A regular file is replaced as a whole; a device or FIFO that the user
  // named (/dev/stdout, say) is written as it is.
  host::FileReplacement file;
  if (file.Begin(*path, 0666, host::FileReplacement::Destination::kNamedByUser) != 0) return false;
  std::ostringstream text;
  DumpGraph(graph, runList, text);
  const std::string dot = text.str();
  host::FileReplacement::Step failed;
  int modeError = 0;
  return file.Write(dot.data(), dot.size()) == 0 && file.Commit(&failed, &modeError) == 0;
}

}  // namespace bootcrank
