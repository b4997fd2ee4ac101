#include "watcher/AgentDoctor.h"

#include "core/texts/Characters.h"
#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "platform/OwnCommands.h"
#include "platform/UserHome.h"
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

AgentDoctor::AgentDoctor(Runner runner, LanguageProbe prefersEnglish, Limits limits)
    : prefersEnglish_(std::move(prefersEnglish)), runner_(std::move(runner)), limits_(limits) {}

AgentDoctor::LanguageProbe AgentDoctor::interfaceLanguage() {
  return [] { return Lang::current() == AppLanguage::en; };
}

AgentDoctor::Runner AgentDoctor::defaultRunner() {
  return [](const QStringList& argv, std::chrono::milliseconds limit, bool inTerminal) {
    return CommandRunner::run(argv, limit, inTerminal);
  };
}

QString AgentDoctor::text(const char* en, const char* zh) const {
  return QString::fromUtf8(english() ? en : zh);
}

std::optional<AgentDoctor::Result> AgentDoctor::run(const AgentEntry& entry) const {
  if (!entry.doctor) return std::nullopt;
  const AgentEntry::DoctorSpec& spec = *entry.doctor;
  QElapsedTimer timer;
  timer.start();
  const CommandRunner::Result cmd = runner_(spec.command, limits_.check, spec.needsTerminal.value_or(false));
  Detection detection = detectIssues(cmd.stdOut, cmd.stdErr, spec.knownIssues);
  checkFixOptions(detection.issues);

  Result result;
  result.entryDisplayName = entry.displayName;
  result.command = spec.command;
  result.exitCode = cmd.exitCode;
  result.stdOut = cmd.stdOut;
  result.stdErr = cmd.stdErr;
  result.timedOut = cmd.timedOut;
  result.timeLimitSeconds = cmd.limitSeconds();
  result.detectedIssues = std::move(detection.issues);
  result.patternErrors = std::move(detection.patternErrors);
  result.elapsedSeconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
  return result;
}

void AgentDoctor::checkFixOptions(QList<DetectedIssue>& issues) const {
  QHash<QStringList, QString> helps;  // by the command before its first option
  for (DetectedIssue& detected : issues) {
    const Fix& fix = detected.issue.fix;
    if (fix.kind != QLatin1String("shell") || !fix.command) continue;
    const QStringList& words = *fix.command;
    const auto firstOption =
        std::find_if(words.cbegin(), words.cend(), [](const QString& w) { return w.startsWith(QLatin1Char('-')); });
    if (firstOption == words.cend()) continue;
    const QStringList program(words.cbegin(), firstOption);
    if (!helps.contains(program)) {
      const CommandRunner::Result help = runner_(program + QStringList{QStringLiteral("--help")}, limits_.help, false);
      helps.insert(program, help.stdOut + QLatin1Char('\n') + help.stdErr);
    }
    const QString listed = helps.value(program);
    for (auto word = firstOption; word != words.cend(); ++word) {
      if (!word->startsWith(QLatin1Char('-'))) continue;
      // "--fix" or "--fix=…": the option's name, listed as a word of its own.
      const QString name = word->section(QLatin1Char('='), 0, 0);
      const QRegularExpression asWord(QStringLiteral("(^|[^\\w-])") + QRegularExpression::escape(name) +
                                      QStringLiteral("($|[^\\w-])"));
      if (!listed.contains(asWord)) detected.fixOffered = false;
    }
  }
}

AgentDoctor::FixResult AgentDoctor::applyFix(const KnownIssue& issue) const {
  const QString& kind = issue.fix.kind;
  if (kind == QLatin1String("shell")) return applyShellFix(issue.fix);
  if (kind == QLatin1String("patch-json")) return applyPatchJsonFix(issue.fix);
  return FixResult::failure(text("Unknown fix kind: ", "未知的 fix kind: ") + kind);
}

