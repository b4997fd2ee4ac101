#include "platform/ChildProcess.h"

#include <gtest/gtest.h>

TEST(ChildProcessOutputLimit, ExtraOutputIsReadAndDropped) {
  tlr::ChildSpec spec;
  spec.program = "/bin/sh";
  spec.arguments = {"-c", "head -c 300000 /dev/zero; printf abc >&2"};
  spec.outputLimit = 1000;
  const auto r = tlr::runChild(spec);
  ASSERT_TRUE(r.exited());
  EXPECT_EQ(r.exitCode(), 0);  // the writer was never blocked or broken
  EXPECT_EQ(r.out.size(), 1000);
  EXPECT_TRUE(r.outTruncated);
  EXPECT_EQ(r.err, "abc");
  EXPECT_FALSE(r.errTruncated);
}
