#include "platform/Defaults.h"
#include "support/AppFixture.h"
#include "support/SpawnedChild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <csignal>

using namespace tlr::test;

namespace {

// The dry run of a known agent: the report on standard error, status 0.
class RestartDryRunReport : public AppFixture {
 protected:
  // Runs the dry run of `agentId` to its end.
  AppProcess& dryRun(const AppSandbox& box, const QString& agentId) {
    AppProcess& app = process(box);
    app.setEnv(QStringLiteral("TLR_RESTART_DRYRUN"), agentId);
    EXPECT_TRUE(app.start());
    EXPECT_TRUE(app.waitForExit());
    return app;
  }
};

TEST_F(RestartDryRunReport, AGracefulRestartIsDescribedInChineseByDefault) {
  AppProcess& app = dryRun(sandbox(), QStringLiteral("openclaw"));
  EXPECT_EQ(app.exitCode(), 0);
  EXPECT_EQ(app.stdErr(), QStringLiteral("=== 重启 OpenClaw ===\n"
                                         "[DRY RUN —— 不真执行]\n"
                                         "· 优雅档：将运行 openclaw gateway restart\n"
                                         "· 然后验证：openclaw gateway status\n"
                                         "· 验证失败 → 兜底：systemctl --user restart openclaw-gateway.service\n"));
}

TEST_F(RestartDryRunReport, ARunningAgentIsListedInEnglishAndLeftRunning) {
  const QString name = QStringLiteral("tlr-dryrun-agent-") + QUuid::createUuid().toString(QUuid::Id128).left(10);
  QDir().mkpath(home_.path() + QStringLiteral("/bin"));
  const QString program = home_.path() + QStringLiteral("/bin/") + name;
  ASSERT_TRUE(QFile::copy(toolPath(QStringLiteral("tlr_fake_agent")), program));
  QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QByteArray registry = R"({"schemaVersion":1,"updatedAt":"x","agents":[{"id":"fake","displayName":"Fake",)"
                              R"("vendor":"v","kind":"cli","identify":{"executableNames":[")" +
                              name.toUtf8() + R"("]},"recover":{"strategy":"exec-cli","command":["x"]}}]})";
  tlr::Defaults::shared().set(QStringLiteral("TLR.language"), QStringLiteral("en"));
  ASSERT_TRUE(tlr::Defaults::shared().flush());
  const AppSandbox& box = sandbox(registry);

  const QString header = QStringLiteral(
      "=== Restart Fake ===\n"
      "[DRY RUN — not executed]\n"
      "· This agent has no graceful restart command, using SIGTERM brute force\n");
  AppProcess& idle = dryRun(box, QStringLiteral("fake"));
  EXPECT_EQ(idle.exitCode(), 0);
  EXPECT_EQ(idle.stdErr(), header + QStringLiteral("· Agent not running\n"));

  SpawnedChild agent(program, {});
  ASSERT_TRUE(waitUntil([&] { return QFileInfo(QStringLiteral("/proc/%1/exe").arg(agent.pid())).exists(); }));
  AppProcess& running = dryRun(box, QStringLiteral("fake"));
  const QString pid = QString::number(agent.pid());
  EXPECT_EQ(running.exitCode(), 0);
  EXPECT_EQ(running.stdErr(),
            header + QStringLiteral("· Found 1 pid(s): ") + pid + QStringLiteral("\n  - pid ") + pid +
                QStringLiteral(": accessible\n"
                               "· Simulating: would send SIGTERM → wait 5s → SIGKILL if alive → call "
                               "recover.recover\n"));
  EXPECT_EQ(::kill(agent.pid(), 0), 0) << "the dry run sent no signal";
  agent.signal(SIGKILL);
  EXPECT_EQ(WTERMSIG(agent.wait()), SIGKILL);
}

}  // namespace
