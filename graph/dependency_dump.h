// The dependency graph as a directed graph in the Graphviz dot language.
//
// Each node is identified by its address as a decimal number, labelled with
// its name (unescaped) and shaped by its DotAttributes; each edge points from
// a node to one of its dependents, in the direction of execution.
//
// Thread-safety: takes GraphLock around each node's edge list; meant for the
// main thread before any executor exists.
#ifndef BOOTCRANK_GRAPH_DEPENDENCY_DUMP_H_
#define BOOTCRANK_GRAPH_DEPENDENCY_DUMP_H_

#include <ostream>
#include <string>

#include <vector>

namespace bootcrank {

class Graph;
class Node;

// Writes `node`'s line, `<id> [label="<name>"<attributes>];`, then one line
// `<id> -> <dependent id>;` per dependent in list order, flushing each.
void DumpNode(Node* node, std::ostream& out);

// Writes the whole graph: every plugin of `runList` in order, then every
// barrier registered in `graph` in name order, inside "digraph g {" ... "}". Writes to
// the file `path`, or to standard output when `path` is null. A missing or
// regular file is replaced as a whole (host/replace_file.h); anything else
// there (a device, a FIFO, a link) is written in place. Returns false when
// it cannot be opened or written; a file being replaced then stays as it was.
bool DumpDependencyTree(const Graph& graph, const std::vector<Node*>& runList,
                        const std::string* path);

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_DEPENDENCY_DUMP_H_
