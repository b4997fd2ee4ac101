#include "platform/MemoryArenas.h"

#include <malloc.h>

#include <cstdlib>

namespace tlr::MemoryArenas {

void limitForFewThreads() {
#ifdef M_ARENA_MAX
  // A MALLOC_ARENA_MAX set by whoever started us holds.
  if (const char* set = ::getenv("MALLOC_ARENA_MAX"); set && *set) return;
  ::mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace tlr::MemoryArenas
