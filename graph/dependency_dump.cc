#include "graph/dependency_dump.h"

#include <fcntl.h>

#include <boost/iostreams/device/file_descriptor.hpp>
#include <boost/iostreams/stream.hpp>
#include <cstdint>
#include <iostream>

#include "graph/barrier.h"
#include "graph/graph.h"
#include "base/graph_lock.h"
#include "graph/node.h"

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
  int fd = open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  boost::iostreams::stream<boost::iostreams::file_descriptor_sink> file(
      fd, boost::iostreams::close_handle);
  DumpGraph(graph, runList, file);
  return true;
}

}  // namespace bootcrank
