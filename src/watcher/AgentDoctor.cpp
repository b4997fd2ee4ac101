#include "watcher/AgentDoctor.h"

#include "core/texts/Characters.h"
#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "platform/ArgumentReader.h"
#include "platform/OwnCommands.h"
#include "platform/UserHome.h"
#include "registry/AgentRegistry.h"
#include "watcher/JsonFilePatch.h"

#include <QElapsedTimer>
#include <QHash>
#include <QRegularExpression>

namespace tlr {
namespace {

constexpr qsizetype kSnippetCharacters = 200;
constexpr qsizetype kFixOutputCharacters = 300;

struct Detection {
  QList<AgentDoctor::DetectedIssue> issues;
  QList<AgentDoctor::PatternError> patternErrors;
};

// Spaces and tabs (and a carriage return left by CR LF line ends), not line
// feeds.
bool isBlank(QChar c) {
  return c == QLatin1Char('\t') || c == QLatin1Char('\r') || c.category() == QChar::Separator_Space;
}

QString trimBlanks(const QString& text) {
  qsizetype start = 0;
  qsizetype end = text.size();
  while (start < end && isBlank(text[start])) ++start;
  while (end > start && isBlank(text[end - 1])) --end;
  return text.mid(start, end - start);
}

// The whole line(s) that the match [start, end) touches, trimmed and cut to
// 200 characters.
QString extractLine(const QString& text, qsizetype start, qsizetype end) {
  const qsizetype lineStart = start == 0 ? 0 : text.lastIndexOf(QLatin1Char('\n'), start - 1) + 1;
  qsizetype lineEnd = text.indexOf(QLatin1Char('\n'), end);
  if (lineEnd < 0) lineEnd = text.size();
  const QString line = trimBlanks(text.mid(lineStart, lineEnd - lineStart));
  if (Characters::count(line) <= kSnippetCharacters) return line;
  return Characters::prefix(line, kSnippetCharacters) + QChar(0x2026);
}

Detection detectIssues(const QString& out, const QString& err,
                       const std::optional<QList<AgentDoctor::KnownIssue>>& knownIssues) {
  Detection detection;
  if (!knownIssues || knownIssues->isEmpty()) return detection;
  const QString text = out + QLatin1Char('\n') + err;
  for (const AgentDoctor::KnownIssue& issue : *knownIssues) {
    // Word, digit and space classes cover every script, as the registry's
    // expressions are written for.
    const QRegularExpression expression(issue.match, QRegularExpression::CaseInsensitiveOption |
                                                         QRegularExpression::DotMatchesEverythingOption |
                                                         QRegularExpression::UseUnicodePropertiesOption);
    if (!expression.isValid()) {
      detection.patternErrors.append(
          {issue.id, QStringLiteral("%1 (offset %2)")
                         .arg(expression.errorString(), QString::number(expression.patternErrorOffset()))});
      continue;
    }
    const QRegularExpressionMatch match = expression.match(text);
    if (!match.hasMatch()) continue;
    detection.issues.append({issue, extractLine(text, match.capturedStart(), match.capturedEnd())});
  }
  return detection;
}

}  // namespace

namespace {

// Whether a program's help names `word` (a sub-command, or an option with or
// without its "=value") as a word of its own.
bool helpLists(const QString& help, const QString& word) {
  const QString name = word.section(QLatin1Char('='), 0, 0);
  const QRegularExpression asWord(QStringLiteral("(^|[^\\w-])") + QRegularExpression::escape(name) +
                                  QStringLiteral("($|[^\\w-])"));
  return help.contains(asWord);
}

}  // namespace

// The "--help" of each command asked during one run, asked once.
class AgentDoctor::Helps {
 public:
  explicit Helps(const AgentDoctor& doctor) : doctor_(doctor) {}

  QString of(const QStringList& command) {
    if (!helps_.contains(command)) {
      const CommandRunner::Result help =
          doctor_.runner_(command + QStringList{QStringLiteral("--help")}, doctor_.limits_.help, false);
      // A program that is not there, cannot run or does not end says
      // nothing of itself (its shell's complaint is no help).
      const bool ran = !help.timedOut && help.exitCode >= 0 && help.exitCode != 126 && help.exitCode != 127;
      helps_.insert(command, ran ? (help.stdOut + QLatin1Char('\n') + help.stdErr).trimmed() : QString());
    }
    return helps_.value(command);
  }

