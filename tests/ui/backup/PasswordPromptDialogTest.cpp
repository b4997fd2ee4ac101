#include "backup/PasswordVault.h"
#include "ui/backup/BackupUiSupport.h"
#include "ui/backup/PasswordPromptDialog.h"
#include "ui/kit/Controls.h"

#include "support/TestSupport.h"
#include "ui/backup/BackupUiTestSupport.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace tlr {
namespace {

using test::LanguageScope;
using test::OnModal;

class PasswordPromptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PasswordVault::clearCachedPassword();
    PasswordVault::setPrompt(std::make_shared<DialogPasswordPrompt>());
  }
  void TearDown() override {
    PasswordVault::clearCachedPassword();
    PasswordVault::setPrompt(nullptr);
  }

  // Asks through the vault from a worker thread, as the engines do, while
  // `onPrompt` answers the dialog on the main thread.
  std::optional<QString> askFromWorker(const LocKey& reason, std::function<void(QWidget*)> onPrompt) {
    OnModal answer(QStringLiteral("passwordPrompt"), std::move(onPrompt));
    std::optional<QString> result;
    std::atomic<bool> done{false};
    std::thread worker([&] {
      result = PasswordVault::promptAndCache(reason);
      done = true;
    });
    const bool finished = test::waitUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_TRUE(answer.fired()) << "no password dialog was shown";
    return result;
  }

  test::TempHome home_;
};

template <class T>
T* child(QWidget* parent, const char* name) {
  T* found = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

TEST_F(PasswordPromptTest, AWorkerWaitsForTheDialogAndGetsTheTypedTextUnchanged) {
  LanguageScope english(AppLanguage::en);
  QString seenMessage, seenInformative, seenPlaceholder;
  bool fieldHadFocus = false, confirmIsRightOfCancel = false;
  QLineEdit* field = nullptr;
  const std::optional<QString> answer = askFromWorker(LocKey::vaultUnlockForBackup(), [&](QWidget* dialog) {
    seenMessage = child<Label>(dialog, "passwordPromptMessage")->text();
    seenInformative = child<Label>(dialog, "passwordPromptInformative")->text();
    field = child<QLineEdit>(dialog, "passwordPromptField");
    seenPlaceholder = field->placeholderText();
    fieldHadFocus = dialog->focusWidget() == field;
    auto* confirm = child<PaintedButton>(dialog, "passwordPromptConfirm");
    auto* cancel = child<PaintedButton>(dialog, "passwordPromptCancel");
    confirmIsRightOfCancel = confirm->geometry().left() > cancel->geometry().left();
    EXPECT_EQ(confirm->label(), "Confirm");
    EXPECT_EQ(cancel->label(), "Cancel");
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    // Titled and named by its question; the whole question shows, its
    // second line's descenders too.
    EXPECT_EQ(dialog->windowTitle(), "Unlock the encrypted backup image to start the backup");
    EXPECT_EQ(field->accessibleName(), "Unlock the encrypted backup image to start the backup");
    auto* message = child<Label>(dialog, "passwordPromptMessage");
    EXPECT_GE(message->height(), message->heightForWidth(message->width()));
    field->setText(QStringLiteral(" pass wörd "));
    test::shoot(dialog, "password-prompt");
    confirm->click();
  });
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(*answer, " pass wörd ");  // blanks kept
  EXPECT_EQ(PasswordVault::cachedPassword(), answer);
  EXPECT_EQ(seenMessage, "Unlock the encrypted backup image to start the backup");
  EXPECT_EQ(seenInformative,
            "Enter the encrypted backup image password. Enter it once — this computer remembers it for automatic backups.");
  EXPECT_EQ(seenPlaceholder, "Backup image password");
  EXPECT_TRUE(fieldHadFocus);
  EXPECT_TRUE(confirmIsRightOfCancel);
}

TEST_F(PasswordPromptTest, CancelEscAndAnEmptyConfirmGiveNothingAndLeaveTheVaultAlone) {
  LanguageScope chinese(AppLanguage::zh);
  ASSERT_TRUE(PasswordVault::seal(QStringLiteral("stored-before")));
  const QByteArray sealed = test::readFile(PasswordVault::vaultURL()).toLatin1();
  PasswordVault::clearCachedPassword();

  EXPECT_FALSE(askFromWorker(LocKey::vaultUnlockForRestore(), [](QWidget* dialog) {
    EXPECT_EQ(child<Label>(dialog, "passwordPromptMessage")->text(), "解锁加密备份卷以开始恢复");
    EXPECT_EQ(child<PaintedButton>(dialog, "passwordPromptConfirm")->label(), "确认");
    child<QLineEdit>(dialog, "passwordPromptField")->setText(QStringLiteral("typed"));
    child<PaintedButton>(dialog, "passwordPromptCancel")->click();
  }));
  EXPECT_FALSE(askFromWorker(LocKey::vaultUnlockForRestore(), [](QWidget* dialog) {
    child<QLineEdit>(dialog, "passwordPromptField")->setText(QStringLiteral("typed"));
    static_cast<QDialog*>(dialog)->reject();  // Esc or the window's close box
  }));
  EXPECT_FALSE(askFromWorker(LocKey::vaultUnlockForRestore(), [](QWidget* dialog) {
    child<PaintedButton>(dialog, "passwordPromptConfirm")->click();
  }));
  EXPECT_FALSE(PasswordVault::cachedPassword().has_value());
  QFile file(PasswordVault::vaultURL());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll().size(), 12 + 13 + 16);  // still the box of "stored-before"
}

TEST_F(PasswordPromptTest, ReturnConfirmsAndTheFieldIsEmptiedWhenTheDialogCloses) {
  PasswordPromptDialog dialog(LocKey::vaultUnlockForBackup());
  auto* field = child<QLineEdit>(&dialog, "passwordPromptField");
  OnModal typeAndReturn(QStringLiteral("passwordPrompt"), [&](QWidget*) {
    field->setText(QStringLiteral("s3cret"));
    Q_EMIT field->returnPressed();
  });
  EXPECT_EQ(dialog.exec(), QDialog::Accepted);
  EXPECT_EQ(dialog.takeAnswer(), QStringLiteral("s3cret"));
  EXPECT_TRUE(field->text().isEmpty());
}

TEST(PasswordPromptInstall, WithoutADisplayTheHeadlessPromptStaysAndAnswersNothing) {
  PasswordVault::setPrompt(nullptr);
  ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
  EXPECT_FALSE(installDialogPasswordPrompt());
  EXPECT_NE(dynamic_cast<HeadlessPasswordPrompt*>(PasswordVault::prompt().get()), nullptr);
  EXPECT_FALSE(PasswordVault::promptAndCache(LocKey::vaultUnlockForBackup()).has_value());
}

}  // namespace
}  // namespace tlr
