#include "platform/ChildProcess.h"

#include "support/TestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace tlr;

// A daemon left holding the output of a program we ran must survive its
// next write: with in-memory output files there is no pipe to break.
TEST(ChildProcessMemoryOutput, ADaemonKeepsWritingAfterTheRunEnded) {
  test::TempHome home;
  const QString marker = home.path() + "/daemon-done";
  ChildSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", "(sleep 0.3; echo late; echo still-here; touch \"$0\") & echo early; echo oops >&2",
                    marker};
  spec.timeout = std::chrono::seconds(10);
  spec.outputToMemory = true;
  spec.outputLimit = 3;
  const ChildResult r = runChild(spec);
  ASSERT_TRUE(r.started);
  EXPECT_TRUE(r.exited());
  EXPECT_EQ(r.out, "ear");
  EXPECT_TRUE(r.outTruncated);
  EXPECT_EQ(r.err, "oop");
  EXPECT_TRUE(test::waitUntil([&] { return QFileInfo::exists(marker); }, std::chrono::seconds(10)));
}

TEST(ChildProcessMemoryOutput, OutputAndInputWorkAsWithPipes) {
  ChildSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", "read line; echo \"got $line\"; echo bad >&2; exit 3"};
  spec.input = QByteArray("pw\n");
  spec.timeout = std::chrono::seconds(10);
  spec.outputToMemory = true;
  const ChildResult r = runChild(spec);
  EXPECT_EQ(r.exitCode(), 3);
  EXPECT_EQ(r.out, "got pw\n");
  EXPECT_EQ(r.err, "bad\n");
  EXPECT_FALSE(r.outTruncated);
}
