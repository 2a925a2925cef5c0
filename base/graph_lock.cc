#include "base/graph_lock.h"

namespace bootcrank {

GraphMutex graphLock;

}  // namespace bootcrank
