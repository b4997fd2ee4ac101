#include "platform/Opener.h"
#include "platform/ProcessSignals.h"

#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

namespace tlr {
namespace {

class OnlyFakes {
 public:
  explicit OnlyFakes(const test::FakeBin& bin) : saved_(qgetenv("PATH")) { qputenv("PATH", bin.path().toUtf8()); }
  ~OnlyFakes() { qputenv("PATH", saved_); }

 private:
  QByteArray saved_;
};

TEST(Opener, HandsUrlsFoldersAndTheFolderOfARevealedItemToXdgOpen) {
  test::FakeBin bin;
  const QString record = bin.addRecorder("xdg-open");
  EXPECT_EQ(Opener::openUrl("vornel://open?x=1"), "");
  ASSERT_TRUE(test::waitUntil([&] { return test::readFile(record).count("--\n") == 1; }));
  EXPECT_EQ(Opener::openFolder("/tmp/some//folder/"), "");
  ASSERT_TRUE(test::waitUntil([&] { return test::readFile(record).count("--\n") == 2; }));
  EXPECT_EQ(Opener::reveal("/tmp/some/folder/file.txt"), "");
  ASSERT_TRUE(test::waitUntil([&] { return test::readFile(record).count("--\n") == 3; }));
  EXPECT_EQ(test::readFile(record), "vornel://open?x=1\n--\n/tmp/some/folder\n--\n/tmp/some/folder\n--\n");
}

TEST(Opener, AMissingOpenerIsReported) {
  test::FakeBin bin;
  OnlyFakes only(bin);
  EXPECT_TRUE(Opener::openUrl("https://example.com").startsWith("xdg-open: "));
  EXPECT_FALSE(Opener::openFolder("").isEmpty());
}

TEST(ProcessSignals, AZombieIsNotAliveAndNoSignalGoesToAGroup) {
  test::SpawnedChild child(test::toolPath("tlr_fake_agent"), {});
  ASSERT_TRUE(child.started());
  EXPECT_TRUE(ProcessSignals::isAlive(child.pid()));
  EXPECT_EQ(ProcessSignals::send(child.pid(), SIGTERM), 0);
  EXPECT_TRUE(test::waitUntil([&] { return !ProcessSignals::isAlive(child.pid()); }))
      << "dead but not yet reaped counts as gone";
  child.wait();
  EXPECT_EQ(ProcessSignals::send(0, 0), ESRCH);
  EXPECT_EQ(ProcessSignals::send(-1, 0), ESRCH);
  EXPECT_FALSE(ProcessSignals::isAlive(0));
}

}  // namespace
}  // namespace tlr
