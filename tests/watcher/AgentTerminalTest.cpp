#include "watcher/AgentTerminal.h"

#include "RecoverTestSupport.h"
#include "platform/UserPrograms.h"

#include <gtest/gtest.h>

using tlr::AgentEntry;
namespace Terminal = tlr::AgentTerminal;

namespace {

AgentEntry consoleEntry() {
  AgentEntry entry;
  entry.id = "gw";
  entry.displayName = "Gateway";
  return entry;
}

class AgentTerminalTest : public ::testing::Test {
 protected:
  tlr::test::TempHome home;
  tlr::test::FakeBin bin;
  tlr::test::OnlyFakesOnPath only{bin};
};

}  // namespace

TEST_F(AgentTerminalTest, TheLinesRunUnderASixtySecondLimitAndTheWindowClosesASecondLater) {
  const QString text = Terminal::uninstallShellText({"a 'q'", "b c"});
  EXPECT_EQ(text, tlr::UserPrograms::exportPathLine() +
                      "timeout --foreground 60 /bin/sh -c 'a '\\''q'\\''; b c'; sleep 1");
}

TEST_F(AgentTerminalTest, TheConsoleRunsItsWordsAsWrittenAndLogsThem) {
  bin.addRecorder("xterm");
  AgentEntry entry = consoleEntry();
  ::testing::internal::CaptureStdout();
  const auto started = Terminal::openConsole(entry, {"tui", "--title", "\"a\\b\""});
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  ASSERT_TRUE(started.ok());
  EXPECT_TRUE(out.contains("[TUI] Gateway: " + bin.path() + "/xterm -e \"tui --title \"a\\b\"\"\n")) << out.toStdString();
  ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(bin.recordPath("xterm")).endsWith("--\n"); }));
  const QStringList args = tlr::test::readFile(bin.recordPath("xterm")).split('\n');
  ASSERT_GE(args.size(), 4);
  EXPECT_TRUE(args[3].contains("; tui --title \"a\\b\"; exec ")) << args[3].toStdString();

  EXPECT_TRUE(Terminal::openConsole(entry, {}).ok());
  tlr::test::finishOffMainWork();
  EXPECT_EQ(tlr::test::readFile(bin.recordPath("xterm")).count("--\n"), 1) << "an empty command opens nothing";
}

TEST_F(AgentTerminalTest, NoTerminalIsReportedWithItsReasonAndNothingIsLogged) {
  ::testing::internal::CaptureStdout();
  const auto started = Terminal::openConsole(consoleEntry(), {"tui"});
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_FALSE(started.ok());
  EXPECT_FALSE(started.error().isEmpty());
  EXPECT_FALSE(out.contains("[TUI]"));
}
