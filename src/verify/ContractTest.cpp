#include "verify/ContractTest.h"

#include "core/installers/AgentUninstaller.h"
#include "platform/Log.h"
#include "registry/RegistryCodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <functional>
#include <optional>

namespace tlr {
namespace {

// Why a check failed; nothing when it passed.
using Problem = std::optional<QString>;

class Report {
 public:
  void check(const QString& name, const Problem& problem) {
    ++checks_;
    if (problem) {
      ++failures_;
      lines_ << oneLine(QStringLiteral("✗ ") + name + QStringLiteral(": ") + *problem);
    } else {
      lines_ << oneLine(QStringLiteral("✓ ") + name);
    }
  }
  void note(const QString& line) { lines_ << oneLine(line); }
  bool success() const { return checks_ > 0 && failures_ == 0; }
  VerificationResult finish() {
    lines_ << (failures_ == 0 ? QStringLiteral("=== PASS: %1 checks ===").arg(checks_)
                              : QStringLiteral("=== FAIL: %1 of %2 checks failed ===").arg(failures_).arg(checks_));
    return {success(), lines_.join('\n')};
  }

 private:
  QStringList lines_;
  int checks_ = 0;
  int failures_ = 0;
};

// Collects the problems of one specification and joins them.
class Problems {
 public:
  void add(const QString& problem) { list_ << problem; }
  void add(const Problem& problem) {
    if (problem) list_ << *problem;
  }
  Problem result() const {
    if (list_.isEmpty()) return std::nullopt;
    return list_.join(QStringLiteral("; "));
  }

 private:
  QStringList list_;
};

bool isBlank(const QString& text) { return text.trimmed().isEmpty(); }

// A command must name a program: a runner handed an empty vector or an
// empty program word has nothing to start.
Problem commandProblem(const Command& command, const QString& field) {
  if (command.isEmpty()) return field + QStringLiteral(" is empty");
  if (isBlank(command.first())) return field + QStringLiteral(" has no program");
  return std::nullopt;
}

Problem optionalCommandProblem(const std::optional<Command>& command, const QString& field) {
  if (!command) return std::nullopt;
  return commandProblem(*command, field);
}

Problem webAddressProblem(const std::optional<QString>& address, const QString& field) {
  if (!address) return std::nullopt;
  const QUrl url(*address, QUrl::StrictMode);
  const QString scheme = url.scheme();
  if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("https") && scheme != QLatin1String("http")))
    return field + QStringLiteral(" is not a web address: ") + *address;
  return std::nullopt;
}

bool anyNonBlank(const std::optional<QStringList>& list) {
  return list && std::any_of(list->cbegin(), list->cend(), [](const QString& s) { return !isBlank(s); });
}

Problem identifyProblem(const AgentEntry& entry) {
  const AgentEntry::Identify& identify = entry.identify;
  Problems problems;
  // An argvAllOf pattern that is empty never matches, so it blocks every
  // match of the entry by executable name too.
  if (identify.argvAllOf &&
      std::any_of(identify.argvAllOf->cbegin(), identify.argvAllOf->cend(), &isBlank))
    problems.add(QStringLiteral("identify.argvAllOf holds an empty pattern"));
  const bool canMatch = anyNonBlank(identify.bundleIds) || anyNonBlank(identify.executableNames) ||
                        anyNonBlank(identify.argvMatches) || anyNonBlank(identify.argvAllOf);
  // A plug-in lives inside its editor and has no process of its own.
  if (!canMatch && entry.kind != AgentEntry::Kind::idePlugin)
    problems.add(QStringLiteral("identify names no bundle id, executable name or argument pattern"));
  return problems.result();
}

Problem recoverProblem(const AgentEntry::Recover& recover) {
  using Strategy = AgentEntry::Recover::Strategy;
  switch (recover.strategy) {
    case Strategy::openApp:
      if (!recover.appBundleId || isBlank(*recover.appBundleId))
        return QStringLiteral("open-app needs recover.appBundleId");
      return std::nullopt;
    case Strategy::execCli:
      if (!recover.command) return QStringLiteral("exec-cli needs recover.command");
      return commandProblem(*recover.command, QStringLiteral("recover.command"));
    case Strategy::openUrlScheme:
      if (!recover.urlScheme || isBlank(*recover.urlScheme))
        return QStringLiteral("open-url-scheme needs recover.urlScheme");
      return std::nullopt;
  }
  return std::nullopt;
}

