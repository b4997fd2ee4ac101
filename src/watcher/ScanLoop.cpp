#include "watcher/ScanLoop.h"

#include "platform/OffMain.h"

namespace tlr {

ScanLoop::ScanLoop(std::shared_ptr<const ProcessScanner> scanner, Scanned scanned, QObject* parent)
    : ScanLoop(
          [scanner = std::move(scanner)] {
            return Round{scanner->scanInstalledAgents(), scanner->scanAll()};
          },
          std::move(scanned), parent) {}

ScanLoop::ScanLoop(Scan scan, Scanned scanned, QObject* parent)
    : QObject(parent), scan_(std::move(scan)), scanned_(std::move(scanned)) {}

void ScanLoop::refresh() {
  if (scanning_) {
    again_ = true;
    return;
  }
  scanning_ = true;
  const bool started = startOffMain(this, [scan = scan_] { return scan(); }, [this](const Round& round) {
    scanning_ = false;
    scanned_(round);
    if (again_) {
      again_ = false;
      refresh();
    }
  });
  if (!started) scanning_ = false;
}

}  // namespace tlr
