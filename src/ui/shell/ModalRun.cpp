#include "ui/shell/ModalRun.h"

#include <QCoreApplication>

namespace tlr {

ScanPause& ScanPause::shared() {
  static ScanPause* instance = [] {
    auto* pause = new ScanPause();
    if (QCoreApplication::instance()) pause->setParent(QCoreApplication::instance());
    return pause;
  }();
  return *instance;
}

void ScanPause::enter() {
  if (++depth_ == 1) Q_EMIT paused();
}

void ScanPause::leave() {
  if (depth_ == 0) return;
  if (--depth_ == 0) Q_EMIT resumed();
}

}  // namespace tlr