Problem installProblem(const AgentEntry::Install& install) {
  Problems problems;
  const bool hasCommands = install.commands && !install.commands->isEmpty();
  if (hasCommands) {
    for (const Command& command : *install.commands) {
      // The step runner passes over an empty vector; a vector without a
      // program word would fail to start.
      if (!command.isEmpty()) problems.add(commandProblem(command, QStringLiteral("install.commands")));
    }
  }
  if (install.useTerminal.value_or(false) && !hasCommands)
    problems.add(QStringLiteral("install.useTerminal without install.commands"));
  if (!hasCommands && !install.officialUrl)
    problems.add(QStringLiteral("install has neither commands nor officialUrl"));
  problems.add(webAddressProblem(install.officialUrl, QStringLiteral("install.officialUrl")));
  if (install.requirements) {
    for (const auto& requirement : *install.requirements) {
      if (isBlank(requirement.command) || requirement.command.contains(QRegularExpression(QStringLiteral("\\s"))))
        problems.add(QStringLiteral("install.requires has a command that is not a program name: \"") +
                     requirement.command + '"');
      problems.add(webAddressProblem(requirement.hintUrl, QStringLiteral("install.requires.hintUrl")));
    }
  }
  return problems.result();
}

Problem removablePathProblem(const QString& path) {
  if (AgentUninstaller::isSafeToDelete(path)) return std::nullopt;
  return QStringLiteral("uninstall path is not safe to remove: \"") + path + '"';
}

Problem uninstallProblem(const AgentEntry::Uninstall& uninstall) {
  Problems problems;
  for (const auto* list : {&uninstall.paths, &uninstall.userDataPaths}) {
    if (!*list) continue;
    for (const QString& path : **list) problems.add(removablePathProblem(path));
  }
  if (uninstall.preCommands) {
    for (const Command& command : *uninstall.preCommands) {
      if (!command.isEmpty()) problems.add(commandProblem(command, QStringLiteral("uninstall.preCommands")));
    }
  }
  return problems.result();
}

Problem restartProblem(const AgentEntry::RestartSpec& restart) {
  Problems problems;
  problems.add(commandProblem(restart.command, QStringLiteral("restart.command")));
  problems.add(optionalCommandProblem(restart.verifyCommand, QStringLiteral("restart.verifyCommand")));
  problems.add(optionalCommandProblem(restart.fallbackCommand, QStringLiteral("restart.fallbackCommand")));
  // The fallback runs only after a failed verification.
  if (restart.fallbackCommand && !restart.verifyCommand)
    problems.add(QStringLiteral("restart.fallbackCommand never runs without restart.verifyCommand"));
  return problems.result();
}

Problem fixProblem(const AgentEntry::DoctorSpec::KnownIssue::Fix& fix, const QString& issueId) {
  const QString where = QStringLiteral("knownIssue ") + issueId + QStringLiteral(" fix");
  Problems problems;
  if (fix.kind == QLatin1String("shell")) {
    if (!fix.command) problems.add(where + QStringLiteral(": shell fix needs a command"));
    else problems.add(commandProblem(*fix.command, where + QStringLiteral(".command")));
  } else if (fix.kind == QLatin1String("patch-json")) {
    if (!fix.file || isBlank(*fix.file)) problems.add(where + QStringLiteral(": patch-json fix needs a file"));
    const bool anyKey = fix.set && std::any_of(fix.set->keyBegin(), fix.set->keyEnd(), [](const QString& path) {
                          return !path.split('.', Qt::SkipEmptyParts).isEmpty();
                        });
    if (!anyKey) problems.add(where + QStringLiteral(": patch-json fix needs a key path to set"));
  } else {
    problems.add(where + QStringLiteral(": unknown kind \"") + fix.kind + '"');
  }
  problems.add(optionalCommandProblem(fix.reload, where + QStringLiteral(".reload")));
  return problems.result();
}

