#include "platform/LaunchdStatus.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace tlr {
namespace {

// A user manager in which only "tlr.test.up" runs.
class LaunchdStatusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bin.addUserManager("tlr.test.up", 77);
    for (const char* label : {"tlr.test.up", "tlr.test.down"}) LaunchdStatus::invalidate(label);
  }
  int calls() const { return test::readFile(bin.recordPath("systemctl")).count('\n'); }
  test::TempHome home;
  test::FakeBin bin;
};

TEST_F(LaunchdStatusTest, AnswersFromItsCacheUntilInvalidated) {
  EXPECT_TRUE(LaunchdStatus::isManaged("tlr.test.up"));
  EXPECT_TRUE(LaunchdStatus::isManaged("tlr.test.up"));
  EXPECT_EQ(calls(), 1);
  EXPECT_FALSE(LaunchdStatus::isManaged("tlr.test.down"));
  EXPECT_EQ(calls(), 2);
  LaunchdStatus::invalidate("tlr.test.up");
  EXPECT_TRUE(LaunchdStatus::isManaged("tlr.test.up"));
  EXPECT_EQ(calls(), 3);
}

TEST_F(LaunchdStatusTest, WithoutAUserManagerNothingRunsAndNothingIsLogged) {
  qunsetenv("XDG_RUNTIME_DIR");
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(LaunchdStatus::isManaged("tlr.test.up"));
  const QString out = QString::fromStdString(::testing::internal::GetCapturedStdout());
  EXPECT_EQ(calls(), 0);
  EXPECT_FALSE(out.contains("[launchctl list")) << out.toStdString();
}

TEST_F(LaunchdStatusTest, OnceWindowsExistTheMainThreadNeverWaitsForSystemctl) {
  // A user manager that takes two seconds to answer.
  bin.add("systemctl", QStringLiteral("echo \"$@\" >> '%1'\nsleep 2\n"
                                      "case \"$*\" in *tlr.test.up.service*) printf 'MainPID=77\\nActiveState=active\\n';;\n"
                                      "*) printf 'MainPID=0\\nActiveState=inactive\\n';; esac\n")
                           .arg(bin.recordPath("systemctl")));
  LaunchdStatus::setMainThreadMayWait(false);
  const std::shared_ptr<void> restore(nullptr, [](void*) { LaunchdStatus::setMainThreadMayWait(true); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LaunchdStatus::isManaged("tlr.test.up")) << "not known yet: not managed";
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  // The answer arrives from a thread of its own; until it expires it is
  // given at once.
  EXPECT_TRUE(test::waitUntil([] { return LaunchdStatus::isManaged("tlr.test.up"); }));
  EXPECT_EQ(calls(), 1) << "one refresh at a time, however often the main thread asks";
  // Other threads still wait for their answer.
  bool elsewhere = false;
  std::thread([&] { elsewhere = LaunchdStatus::isManaged("tlr.test.up"); }).join();
  EXPECT_TRUE(elsewhere);
}

}  // namespace
}  // namespace tlr
