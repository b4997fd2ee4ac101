#include "presentation/InstallSession.h"

#include "presentation/SheetSessionSupport.h"
#include "platform/LoginShell.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <memory>

using tlr::InstallSession;
using Phase = tlr::InstallSession::Phase;
using tlr::test::TempHome;
using tlr::test::textOf;

namespace {

// The PATH step goes to the start file of this user's shell.
QString startFile() { return tlr::userShellStartFile(); }
QString pathWritten() { return "Added PATH to " + startFile() + " (new terminals pick it up)"; }

tlr::AgentEntry agent(const QByteArray& install, const QByteArray& executableNames = R"(["tlr-agent"])") {
  QByteArray members = R"("id":"tlr-agent","displayName":"Agent","displayNameEN":"Agent","vendor":"v","kind":"cli",)"
                       R"("identify":{"executableNames":)" +
                       executableNames + "}";
  if (!install.isEmpty()) members += R"(,"install":)" + install;
  return tlr::test::entryFromJson(members);
}

// pipx must be missing for the requirement to be missing on this machine.
bool machineHasPipx() {
  for (const char* folder : {"/usr/local/bin", "/home/linuxbrew/.linuxbrew/bin", "/usr/bin", "/bin"}) {
    if (QFileInfo(QString(folder) + "/pipx").isExecutable()) return true;
  }
  return false;
}

class InstallSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { tlr::test::setLanguage(tlr::AppLanguage::en); }
  QString userProgram(const QString& name, const QString& body) {
    return tlr::test::addUserProgram(home, name, body);
  }
  TempHome home;
  tlr::test::FakeBin bin;
};

}  // namespace

TEST_F(InstallSessionTest, AMetRequirementGoesStraightOnToTheInstall) {
  userProgram("tlr-have", "echo \"$1\" >> \"$HOME/installed\"\n");
  InstallSession session(agent(R"({"requires":[{"command":"tlr-have"}],"commands":[["tlr-have","one"],["tlr-have","two"]]})"));
  tlr::test::PhaseLog log(session);
  EXPECT_EQ(session.phase(), Phase::checking);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(log.phases, (QList<Phase>{Phase::running, Phase::done}));
  EXPECT_EQ(tlr::test::labels(session.allResults()), (QStringList{"$ tlr-have one", "$ tlr-have two", pathWritten()}));
  EXPECT_EQ(tlr::test::labels(session.executingSteps()), tlr::test::labels(session.allResults()));
  EXPECT_EQ(tlr::test::readFile(home.path() + "/installed"), "one\ntwo\n");
  EXPECT_EQ(session.failureCount(), 0);
  EXPECT_EQ(session.howToOpenExecutable(), "tlr-agent");
}

TEST_F(InstallSessionTest, AFailureIsCountedAndHidesHowToOpen) {
  InstallSession session(agent(R"({"commands":[["true"],["false"],["true"]]})", R"(["first","second"])"));
  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(tlr::test::labels(session.allResults()), (QStringList{"$ true", "$ false", pathWritten()}));
  EXPECT_EQ(session.failureCount(), 1);
  EXPECT_EQ(session.howToOpenExecutable(), std::nullopt);

  InstallSession clean(agent(R"({"commands":[["true"]]})", R"(["first","second"])"));
  tlr::test::PhaseLog cleanLog(clean);
  clean.start();
  ASSERT_TRUE(cleanLog.waitFor(Phase::done));
  EXPECT_EQ(clean.howToOpenExecutable(), "first");
}

TEST_F(InstallSessionTest, NoRecipeOrAnEmptyOneEndsAtOnceWithoutRows) {
  for (const QByteArray& install : {QByteArray(), QByteArray(R"({"commands":[]})")}) {
    InstallSession session(agent(install));
    tlr::test::PhaseLog log(session);
    session.start();
    ASSERT_TRUE(log.waitFor(Phase::done));
    EXPECT_EQ(log.phases, (QList<Phase>{Phase::running, Phase::done}));
    EXPECT_TRUE(session.allResults().isEmpty());
    EXPECT_EQ(session.failureCount(), 0);
    EXPECT_EQ(session.howToOpenExecutable(), "tlr-agent");
  }
  InstallSession nameless(agent(R"({"commands":[]})", "[]"));
  nameless.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return nameless.phase() == Phase::done; }));
  EXPECT_EQ(nameless.howToOpenExecutable(), std::nullopt);
}

