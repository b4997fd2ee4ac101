#include "presentation/ScanPause.h"

namespace tlr {

void ScanPause::enter() {
  if (++depth_ == 1) Q_EMIT paused();
}

void ScanPause::leave() {
  if (depth_ == 0) return;
  if (--depth_ == 0) Q_EMIT resumed();
}

}  // namespace tlr
