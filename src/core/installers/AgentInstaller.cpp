#include "core/installers/AgentInstaller.h"

#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/LoginShell.h"
#include "platform/Paths.h"
#include "platform/TerminalLauncher.h"

#include <QChar>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace tlr {
namespace {

const QString kSuccessMark = QStringLiteral("TLR_INSTALL_SUCCESS_MARK");
const QString kBlockOpen = QStringLiteral("# >>> tollamere CLI path setup >>>");
const QString kBlockClose = QStringLiteral("# <<< tollamere CLI path setup <<<");
// A start-up file larger than this is not read (nor edited).
constexpr qint64 kStartFileReadLimit = 8 * 1024 * 1024;

// "$HOME" anywhere, then a leading "~/" or a lone "~", become the home folder.
QString expandWord(QString word) {
  return Paths::expandTilde(word.replace(QStringLiteral("$HOME"), Paths::home()));
}

QStringList expandWords(const Command& cmd) {
  QStringList words;
  words.reserve(cmd.size());
  for (const QString& word : cmd) words.append(expandWord(word));
  return words;
}

bool needsNoQuoting(char32_t c) {
  switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
      return true;
    default:
      return QStringView(u"_-./:@").contains(QChar(c));
  }
}

// A word made only of letters, digits and "_-./:@" stays bare; any other,
// the empty one too, goes in single quotes.
QString shellQuoted(const QString& word) {
  const QList<uint> scalars = word.toUcs4();
  const bool bare =
      !word.isEmpty() && std::all_of(scalars.cbegin(), scalars.cend(), [](uint c) { return needsNoQuoting(c); });
  return bare ? word : shellQuote(word);
}

StepResult startFileFailure(const QString& file, LocKey reason) {
  return StepResult::make(LocKey::installStepWriteFailed(file), false, std::move(reason));
}

}  // namespace

QList<AgentInstaller::Requirement> AgentInstaller::missingRequirements(
    const std::optional<QList<Requirement>>& requirements) {
  QList<Requirement> missing;
  for (const Requirement& requirement : requirements.value_or(QList<Requirement>())) {
    if (!recipe::commandExists(requirement.command)) missing.append(requirement);
  }
  return missing;
}

AgentInstaller::CommandResult AgentInstaller::runCommand(const Command& cmd) const {
  const ChildResult r = recipe::runVector(expandWords(cmd), recipe::recipeEnvironment(), commandTimeout_, [this] {
    log("[Installer] ", recipe::timeoutLogText(commandTimeout_));
  });
  if (!r.started) return {false, QString(), LocKey::installStepAsIs(r.startError), std::nullopt};
  const QString out = recipe::decodeUtf8(r.out);
  const std::optional<QString> printed = recipe::printedText(r);
  if (r.timedOut) return {false, out, recipe::timeoutText(commandTimeout_), printed};
  if (r.exited() && r.exitCode() == 0) return {true, out, std::nullopt, std::nullopt};
  // The row says how it ended and what it printed last; the details hold
  // all it printed.
  return {false, out, recipe::installFailureText(r), printed};
}

QString AgentInstaller::shellStartFile() const { return shellStartFile_.value_or(userShellStartFile()); }

