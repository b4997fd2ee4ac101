#include "backup/OperationStop.h"

#include <atomic>

namespace tlr {
namespace {

std::atomic<bool> g_stop{false};

}  // namespace

void OperationStop::request() { g_stop = true; }

bool OperationStop::requested() { return g_stop.load(std::memory_order_relaxed); }

QString OperationStop::reason() { return QStringLiteral("已中止"); }

}  // namespace tlr