// A program of a Node version manager (volta's, fnm's) was reported missing.
TEST_F(InstallSessionTest, MissingRequirementsWaitForRecheck) {
  InstallSession session(agent(
      R"({"requires":[{"command":"tlr-later"},{"command":"tlr-present"},{"command":"tlr-later","hintUrl":"https://x.example"},)"
      R"({"command":"tlr-volta"},{"command":"tlr-fnm"}],"commands":[["tlr-later"]]})"));
  userProgram("tlr-present", "");
  for (const QString& managed : {QString(".volta/bin/tlr-volta"),
                                 QString(".local/share/fnm/node-versions/v20.0.0/installation/bin/tlr-fnm")}) {
    const QString path = home.writeFile(managed, "#!/bin/sh\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
  }
  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::missing));
  ASSERT_EQ(session.missingRequirements().size(), 2);
  EXPECT_EQ(session.missingRequirements()[0].command, "tlr-later");
  EXPECT_EQ(session.missingRequirements()[1].hintUrl, "https://x.example");

  userProgram("tlr-later", "");
  session.recheck();
  EXPECT_EQ(session.phase(), Phase::checking);
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(log.phases, (QList<Phase>{Phase::missing, Phase::checking, Phase::running, Phase::done}));
  EXPECT_EQ(tlr::test::labels(session.allResults()), (QStringList{"$ tlr-later", pathWritten()}));
}

TEST_F(InstallSessionTest, AFailedAutoInstallChecksAgainAndReturnsToMissing) {
  if (machineHasPipx()) GTEST_SKIP() << "pipx is installed on this machine, so it cannot be missing";
  // Every alternative of the pipx script fails; nothing reaches the network.
  userProgram("conda", "echo \"conda $*\" >> \"$HOME/calls\"; exit 1\n");
  userProgram("python3", "echo \"python3 $*\" >> \"$HOME/calls\"; exit 1\n");
  InstallSession session(agent(R"({"requires":[{"command":"pipx"}],"commands":[["pipx","install","tlr-agent"]]})"));
  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::missing));

  session.bootstrapAndRetry(session.missingRequirements().first());
  EXPECT_EQ(session.phase(), Phase::running);
  ASSERT_FALSE(session.executingSteps().isEmpty());
  EXPECT_EQ(textOf(session.executingSteps().first().label), "Auto-installing dependency: pipx");
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session.phase() == Phase::missing; }));
  EXPECT_EQ(log.phases, (QList<Phase>{Phase::missing, Phase::running, Phase::missing}));
  ASSERT_EQ(session.missingRequirements().size(), 1);
  EXPECT_TRUE(tlr::test::readFile(home.path() + "/calls").startsWith("conda install"));
  EXPECT_TRUE(session.allResults().isEmpty());
}

TEST_F(InstallSessionTest, ASuccessfulAutoInstallGoesOnToTheAgentsInstall) {
  if (machineHasPipx()) GTEST_SKIP() << "pipx is installed on this machine, so it cannot be missing";
  userProgram("conda",
              "echo \"conda $*\" >> \"$HOME/calls\"\n"
              "printf '#!/bin/sh\\necho \"pipx $*\" >> \"$HOME/calls\"\\n' > \"$HOME/.local/bin/pipx\"\n"
              "chmod +x \"$HOME/.local/bin/pipx\"\n");
  InstallSession session(agent(R"({"requires":[{"command":"pipx"}],"commands":[["pipx","install","tlr-agent"]]})"));
  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::missing));
  session.bootstrapAndRetry({"unknown-tool", std::nullopt});
  EXPECT_EQ(session.phase(), Phase::missing);  // nothing known to install it

  session.bootstrapAndRetry(session.missingRequirements().first());
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(log.phases, (QList<Phase>{Phase::missing, Phase::running, Phase::done}));
  // conda's success ends the script; the agent's own install follows.
  EXPECT_EQ(tlr::test::readFile(home.path() + "/calls"), "conda install -y -c conda-forge pipx\npipx install tlr-agent\n");
  EXPECT_EQ(tlr::test::labels(session.allResults()), (QStringList{"$ pipx install tlr-agent", "PATH already set up (" + startFile() + ")"}));
  EXPECT_EQ(session.failureCount(), 0);
}

