// The running application and its own files: special files in their place,
// a deep data folder, an installed copy without its bundle, and what a
// normal start prints.
#include "support/AppFixture.h"
#include "support/RegistryJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

using namespace tlr;
using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

bool makeFifo(const QString& path) {
  QDir().mkpath(QFileInfo(path).path());
  return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

}  // namespace

class ApplicationOwnFiles : public AppFixture {
 protected:
  QString appFolder() const { return home_.path() + QStringLiteral("/.local/share/Tollamere"); }
  QString defaultsFile() const { return home_.path() + QStringLiteral("/.config/Tollamere/defaults.json"); }

  // Starts a stand-in agent only once the application runs, so a scan that
  // lists it proves that the scan loop goes on after start-up.
  void expectScanningAfterStart(AppProcess& app, const QString& agentName, const QString& agentProgram) {
    ASSERT_TRUE(app.waitForStderr(QStringLiteral("===== END SELF-CHECK =====\n"))) << app.stdOut().toStdString();
    ASSERT_TRUE(storedEvents(QStringLiteral("fake")).isEmpty());
    ASSERT_GT(agents_.start(agentProgram, {QStringLiteral("plain")}), 0);
    // A scan sees it and records its start.
    EXPECT_TRUE(waitUntil([&] { return storedEventTypes(QStringLiteral("fake")) == QStringList{QStringLiteral("started")}; },
                          20s))
        << app.stdOut().toStdString();
    (void)agentName;
  }
};

