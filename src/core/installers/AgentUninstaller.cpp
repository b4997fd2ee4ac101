#include "core/installers/AgentUninstaller.h"

#include "core/texts/HomePath.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/LoginShell.h"
#include "platform/OwnCommands.h"
#include "platform/Paths.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <optional>

namespace tlr {
namespace {



// Folders that are never removed, however a registry spells them.
const QSet<QString>& protectedPaths() {
  static const QSet<QString> paths{
      // The original platform's own.
      "/", "/Applications", "/System", "/Library", "/Users", "/usr", "/bin", "/sbin", "/etc",
      "/var", "/private", "/opt",
      // This system's top level.
      "/home", "/root", "/boot", "/proc", "/sys", "/dev", "/run", "/tmp", "/lib", "/lib64",
      "/lib32", "/libx32", "/srv", "/mnt", "/media", "/snap", "/lost+found",
      // Below /usr, /var and /opt.
      "/usr/bin", "/usr/sbin", "/usr/lib", "/usr/lib32", "/usr/lib64", "/usr/libx32",
      "/usr/libexec", "/usr/include", "/usr/share", "/usr/src", "/usr/games", "/usr/local",
      "/usr/local/bin", "/usr/local/sbin", "/usr/local/lib", "/usr/local/lib64",
      "/usr/local/include", "/usr/local/share", "/usr/local/etc", "/usr/local/src",
      "/usr/local/libexec", "/var/lib", "/var/log", "/var/cache", "/var/tmp", "/var/spool",
      "/var/mail", "/var/run", "/var/lock", "/var/opt", "/var/local", "/var/backups",
      "/var/www", "/opt/homebrew", "/opt/homebrew/bin"};
  return paths;
}

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
    if (part == "..") return std::nullopt;
    if (part != ".") parts.append(part);
  }
  return "/" + parts.join('/');
}

bool isAncestorOrSelf(const QString& folder, const QString& of) {
  return folder == "/" || of == folder || of.startsWith(folder + "/");
}

// Refuses `path` (normalized) when it is a protected folder, the home folder
// or one above it, or a shared folder of the home folder.
bool refusedAfterNormalizing(const QString& path, const QString& home) {
  if (protectedPaths().contains(path)) return true;
  if (isAncestorOrSelf(path, home)) return true;
  for (const QString& folder : protectedHomeFolders()) {
    if (path == home + "/" + folder) return true;
  }
  return false;
}

QString trimBlanksAndTabs(const QString& text) {
  qsizetype begin = 0, end = text.size();
  auto blank = [&](qsizetype i) { return text[i] == ' ' || text[i] == '\t'; };
  while (begin < end && blank(begin)) ++begin;
  while (end > begin && blank(end - 1)) --end;
  return text.mid(begin, end - begin);
}


}  // namespace

bool AgentUninstaller::isSafeToDelete(const QString& path) {
  // A system call would see the text cut at the NUL: "~/\0x" is the home folder.
  if (FileOps::holdsNul(path)) return false;
  const QString trimmed = trimBlanksAndTabs(path);
  if (trimmed.isEmpty() || trimmed == "/" || trimmed == ".") return false;
  const std::optional<QString> lexical = normalized(Paths::expandTilde(trimmed));
  if (!lexical) return false;

  // Compared as written, with the symbolic links of its folders resolved and
  // with every link resolved, against the home folder as written and resolved.
  const QString home = normalized(Paths::home()).value_or(QStringLiteral("/"));
  const QString canonicalHome = QFileInfo(home).canonicalFilePath();
  const QString realHome = canonicalHome.isEmpty() ? home : canonicalHome;
  const QString resolved = FileOps::resolveParentLinks(*lexical);
  // Also what a final link leads to: "link/" reaches the folder it points at.
  const QString followed = QFileInfo(*lexical).canonicalFilePath();
  for (const QString& candidate : {*lexical, resolved, followed.isEmpty() ? resolved : followed}) {
    for (const QString& homeForm : {home, realHome}) {
      if (refusedAfterNormalizing(candidate, homeForm)) return false;
    }
  }
  return true;
}

std::optional<quint64> AgentUninstaller::sizeOnDisk(const QString& path) {
  if (FileOps::holdsNul(path)) return std::nullopt;
  const QString expanded = Paths::expandTilde(path);
  const std::optional<FileOps::ItemInfo> info = FileOps::itemInfo(expanded);
  if (!info) return std::nullopt;
  if (!info->isDirectory) return static_cast<quint64>(info->size);
  return FileOps::allocatedSizeBelow(expanded);
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
  if (!which(cmd.first())) return StepResult::make(label, true, LocKey::uninstallStepNotInstalled(cmd.first()));
  const CommandResult result = runCommand(cmd);
  return StepResult::make(label, result.success, result.success ? std::nullopt : result.error,
                          result.success ? std::nullopt : result.details);
}

StepResult AgentUninstaller::removalStep(const QString& path) {
  // What gets removed is the normalized spelling of exactly what was checked:
  // "link/" or "link/." would otherwise reach through a link into the folder
  // it points at, and a path with blanks around it would be relative.
  const QString expanded = Paths::expandTilde(path);
  const std::optional<QString> target = normalized(expanded);
  if (!target || !isSafeToDelete(path) || !isSafeToDelete(*target)) {
    return StepResult::make(LocKey::uninstallStepSkippedPath(path), false, LocKey::uninstallStepUnsafePath());
  }
  const LocKey label = LocKey::installStepAsIs("rm -rf " + HomePath::abbreviate(expanded, Paths::home()));
  // Looked at as itself: a link whose target is gone is still there to remove.
  if (!FileOps::itemInfo(*target))
    return StepResult::make(label, true, LocKey::uninstallStepNotThere());
  const Expected<void, QString> removed = FileOps::removeItem(*target);
  return removed ? StepResult::make(label, true) : StepResult::make(label, false, LocKey::installStepAsIs(removed.error()));
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
