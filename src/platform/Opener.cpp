#include "platform/Opener.h"

#include "platform/ChildProcess.h"
#include "platform/OffMain.h"

#include <sys/wait.h>

namespace tlr::Opener {
namespace {

const QString kOpener = QStringLiteral("xdg-open");

Expected<pid_t, QString> spawnOpener(const QString& target) {
  if (target.isEmpty()) return Unexpected(QStringLiteral("nothing to open"));
  ChildSpec spec;
  spec.program = kOpener;
  spec.arguments = {target};
  return spawnDetached(spec, QString());
}

}  // namespace

Outcome openAndWait(const QString& target, std::chrono::milliseconds patience) {
  const Expected<pid_t, QString> started = spawnOpener(target);
  if (!started) return {false, started.error(), 0};
  // Our child, reaped by our reaper, which keeps its status for a while.
  constexpr std::chrono::milliseconds kLook{25};
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (true) {
    if (const std::optional<int32_t> status = ownChildExitStatus(started.value(), -1)) {
      const int raw = *status;
      const int code = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      return {code == 0, QString(), code};
    }
    if (std::chrono::steady_clock::now() >= deadline) return {};
    if (!OffMainPool::pause(kLook)) return {};
  }
}

}  // namespace tlr::Opener
