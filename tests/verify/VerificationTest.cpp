#include "platform/Defaults.h"
#include "registry/RegistryLoader.h"
#include "support/TestSupport.h"
#include "verify/ContractTest.h"
#include "verify/RestartDryRun.h"
#include "verify/VerificationMode.h"

#include <gtest/gtest.h>

using namespace tlr;

namespace {

QProcessEnvironment env(std::initializer_list<std::pair<const char*, const char*>> values) {
  QProcessEnvironment e;
  for (const auto& [k, v] : values) e.insert(QString::fromLatin1(k), QString::fromUtf8(v));
  return e;
}

RegistryLoader::Result registryOf(const QByteArray& agentsJson) {
  return RegistryLoader::loadData(R"({"schemaVersion":1,"updatedAt":"x","agents":)" + agentsJson + "}");
}

const QByteArray kGoodAgent = R"({"id":"a","displayName":"A","vendor":"v","kind":"cli",
  "identify":{"executableNames":["a"]},"recover":{"strategy":"exec-cli","command":["a"]}})";

}  // namespace

TEST(VerificationModeSelection, OrderAndExactValues) {
  EXPECT_FALSE(selectVerificationMode(env({})).has_value());
  EXPECT_EQ(selectVerificationMode(env({{"TLR_BACKUP", "1"}, {"TLR_E2E", "1"}}))->mode, VerificationMode::e2e);
  EXPECT_EQ(selectVerificationMode(env({{"TLR_SELFTEST", " 1"}, {"TLR_BACKUP_REGISTRY", "1"}}))->mode,
            VerificationMode::backupRegistry);
  EXPECT_FALSE(selectVerificationMode(env({{"TLR_CONTRACT_TEST", "true"}, {"TLR_RESTART_DRYRUN", ""}})).has_value());
  const auto dryRun = selectVerificationMode(env({{"TLR_RESTART_DRYRUN", "x y"}, {"TLR_BACKUP", "1"}}));
  ASSERT_TRUE(dryRun.has_value());
  EXPECT_EQ(dryRun->mode, VerificationMode::restartDryRun);
  EXPECT_EQ(dryRun->argument, "x y");
}

TEST(RestartDryRunSeam, FindsTheVisibleEntryAndReportsTheRestart) {
  const auto loaded = registryOf("[" + kGoodAgent + "]");
  QString asked;
  const auto result = RestartDryRun::run("a", loaded, [&](const AgentEntry& e, auto) -> std::optional<QString> {
    asked = e.id;
    return QStringLiteral("=== 重启 A ===");
  });
  EXPECT_EQ(asked, "a");
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.report, "=== 重启 A ===");

  EXPECT_FALSE(RestartDryRun::run("A", loaded, RestartDryRun::defaultRestart()).success);
  EXPECT_EQ(RestartDryRun::run("A", loaded, RestartDryRun::defaultRestart()).report, "找不到 agent id=A");
  const auto noRestarter = RestartDryRun::run("a", loaded, [](const AgentEntry&, auto) -> std::optional<QString> {
    return std::nullopt;
  });
  EXPECT_FALSE(noRestarter.success) << "no restarter: nothing was checked";
}

TEST(RestartDryRunSeam, TheBuildsRestarterDescribesTheRestart) {
  test::TempHome home;
  Defaults::shared().set("TLR.language", "en");
  const auto result = RestartDryRun::run("a", registryOf("[" + kGoodAgent + "]"), RestartDryRun::defaultRestart());
  EXPECT_TRUE(result.success);
  EXPECT_EQ(result.report,
            "=== Restart A ===\n[DRY RUN — not executed]\n"
            "· This agent has no graceful restart command, using SIGTERM brute force\n· Agent not running");
}

TEST(ContractTestChecks, GoodRegistryPassesWithOneLinePerCheck) {
  const auto result = ContractTest::run(registryOf("[" + kGoodAgent + "]"));
  EXPECT_TRUE(result.success) << result.report.toStdString();
  EXPECT_TRUE(result.report.contains("✓ [a] recover\n"));
  EXPECT_TRUE(result.report.endsWith("=== PASS: 7 checks ==="));
}

TEST(ContractTestChecks, TextsHoldingANulAreReported) {
  const QByteArray agents = R"([
    {"id":"a","displayName":"A","vendor":"v","kind":"cli","identify":{"executableNames":["a"]},
     "uninstall":{"paths":["~/\u0000"],"preCommands":[["rm","x\u0000y"]]}}
  ])";
  const auto result = ContractTest::run(registryOf(agents));
  EXPECT_FALSE(result.success);
  EXPECT_TRUE(result.report.contains(
      "✗ [a] texts hold no NUL character: NUL character in uninstall.paths[0], uninstall.preCommands[0][1]"))
      << result.report.toStdString();
}

TEST(ContractTestChecks, EachBrokenSpecificationIsNamed) {
  const QByteArray agents = R"([
    {"id":"dup","displayName":"D","vendor":"v","kind":"desktop-app","identify":{},
     "recover":{"strategy":"open-app"}},
    {"id":"dup","displayName":"D2","vendor":"v","kind":"cli","identify":{"executableNames":["d"]}},
    {"id":"../x","displayName":"X","vendor":"v","kind":"cli","identify":{"argvAllOf":["x",""]},
     "install":{"useTerminal":true},
     "uninstall":{"paths":["~"],"preCommands":[[""]]},
     "restart":{"command":["r"],"fallbackCommand":["f"]},
     "doctor":{"command":[],"knownIssues":[
       {"id":"i","match":"(unclosed","title":"t","fix":{"kind":"Shell","title":"t"}},
       {"id":"i","match":"ok","title":"t","fix":{"kind":"patch-json","title":"t","file":"~/c.json","set":{"..":"v"}}}]}}
  ])";
  const auto result = ContractTest::run(registryOf(agents));
  EXPECT_FALSE(result.success);
  const QString& r = result.report;
  for (const char* expected : {
           "✗ visible agent ids are unique: repeated: dup",
           "✗ [dup] identify can match: identify names no bundle id",
           "✗ [dup] recover: open-app needs recover.appBundleId",
           "✗ [../x] id is usable in a file name",
           "identify.argvAllOf holds an empty pattern",
           "install.useTerminal without install.commands",
           "install has neither commands nor officialUrl",
           "uninstall path is not safe to remove: \"~\"",
           "uninstall.preCommands has no program",
           "restart.fallbackCommand never runs without restart.verifyCommand",
           "doctor.command is empty",
           "knownIssue i match does not compile",
           "unknown kind \"Shell\"",
           "knownIssue id repeats: i",
           "patch-json fix needs a key path to set",
       })
    EXPECT_TRUE(r.contains(QString::fromUtf8(expected))) << expected << "\n" << r.toStdString();
  EXPECT_TRUE(r.contains("=== FAIL: "));
}