TEST_F(InstallSessionTest, TheTerminalRouteShowsOneRow) {
  tlr::test::OnlyOnPath only(bin);
  const QString record = bin.addRecorder("x-terminal-emulator");
  InstallSession session(agent(R"({"commands":[["npm","install","-g","tlr-agent"]],"useTerminal":true})"));
  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::done));
  EXPECT_EQ(log.phases, (QList<Phase>{Phase::running, Phase::done}));
  ASSERT_EQ(session.allResults().size(), 1);
  EXPECT_EQ(textOf(session.allResults()[0].label), "A terminal window opened — follow the prompts to complete the install");
  EXPECT_TRUE(session.allResults()[0].success);
  EXPECT_EQ(session.howToOpenExecutable(), "tlr-agent");
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).endsWith("--\n"); }));
  EXPECT_TRUE(tlr::test::readFile(record).contains("npm install -g tlr-agent && "));

  tlr::test::setLanguage(tlr::AppLanguage::zh);
  QFile::remove(bin.path() + "/x-terminal-emulator");
  InstallSession noTerminal(agent(R"({"commands":[["true"]],"useTerminal":true})"));
  noTerminal.start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return noTerminal.phase() == InstallSession::Phase::done; }));
  ASSERT_EQ(noTerminal.allResults().size(), 1);
  EXPECT_EQ(textOf(noTerminal.allResults()[0].label), "无法打开终端");
  EXPECT_FALSE(noTerminal.allResults()[0].success);
  EXPECT_EQ(textOf(noTerminal.allResults()[0].error), "没能启动终端程序");
  EXPECT_EQ(noTerminal.failureCount(), 1);
}

TEST_F(InstallSessionTest, AGuideScriptRunsInATerminalAndTheSheetKeepsWaiting) {
  tlr::test::OnlyOnPath only(bin);
  const QString record = bin.addRecorder("x-terminal-emulator");
  InstallSession session(agent(R"({"requires":[{"command":"tlr-not-here"}],"commands":[["true"]]})"));
  tlr::test::PhaseLog log(session);
  session.start();
  ASSERT_TRUE(log.waitFor(Phase::missing));
  session.runDependencyInTerminal({{"bash", "-c", "echo '{{TLR_ECHO_NODE}}'"}});
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).endsWith("--\n"); }));
  EXPECT_TRUE(tlr::test::readFile(record).contains("→ Installing Node.js (includes npm)"));
  EXPECT_EQ(session.phase(), Phase::missing);
}

TEST_F(InstallSessionTest, AnInstallOutlivesItsSessionAndItsResultsAreDropped) {
  const QString go = home.path() + "/go";
  userProgram("tlr-slow", "while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\necho done > \"$HOME/finished\"\n");
  auto session = std::make_unique<InstallSession>(agent(R"({"commands":[["tlr-slow"],["true"]]})"));
  session->start();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return session->phase() == Phase::running; }));
  session.reset();
  QFile(go).open(QIODevice::WriteOnly);
  // The run goes on to its end: the second command and the shell setup.
  ASSERT_TRUE(tlr::test::waitUntil([&] { return QFile::exists(home.path() + startFile().mid(1)); }));
  EXPECT_EQ(tlr::test::readFile(home.path() + "/finished"), "done\n");
}
