#include "verify/VerificationReport.h"

#include <gtest/gtest.h>

using namespace tlr;

TEST(VerificationReportFormat, NamesTheModeListsStepsAndEndsWithTheVerdict) {
  VerificationReport report(VerificationMode::e2e);
  EXPECT_TRUE(report.pass("备份"));
  EXPECT_FALSE(report.fail("校验", "不符"));
  EXPECT_FALSE(report.step("清理", false));
  const VerificationResult result = report.result();
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.report, "TLR_E2E\n✓ 备份\n✗ 校验: 不符\n✗ 清理\nFAIL");

  VerificationReport good(VerificationMode::backup);
  good.pass("a");
  EXPECT_EQ(good.result().report, "TLR_BACKUP\n✓ a\nPASS");
  EXPECT_TRUE(good.result().success);
}

TEST(VerificationReportFormat, AReportWithoutStepsNeverPasses) {
  const VerificationResult result = VerificationReport(VerificationMode::selfTest).result();
  EXPECT_FALSE(result.success);
  EXPECT_EQ(result.report, "TLR_SELFTEST\nFAIL");
}
