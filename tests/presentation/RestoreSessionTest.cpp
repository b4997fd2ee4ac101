#include "presentation/RestoreSession.h"

#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/RestoreEngine.h"
#include "core/stores/SettingsStore.h"

#include "support/ScriptedPrompt.h"
#include "support/VolumeFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace tlr {
namespace {

using test::waitUntil;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

class RestoreSessionTest : public test::VolumeTest {
 protected:
  void SetUp() override {
    test::VolumeTest::SetUp();
    language_ = SettingsStore::shared().language();
    SettingsStore::shared().setLanguage(AppLanguage::en);
  }
  void TearDown() override {
    session_.reset();
    SettingsStore::shared().setLanguage(language_);
    test::VolumeTest::TearDown();
  }
  // Two agents backed up into the real image, which is left detached.
  void backUpTwoAgents() {
    createImage(QStringLiteral("restore-pw"));
    backUp({agentWithData("alpha", {{"notes.md", "alpha notes"}, {"skills/s.md", "skill"}}),
            agentWithData("beta", {{"config.json", "{\"b\":1}"}})});
    engine_.setRegistry(registryOf({"alpha", "beta"}));
  }
  // A session that has read the snapshot.
  RestoreSession& load() {
    session_ = std::make_unique<RestoreSession>(engine_, [this](const QString& id) { restored_ << id; });
    session_->load();
    EXPECT_TRUE(session_->isLoading());
    EXPECT_FALSE(session_->canRestoreAll());
    EXPECT_TRUE(waitUntil([&] { return !session_->isLoading(); }, std::chrono::seconds(60)));
    return *session_;
  }

  AppLanguage language_ = AppLanguage::en;
  RestoreEngine engine_;
  std::unique_ptr<RestoreSession> session_;
  QStringList restored_;
};

TEST_F(RestoreSessionTest, RestoresOneAgentThenAllAndSaysSo) {
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  QFile::remove(dataPath("alpha", "notes.md"));
  QFile::remove(dataPath("beta", "config.json"));
  RestoreSession& session = load();
  ASSERT_TRUE(session.manifest().has_value());
  EXPECT_FALSE(BackupVolume::isMounted()) << "the volume is detached again after reading";
  EXPECT_EQ(session.loadError(), std::nullopt);
  EXPECT_FALSE(session.isCrossDevice());
  EXPECT_FALSE(session.newerIsDamaged());
  EXPECT_EQ(session.agentName("alpha"), "ALPHA");
  EXPECT_EQ(session.agentName("gamma"), std::nullopt);
  // Named as the registry names it in the window's language.
  engine_.setRegistry(test::registryOfAgents({"{" + agentMembers("alpha") + R"(, "displayNameZH": "阿尔法"})",
                                        "{" + agentMembers("beta") + "}"}));
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(session.agentName("alpha"), "阿尔法");
  EXPECT_EQ(session.agentName("beta"), "BETA");
  SettingsStore::shared().setLanguage(AppLanguage::en);
  EXPECT_EQ(session.agentName("alpha"), "ALPHA");
  EXPECT_TRUE(session.canRestoreAll());

  // An agent the snapshot does not hold is not restored.
  session.restoreAgent("gamma");
  EXPECT_FALSE(session.isRunning());

  session.restoreAgent("alpha");
  EXPECT_TRUE(session.isRunning());
  EXPECT_FALSE(session.canRestoreAgent()) << "nothing else while a restore runs";
  ASSERT_TRUE(waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(90)));
  EXPECT_THAT(restored_, ElementsAre("alpha"));
  EXPECT_EQ(session.failure(), std::nullopt);
  EXPECT_EQ(session.successText(), "✓ Restored ALPHA");
  EXPECT_EQ(test::readFile(dataPath("alpha", "notes.md")), "alpha notes");
  EXPECT_FALSE(QFile::exists(dataPath("beta", "config.json"))) << "only the one agent";

  restored_.clear();
  session.restoreAll();
  EXPECT_EQ(session.successText(), "") << "the last outcome goes when the next restore starts";
  ASSERT_TRUE(waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(90)));
  EXPECT_THAT(restored_, UnorderedElementsAre("alpha", "beta"));
  EXPECT_EQ(session.successText(), "✓ Restored all agents");
  EXPECT_EQ(test::readFile(dataPath("beta", "config.json")), "{\"b\":1}");
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(session.successText(), "✓ 已恢复全部 Agent");
}

TEST_F(RestoreSessionTest, AFailedRestoreIsShownAndAnnouncesNothing) {
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  RestoreSession& session = load();
  ASSERT_TRUE(session.manifest().has_value());
  // The stored password is gone and the prompt is cancelled.
  PasswordVault::clearCachedPassword();
  EXPECT_TRUE(PasswordVault::removeStored());
  PasswordVault::setPrompt(std::make_shared<test::ScriptedPrompt>(QList<std::optional<QString>>{std::nullopt}));
  session.restoreAll();
  ASSERT_TRUE(waitUntil([&] { return !session.isRunning(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(session.failure().has_value());
  EXPECT_EQ(session.failure()->key, LocKey::backupErrNoPassword());
  EXPECT_EQ(session.successText(), "");
  EXPECT_TRUE(restored_.isEmpty());
  EXPECT_TRUE(session.canRestoreAll()) << "it can be tried again";
}

TEST_F(RestoreSessionTest, ANewerDamagedSnapshotIsPassedOverAndNamed) {
  backUpTwoAgents();
  ASSERT_FALSE(HasFatalFailure());
  addDamagedSnapshot(QStringLiteral("restore-pw"));
  ASSERT_FALSE(HasFatalFailure());

  RestoreSession& session = load();
  ASSERT_TRUE(session.manifest().has_value()) << "the older, good snapshot is offered";
  EXPECT_EQ(session.manifest()->agents.size(), 2);
  EXPECT_TRUE(session.newerIsDamaged());
  for (const BackupManifest::AgentBackup& agent : session.manifest()->agents) {
    if (agent.id == "alpha") {
      EXPECT_THAT(RestoreSession::agentStats(agent).toStdString(), ::testing::StartsWith("1 skill · Memory "));
    }
  }
  // Each count says its unit by the count, in the window's language.
  BackupManifest::AgentBackup counted;
  counted.stats = {2, 1000, 1};
  counted.totalBytes = 2000;
  EXPECT_EQ(RestoreSession::agentStats(counted), "2 skills · Memory 1 KB · 1 task · 2 KB");
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(RestoreSession::agentStats(counted), "2 个技能 · 记忆 1 KB · 1 个任务 · 2 KB");
}

class RestoreSessionWithoutImageTest : public RestoreSessionTest {
  bool needsVolume() const override { return false; }
};

TEST_F(RestoreSessionWithoutImageTest, WithoutAnImageThereIsNothingToRestore) {
  RestoreSession& session = load();
  EXPECT_FALSE(session.manifest().has_value());
  EXPECT_EQ(session.loadError(), std::nullopt) << "no image is not a failure to read one";
  EXPECT_FALSE(session.newerIsDamaged());
  EXPECT_FALSE(session.canRestoreAgent());
  session.restoreAll();
  EXPECT_FALSE(session.isRunning());
}

}  // namespace
}  // namespace tlr
