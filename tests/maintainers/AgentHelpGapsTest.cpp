// The maintainers' comparison of an installed agent's help with the shipped
// argument tables, on the helps Claude Code 2.1.197 and 2.1.337, Codex
// 0.171.0 and Gemini CLI 0.61.0 print (help/*.txt, as the tools wrote them).
#include "HelpGaps.h"
#include "ProgramHelp.h"
#include "registry/RegistryLoader.h"
#include "support/TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace tlr;

namespace {

QString helpText(const QString& name) {
  return test::readFile(QStringLiteral(TLR_TEST_SOURCE_DIR "/maintainers/help/") + name + QStringLiteral(".txt"));
}

const AgentEntry::Identify& shipped(const QString& id) {
  static const auto loaded = RegistryLoader::loadFile(TLR_SOURCE_RESOURCES "/registry.json");
  static const std::shared_ptr<const AgentRegistry> registry = std::get<0>(loaded);
  static QMap<QString, AgentEntry> entries;
  if (!entries.contains(id)) entries.insert(id, *registry->lookup(id));
  return entries[id].identify;
}

const ProgramHelp::Option* optionNamed(const ProgramHelp& help, const QString& name) {
  for (const ProgramHelp::Option& option : help.options)
    if (option.names.contains(name)) return &option;
  return nullptr;
}

QStringList commandNames(const ProgramHelp& help) {
  QStringList names;
  for (const ProgramHelp::Command& command : help.commands) names << command.names.join(QLatin1Char('|'));
  return names;
}

}  // namespace

// Each tool's shape of help: commander's, clap's and yargs's.
TEST(ProgramHelp, ReadsCommandsAliasesAndWhatEachOptionTakes) {
  using Takes = ProgramHelp::Takes;
  const ProgramHelp claude = ProgramHelp::parse(helpText("claude-2.1.197"), {"/home/u/.npm-global/bin/claude"});
  EXPECT_EQ(commandNames(claude), (QStringList{"agents", "auth", "auto-mode", "doctor", "gateway", "install", "mcp",
                                               "plugin|plugins", "project", "setup-token", "ultrareview",
                                               "update|upgrade"}));
  EXPECT_EQ(optionNamed(claude, "--model")->takes, Takes::value);
  EXPECT_EQ(optionNamed(claude, "-r")->takes, Takes::optionalValue);
  EXPECT_EQ(optionNamed(claude, "--allowed-tools")->names, (QStringList{"--allowedTools", "--allowed-tools"}));
  EXPECT_EQ(optionNamed(claude, "--allowed-tools")->takes, Takes::values);
  EXPECT_EQ(optionNamed(claude, "-c")->takes, Takes::nothing);
  EXPECT_TRUE(ProgramHelp::endsAtOnce(*optionNamed(claude, "-p")));
  EXPECT_TRUE(ProgramHelp::endsAtOnce(*optionNamed(claude, "--bg")));
  EXPECT_FALSE(ProgramHelp::endsAtOnce(*optionNamed(claude, "--fallback-model"))) << "only works with --print";

  const ProgramHelp codex = ProgramHelp::parse(helpText("codex"), {"codex"});
  EXPECT_EQ(codex.commands.size(), 27);
  EXPECT_TRUE(commandNames(codex).contains("exec|e"));
  EXPECT_TRUE(commandNames(codex).contains("apply|a"));
  EXPECT_EQ(optionNamed(codex, "-c")->takes, Takes::value);
  EXPECT_EQ(optionNamed(codex, "--image")->takes, Takes::values);
  EXPECT_EQ(optionNamed(codex, "--no-daemon")->takes, Takes::nothing);
  EXPECT_EQ(optionNamed(codex, "-a")->description.contains("on-request"), true) << "its values' lines are its own";
  EXPECT_FALSE(optionNamed(codex, "-"));

  const ProgramHelp gemini = ProgramHelp::parse(helpText("gemini"), {"gemini"});
  EXPECT_EQ(commandNames(gemini), (QStringList{"mcp", "extensions|extension", "skills|skill", "hooks|hook", "gemma"}));
  EXPECT_EQ(optionNamed(gemini, "-m")->takes, Takes::value);
  EXPECT_EQ(optionNamed(gemini, "--extensions")->takes, Takes::values);
  EXPECT_EQ(optionNamed(gemini, "--yolo")->takes, Takes::nothing);
  EXPECT_TRUE(ProgramHelp::endsAtOnce(*optionNamed(gemini, "--list-sessions")));
}