std::optional<AgentDoctor::FixResult> AgentDoctor::runReload(const Fix& fix) const {
  if (!fix.reload || fix.reload->isEmpty()) return std::nullopt;
  // How it ended is not judged, but one stopped half-way has not reloaded.
  // A reload restarts a service: what it leaves running is the agent.
  const OwnCommands::Scope restarting(OwnCommands::Purpose::relaunch);
  const CommandRunner::Result ran = runner_(*fix.reload, limits_.change, false);
  if (ran.timedOut) return unfinished("Reload did not finish within %1 s", "reload 命令 %1 秒内未完成", ran);
  return std::nullopt;
}

AgentDoctor::FixResult AgentDoctor::unfinished(const char* en, const char* zh, const CommandRunner::Result& ran) const {
  return FixResult::failure(text(en, zh).arg(ran.limitSeconds()));
}

AgentDoctor::FixResult AgentDoctor::applyShellFix(const Fix& fix) const {
  if (!fix.command || fix.command->isEmpty()) {
    return FixResult::failure(text("shell fix missing command", "shell fix 缺 command"));
  }
  const CommandRunner::Result cmd = runner_(*fix.command, limits_.change, false);
  if (cmd.timedOut) return unfinished("Command did not finish within %1 s", "命令 %1 秒内未完成", cmd);
  if (cmd.exitCode != 0) {
    const QString output = (cmd.stdErr + cmd.stdOut).trimmed();
    const QString shown =
        output.isEmpty() ? text("(no output)", "(无输出)") : Characters::prefix(output, kFixOutputCharacters);
    return FixResult::failure(text("Command exited ", "命令退出 ") + QString::number(cmd.exitCode) +
                              text(": ", "：") + shown);
  }
  if (std::optional<FixResult> reloadFailed = runReload(fix)) return *reloadFailed;
  return FixResult::success(text("Command succeeded", "命令执行成功"));
}

AgentDoctor::FixResult AgentDoctor::applyPatchJsonFix(const Fix& fix) const {
  if (!fix.file || !fix.set || fix.set->isEmpty()) {
    return FixResult::failure(text("patch-json fix missing file or set", "patch-json fix 缺 file 或 set"));
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
      return FixResult::failure(text("File not found: ", "文件不存在：") + path);
    case Outcome::readFailed:
      return FixResult::failure(text("Read failed: ", "读文件失败：") + report.detail);
    case Outcome::parseFailed:
      return FixResult::failure(text("JSON parse failed: ", "JSON 解析失败：") + report.detail);
    case Outcome::notAnObject:
      return FixResult::failure(text("Top-level is not a JSON object", "顶层不是 JSON 对象"));
    case Outcome::writeFailed:
      return FixResult::failure(text("Write failed: ", "写文件失败：") + report.detail);
    case Outcome::patched:
      break;
  }
  if (std::optional<FixResult> reloadFailed = runReload(fix)) return *reloadFailed;
  return FixResult::success(text("Updated ", "已更新 ") + *fix.file + text(": ", "：") +
                            listed.join(QChar(0x3001)));
}

QString AgentDoctor::summaryEventText(const Result& result) {
  const qsizetype found = result.detectedIssues.size();
  if (result.timedOut) return LocTexts::zh(LocKey::evDetailDoctorTimedOut(result.timeLimitSeconds));
  if (found > 0) return LocTexts::zh(LocKey::evDetailDoctorIssues(result.exitCode, found));
  return LocTexts::zh(LocKey::evDetailDoctorNoIssues(result.exitCode));
}

QString AgentDoctor::fixEventText(const KnownIssue& issue, const FixResult& fix) {
  const LocKey outcome = fix.succeeded() ? LocKey::evDetailFixSucceeded(issue.id) : LocKey::evDetailFixFailed(issue.id);
  return LocTexts::zh(outcome) + QLatin1Char(' ') + fix.message;
}

}  // namespace tlr
