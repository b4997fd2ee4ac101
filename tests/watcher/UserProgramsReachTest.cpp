// Every command Tollamere starts finds the user's programs where the scanner
// finds them: an agent installed only under nvm was seen installed and
// running, yet its relaunch, launch, console, doctor and terminal install
// all ran under a fixed PATH without nvm's folder ("not found", exit 127).
#include "core/installers/AgentInstaller.h"
#include "core/installers/RecipeCommands.h"
#include "RecoverTestSupport.h"
#include "watcher/AgentRecover.h"
#include "watcher/AgentTerminal.h"
#include "watcher/CommandRunner.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace tlr {
namespace {

using namespace std::chrono_literals;

class ProgramOnlyUnderNvm : public ::testing::Test {
 protected:
  void SetUp() override {
    // The program a user installed with nvm's npm, and nowhere else.
    const QString probe = home.writeFile(".nvm/versions/node/v22.3.0/bin/tlr-nvm-probe",
                                         "#!/bin/sh\necho \"$1\" >> \"$HOME/probe-ran\"\n");
    QFile::setPermissions(probe, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    test::addFakeTerminal(bin, /*runs=*/true);
  }

  // Whether the probe ran with `word` as its argument.
  bool ran(const QString& word) {
    return test::waitUntil([&] { return test::readFile(home.path() + "/probe-ran").split('\n').contains(word); }, 10s);
  }

  static AgentEntry entry(const QString& mode) {
    AgentEntry e;
    e.id = "nvm-agent";
    e.displayName = "Nvm Agent";
    e.recover.emplace();
    e.recover->strategy = AgentEntry::Recover::Strategy::execCli;
    e.recover->command = Command{"tlr-nvm-probe", mode};
    return e;
  }

  test::TempHome home;
  test::FakeBin bin;
  // Our own PATH holds only the fakes, as an application started from a
  // desktop menu has no nvm folder on its PATH.
  test::OnlyFakesOnPath only{bin};
  SignalledPids signalled;
  AgentRecover recover{AgentRecoverTiming{}, signalled};
};

TEST_F(ProgramOnlyUnderNvm, EveryWayOfStartingACommandFindsIt) {
  const std::vector<std::pair<QString, std::function<bool()>>> starts = {
      {"relaunch", [&] { return recover.recoverExecCli(entry("relaunch")).isLaunched(); }},
      {"launch", [&] { return recover.userOpenCli(entry("launch")).isLaunched(); }},
      {"gateway",
       [&] {
         AgentEntry gateway = entry("gateway");
         gateway.serviceKind = AgentEntry::ServiceKind::gateway;
         return recover.recoverExecCli(gateway).isLaunched();
       }},
      {"console", [&] { return AgentTerminal::openConsole(entry("console"), {"tlr-nvm-probe", "console"}).ok(); }},
      {"uninstall-lines",
       [&] {
         AgentTerminal::runUninstallLines({"tlr-nvm-probe uninstall-lines"});
         return true;
       }},
      {"doctor", [&] { return CommandRunner::run({"tlr-nvm-probe", "doctor"}, 20s).exitCode == 0; }},
      {"terminal-install", [&] { return AgentInstaller().openInTerminal({{"tlr-nvm-probe", "terminal-install"}}); }},
      {"install-step",
       [&] {
         const ChildResult r = recipe::runVector({"tlr-nvm-probe", "install-step"}, recipe::recipeEnvironment(), 20s, {});
         return r.exited() && r.exitCode() == 0;
       }},
  };
  for (const auto& [word, start] : starts) {
    SCOPED_TRACE(word.toStdString());
    EXPECT_TRUE(start());
    EXPECT_TRUE(ran(word)) << test::readFile(home.path() + "/probe-ran").toStdString();
  }
}

}  // namespace
}  // namespace tlr
