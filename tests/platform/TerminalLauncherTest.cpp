#include "platform/TerminalLauncher.h"

#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

using tlr::TerminalLauncher;

namespace {

// Only the fakes are on PATH for the life of the object, so no terminal of
// this machine can ever be started.
class OnlyFakesOnPath {
 public:
  explicit OnlyFakesOnPath(const tlr::test::FakeBin& bin) : saved_(qgetenv("PATH")) {
    qputenv("PATH", QFile::encodeName(bin.path()));
  }
  ~OnlyFakesOnPath() { qputenv("PATH", saved_); }

 private:
  QByteArray saved_;
};

QStringList recordedArguments(const tlr::test::FakeBin& bin, const QString& name) {
  const QString record = bin.recordPath(name);
  EXPECT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).endsWith("--\n"); }));
  return tlr::test::readFile(record).split('\n').mid(0, 4);
}

}  // namespace

TEST(TerminalLauncherChoice, TheFirstCandidateOnPathRunsTheTextAsOneArgument) {
  tlr::test::FakeBin bin;
  OnlyFakesOnPath only(bin);
  bin.addRecorder("xterm");
  bin.addRecorder("konsole");
  const QString text = "echo 'it''s' \"$HOME\" && exit 0";
  ASSERT_TRUE(TerminalLauncher::run(text).ok());
  EXPECT_EQ(recordedArguments(bin, "konsole"), (QStringList{"-e", "/bin/sh", "-c", text}));
  EXPECT_FALSE(QFile::exists(bin.recordPath("xterm")));
}

TEST(TerminalLauncherChoice, EachTerminalGetsItsOwnWayOfRunningAProgram) {
  EXPECT_EQ(TerminalLauncher::arguments("/usr/bin/x-terminal-emulator", "t"),
            (QStringList{"-e", "/bin/sh", "-c", "t"}));
  EXPECT_EQ(TerminalLauncher::arguments("/usr/bin/gnome-terminal", "t"), (QStringList{"--", "/bin/sh", "-c", "t"}));
  EXPECT_EQ(TerminalLauncher::arguments("/usr/bin/xfce4-terminal", "t"), (QStringList{"-x", "/bin/sh", "-c", "t"}));
  EXPECT_EQ(TerminalLauncher::arguments("/usr/bin/xterm", "t"), (QStringList{"-e", "/bin/sh", "-c", "t"}));
}

TEST(TerminalLauncherChoice, NoTerminalIsAFailureWithItsReason) {
  tlr::test::FakeBin bin;
  OnlyFakesOnPath only(bin);
  const auto result = TerminalLauncher::run("true");
  EXPECT_FALSE(result.ok());
  // The alerts that show it name the programs looked for; the reason does not
  // repeat them.
  EXPECT_EQ(result.error(), "no terminal program found on PATH");
}

TEST(TerminalLauncherChoice, AWindowThatStaysOpenDoesNotBlock) {
  tlr::test::FakeBin bin;
  OnlyFakesOnPath only(bin);
  const QString pidFile = bin.path() + "/pid";
  bin.add("x-terminal-emulator", "echo $$ > '" + pidFile + "'\nexec /bin/sleep 30\n");
  QElapsedTimer timer;
  timer.start();
  ASSERT_TRUE(TerminalLauncher::run("true").ok());
  EXPECT_LT(timer.elapsed(), 2000);
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(pidFile).endsWith('\n'); }));
  ::kill(tlr::test::readFile(pidFile).trimmed().toInt(), SIGKILL);
}
