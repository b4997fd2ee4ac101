#include "core/system/DesktopOpen.h"

#include "core/system/WebAddress.h"
#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/OffMain.h"
#include "platform/Opener.h"

#include <QDir>
#include <QFileInfo>

namespace tlr::DesktopOpen {
namespace {

std::optional<LocKey> reasonOf(const Opener::Outcome& outcome, const QString& target) {
  if (outcome.opened) return std::nullopt;
  log("[Opener] ", target + QStringLiteral(": ") +
                       (outcome.startError.isEmpty() ? QStringLiteral("xdg-open ended with status %1").arg(outcome.exitStatus)
                                                     : QStringLiteral("xdg-open: ") + outcome.startError));
  if (!outcome.startError.isEmpty()) return LocKey::alertOpenerNotStarted(outcome.startError);
  return LocKey::alertOpenerFailed(outcome.exitStatus);
}

void openOffMain(const QString& target, QObject* context, Failed failed) {
  startOffMain(
      context, [target] { return reasonOf(Opener::openAndWait(target), target); },
      [failed = std::move(failed)](const std::optional<LocKey>& reason) {
        if (reason && failed) failed(*reason);
      });
}

}  // namespace

void address(const QString& text, QObject* context, Failed failed) {
  const std::optional<QUrl> url = WebAddress::parse(text);
  if (!url) {
    // Heard on a later turn, as every other answer.
    runOnMain(whileAlive(context, [failed = std::move(failed)] {
      if (failed) failed(LocKey::alertOpenNotAnAddress());
    }));
    return;
  }
  openOffMain(url->toString(QUrl::FullyEncoded), context, std::move(failed));
}

void folder(const QString& path, QObject* context, Failed failed) {
  openOffMain(QDir::cleanPath(path), context, std::move(failed));
}

void folderOf(const QString& path, QObject* context, Failed failed) {
  openOffMain(QFileInfo(QDir::cleanPath(path)).absolutePath(), context, std::move(failed));
}

std::optional<LocKey> folderNow(const QString& path) {
  const QString folder = QDir::cleanPath(path);
  return reasonOf(Opener::openAndWait(folder), folder);
}

}  // namespace tlr::DesktopOpen
