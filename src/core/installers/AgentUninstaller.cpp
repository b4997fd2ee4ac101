#include "core/installers/AgentUninstaller.h"

#include "core/texts/HomePath.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/LoginShell.h"
#include "platform/OwnCommands.h"
#include "platform/PathNames.h"
#include "platform/Paths.h"
#include "platform/UniqueFd.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>

namespace tlr {
namespace {



// Shared folders of the home folder that hold far more than one agent.
const QStringList& protectedHomeFolders() {
  static const QStringList folders{".local", ".local/bin", ".local/share", ".local/state",
                                   ".local/lib", ".config", ".cache", ".npm-global",
                                   ".npm-global/bin", ".npm-global/lib"};
  return folders;
}

// An absolute path without empty and "." components. Nothing for a relative
// path or one that holds a ".." component.
std::optional<QString> normalized(const QString& path) {
  if (!path.startsWith('/')) return std::nullopt;
  QStringList parts;
  for (const QString& part : path.split('/', Qt::SkipEmptyParts)) {
    if (PathNames::isParentStep(part)) return std::nullopt;
    if (part != ".") parts.append(part);
  }
  return "/" + parts.join('/');
}

bool isAncestorOrSelf(const QString& folder, const QString& of) {
  return folder == "/" || of == folder || of.startsWith(folder + "/");
}

// Why `path` (normalized) may not go, measured against `home`: it must lie
// strictly inside the home folder and be none of its shared folders.
std::optional<AgentUninstaller::Refusal> refusalAgainst(const QString& path, const QString& home) {
  using Refusal = AgentUninstaller::Refusal;
  if (isAncestorOrSelf(path, home)) return Refusal::sharedFolder;
  if (!isAncestorOrSelf(home, path)) return Refusal::outsideHome;
  for (const QString& folder : protectedHomeFolders()) {
    if (path == home + "/" + folder) return Refusal::sharedFolder;
  }
  return std::nullopt;
}

// The home folder as written (normalized) and with its links resolved.
struct HomeForms {
  QString written, real;
};

HomeForms homeForms() {
  const QString home = normalized(Paths::home()).value_or(QStringLiteral("/"));
  const QString canonical = QFileInfo(home).canonicalFilePath();
  return {home, canonical.isEmpty() ? home : canonical};
}

// The path the removal reaches: "~" expanded, normalized. Nothing for one
// that is no full path: relative (" ~/x" with its blank too, which would be
// taken relative to the working folder), or with a ".." component.
std::optional<QString> removalTarget(const QString& path) { return normalized(Paths::expandTilde(path)); }

}  // namespace

std::optional<AgentUninstaller::Refusal> AgentUninstaller::refusal(const QString& path) {
  // A system call would see the text cut at the NUL: "~/\0x" is the home folder.
  if (FileOps::holdsNul(path)) return Refusal::notAPath;
  // Judged as the removal reaches it, spelled exactly so: "link/" or "link/."
  // would otherwise reach through a link into the folder it points at.
  const std::optional<QString> lexical = removalTarget(path);
  if (!lexical) return Refusal::notAPath;

  // As written, it lies inside the home folder (as written or resolved).
  const HomeForms home = homeForms();
  const std::optional<Refusal> written = refusalAgainst(*lexical, home.written);
  const std::optional<Refusal> writtenReal = refusalAgainst(*lexical, home.real);
  if (written == Refusal::sharedFolder || writtenReal == Refusal::sharedFolder) return Refusal::sharedFolder;
  if (written && writtenReal) return Refusal::outsideHome;
  // With the links of its folders resolved it still does: a link in the home
  // folder to the folder of all homes does not lead to a sibling's files. A
  // final link is removed as itself, so where it points does not matter.
  const QString resolved = FileOps::resolveParentLinks(*lexical);
  if (const std::optional<Refusal> through = refusalAgainst(resolved, home.real))
    return through == Refusal::outsideHome ? Refusal::leavesHome : through;
  return std::nullopt;
}

bool AgentUninstaller::isSafeToDelete(const QString& path) { return !refusal(path); }

LocKey AgentUninstaller::refusalKey(Refusal why) {
  switch (why) {
    case Refusal::notAPath:
      return LocKey::uninstallRefusedNotAPath();
    case Refusal::sharedFolder:
      return LocKey::uninstallRefusedShared();
    case Refusal::outsideHome:
      return LocKey::uninstallRefusedOutsideHome();
    case Refusal::leavesHome:
      return LocKey::uninstallRefusedLeavesHome();
  }
  return LocKey::uninstallRefusedNotAPath();
}

StepResult AgentUninstaller::refusedStep(const QString& path, Refusal why) {
  return StepResult::make(LocKey::uninstallStepSkippedPath(path), false, refusalKey(why));
}

std::optional<quint64> AgentUninstaller::sizeOnDisk(const QString& path) {
  if (refusal(path)) return std::nullopt;
  const std::optional<QString> expanded = removalTarget(path);
  if (!expanded) return std::nullopt;
  const std::optional<FileOps::ItemInfo> info = FileOps::itemInfo(*expanded);
  if (!info) return std::nullopt;
  if (!info->isDirectory) return static_cast<quint64>(info->size);
  if (FileOps::isMountPoint(*expanded)) return 0;
  return FileOps::allocatedSizeBelow(*expanded);
}

std::optional<QString> AgentUninstaller::which(const QString& name) { return recipe::resolveProgram(name); }

AgentUninstaller::CommandResult AgentUninstaller::runCommand(const Command& cmd) const {
  // The same environment as the install, so npm finds what it installed.
  const ChildResult r = recipe::runVector(cmd, recipe::recipeEnvironment(), commandTimeout_, [this] {
    log("[Uninstaller] ", recipe::timeoutLogText(commandTimeout_));
  });
  if (!r.started) return {false, QString(), LocKey::installStepAsIs(r.startError), std::nullopt};
  const QString out = recipe::decodeUtf8(r.out);
  // What the program printed is the row's details; its message is the first
  // line of its error output.
  const std::optional<QString> printed = recipe::printedText(r);
  if (r.timedOut) return {false, out, recipe::timeoutText(commandTimeout_), printed};
  if (r.exited() && r.exitCode() == 0) return {true, out, std::nullopt, std::nullopt};
  return {false, out, recipe::uninstallFailureText(r), printed};
}

StepResult AgentUninstaller::preCommandStep(const Command& cmd) const {
  const LocKey label = LocKey::installStepAsIs("$ " + shellWords(cmd));
  // Not run is not done: the user has to know that npm did not remove it.
  if (!which(cmd.first())) return StepResult::make(label, false, LocKey::uninstallStepNotInstalled(cmd.first()));
  const CommandResult result = runCommand(cmd);
  return StepResult::make(label, result.success, result.success ? std::nullopt : result.error,
                          result.success ? std::nullopt : result.details);
}

StepResult AgentUninstaller::removalStep(const QString& path) {
  // What gets removed is exactly what was judged.
  if (const std::optional<Refusal> why = refusal(path)) return refusedStep(path, *why);
  const QString expanded = Paths::expandTilde(path);
  const std::optional<QString> target = removalTarget(path);
  const QString shown = HomePath::abbreviate(expanded, Paths::home());
  const LocKey label = LocKey::installStepAsIs("rm -rf " + shown);
  const LocKey notThere = LocKey::uninstallStepNotThere();
  // The folder that holds it is opened, then asked where it really is: a link
  // swapped in after the check cannot lead the removal out of the home folder.
  const qsizetype cut = target->lastIndexOf('/');
  const UniqueFd folder(::open(QFile::encodeName(target->left(cut)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return StepResult::make(label, true, notThere);
  const QString opened = FileOps::openedPath(folder.get()).value_or(QString());
  const QByteArray name = QFile::encodeName(target->mid(cut + 1));
  if (opened.isEmpty() || refusalAgainst(opened + "/" + QFile::decodeName(name), homeForms().real))
    return StepResult::make(label, false, refusalKey(Refusal::leavesHome));
  // Looked at as itself: a link whose target is gone is still there to remove.
  struct stat st;
  if (::fstatat(folder.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
    return StepResult::make(label, true, notThere);
  const Expected<void, FileOps::RemovalFailure> removed = FileOps::removeItemAt(folder.get(), name);
  if (removed) return StepResult::make(label, true);
  const FileOps::RemovalFailure& failure = removed.error();
  if (failure.error.isEmpty()) {
    // Named below the item as it was given: shown below the path as shown.
    QStringList mounts;
    for (const QString& mount : failure.mountsLeft) mounts << shown + mount.mid(QFile::decodeName(name).size());
    return StepResult::make(label, false, LocKey::uninstallStepMountLeft(mounts.join(QStringLiteral(", "))));
  }
  StepResult row = StepResult::make(label, false, LocKey::installStepAsIs(failure.error));
  row.removableByHand = shown;
  return row;
}

QList<StepResult> AgentUninstaller::run(const QString& agentDisplayName, const CommandList& preCommands,
                                        const QStringList& pathsToRemove,
                                        const StepProgressHandler& onProgress) const {
  std::optional<OwnCommands::Scope> uninstalling;
  if (!agentId_.isEmpty()) {
    uninstalling.emplace(agentId_, OwnCommands::Purpose::uninstall);
    // Nothing of ours goes on running from the files about to go.
    if (const int ended = OwnCommands::shared().endCommandsOf(agentId_); ended > 0)
      log("[Uninstaller] ", agentDisplayName + QStringLiteral(" 先结束 %1 个仍在运行的命令").arg(ended));
  }
  QList<StepResult> rows;
  auto add = [&](StepResult row) {
    rows.append(row);
    if (onProgress) onProgress(rows.last());
  };
  if (stopFirst_) add(stopFirst_());
  for (const Command& cmd : preCommands) {
    if (!cmd.isEmpty()) add(preCommandStep(cmd));
  }
  for (const QString& path : pathsToRemove) add(removalStep(path));

  const auto succeeded = std::count_if(rows.cbegin(), rows.cend(), [](const StepResult& r) { return r.success; });
  log("[Uninstaller] ", agentDisplayName + " 卸载完成 · 共 " + QString::number(rows.size()) + " 步 · " +
                            QString::number(succeeded) + " 成功");
  return rows;
}

void AgentUninstaller::execute(QObject* context, const QString& agentDisplayName, const CommandList& preCommands,
                               const QStringList& pathsToRemove, StepProgressHandler onProgress,
                               StepCompletionHandler onComplete) const {
  recipe::runStepsDetached(
      context, [self = *this, agentDisplayName, preCommands, pathsToRemove](const StepProgressHandler& deliver) {
        return self.run(agentDisplayName, preCommands, pathsToRemove, deliver);
      },
      std::move(onProgress), std::move(onComplete));
}

}  // namespace tlr
