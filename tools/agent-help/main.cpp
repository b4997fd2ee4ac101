// Compares an installed agent's help with the shipped registry's argument
// tables, for the maintainers when a new version of an agent ships:
//
//   tlr_agent_help_gaps [--registry FILE] [AGENT-ID ...]
//
// For each command-line agent of the registry (or each one named) whose
// program is on PATH it reads "<program> --help" and the help of each
// session sub-command, and lists what the tables do not know: sub-commands
// in neither oneShotCommands nor sessionCommands, options that take a value
// missing from the option tables, options that end at once missing from
// oneShotArgs. Exit status 0 when nothing is missing, 1 when something is,
// 2 when an agent named cannot be asked or the registry cannot be read.
#include "HelpGaps.h"
#include "registry/RegistryLoader.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

using namespace tlr;

namespace {

constexpr int kHelpTimeoutMs = 60'000;

void say(const QString& line) { std::fputs(qPrintable(line + QLatin1Char('\n')), stdout); }

// The help a command prints (on its standard output, else its standard
// error), or nothing when it cannot be run.
std::optional<QString> helpOf(const QString& program, const QStringList& arguments) {
  QProcess process;
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(program, arguments + QStringList{QStringLiteral("--help")});
  if (!process.waitForStarted() || !process.waitForFinished(kHelpTimeoutMs)) {
    process.kill();
    process.waitForFinished();
    return std::nullopt;
  }
  const QString out = QString::fromUtf8(process.readAllStandardOutput());
  return out.trimmed().isEmpty() ? QString::fromUtf8(process.readAllStandardError()) : out;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  QString registryPath = QStringLiteral(TLR_SOURCE_REGISTRY);
  if (args.size() >= 2 && args.first() == QLatin1String("--registry")) {
    registryPath = args[1];
    args = args.mid(2);
  }
  if (!args.isEmpty() && args.first().startsWith(QLatin1Char('-'))) {
    std::fputs("usage: tlr_agent_help_gaps [--registry FILE] [AGENT-ID ...]\n", stderr);
    return 2;
  }
  const RegistryLoader::Result loaded = RegistryLoader::loadFile(registryPath);
  if (const auto* error = std::get_if<RegistryLoadError>(&loaded)) {
    std::fputs(qPrintable(registryPath + QStringLiteral(": ") + error->description() + QLatin1Char('\n')), stderr);
    return 2;
  }
  const AgentRegistry& registry = *std::get<std::shared_ptr<const AgentRegistry>>(loaded);
  for (const QString& id : args)
    if (!registry.lookup(id)) {
      std::fputs(qPrintable(QStringLiteral("no agent %1 in %2\n").arg(id, registryPath)), stderr);
      return 2;
    }

  int status = 0;
  for (const AgentEntry& entry : registry.visibleAgents()) {
    const AgentEntry::Identify& identify = entry.identify;
    if (!args.isEmpty() && !args.contains(entry.id)) continue;
    if (!identify.oneShotArgs && !identify.oneShotCommands && args.isEmpty()) continue;
    QString program;
    for (const QString& name : identify.executableNames.value_or(QStringList()))
      if (program.isEmpty()) program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) {
      say(QStringLiteral("%1: not installed here").arg(entry.id));
      if (!args.isEmpty()) status = 2;
      continue;
    }
    const std::optional<QString> help = helpOf(program, {});
    if (!help || help->trimmed().isEmpty()) {
      say(QStringLiteral("%1: %2 --help did not answer").arg(entry.id, program));
      status = 2;
      continue;
    }
    const ProgramHelp top = ProgramHelp::parse(*help, {program});
    QMap<QString, ProgramHelp> sessionHelps;
    for (const ProgramHelp::Command& command : top.commands) {
      if (!identify.sessionCommands || !identify.sessionCommands->contains(command.names.first())) continue;
      if (const std::optional<QString> sub = helpOf(program, {command.names.first()}))
        sessionHelps.insert(command.names.first(), ProgramHelp::parse(*sub, {program, command.names.first()}));
    }
    const HelpGaps gaps = HelpGaps::find(identify, top, sessionHelps);
    say(QStringLiteral("%1 (%2): %3 sub-commands, %4 options read; %5 missing")
            .arg(entry.id, program)
            .arg(top.commands.size())
            .arg(top.options.size())
            .arg(gaps.missing.size()));
    for (const QString& line : gaps.missing) say(QStringLiteral("  missing: ") + line);
    if (!gaps.notInThisVersion.isEmpty())
      say(QStringLiteral("  not in this version's help (kept for others): ") + gaps.notInThisVersion.join(QStringLiteral(", ")));
    if (!gaps.missing.isEmpty() && status == 0) status = 1;
  }
  return status;
}
