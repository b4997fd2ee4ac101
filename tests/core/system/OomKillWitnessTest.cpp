#include "core/system/OomKillWitness.h"

#include "support/TestSupport.h"

#include <QFile>

#include <gtest/gtest.h>

namespace tlr {
namespace {

// The kernel's files under a temporary folder: /proc/vmstat, each process's
// cgroup line and the groups' counting files.
struct FakeKernel {
  test::TempHome home;
  OomKillCount::Paths paths{home.path() + "/vmstat", home.path() + "/proc", home.path() + "/cgroup"};

  void systemCount(int n) { home.writeFile("vmstat", QByteArray("pgfault 5\noom_kill ") + QByteArray::number(n) + "\n"); }
  void inGroup(pid_t pid, const QByteArray& line) {
    home.writeFile("proc/" + QString::number(pid) + "/cgroup", line + "\n");
  }
  void v2Count(const QString& group, int n) {
    home.writeFile("cgroup" + group + "/memory.events",
                   QByteArray("low 0\nhigh 0\nmax 3\noom 1\noom_kill ") + QByteArray::number(n) + "\n");
  }
  void v1Count(const QString& group, int n) {
    home.writeFile("cgroup/memory" + group + "/memory.oom_control",
                   QByteArray("oom_kill_disable 0\nunder_oom 0\noom_kill ") + QByteArray::number(n) + "\n");
  }
};

TEST(OomKillWitness, OnlyAKillTheKernelCountedSinceTheWatchIsOne) {
  struct Row {
    const char* what;
    QByteArray cgroupLine;  // empty: the process has no cgroup file
    int systemRise;
    int groupRise;
    bool counted;
  };
  const Row rows[] = {
      {"no kill counted anywhere", "0::/user.slice/a", 0, 0, false},
      {"the system's count, no group", "", 1, 0, true},
      {"the group's count (v2)", "0::/user.slice/a", 1, 1, true},
      // Another process's kill: the group it is in counted none.
      {"a kill elsewhere (v2)", "0::/user.slice/a", 1, 0, false},
      {"the group's count (v1)", "4:memory:/process_api/a\n0::/", 1, 1, true},
      {"a kill elsewhere (v1)", "4:memory:/process_api/a\n0::/", 2, 0, false},
      {"a group path that climbs out", "0::/../a", 1, 0, true},
      // The group of a session goes with its last process: read at the end,
      // it is gone, and the system's count decides.
      {"the group gone at the end", "0::/user.slice/gone", 1, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeKernel kernel;
    kernel.systemCount(7);
    const pid_t pid = 4242;
    if (!row.cgroupLine.isEmpty()) kernel.inGroup(pid, row.cgroupLine);
    kernel.v2Count("/user.slice/a", 2);
    kernel.v1Count("/process_api/a", 2);
    kernel.v2Count("/a", 2);

    kernel.v2Count("/user.slice/gone", 2);
    OomKillWitness witness(kernel.paths);
    witness.watched(pid);
    // Ended: the kernel no longer tells which group the process was in, so
    // what the watch read is what counts.
    QFile::remove(kernel.home.path() + "/proc/" + QString::number(pid) + "/cgroup");
    QFile::remove(kernel.home.path() + "/cgroup/user.slice/gone/memory.events");
    kernel.systemCount(7 + row.systemRise);
    kernel.v2Count("/user.slice/a", 2 + row.groupRise);
    kernel.v1Count("/process_api/a", 2 + row.groupRise);
    kernel.v2Count("/a", 2 + row.groupRise);
    EXPECT_EQ(witness.counted(pid), row.counted);
    // Asked once: the pid is forgotten.
    EXPECT_FALSE(witness.counted(pid));
    EXPECT_EQ(witness.size(), 0);
  }
}

TEST(OomKillWitness, WithoutCountsOrAWatchNothingWasCounted) {
  FakeKernel kernel;
  OomKillWitness witness(kernel.paths);
  // Never watched.
  kernel.systemCount(1);
  EXPECT_FALSE(witness.counted(10));
  // No count at the watch: a count that appears later tells nothing.
  kernel.home.writeFile("vmstat", "pgfault 5\n");
  witness.watched(11);
  kernel.systemCount(3);
  EXPECT_FALSE(witness.counted(11));
  // A second watch keeps the first counts; a forgotten pid counts nothing.
  witness.watched(12);
  kernel.systemCount(4);
  witness.watched(12);
  EXPECT_TRUE(witness.counted(12));
  witness.watched(13);
  witness.forget(13);
  kernel.systemCount(5);
  EXPECT_FALSE(witness.counted(13));
}

}  // namespace
}  // namespace tlr
