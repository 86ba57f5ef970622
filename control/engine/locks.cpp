#include "control/engine/locks.h"

namespace mbus::engine {

LibraryLocks& Locks() {
    static LibraryLocks locks;
    return locks;
}

}  // namespace mbus::engine
