#include "platform/MemoryPressure.h"
#include "platform/ServiceManager.h"
#include "platform/Workspace.h"

#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <sys/stat.h>

namespace tlr {
namespace {

using test::FakeBin;
using test::TempHome;

TEST(ServiceManager, ReadsTheJobOfTheUserManager) {
  FakeBin bin;
  const QString record = bin.addUserManager("com.x.running", 4321);
  const auto running = ServiceManager::list("com.x.running");
  ASSERT_TRUE(running);
  EXPECT_TRUE(running->running());
  EXPECT_EQ(running->mainPid, 4321);
  EXPECT_EQ(running->activeState, "active");
  const auto stopped = ServiceManager::list("com.x.stopped");
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(stopped->running());
  EXPECT_TRUE(ServiceManager::enable("com.x.a"));
  EXPECT_TRUE(ServiceManager::disable("com.x.a"));
  EXPECT_TRUE(ServiceManager::bootout("com.x.a"));
  EXPECT_EQ(test::readFile(record),
            "--user show -p MainPID,ActiveState com.x.running.service\n"
            "--user show -p MainPID,ActiveState com.x.stopped.service\n"
            "--user enable com.x.a.service\n--user disable com.x.a.service\n--user stop com.x.a.service\n");
}

TEST(ServiceManager, NoUserManagerMeansNotManaged) {
  FakeBin bin;
  bin.provideUserManagerSocket();
  bin.add("systemctl", "echo 'Failed to connect to bus' >&2; exit 1\n");
  EXPECT_FALSE(ServiceManager::list("com.x.any"));
  EXPECT_FALSE(ServiceManager::bootout("com.x.any"));
}

TEST(ServiceManager, WithoutAUserManagerSocketNothingIsRun) {
  test::TempHome home;  // no XDG_RUNTIME_DIR
  FakeBin bin;
  const QString record = bin.addRecorder("systemctl");
  EXPECT_FALSE(ServiceManager::userManagerAvailable());
  EXPECT_FALSE(ServiceManager::list("com.x.any"));
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path()));  // a runtime folder, but no manager in it
  EXPECT_FALSE(ServiceManager::userManagerAvailable());
  EXPECT_FALSE(ServiceManager::list("com.x.any"));
  EXPECT_FALSE(QFile::exists(record)) << "systemctl was never started";
  bin.provideUserManagerSocket();
  EXPECT_TRUE(ServiceManager::userManagerAvailable());
}

TEST(ServiceManager, AHangingUserManagerIsNotWaitedForAgain) {
  FakeBin bin;
  bin.provideUserManagerSocket();
  const QString record = bin.recordPath("systemctl");
  bin.add("systemctl", QStringLiteral("echo \"$@\" >> '%1'\nexec sleep 30\n").arg(record));
  EXPECT_FALSE(ServiceManager::list("com.x.slow", std::chrono::milliseconds(200)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ServiceManager::list("com.x.other"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(test::readFile(record).count('\n'), 1);
}

class WorkspaceTest : public ::testing::Test {
 protected:
  QString addEntry(const QString& bundleId, const QString& body) {
    return home.writeFile(".local/share/applications/" + bundleId + ".desktop", body.toUtf8());
  }
  QString addProgram(const QString& name, const QString& source = "/bin/sleep") {
    const QString path = home.path() + "/bin/" + name;
    QDir().mkpath(home.path() + "/bin");
    QFile::copy(source, path);
    return path;
  }
  TempHome home;
};

TEST_F(WorkspaceTest, AnApplicationIsInstalledWhenItsProgramIsOnDisk) {
  const QString program = addProgram("tlr-ws-app");
  addEntry("com.tlr.Present", "[Desktop Entry]\nType=Application\nName=P\nExec=\"" + program +
                                  "\" --flag %U\nIcon=tlr-present\n[Desktop Action x]\nExec=other\n");
  addEntry("com.tlr.Missing", "[Desktop Entry]\nExec=/nonexistent/tlr-app %f\n");
  addEntry("com.tlr.Hidden", "[Desktop Entry]\nExec=" + program + "\nHidden=true\n");

  EXPECT_EQ(Workspace::applicationPath("com.tlr.Present"), program);
  EXPECT_EQ(Workspace::application("com.tlr.Present")->exec, (QStringList{program, "--flag"}));
  EXPECT_EQ(Workspace::iconName("com.tlr.Present"), "tlr-present");
  EXPECT_TRUE(Workspace::application("com.tlr.Missing"));
  EXPECT_FALSE(Workspace::applicationPath("com.tlr.Missing"));
  EXPECT_FALSE(Workspace::application("com.tlr.Hidden"));
  EXPECT_FALSE(Workspace::application("com.tlr.Unknown"));
  EXPECT_FALSE(Workspace::open("com.tlr.Missing").error().isEmpty());
}

TEST_F(WorkspaceTest, OpenStartsTheApplicationAndItIsFoundRunning) {
  const QString program = addProgram("tlr-ws-running-app");
  addEntry("com.tlr.Runner", "[Desktop Entry]\nExec=" + program + " 30 %F\n");
  const auto started = Workspace::open("com.tlr.Runner");
  ASSERT_TRUE(started) << started.error().toStdString();
  bool found = false;
  test::waitUntil([&] {
    for (const auto& app : Workspace::runningApplications(ProcessTable::snapshot()))
      if (app.pid == started.value() && app.bundleId == "com.tlr.Runner") found = true;
    return found;
  });
  ::kill(started.value(), SIGKILL);
  EXPECT_TRUE(found);
  EXPECT_EQ(Workspace::bundleIdOfProgram(program), "com.tlr.Runner");
}

TEST_F(WorkspaceTest, AnEntryThatIsNoPlainFileIsNeitherWaitedOnNorRead) {
  const QString program = addProgram("tlr-ws-after-fifo");
  addEntry("com.tlr.Zplain", "[Desktop Entry]\nExec=" + program + "\n");
  // A link to a FIFO passes for a file in the folder listing; opening it as
  // one would wait for a writer that never comes.
  const QString fifo = home.path() + "/entry-fifo";
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  ASSERT_TRUE(QFile::link(fifo, home.path() + "/.local/share/applications/com.tlr.Fifo.desktop"));

  EXPECT_FALSE(Workspace::application("com.tlr.Fifo"));
  EXPECT_EQ(Workspace::applicationPath("com.tlr.Zplain"), program);
}

class MemoryPressureFile : public ::testing::Test {
 protected:
  QString write(const QByteArray& text) { return home.writeFile("pressure", text); }
  TempHome home;
};

TEST_F(MemoryPressureFile, ReadsSomeAvg10) {
  EXPECT_EQ(MemoryPressure::someAvg10(write("some avg10=12.50 avg60=1.00 avg300=0.00 total=5\n"
                                            "full avg10=3.00 avg60=0.00 avg300=0.00 total=1\n")),
            12.5);
  EXPECT_FALSE(MemoryPressure::someAvg10(write("full avg10=3.00\n")));
  EXPECT_FALSE(MemoryPressure::someAvg10(write("some avg10=abc\n")));
  EXPECT_FALSE(MemoryPressure::someAvg10(home.path() + "/absent"));
}

}  // namespace
}  // namespace tlr
