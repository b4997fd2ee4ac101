#include "core/installers/DependencyGuides.h"

#include "core/stores/SettingsStore.h"
#include "platform/ChildProcess.h"
#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
namespace guides = tlr::DependencyGuides;

namespace {

// Runs `script` with /bin/bash and only `bin` on PATH; returns the exit code.
int runScript(const tlr::test::FakeBin& bin, const QString& script) {
  tlr::ChildSpec spec;
  spec.program = "/bin/bash";
  spec.arguments = {"-c", script};
  spec.environment = QStringList{"PATH=" + bin.path(), "HOME=" + bin.path()};
  spec.timeout = 20s;
  const tlr::ChildResult result = tlr::runChild(spec);
  EXPECT_TRUE(result.started);
  return result.exited() ? result.exitCode() : -1;
}

// The programs a run called, in order, each with its arguments on one line.
QStringList calls(const tlr::test::FakeBin& bin) {
  QStringList lines;
  const QString log = tlr::test::readFile(bin.path() + "/calls");
  for (const QString& line : log.split('\n', Qt::SkipEmptyParts)) lines.append(line);
  return lines;
}

// A fake that logs "<name> <args>" to the shared call log and exits `code`.
void addProgram(tlr::test::FakeBin& bin, const QString& name, int code) {
  bin.add(name, QStringLiteral("echo \"%1 $*\" >> \"%2/calls\"\nexit %3\n").arg(name, bin.path()).arg(code));
}

}  // namespace

TEST(DependencyLookups, AreExactAndCaseSensitive) {
  ASSERT_TRUE(guides::bootstrapFor("pipx").has_value());
  EXPECT_EQ(*guides::bootstrapFor("pipx"), (tlr::CommandList{{"bash", "-c", guides::pipxBootstrapScript()}}));
  for (const char* other : {"npm", "PIPX", "pipx ", "curl", ""}) EXPECT_FALSE(guides::bootstrapFor(other)) << other;

  ASSERT_TRUE(guides::guideFor("npm").has_value());
  EXPECT_EQ(guides::guideFor("npm")->description, tlr::LocKey::depDescNpm());
  EXPECT_EQ(guides::guideFor("npm")->terminalCommands,
            (tlr::CommandList{{"bash", "-c", guides::nodeGuideScript()}}));
  EXPECT_EQ(guides::guideFor("pipx")->description, tlr::LocKey::depDescPipx());
  EXPECT_EQ(guides::guideFor("curl")->description, tlr::LocKey::depDescCurl());
  EXPECT_EQ(guides::guideFor("bash")->description, tlr::LocKey::depDescBash());
  for (const char* describedOnly : {"pipx", "curl", "bash"})
    EXPECT_FALSE(guides::guideFor(describedOnly)->terminalCommands) << describedOnly;
  for (const char* unknown : {"NPM", "npm ", "node", "git"}) EXPECT_FALSE(guides::guideFor(unknown)) << unknown;
}

TEST(DependencyScripts, TheNodeScriptInstallsThroughAptOrPointsToTheDownloadPage) {
  const QString script = guides::fillEchoPlaceholders({{guides::nodeGuideScript()}}, tlr::AppLanguage::en)[0][0];
  EXPECT_FALSE(script.contains("brew"));
  tlr::test::FakeBin user;
  addProgram(user, "apt-get", 0);
  user.add("id", "echo 1000\n");
  user.add("sudo", QStringLiteral("echo \"sudo $*\" >> \"%1/calls\"\nexec \"$@\"\n").arg(user.path()));
  EXPECT_EQ(runScript(user, script), 0);
  EXPECT_EQ(calls(user), (QStringList{"sudo apt-get update", "apt-get update", "sudo apt-get install -y nodejs npm",
                                      "apt-get install -y nodejs npm"}));

  tlr::test::FakeBin root;
  addProgram(root, "apt-get", 0);
  root.add("id", "echo 0\n");
  EXPECT_EQ(runScript(root, script), 0);
  EXPECT_EQ(calls(root), (QStringList{"apt-get update", "apt-get install -y nodejs npm"}));

  tlr::test::FakeBin noApt;
  EXPECT_NE(runScript(noApt, script), 0);
  EXPECT_TRUE(calls(noApt).isEmpty());
}

TEST(DependencyScripts, PlaceholdersAreFilledInTheGivenLanguage) {
  const tlr::CommandList commands{{"bash", "-c", guides::nodeGuideScript()}, {}, {"x{{TLR_ECHO_NODE}}{{TLR_ECHO_NODE}}"}};
  const auto en = guides::fillEchoPlaceholders(commands, tlr::AppLanguage::en);
  ASSERT_EQ(en.size(), 3);
  EXPECT_EQ(en[0][0], "bash");
  EXPECT_TRUE(en[0][2].contains("echo '→ With the system package manager (apt), which may ask for your password';"));
  EXPECT_TRUE(en[0][2].startsWith("echo '→ Installing Node.js (includes npm)';"));
  EXPECT_FALSE(en[0][2].contains("{{"));
  EXPECT_TRUE(en[1].isEmpty());
  EXPECT_EQ(en[2][0], "x→ Installing Node.js (includes npm)→ Installing Node.js (includes npm)");

  const auto zh = guides::fillEchoPlaceholders(commands, tlr::AppLanguage::zh);
  EXPECT_TRUE(zh[0][2].contains("echo '→ 用系统包管理器（apt）安装，可能会要求输入密码';"));
  EXPECT_TRUE(zh[0][2].contains("echo '→ 装 Node.js（含 npm）';"));
}

TEST(PipxBootstrapScript, AFinishedCondaInstallEndsTheListAndHomebrewIsNeverAsked) {
  tlr::test::FakeBin bin;
  addProgram(bin, "brew", 0);
  addProgram(bin, "conda", 0);
  addProgram(bin, "python3", 0);
  EXPECT_EQ(runScript(bin, guides::pipxBootstrapScript()), 0);
  EXPECT_EQ(calls(bin), QStringList{"conda install -y -c conda-forge pipx"});
}

TEST(PipxBootstrapScript, WithoutCondaPipIsTriedInTurn) {
  tlr::test::FakeBin onlyPip;
  addProgram(onlyPip, "python3", 0);
  EXPECT_EQ(runScript(onlyPip, guides::pipxBootstrapScript()), 0);
  EXPECT_EQ(calls(onlyPip), QStringList{"python3 -m pip install --user pipx"});

  // A pip that refuses user installs until it is upgraded.
  tlr::test::FakeBin oldPip;
  oldPip.add("python3", QStringLiteral("echo \"python3 $*\" >> \"%1/calls\"\n"
                                       "case \"$*\" in *--upgrade*) : > \"%1/upgraded\"; exit 0;; esac\n"
                                       "[ -e \"%1/upgraded\" ]\n")
                            .arg(oldPip.path()));
  EXPECT_EQ(runScript(oldPip, guides::pipxBootstrapScript()), 0);
  EXPECT_EQ(calls(oldPip), (QStringList{"python3 -m pip install --user pipx",
                                        "python3 -m pip install --user --break-system-packages pipx",
                                        "python3 -m pip install --user --upgrade pip",
                                        "python3 -m pip install --user pipx"}));

  tlr::test::FakeBin nothingWorks;
  addProgram(nothingWorks, "conda", 1);
  addProgram(nothingWorks, "python3", 1);
  EXPECT_NE(runScript(nothingWorks, guides::pipxBootstrapScript()), 0);
  EXPECT_EQ(calls(nothingWorks).first(), "conda install -y -c conda-forge pipx");
  EXPECT_EQ(calls(nothingWorks).size(), 4);
}
