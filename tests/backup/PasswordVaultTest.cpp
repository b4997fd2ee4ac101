#include "backup/PasswordVault.h"

#include "core/stores/SettingsStore.h"
#include "platform/Crypto.h"
#include "platform/DeviceIdentity.h"
#include "platform/Paths.h"
#include "platform/SecretFile.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

using tlr::LocKey;
using tlr::PasswordPrompt;
using tlr::PasswordVault;

namespace {

QByteArray rawBytes(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}
void writeRaw(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

// A prompt that answers from a script and notes the thread it ran on.
class ScriptedPrompt : public PasswordPrompt {
 public:
  explicit ScriptedPrompt(QList<std::optional<QString>> answers) : answers_(std::move(answers)) {}
  std::optional<QString> askPassword(const LocKey& reason) override {
    reasons << reason;
    onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    return answers_.isEmpty() ? std::nullopt : answers_.takeFirst();
  }
  QList<LocKey> reasons;
  bool onMainThread = false;

 private:
  QList<std::optional<QString>> answers_;
};

class VaultTest : public ::testing::Test {
 protected:
  void SetUp() override { PasswordVault::clearCachedPassword(); }
  void TearDown() override {
    PasswordVault::clearCachedPassword();
    PasswordVault::setPrompt(nullptr);
  }
  tlr::test::TempHome home;
};

}  // namespace

// A password that begins with U+FEFF used to open without it.
TEST_F(VaultTest, SealedPasswordsOpenAgainInAFreshProcessState) {
  const QString password = QStringLiteral("\uFEFF密码 with blanks ");
  ASSERT_TRUE(PasswordVault::seal(password));
  EXPECT_EQ(PasswordVault::cachedPassword(), password);
  const QString file = PasswordVault::vaultURL();
  EXPECT_EQ(file, tlr::Paths::appSupport() + "/.pwd.vault");
  const QByteArray first = rawBytes(file);
  EXPECT_EQ(first.size(), password.toUtf8().size() + 28);
  EXPECT_FALSE(first.contains(password.toUtf8()));

  PasswordVault::clearCachedPassword();
  EXPECT_FALSE(PasswordVault::cachedPassword());
  EXPECT_EQ(PasswordVault::openStored(), password);
  EXPECT_EQ(PasswordVault::cachedPassword(), password);

  ASSERT_TRUE(PasswordVault::seal(password));
  EXPECT_NE(rawBytes(file), first);  // a fresh nonce
  EXPECT_EQ(PasswordVault::openStored(), password);
}

TEST_F(VaultTest, TheFileAndItsFolderAreTheOwnersOnly) {
  const mode_t old = ::umask(0);
  const bool sealed = PasswordVault::seal("pw");
  ::umask(old);
  ASSERT_TRUE(sealed);
  EXPECT_EQ(tlr::SecretFile::modeOf(PasswordVault::vaultURL()), 0600);
  EXPECT_EQ(tlr::SecretFile::modeOf(tlr::Paths::appSupport()), 0700);
  // Replacing it keeps the mode and leaves no temporary file behind.
  ASSERT_TRUE(PasswordVault::seal("pw2"));
  EXPECT_EQ(tlr::SecretFile::modeOf(PasswordVault::vaultURL()), 0600);
  EXPECT_EQ(QDir(tlr::Paths::appSupport()).entryList(QDir::Files | QDir::Hidden), QStringList({".pwd.vault"}));
}

TEST_F(VaultTest, DamagedShortAndMissingFilesReadAsNoPasswordAndStayAsTheyAre) {
  EXPECT_FALSE(PasswordVault::openStored());
  ASSERT_TRUE(PasswordVault::seal("right"));
  PasswordVault::clearCachedPassword();
  const QString file = PasswordVault::vaultURL();
  const QByteArray good = rawBytes(file);
  for (qsizetype i : {qsizetype(0), qsizetype(12), good.size() - 1}) {
    QByteArray flipped = good;
    flipped[i] = char(flipped[i] ^ 0x40);
    writeRaw(file, flipped);
    EXPECT_FALSE(PasswordVault::openStored()) << i;
    EXPECT_EQ(rawBytes(file), flipped);
  }
  writeRaw(file, good.left(27));
  EXPECT_FALSE(PasswordVault::openStored());
  writeRaw(file, QByteArray());
  EXPECT_FALSE(PasswordVault::openStored());
  EXPECT_FALSE(PasswordVault::cachedPassword());
  // Sealed bytes that are not UTF-8 are no password either.
  QByteArray key = PasswordVault::deriveMachineKey();
  const auto box = tlr::Crypto::chachaSeal(key, QByteArray("\xff\xfe", 2));
  ASSERT_TRUE(box);
  writeRaw(file, *box);
  EXPECT_FALSE(PasswordVault::openStored());
}

TEST_F(VaultTest, AFileSealedForAnotherMachineOrUserDoesNotOpen) {
  const std::optional<QString> uuid = PasswordVault::machineUUID();
  const QString login = tlr::DeviceIdentity::loginName();
  ASSERT_FALSE(login.isEmpty());

  ASSERT_TRUE(PasswordVault::sealWithKey("pw", PasswordVault::deriveKey(uuid, login)));
  EXPECT_EQ(PasswordVault::openStored(), "pw");  // the same identity opens it
  PasswordVault::clearCachedPassword();

  ASSERT_TRUE(PasswordVault::sealWithKey("pw", PasswordVault::deriveKey(QString("0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9"), login)));
  EXPECT_FALSE(PasswordVault::openStored());
  ASSERT_TRUE(PasswordVault::sealWithKey("pw", PasswordVault::deriveKey(uuid, login + "x")));
  EXPECT_FALSE(PasswordVault::openStored());
  // The login name comes from the user database, not from $USER.
  const QByteArray savedUser = qgetenv("USER");
  qputenv("USER", "someone-else");
  ASSERT_TRUE(PasswordVault::seal("pw3"));
  qputenv("USER", savedUser);
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), "pw3");

  // Without a machine id the key is the login name and the salt alone.
  EXPECT_EQ(PasswordVault::deriveKey(std::nullopt, "u"),
            tlr::Crypto::sha256(QByteArray("uQRT-V5.8-crate-pepr-7b1e")));
  EXPECT_EQ(PasswordVault::deriveMachineKey(), PasswordVault::deriveKey(uuid, login));
}