Problem doctorProblem(const AgentEntry::DoctorSpec& doctor) {
  Problems problems;
  problems.add(commandProblem(doctor.command, QStringLiteral("doctor.command")));
  if (!doctor.knownIssues) return problems.result();
  QSet<QString> ids;
  for (const auto& issue : *doctor.knownIssues) {
    if (isBlank(issue.id)) problems.add(QStringLiteral("a knownIssue has no id"));
    else if (ids.contains(issue.id)) problems.add(QStringLiteral("knownIssue id repeats: ") + issue.id);
    ids.insert(issue.id);
    // Compiled as the doctor compiles it.
    const QRegularExpression expression(
        issue.match, QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    if (issue.match.isEmpty())
      problems.add(QStringLiteral("knownIssue ") + issue.id + QStringLiteral(" has an empty match"));
    else if (!expression.isValid())
      problems.add(QStringLiteral("knownIssue ") + issue.id + QStringLiteral(" match does not compile: ") +
                   expression.errorString());
    problems.add(fixProblem(issue.fix, issue.id));
  }
  return problems.result();
}

// The places (JSON paths) of the texts in `value` that hold a NUL character,
// keys included. Such a text would be cut where it reaches the system.
void collectNulTexts(const QJsonValue& value, const QString& at, QStringList& found) {
  const QChar nul(0);
  if (value.isString()) {
    if (value.toString().contains(nul)) found << at;
  } else if (value.isArray()) {
    const QJsonArray array = value.toArray();
    for (qsizetype i = 0; i < array.size(); ++i) collectNulTexts(array[i], at + QStringLiteral("[%1]").arg(i), found);
  } else if (value.isObject()) {
    const QJsonObject object = value.toObject();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
      const QString key = it.key();
      const QString place = at.isEmpty() ? key : at + '.' + key;
      if (key.contains(nul)) found << QString(place).replace(nul, QStringLiteral("\\u0000"));
      collectNulTexts(it.value(), place, found);
    }
  }
}

Problem nulTextProblem(const AgentEntry& entry) {
  QStringList found;
  collectNulTexts(QJsonDocument::fromJson(RegistryCodec::encode(entry, false)).object(), QString(), found);
  if (found.isEmpty()) return std::nullopt;
  return QStringLiteral("NUL character in ") + found.join(QStringLiteral(", "));
}

Problem duplicateIdsProblem(const QList<AgentEntry>& agents) {
  QSet<QString> seen;
  QStringList repeated;
  for (const AgentEntry& entry : agents) {
    if (seen.contains(entry.id) && !repeated.contains(entry.id)) repeated << entry.id;
    seen.insert(entry.id);
  }
  if (repeated.isEmpty()) return std::nullopt;
  return QStringLiteral("repeated: ") + repeated.join(QStringLiteral(", "));
}

template <class Spec>
void checkOptional(Report& report, const QString& name, const std::optional<Spec>& spec,
                   Problem (*problemOf)(const Spec&)) {
  if (spec) report.check(name, problemOf(*spec));
}

void checkEntry(Report& report, const AgentEntry& entry) {
  const QString agent = QStringLiteral("[") + entry.id + QStringLiteral("] ");
  report.check(agent + QStringLiteral("id is usable in a file name"),
               AgentEntry::isSafeFileComponent(entry.id) ? Problem() : Problem(QStringLiteral("\"") + entry.id + '"'));
  report.check(agent + QStringLiteral("texts hold no NUL character"), nulTextProblem(entry));
  report.check(agent + QStringLiteral("identify can match"), identifyProblem(entry));
  checkOptional(report, agent + QStringLiteral("recover"), entry.recover, &recoverProblem);
  checkOptional(report, agent + QStringLiteral("install"), entry.install, &installProblem);
  checkOptional(report, agent + QStringLiteral("uninstall"), entry.uninstall, &uninstallProblem);
  checkOptional(report, agent + QStringLiteral("restart"), entry.restart, &restartProblem);
  checkOptional(report, agent + QStringLiteral("doctor"), entry.doctor, &doctorProblem);
}

}  // namespace

VerificationResult ContractTest::runAll() { return run(RegistryLoader::load()); }

VerificationResult ContractTest::run(const RegistryLoader::Result& loaded) {
  Report report;
  report.note(QStringLiteral("=== Registry contract test ==="));
  const auto* registry = std::get_if<std::shared_ptr<const AgentRegistry>>(&loaded);
  if (!registry) {
    report.check(QStringLiteral("registry.json decodes"), std::get<RegistryLoadError>(loaded).description());
    return report.finish();
  }
  const QList<AgentEntry>& agents = (*registry)->visibleAgents();
  report.check(QStringLiteral("registry.json decodes"), std::nullopt);
  report.check(QStringLiteral("registry has visible agents (%1)").arg(agents.size()),
               agents.isEmpty() ? Problem(QStringLiteral("none")) : Problem());
  report.check(QStringLiteral("visible agent ids are unique"), duplicateIdsProblem(agents));
  for (const AgentEntry& entry : agents) checkEntry(report, entry);
  return report.finish();
}

}  // namespace tlr