// The shipped tables know every sub-command and option of today's versions;
// what a next version adds is listed.
TEST(HelpGaps, TheShippedTablesKnowTodaysHelpsAndANewVersionsAdditionsAreListed) {
  for (const QString version : {"2.1.197", "2.1.337"}) {
    const QString name = "claude-" + version;
    const QMap<QString, ProgramHelp> claudeSessions{
        {"agents", ProgramHelp::parse(helpText(name + "-agents"), {"claude", "agents"})}};
    const ProgramHelp claude = ProgramHelp::parse(helpText(name), {"claude"});
    const HelpGaps claudeGaps = HelpGaps::find(shipped("claude-code-cli"), claude, claudeSessions);
    EXPECT_EQ(claudeGaps.missing, QStringList()) << name.toStdString() << claudeGaps.missing.join('\n').toStdString();
    EXPECT_TRUE(claudeGaps.notInThisVersion.contains("migrate-installer"));
  }

  QMap<QString, ProgramHelp> codexSessions;
  for (const QString session : {"resume", "fork", "agents"})
    codexSessions.insert(session, ProgramHelp::parse(helpText("codex-" + session), {"codex", session}));
  const HelpGaps codexGaps = HelpGaps::find(shipped("codex-cli"), ProgramHelp::parse(helpText("codex"), {"codex"}),
                                            codexSessions);
  EXPECT_EQ(codexGaps.missing, QStringList()) << codexGaps.missing.join('\n').toStdString();

  const HelpGaps geminiGaps =
      HelpGaps::find(shipped("gemini-cli"), ProgramHelp::parse(helpText("gemini"), {"gemini"}), {});
  EXPECT_EQ(geminiGaps.missing, QStringList()) << geminiGaps.missing.join('\n').toStdString();

  // A next version: a new sub-command, a new option with a value, a flag
  // that ends at once, a session sub-command's query.
  const QString next = helpText("codex") + QStringLiteral(
      "\nCommands:\n  summarize  Summarize a session non-interactively\n"
      "\nOptions:\n  -t, --temperature <T>\n          Sampling temperature\n"
      "      --list-models\n          List the models and exit\n");
  QMap<QString, ProgramHelp> nextSessions = codexSessions;
  nextSessions.insert("resume", ProgramHelp::parse(helpText("codex-resume") + QStringLiteral(
      "\nOptions:\n      --print-id  Print the session's id and exit\n"), {"codex", "resume"}));
  const HelpGaps nextGaps = HelpGaps::find(shipped("codex-cli"), ProgramHelp::parse(next, {"codex"}), nextSessions);
  ASSERT_EQ(nextGaps.missing.size(), 5) << nextGaps.missing.join('\n').toStdString();
  EXPECT_TRUE(nextGaps.missing[0].startsWith("sub-command summarize ")) << nextGaps.missing[0].toStdString();
  EXPECT_TRUE(nextGaps.missing[1].contains("list -t in optionsWithValue"));
  EXPECT_TRUE(nextGaps.missing[2].contains("list --temperature in optionsWithValue"));
  EXPECT_TRUE(nextGaps.missing[3].contains("list --list-models in oneShotArgs"));
  EXPECT_TRUE(nextGaps.missing[4].contains("session sub-command resume ends at once: list --print-id"));
}

// The maintainers' program on an installed stand-in of Claude Code that
// prints 2.1.197's help, then one of a next version.
TEST(HelpGaps, TheProgramReadsTheInstalledHelpsAndSaysWhatIsMissing) {
  test::TempHome home;
  const QString bin = home.path() + QStringLiteral("/bin");
  const QString script = QStringLiteral(
      "#!/bin/sh\ncase \"$*\" in\n"
      "  '--help') cat '%1/claude-2.1.197.txt'; printf \"$EXTRA\";;\n"
      "  'agents --help') cat '%1/claude-2.1.197-agents.txt';;\n"
      "  *) exit 3;;\nesac\n").arg(QStringLiteral(TLR_TEST_SOURCE_DIR "/maintainers/help"));
  home.writeFile(QStringLiteral("bin/claude"), script.toUtf8());
  QFile::setPermissions(bin + QStringLiteral("/claude"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const auto run = [&](const QString& extra, const QStringList& ids) {
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), bin + QStringLiteral(":/usr/bin:/bin"));
    env.insert(QStringLiteral("EXTRA"), extra);
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral(TLR_AGENT_HELP_GAPS),
               QStringList{QStringLiteral("--registry"), QStringLiteral(TLR_SOURCE_RESOURCES "/registry.json")} + ids);
    EXPECT_TRUE(tool.waitForFinished(60'000));
    return std::make_pair(tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput()));
  };
  const auto [clean, cleanOut] = run(QString(), {"claude-code-cli"});
  EXPECT_EQ(clean, 0) << cleanOut.toStdString();
  EXPECT_TRUE(cleanOut.contains("claude-code-cli (" + bin + "/claude): 12 sub-commands")) << cleanOut.toStdString();
  EXPECT_TRUE(cleanOut.contains("kept for others): accept-program, import, logs, purge, respawn, rm, stop, kill, "
                               "config, migrate-installer, attach, --autocompact"))
      << cleanOut.toStdString();

  const auto [gaps, gapsOut] = run(QStringLiteral("\\nCommands:\\n  remember [options]   Store a memory\\n"),
                                   {"claude-code-cli"});
  EXPECT_EQ(gaps, 1);
  EXPECT_TRUE(gapsOut.contains("  missing: sub-command remember (Store a memory) is in neither")) << gapsOut.toStdString();

  // An agent named that is not installed here cannot be compared.
  const auto [absent, absentOut] = run(QString(), {"gemini-cli"});
  EXPECT_EQ(absent, 2);
  EXPECT_TRUE(absentOut.contains("gemini-cli: not installed here"));
}
