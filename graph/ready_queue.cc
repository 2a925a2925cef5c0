#include "graph/ready_queue.h"

#include <limits>

namespace bootcrank {

bool ReadyQueue::MoreUrgent::operator()(const Entry& a, const Entry& b) const {
  if (a.executionClass != b.executionClass) return a.executionClass < b.executionClass;
  if (a.depth != b.depth) return a.depth > b.depth;
  return a.sequence < b.sequence;
}

void ReadyQueue::Push(Node* node, uint32_t executionClass, int32_t depth, uint64_t sequence) {
  entries_.insert(Entry{executionClass, depth, sequence, node});
}

size_t ReadyQueue::TiedCount() const {
  const Entry& first = *entries_.begin();
  // Sorts after every entry of the first class and depth, before all others.
  Entry pastTies{first.executionClass, first.depth, std::numeric_limits<uint64_t>::max(), nullptr};
  return entries_.order_of_key(pastTies);
}

Node* ReadyQueue::Take(size_t index) {
  auto it = entries_.find_by_order(index);
  Node* node = it->node;
  entries_.erase(it);
  return node;
}

}  // namespace bootcrank
