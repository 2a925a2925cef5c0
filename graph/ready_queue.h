// ReadyQueue: the executor's ready nodes, ordered by urgency.
//
// An entry's urgency key is (execution class ascending, scheduling depth
// descending, queue sequence ascending): the first entry is the one a
// deterministic executor runs next, and the entries tied with it on class
// and depth, in queue order, are the candidates of a randomized choice. An
// order-statistics tree keeps every operation logarithmic, so thousands of
// ready nodes cost no scan per pick.
//
// Thread-safety: none of its own; the executor guards it with GraphLock.
#ifndef BOOTCRANK_GRAPH_READY_QUEUE_H_
#define BOOTCRANK_GRAPH_READY_QUEUE_H_

#include <ext/pb_ds/assoc_container.hpp>
#include <ext/pb_ds/tree_policy.hpp>

#include <cstddef>
#include <cstdint>

namespace bootcrank {

class Node;

class ReadyQueue {
 public:
  // Adds a node with its class, its scheduling depth and a sequence number
  // that grows with every push (the queue order).
  void Push(Node* node, uint32_t executionClass, int32_t depth, uint64_t sequence);

  bool Empty() const { return entries_.empty(); }
  size_t Size() const { return entries_.size(); }

  // How many entries share the most urgent class and depth.
  // REQUIRES: not empty.
  size_t TiedCount() const;

  // Removes and returns the candidate at `index` (queue order) among the
  // tied most urgent entries. REQUIRES: index < TiedCount().
  Node* Take(size_t index);

 private:
  struct Entry {
    uint32_t executionClass;
    int32_t depth;
    uint64_t sequence;
    Node* node;
  };
  struct MoreUrgent {
    bool operator()(const Entry& a, const Entry& b) const;
  };
  using Tree = __gnu_pbds::tree<Entry, __gnu_pbds::null_type, MoreUrgent, __gnu_pbds::rb_tree_tag,
                                __gnu_pbds::tree_order_statistics_node_update>;
  Tree entries_;
};

}  // namespace bootcrank

#endif  // BOOTCRANK_GRAPH_READY_QUEUE_H_