 private:
  const AgentDoctor& doctor_;
  QHash<QStringList, QString> helps_;
};

AgentDoctor::AgentDoctor(Runner runner, Limits limits) : runner_(std::move(runner)), limits_(limits) {}

AgentDoctor::Runner AgentDoctor::defaultRunner() {
  return [](const QStringList& argv, std::chrono::milliseconds limit, bool inTerminal) {
    return CommandRunner::run(argv, limit, inTerminal);
  };
}


std::optional<AgentDoctor::Result> AgentDoctor::run(const AgentEntry& entry) const {
  if (!entry.doctor) return std::nullopt;
  const AgentEntry::DoctorSpec& spec = *entry.doctor;
  QElapsedTimer timer;
  timer.start();
  const CommandRunner::Result cmd = runner_(spec.command, limits_.check, spec.needsTerminal.value_or(false));
  Detection detection = detectIssues(cmd.stdOut, cmd.stdErr, spec.knownIssues);
  Helps helps(*this);
  checkFixes(entry, detection.issues, helps);

  Result result;
  result.entryDisplayName = entry.displayName;
  result.command = spec.command;
  result.exitCode = cmd.exitCode;
  result.stdOut = cmd.stdOut;
  result.stdErr = cmd.stdErr;
  result.timedOut = cmd.timedOut;
  result.keeperLost = cmd.keeperLost;
  result.timeLimitSeconds = cmd.limitSeconds();
  result.detectedIssues = std::move(detection.issues);
  // A check that did not end by itself (never run, stopped at its limit or
  // by an uninstall, killed) tells nothing of the program: none of its
  // commands is started to ask for its help, which may by now be running
  // from files being removed.
  const bool endedByItself = cmd.wasRun() && !cmd.timedOut && !cmd.keeperLost && cmd.exitCode < 128;
  result.helpListsFix = endedByItself && helpListsFix(entry, helps);
  result.patternErrors = std::move(detection.patternErrors);
  result.elapsedSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
  return result;
}

std::optional<LocKey> AgentDoctor::notRunnable(const AgentEntry& entry, const QStringList& command, Helps& helps) {
  if (command.isEmpty()) return std::nullopt;
  // Read as the agent's own program reads its arguments when it is that
  // program: its sub-commands first, then its options.
  const QString program = ArgumentReader::programName(command.first());
  const bool agentsOwn = entry.identify.executableNames && entry.identify.executableNames->contains(program);
  const ArgumentReader read(command.mid(1), agentsOwn ? AgentRegistry::grammarOf(entry.identify) : ArgumentGrammar());
  QStringList path{command.first()};
  for (const QString& word : read.leadingWords()) {
    const QString help = helps.of(path);
    if (help.isEmpty()) return LocKey::doctorFixNoHelp(path.join(QLatin1Char(' ')));
    if (!helpLists(help, word)) return LocKey::doctorFixNoCommand(path.join(QLatin1Char(' ')), word);
    path << word;
  }
  if (read.options().isEmpty()) return std::nullopt;
  const QString help = helps.of(path);
  if (help.isEmpty()) return LocKey::doctorFixNoHelp(path.join(QLatin1Char(' ')));
  for (const ArgumentReader::Option& option : read.options())
    if (!helpLists(help, option.name)) return LocKey::doctorFixNoOption(path.join(QLatin1Char(' ')), option.name);
  return std::nullopt;
}

void AgentDoctor::checkFixes(const AgentEntry& entry, QList<DetectedIssue>& issues, Helps& helps) const {
  for (DetectedIssue& detected : issues) {
    const Fix& fix = detected.issue.fix;
    if (fix.kind != QLatin1String("shell") || !fix.command) continue;
    detected.fixNotOffered = notRunnable(entry, *fix.command, helps);
  }
}

bool AgentDoctor::helpListsFix(const AgentEntry& entry, Helps& helps) const {
  const QStringList fixing = entry.doctor->command + QStringList{QStringLiteral("--fix")};
  return !notRunnable(entry, fixing, helps).has_value();
}

AgentDoctor::FixResult AgentDoctor::applyFix(const KnownIssue& issue) const {
  const QString& kind = issue.fix.kind;
  if (kind == QLatin1String("shell")) return applyShellFix(issue.fix);
  if (kind == QLatin1String("patch-json")) return applyPatchJsonFix(issue.fix);
  return FixResult::failure(LocKey::doctorErrUnknownFixKind(kind));
}

std::optional<AgentDoctor::FixResult> AgentDoctor::runReload(const Fix& fix) const {
  if (!fix.reload || fix.reload->isEmpty()) return std::nullopt;
  // How it ended is not judged, but one stopped half-way has not reloaded.
  // A reload restarts a service: what it leaves running is the agent.
  const OwnCommands::Scope restarting(OwnCommands::Purpose::relaunch);
  const CommandRunner::Result ran = runner_(*fix.reload, limits_.change, false);
  if (ran.timedOut) return FixResult::failure(LocKey::doctorErrReloadTimedOut(ran.limitSeconds()));
  return std::nullopt;
}

AgentDoctor::FixResult AgentDoctor::applyShellFix(const Fix& fix) const {
  if (!fix.command || fix.command->isEmpty()) {
    return FixResult::failure(LocKey::doctorErrShellMissingCmd());
  }
  const CommandRunner::Result cmd = runner_(*fix.command, limits_.change, false);
  if (cmd.timedOut) return FixResult::failure(LocKey::doctorErrCmdTimedOut(cmd.limitSeconds()));
  if (cmd.exitCode != 0) {
    const QString output = (cmd.stdErr + cmd.stdOut).trimmed();
    if (output.isEmpty()) return FixResult::failure(LocKey::doctorErrCmdExitSilent(cmd.exitCode));
    return FixResult::failure(LocKey::doctorErrCmdExit(cmd.exitCode, Characters::prefix(output, kFixOutputCharacters)));
  }
  if (std::optional<FixResult> reloadFailed = runReload(fix)) return *reloadFailed;
  return FixResult::success(LocKey::doctorOkCmdSucceeded());
}

AgentDoctor::FixResult AgentDoctor::applyPatchJsonFix(const Fix& fix) const {
  if (!fix.file || !fix.set || fix.set->isEmpty()) {
    return FixResult::failure(LocKey::doctorErrPatchMissingFields());
  }
  const QString path = expandUserTilde(*fix.file);

  QList<JsonFilePatch::Change> changes;
  QStringList listed;
  for (auto it = fix.set->cbegin(); it != fix.set->cend(); ++it) {
    changes.append({it.key().split(QLatin1Char('.'), Qt::SkipEmptyParts), it.value()});
    listed << it.key() + QStringLiteral(" = \"") + it.value() + QLatin1Char('"');
  }

  const JsonFilePatch::Report report = JsonFilePatch::apply(path, changes);
  using Outcome = JsonFilePatch::Outcome;
  switch (report.outcome) {
    case Outcome::fileNotFound:
      return FixResult::failure(LocKey::doctorErrFileNotFound(path));
    case Outcome::readFailed:
      return FixResult::failure(LocKey::doctorErrReadFile(report.detail));
    case Outcome::parseFailed:
      return FixResult::failure(LocKey::doctorErrJSONParse(report.detail));
    case Outcome::notAnObject:
      return FixResult::failure(LocKey::doctorErrJSONNotObject());
    case Outcome::writeFailed:
      return FixResult::failure(LocKey::doctorErrWriteFile(report.detail));
    case Outcome::patched:
      break;
  }
  if (std::optional<FixResult> reloadFailed = runReload(fix)) return *reloadFailed;
  return FixResult::success(LocKey::doctorOkUpdated(*fix.file, listed.join(QChar(0x3001))));
}

QString AgentDoctor::summaryEventText(const Result& result) {
  const qsizetype found = result.detectedIssues.size();
  if (result.timedOut) return LocTexts::text(AppLanguage::zh, LocKey::evDetailDoctorTimedOut(result.timeLimitSeconds));
  if (result.keeperLost) return LocTexts::text(AppLanguage::zh, LocKey::evDetailDoctorKeeperLost());
  if (found > 0) return LocTexts::text(AppLanguage::zh, LocKey::evDetailDoctorIssues(result.exitCode, found));
  return LocTexts::text(AppLanguage::zh, LocKey::evDetailDoctorNoIssues(result.exitCode));
}

LocKey AgentDoctor::summaryEventKey(const Result& result) {
  if (result.timedOut) return LocKey::evDetailDoctorTimedOut(result.timeLimitSeconds);
  if (result.keeperLost) return LocKey::evDetailDoctorKeeperLost();
  if (!result.detectedIssues.isEmpty()) return LocKey::evDetailDoctorIssues(result.exitCode, result.detectedIssues.size());
  if (result.exitCode != 0) return LocKey::evDetailDoctorFailed(result.exitCode);
  return LocKey::evDetailDoctorNoIssues(result.exitCode);
}

LocKey AgentDoctor::fixEventKey(const KnownIssue& issue, const FixResult& fix) {
  return fix.succeeded() ? LocKey::evDetailFixSucceeded(issue.id) : LocKey::evDetailFixFailed(issue.id);
}

QString AgentDoctor::fixEventText(const KnownIssue& issue, const FixResult& fix) {
  return LocTexts::text(AppLanguage::zh, fixEventKey(issue, fix)) + QLatin1Char(' ') +
         LocTexts::text(Lang::current(), fix.message);
}

}  // namespace tlr