// A blocking open of any of these files stopped the start for good. A
// channel that could not be had went unsaid, and a second start that could
// not reach the first ended with status 0 as if it had.
TEST_F(ApplicationOwnFiles, FifosInPlaceOfTheLockTheNetworkLogAndTheAutostartEntryAndAFolderInPlaceOfTheChannel) {
  const QString name = uniqueAgentName(QStringLiteral("tlr-own-files"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/bin"), name);
  // Start at login stored as on: the entry is then looked at.
  home_.writeFile(QStringLiteral(".config/Tollamere/defaults.json"), R"({"TLR.selfGuard.enabled": true})");
  const QString lock = lockFile();
  ASSERT_TRUE(makeFifo(lock));
  ASSERT_TRUE(makeFifo(appFolder() + QStringLiteral("/network-log.json")));
  ASSERT_TRUE(makeFifo(home_.path() + QStringLiteral("/.config/autostart/tollamere.desktop")));
  ASSERT_TRUE(QDir().mkpath(appFolder() + QStringLiteral("/instance.socket")));

  AppSandbox& box = sandbox(oneAgentDocument(name));
  AppProcess& app = process(box);
  ASSERT_TRUE(app.start());
  expectScanningAfterStart(app, name, program);
  const QString out = app.stdOut();
  EXPECT_TRUE(out.contains(QStringLiteral("[App] 单实例锁文件不可写入 (not a plain file)，只加锁不写 pid: ") + lock))
      << out.toStdString();
  EXPECT_TRUE(out.contains(QStringLiteral("[NetworkLogger] network-log.json 无法读取（")));
  EXPECT_TRUE(out.contains(QStringLiteral("[SelfGuard] 自启动项无法读取（")));
  EXPECT_TRUE(out.contains(QStringLiteral("[SelfGuard] state mismatch: enabled=true but plist 不存在 → 校准成 false")));
  EXPECT_TRUE(out.contains(QStringLiteral("[App] 前置通道不可用（") + appFolder() +
                           QStringLiteral("/instance.socket: Address already in use）：再次启动 Tollamere 将无法把本实例带到前面")))
      << out.toStdString();

  // The lock still keeps a second copy out.
  AppProcess& second = process(box);
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(second.waitForExit());
  EXPECT_EQ(second.exitCode(), 1);
  EXPECT_TRUE(second.stdOut().startsWith(appLog::lockHeld + appLog::couldNotAsk))
      << second.stdOut().toStdString();
  const QString notified = fakeBin_.recordPath(QStringLiteral("notify-send"));
  EXPECT_TRUE(waitUntil([&] { return readFile(notified).endsWith(QStringLiteral("--\n")); }));
  EXPECT_EQ(readFile(notified), QStringLiteral("Tollamere\nTollamere 已在运行，但没有应答，无法把它的窗口带到前面。\n--\n"));
  EXPECT_TRUE(app.isRunning());
}

TEST_F(ApplicationOwnFiles, AFifoInPlaceOfTheDefaultsIsKeptAsideAndTheStartGoesOn) {
  const QString name = uniqueAgentName(QStringLiteral("tlr-own-defaults"));
  const QString program = copyFakeAgent(home_.path() + QStringLiteral("/bin"), name);
  ASSERT_TRUE(makeFifo(defaultsFile()));
  AppProcess& app = process(sandbox(oneAgentDocument(name)));
  ASSERT_TRUE(app.start());
  expectScanningAfterStart(app, name, program);
  const QStringList aside =
      QDir(QFileInfo(defaultsFile()).path()).entryList({QStringLiteral("defaults.json.unreadable-*")}, QDir::System);
  EXPECT_EQ(aside.size(), 1);
}

TEST_F(ApplicationOwnFiles, ACorruptDefaultsFileKeepsItsBytes) {
  const QByteArray corrupt(R"({"TLR.language": "en", "TLR.lockOnline.enabled": ["a"], "mine": tru)");
  home_.writeFile(QStringLiteral(".config/Tollamere/defaults.json"), corrupt);
  AppProcess& app = process(sandbox());
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(app.waitForStderr(QStringLiteral("===== END SELF-CHECK =====\n")));
  const QDir folder(QFileInfo(defaultsFile()).path());
  const QStringList aside = folder.entryList({QStringLiteral("defaults.json.unreadable-*")}, QDir::Files);
  ASSERT_EQ(aside.size(), 1) << app.stdOut().toStdString();
  EXPECT_EQ(readFile(folder.filePath(aside.first())).toUtf8(), corrupt);
}

// A socket path holds at most 107 bytes; the channel in a deeper data folder
// is reached through the folder's descriptor.
TEST_F(ApplicationOwnFiles, BringForwardWorksWithADeepDataFolder) {
  QString dataHome = home_.path() + QStringLiteral("/");
  while (dataHome.size() < 120) dataHome += QStringLiteral("long-data-folder-name/");
  dataHome.chop(1);
  ASSERT_GE(dataHome.size(), 120);
  AppSandbox& box = sandbox();
  AppProcess& first = process(box);
  first.setEnv(QStringLiteral("XDG_DATA_HOME"), dataHome);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(first.waitForStdout(QStringLiteral("[App] Registry loaded: ")));

  AppProcess& second = process(box);
  second.setEnv(QStringLiteral("XDG_DATA_HOME"), dataHome);
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(second.waitForExit());
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(first.waitForStdout(appLog::broughtForward));
  EXPECT_TRUE(QFileInfo::exists(dataHome + QStringLiteral("/Tollamere/single-instance.lock")));
}

// The registry decides which commands run: an installed copy never falls
// back to the bundle of the folder it was built in.
TEST_F(ApplicationOwnFiles, AnInstalledCopyWithoutItsBundleLoadsNothingFromTheBuildFolder) {
  AppSandbox box{AppSandbox::InstalledWithoutBundle{}};
  AppProcess& app = process(box);
  ASSERT_TRUE(app.start());
  EXPECT_TRUE(app.waitForStdout(QStringLiteral("[App] Registry load FAILED: ") + appLog::registryNotInBundle))
      << app.stdOut().toStdString();
  EXPECT_FALSE(app.stdOut().contains(QStringLiteral("[App] Registry loaded")));
  app.stop();

  AppProcess& contract = process(box);
  contract.setEnv(QStringLiteral("TLR_CONTRACT_TEST"), QStringLiteral("1"));
  ASSERT_TRUE(contract.start());
  ASSERT_TRUE(contract.waitForExit());
  EXPECT_EQ(contract.exitCode(), 1);
  EXPECT_TRUE(contract.stdErr().contains(QStringLiteral("✗ registry.json decodes: ") + appLog::registryNotInBundle))
      << contract.stdErr().toStdString();
}

// Without an image a start still removes what a killed restore left, and
// makes nothing beside the place where an image would lie.
TEST_F(ApplicationOwnFiles, WithoutAnImageAStartClearsLeftoversAndMakesNoLockFile) {
  home_.writeFile(QStringLiteral(".tollamere-restore-tmp/.tollamere-backup-tmp/a/x"), "plain");
  AppProcess& app = process(sandbox());
  ASSERT_TRUE(app.start());
  ASSERT_TRUE(waitUntil([&] { return !QFileInfo::exists(home_.path() + QStringLiteral("/.tollamere-restore-tmp")); },
                        30s));
  EXPECT_FALSE(QFileInfo::exists(home_.path() + QStringLiteral("/.TLR 备份.sparsebundle.lock")));
  EXPECT_TRUE(QDir(home_.path()).entryList({QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden).isEmpty());
}

// Without a runtime folder (XDG_RUNTIME_DIR unset, as TempHome leaves it) the
// toolkit used to warn on every start, and so it did when the variable named
// a folder others share ("/tmp": "runtime directory … not owned", or its
// permissions), whose "Tollamere" folder is made ours alone.
TEST_F(ApplicationOwnFiles, ANormalStartPrintsNoToolkitWarning) {
  ASSERT_TRUE(qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"));
  const QString shared = home_.path() + QStringLiteral("/tmp");
  ASSERT_TRUE(QDir().mkpath(shared));
  ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
  for (const QString& runtime : {QString(), shared}) {
    SCOPED_TRACE(runtime.toStdString());
    AppProcess& app = process(sandbox());
    if (!runtime.isEmpty()) app.setEnv(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    ASSERT_TRUE(app.start());
    ASSERT_TRUE(app.waitForStderr(QStringLiteral("===== END SELF-CHECK =====\n")));
    const QString err = app.stdErr();
    EXPECT_FALSE(err.contains(QStringLiteral("QStandardPaths"))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("XDG_RUNTIME_DIR"))) << err.toStdString();
    EXPECT_FALSE(err.contains(QStringLiteral("runtime directory"))) << err.toStdString();
    app.stop();
  }
  EXPECT_EQ(modeOf(shared + QStringLiteral("/Tollamere")), 0700u);
}