StepResult AgentInstaller::ensurePathSetup() const {
  // The start file of the user's shell: a block in ~/.zshrc does nothing for
  // a user of bash.
  const QString file = shellStartFile();
  const QString path = Paths::expandTilde(file);
  const QByteArray block = (QStringList{kBlockOpen, QStringLiteral("export PATH=\"$HOME/.npm-global/bin:$HOME/.local/bin:$PATH\""),
                                        kBlockClose}
                                .join('\n') +
                            "\n")
                               .toUtf8();
  // Twice at most: a file that someone else creates between our look and
  // our write is read again, never replaced.
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Only a plain file is read, never waiting on a FIFO or reading a device
    // without end.
    const FileOps::ReadResult read = FileOps::readFile(path, kStartFileReadLimit);
    const bool missing = read.status == FileOps::ReadResult::Status::missing;
    if (!missing && read.status != FileOps::ReadResult::Status::ok)
      return startFileFailure(file, LocKey::installStepNothingChanged(read.reason));
    if (read.data.contains(kBlockOpen.toUtf8())) return StepResult::make(LocKey::installStepPathAlreadySet(file), true);
    // Never touch what we could not read as text.
    if (!read.data.isEmpty() && recipe::decodeUtf8(read.data).isNull())
      return startFileFailure(file, LocKey::installStepNotUtf8(path));
    // Appended in place in one write: lines the user adds meanwhile stay,
    // and a file nobody may write is left as it is.
    const Expected<void, QString> appended = FileOps::appendToFile(path, block, "\n\n", missing);
    if (appended) return StepResult::make(LocKey::installStepPathAdded(file), true);
    if (!(missing && QFileInfo::exists(path))) {
      return startFileFailure(file, appended.error().endsWith(QStringLiteral(": read-only file"))
                                        ? LocKey::installStepReadOnly(path)
                                        : LocKey::installStepAsIs(appended.error()));
    }
  }
  return startFileFailure(file, LocKey::installStepChangedWhileWritten(path));
}

QList<StepResult> AgentInstaller::runSteps(const QString& agentDisplayName, const CommandList& commands,
                                           const StepProgressHandler& onProgress) const {
  QList<StepResult> rows;
  auto add = [&](StepResult row) {
    rows.append(row);
    if (onProgress) onProgress(rows.last());
  };
  bool anySucceeded = false;
  for (const Command& cmd : commands) {
    if (cmd.isEmpty()) continue;
    const CommandResult result = runCommand(cmd);
    add(StepResult::make(LocKey::installStepAsIs("$ " + shellWords(cmd)), result.success, result.success ? std::nullopt : result.error,
                         result.success ? std::nullopt : result.details));
    if (!result.success) break;
    anySucceeded = true;
  }
  if (anySucceeded) add(ensurePathSetup());

  const bool allSucceeded = std::all_of(rows.cbegin(), rows.cend(), [](const StepResult& r) { return r.success; });
  log("[Installer] ", agentDisplayName + " 安装 " + (allSucceeded ? "成功" : "失败"));
  return rows;
}

void AgentInstaller::executeCommands(QObject* context, const QString& agentDisplayName, const CommandList& commands,
                                     StepProgressHandler onProgress, StepCompletionHandler onComplete) const {
  recipe::runStepsDetached(
      context, [self = *this, agentDisplayName, commands](const StepProgressHandler& deliver) {
        return self.runSteps(agentDisplayName, commands, deliver);
      },
      std::move(onProgress), std::move(onComplete));
}

QString AgentInstaller::terminalShellLine(const CommandList& commands) {
  QStringList texts;
  for (const Command& cmd : commands) {
    if (cmd.isEmpty()) continue;
    // Words are expanded as for a run in the app: once quoted, a "~" or a
    // "$HOME" would reach the program as it is written.
    QStringList quoted;
    for (const QString& word : cmd) quoted.append(shellQuoted(expandWord(word)));
    texts.append(quoted.join(' '));
  }
  QString line = recipe::recipeShellExports();
  if (!texts.isEmpty()) line += texts.join(QStringLiteral(" && ")) + QStringLiteral(" && ");
  // The window closes a second after success; after a failure the user's
  // shell keeps it open for reading.
  // The terminal speaks the interface's language of the moment.
  const AppLanguage language = Lang::current();
  line += QStringLiteral("echo \"\" && echo \"") + LocTexts::text(language, LocKey::installTerminalDone()) +
          QStringLiteral("\" && echo ") + kSuccessMark + QStringLiteral(" && sleep 1 && exit 0 || echo \"") +
          LocTexts::text(language, LocKey::installTerminalFailed()) + QStringLiteral("\"; exec \"${SHELL:-/bin/sh}\"");
  return line;
}

bool AgentInstaller::openInTerminal(const CommandList& commands) const {
  const TerminalLauncher::Result result = TerminalLauncher::run(terminalShellLine(commands));
  if (!result) log("[Installer] ", result.error());
  return result.ok();
}

}  // namespace tlr
