#include "presentation/FirstTimeSetupSession.h"

#include "backup/BackupVolume.h"

#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace tlr {
namespace {

using test::waitUntil;
using Strength = FirstTimeSetupSession::Strength;

TEST(FirstTimeSetupSessionTest, StrengthGrowsWithKindsOfCharactersAndLength) {
  EXPECT_EQ(FirstTimeSetupSession::strengthOf("Ab1!"), Strength::weakest);
  EXPECT_EQ(FirstTimeSetupSession::strengthOf("abcdefghij"), Strength::weak);
  EXPECT_EQ(FirstTimeSetupSession::strengthOf("abcdefgh12"), Strength::medium);
  EXPECT_EQ(FirstTimeSetupSession::strengthOf("Abcdefgh12!x"), Strength::strong);
}

// The image is "made" by a stand-in that keeps what it was asked, answers
// `answer`, and waits for `release` before it returns.
struct FakeCreate {
  std::mutex lock;
  QStringList calls;
  std::optional<EngineMessage> answer;
  std::atomic<bool> release = true;

  FirstTimeSetupSession::Create op() {
    return [this](const QString& path, const QString& password) {
      while (!release) QThread::msleep(5);
      std::lock_guard<std::mutex> guard(lock);
      calls << path + " | " + password;
      return answer;
    };
  }
};

class FirstTimeSetupSessionFlowTest : public ::testing::Test {
 protected:
  test::TempHome home_;
  FakeCreate fake_;
};

TEST_F(FirstTimeSetupSessionFlowTest, CreatesOnceForTwoEqualPasswordsOfEightCharactersInTheChosenFolder) {
  FirstTimeSetupSession session(nullptr, fake_.op());
  EXPECT_EQ(session.imagePath(), BackupVolume::defaultImagePath());
  EXPECT_FALSE(session.canCreate("short", "short"));
  EXPECT_FALSE(session.canCreate("longenough1", "longenough2"));
  EXPECT_TRUE(FirstTimeSetupSession::passwordsDiffer("longenough1", "longenough2"));
  EXPECT_FALSE(FirstTimeSetupSession::passwordsDiffer("longenough1", "")) << "nothing typed again yet";
  EXPECT_TRUE(session.canCreate("longenough1", "longenough1"));
  // The image tool takes at most 2,048 bytes: 682 Chinese characters do,
  // 683 (and 1,000) do not.
  const QString longest = QString(682, QChar(0x5BC6)), tooLong = QString(683, QChar(0x5BC6));
  EXPECT_TRUE(session.canCreate(longest, longest));
  EXPECT_FALSE(session.canCreate(tooLong, tooLong));
  EXPECT_TRUE(FirstTimeSetupSession::passwordTooLong(QString(1000, QChar(0x5BC6))));
  EXPECT_TRUE(FirstTimeSetupSession::passwordTooLong(QString(2049, 'a')));
  EXPECT_FALSE(FirstTimeSetupSession::passwordTooLong(QString(2048, 'a')));
  session.create(tooLong, tooLong);
  EXPECT_FALSE(session.isCreating());
  session.create("longenough1", "longenough2");
  EXPECT_FALSE(session.isCreating());

  session.chooseFolder(home_.path() + "/Backups");
  EXPECT_EQ(session.imagePath(), home_.path() + "/Backups/TLR 备份.sparsebundle");

  int created = 0;
  QObject::connect(&session, &FirstTimeSetupSession::created, [&] { ++created; });
  fake_.release = false;
  session.create("longenough1", "longenough1");
  EXPECT_TRUE(session.isCreating());
  EXPECT_FALSE(session.canCreate("longenough1", "longenough1"));
  // Neither a second creation nor another place while one is under way.
  session.create("longenough1", "longenough1");
  session.chooseFolder(home_.path() + "/Elsewhere");
  EXPECT_EQ(session.imagePath(), home_.path() + "/Backups/TLR 备份.sparsebundle");
  fake_.release = true;
  ASSERT_TRUE(waitUntil([&] { return created > 0; }));
  EXPECT_FALSE(session.isCreating());
  EXPECT_FALSE(session.failure().has_value());
  test::finishOffMainWork();
  EXPECT_EQ(fake_.calls, QStringList{home_.path() + "/Backups/TLR 备份.sparsebundle | longenough1"});
}

TEST_F(FirstTimeSetupSessionFlowTest, AFailureIsKeptUntilTheNextTry) {
  fake_.answer = EngineMessage{LocKey::backupErrVolumeExists(), {}};
  FirstTimeSetupSession session(nullptr, fake_.op());
  int created = 0;
  QObject::connect(&session, &FirstTimeSetupSession::created, [&] { ++created; });
  session.create("password-1", "password-1");
  ASSERT_TRUE(waitUntil([&] { return !session.isCreating(); }));
  ASSERT_TRUE(session.failure().has_value());
  EXPECT_EQ(session.failure()->key, LocKey::backupErrVolumeExists());
  EXPECT_EQ(created, 0);
  EXPECT_TRUE(session.canCreate("password-1", "password-1")) << "it can be tried again";

  fake_.answer.reset();
  fake_.release = false;
  session.create("password-1", "password-1");
  EXPECT_FALSE(session.failure().has_value()) << "the old failure goes when the next try starts";
  fake_.release = true;
  ASSERT_TRUE(waitUntil([&] { return created > 0; }));
}

}  // namespace
}  // namespace tlr