TEST_F(VaultTest, RemovingTheStoredPasswordDeletesOnlyTheVaultFile) {
  ASSERT_TRUE(PasswordVault::seal("pw"));
  home.writeFile(".local/share/Tollamere/network-log.json", "[]");
  EXPECT_TRUE(PasswordVault::removeStored());
  EXPECT_FALSE(QFileInfo::exists(PasswordVault::vaultURL()));
  EXPECT_TRUE(QFileInfo::exists(tlr::Paths::appSupport() + "/network-log.json"));
  EXPECT_TRUE(PasswordVault::removeStored());
}

TEST_F(VaultTest, TheHeadlessPromptAnswersNothingAtOnce) {
  EXPECT_FALSE(PasswordVault::promptAndCache(LocKey::vaultUnlockForBackup()));
  EXPECT_FALSE(PasswordVault::cachedPassword());
}

TEST_F(VaultTest, APromptedPasswordIsCachedButNotSealed) {
  auto prompt = std::make_shared<ScriptedPrompt>(QList<std::optional<QString>>{QString(""), QString(" typed ")});
  PasswordVault::setPrompt(prompt);
  EXPECT_FALSE(PasswordVault::promptAndCache(LocKey::vaultUnlockForRestore()));  // an empty field is no password
  EXPECT_EQ(PasswordVault::promptAndCache(LocKey::vaultUnlockForRestore()), " typed ");
  EXPECT_EQ(PasswordVault::cachedPassword(), " typed ");
  EXPECT_FALSE(QFileInfo::exists(PasswordVault::vaultURL()));
  EXPECT_EQ(prompt->reasons, QList<LocKey>({LocKey::vaultUnlockForRestore(), LocKey::vaultUnlockForRestore()}));
}

TEST_F(VaultTest, APromptAskedFromAWorkerRunsOnTheMainThread) {
  auto prompt = std::make_shared<ScriptedPrompt>(QList<std::optional<QString>>{QString("pw")});
  PasswordVault::setPrompt(prompt);
  std::optional<QString> answer;
  std::atomic<bool> done = false;
  std::thread worker([&] {
    answer = PasswordVault::promptAndCache(LocKey::vaultUnlockForRestore());
    done = true;
  });
  EXPECT_TRUE(tlr::test::waitUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(answer, "pw");
  EXPECT_TRUE(prompt->onMainThread);
}

TEST_F(VaultTest, DialogTextsFollowTheLanguage) {
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::en);
  EXPECT_EQ(PasswordVault::promptInformativeText(),
            "Enter the encrypted backup image password. Enter it once — this computer remembers it for automatic backups.");
  EXPECT_EQ(PasswordVault::promptPlaceholder(), "Backup image password");
  EXPECT_EQ(PasswordVault::promptConfirmTitle(), "Confirm");
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::zh);
  EXPECT_EQ(PasswordVault::promptInformativeText(), "请输入加密备份卷的密码。输入一次后本机记住，以后备份自动跑。");
  EXPECT_EQ(PasswordVault::promptCancelTitle(), "取消");
}
