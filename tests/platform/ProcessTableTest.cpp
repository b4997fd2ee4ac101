#include "platform/ProcessTable.h"

#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tlr {
namespace {

using test::SpawnedChild;

const ProcessInfo* byPid(const ProcessTable& table, pid_t pid) { return table.find(pid); }

QString shortUniqueName(const QString& stem) {
  return stem + QUuid::createUuid().toString(QUuid::Id128).left(15 - stem.size());
}

class ProcessTableTest : public ::testing::Test {
 protected:
  // A file under the temporary home, executable.
  QString executable(const QString& relative, const QString& source) {
    const QString path = home.path() + '/' + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::copy(source, path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
  }
  test::TempHome home;
};

TEST_F(ProcessTableTest, AProgramIsNamedAsItWasStartedThroughALinkOrItsScriptLine) {
  // A versioned program behind a link, as installers lay them out.
  const QString target = executable("versions/2.0.14", "/bin/sleep");
  const QString linkName = shortUniqueName("tlrl");
  const QString link = home.path() + "/bin/" + linkName;
  QDir().mkpath(home.path() + "/bin");
  ASSERT_TRUE(QFile::link(target, link));
  SpawnedChild linked(link, {"30"});

  // A script started through its #! line: the kernel runs the interpreter.
  const QString scriptName = shortUniqueName("tlrs");
  const QString script = home.writeFile("bin/" + scriptName, "#!/bin/sh\nsleep 30\n");
  QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  SpawnedChild scripted(script, {});

  ASSERT_TRUE(test::waitUntil([&] {
    const ProcessTable table = ProcessTable::snapshot();
    return byPid(table, linked.pid()) && byPid(table, linked.pid())->name == linkName &&
           byPid(table, scripted.pid()) && byPid(table, scripted.pid())->name == scriptName;
  })) << "names: " << (ProcessTable::read(linked.pid()) ? ProcessTable::read(linked.pid())->name.toStdString() : "-")
      << ", " << (ProcessTable::read(scripted.pid()) ? ProcessTable::read(scripted.pid())->name.toStdString() : "-");
  const auto info = ProcessTable::read(linked.pid());
  ASSERT_TRUE(info);
  EXPECT_EQ(info->exePath, QFileInfo(target).canonicalFilePath()) << "the executable stays the link's target";
}

TEST_F(ProcessTableTest, ANameCutByTheKernelIsCompletedFromItsArgumentsOrExecutable) {
  const QString longName = "tlr-table-name-far-past-fifteen-bytes";
  const QString program = executable("bin/" + longName, "/bin/sleep");
  SpawnedChild child(program, {"30"});
  ASSERT_TRUE(test::waitUntil([&] {
    const auto info = ProcessTable::read(child.pid());
    return info && info->name == longName;
  }));
  // A name of fifteen bytes or less is the kernel's own.
  const QString exact = shortUniqueName("tlr-fifteen");
  ASSERT_EQ(exact.size(), 15);
  SpawnedChild fifteen(executable("bin/" + exact, "/bin/sleep"), {"30"});
  ASSERT_TRUE(test::waitUntil([&] {
    const auto info = ProcessTable::read(fifteen.pid());
    return info && info->name == exact;
  }));
}

// A loop over the list of a table made in the loop's own head reads a list
// that lives as long as the loop: the table itself is gone by then, so the
// list must be handed over, not referred to.
TEST_F(ProcessTableTest, TheListOfATemporaryTableOutlivesItInALoop) {
  static_assert(!std::is_reference_v<decltype(ProcessTable::snapshot().processes())>);
  static_assert(std::is_reference_v<decltype(std::declval<const ProcessTable&>().processes())>);
  bool ownSeen = false;
  for (const ProcessInfo& process : ProcessTable::snapshot().processes())
    ownSeen = ownSeen || (process.pid == ::getpid() && process.name == QStringLiteral("test_platform"));
  EXPECT_TRUE(ownSeen);
}

TEST_F(ProcessTableTest, ARepeatedSnapshotReReadsOnlyWhatMayHaveChanged) {
  // Enough processes that a full read would stand out.
  std::vector<std::unique_ptr<SpawnedChild>> sleepers;
  for (int i = 0; i < 200; ++i) sleepers.push_back(std::make_unique<SpawnedChild>("/bin/sleep", QStringList{"60"}));
  const auto none = [](const ProcessInfo&) { return false; };
  ProcessTable::snapshotReusing(none);
  ProcessTable::snapshotReusing(none);  // every process has been read twice now

  // Processes new to a snapshot are read; of the ones known, zombies and
  // kernel threads too, a rotating share: whatever the machine's other work
  // starts or leaves unreaped meanwhile, by the hundred.
  int reads = 0;
  for (int round = 0; round < 8; ++round) {
    const ProcessTable table = ProcessTable::snapshotReusing(none);
    for (const auto& s : sleepers) ASSERT_TRUE(byPid(table, s->pid())) << "a known process is still listed";
    const auto counts = ProcessTable::lastReuseCounts();
    EXPECT_LT(counts.knownRead, counts.listed / 2) << "a rotating share";
    reads += counts.knownRead;
  }
  EXPECT_GE(reads, 200) << "within eight snapshots every known process is read again";

  // What the caller always wants fresh is read every time.
  const pid_t watched = sleepers.front()->pid();
  ProcessTable::snapshotReusing([&](const ProcessInfo& p) { return p.pid == watched; });
  sleepers.front()->signal(SIGKILL);  // a zombie now: not a running program
  ASSERT_TRUE(test::waitUntil(
      [&] { return test::readFile(QString("/proc/%1/stat").arg(watched)).contains(") Z "); }));
  const ProcessTable after = ProcessTable::snapshotReusing([&](const ProcessInfo& p) { return p.pid == watched; });
  EXPECT_FALSE(byPid(after, watched));
}

TEST_F(ProcessTableTest, AProgramThatExecsInPlaceIsSeenUnderItsNewNameWithinEightSnapshots) {
  const QString name = shortUniqueName("tlrx");
  const QString program = executable("bin/" + name, "/bin/sleep");
  SpawnedChild shell("/bin/sh", {"-c", "read line; exec '" + program + "' 30"});
  const auto none = [](const ProcessInfo&) { return false; };
  for (int i = 0; i < 3; ++i) ASSERT_EQ(byPid(ProcessTable::snapshotReusing(none), shell.pid())->name, "sh");
  shell.writeLine("go");
  ASSERT_TRUE(test::waitUntil([&] {
    const auto info = ProcessTable::read(shell.pid());
    return info && info->name == name;
  }));
  bool seen = false;
  for (int i = 0; i < 8 && !seen; ++i) seen = byPid(ProcessTable::snapshotReusing(none), shell.pid())->name == name;
  EXPECT_TRUE(seen);
}

TEST_F(ProcessTableTest, AnExecThatKeepsTheCommandNameIsSeenWithItsNewArguments) {
  // An interpreter that execs itself with other arguments keeps its command
  // name and start time; its arguments are those of the new program.
  const QString marker = shortUniqueName("tlrm");
  SpawnedChild shell("/bin/sh", {"-c", "read line; exec /bin/sh -c 'sleep 30; :' " + marker});
  const pid_t pid = shell.pid();
  const auto always = [&](const ProcessInfo& p) { return p.pid == pid; };
  for (int i = 0; i < 3; ++i) {
    const ProcessTable table = ProcessTable::snapshotReusing(always);
    ASSERT_TRUE(byPid(table, pid));
    ASSERT_FALSE(table.argumentsOf(*byPid(table, pid)).contains(marker));
  }
  shell.writeLine("go");
  ASSERT_TRUE(test::waitUntil([&] { return ProcessTable::arguments(pid).contains(marker); }));
  bool seen = false;
  for (int i = 0; i < 8 && !seen; ++i) {
    const ProcessTable table = ProcessTable::snapshotReusing(always);
    ASSERT_TRUE(byPid(table, pid));
    EXPECT_EQ(byPid(table, pid)->name, "sh");
    seen = table.argumentsOf(*byPid(table, pid)).contains(marker);
  }
  EXPECT_TRUE(seen) << "arguments kept from before the exec";
}

}  // namespace
}  // namespace tlr
