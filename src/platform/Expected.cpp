#include "platform/Expected.h"

#include <cstdio>
#include <cstdlib>

namespace tlr::expected_detail {

void misuse(const char* what) {
  std::fprintf(stderr, "Expected: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace tlr::expected_detail
