#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/kit/Controls.h"

#include "ui/backup/BackupUiTestSupport.h"
#include "support/VolumeFixture.h"
#include "support/gui/ApplicationLook.h"
#include "ui/kit/Theme.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::LanguageScope;
using test::waitUntil;

template <class T>
T* named(QWidget* parent, const char* name) {
  T* found = parent->findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

class FirstTimeSetupTest : public test::VolumeTest {
 protected:
  // The sheet as a presenter shows it: onClose dismisses it.
  FirstTimeSetupSheet* open() {
    auto* sheet = new FirstTimeSetupSheet([this] { ++closes_; if (sheet_) sheet_->dismiss(); },
                                          [this] { ++dones_; }, SettingsStore::shared());
    sheet_ = sheet;
    sheet->present();
    return sheet;
  }
  void typePasswords(FirstTimeSetupSheet* sheet, const QString& first, const QString& second) {
    named<QLineEdit>(sheet, "firstSetupPassword")->setText(first);
    named<QLineEdit>(sheet, "firstSetupPasswordAgainField")->setText(second);
  }
  QPointer<FirstTimeSetupSheet> sheet_;
  int closes_ = 0;
  int dones_ = 0;
};

class FirstTimeSetupFormTest : public FirstTimeSetupTest {
  bool needsVolume() const override { return false; }
};

TEST_F(FirstTimeSetupFormTest, CreateIsOfferedOnlyForTwoEqualPasswordsOfEightCharacters) {
  LanguageScope english(AppLanguage::en);
  FirstTimeSetupSheet* sheet = open();
  EXPECT_EQ(sheet->step(), 1);
  // The folder, never the image's stored name (".sparsebundle").
  EXPECT_EQ(named<Label>(sheet, "firstSetupLocationPath")->accessibleName(),
            QFileInfo(BackupVolume::defaultImagePath()).path());
  EXPECT_EQ(named<Label>(sheet, "firstSetupStep")->text(), "Step 1/2 · Choose location");
  named<PaintedButton>(sheet, "firstSetupNext")->click();
  EXPECT_EQ(sheet->step(), 2);
  EXPECT_EQ(named<Label>(sheet, "firstSetupStep")->text(), "Step 2/2 · Set password");

  auto* create = named<PaintedButton>(sheet, "firstSetupCreate");
  auto* mismatch = named<Label>(sheet, "firstSetupMismatch");
  EXPECT_FALSE(create->isEnabled());
  typePasswords(sheet, "short", "short");
  EXPECT_FALSE(create->isEnabled());
  EXPECT_EQ(named<Label>(sheet, "firstSetupStrength")->text(), "Too weak: use at least 8 characters");
  typePasswords(sheet, "longenough1", "longenough2");
  EXPECT_FALSE(create->isEnabled());
  EXPECT_FALSE(mismatch->isHidden());
  EXPECT_EQ(mismatch->text(), "Passwords don't match");
  // Longer than the image tool takes: refused as it is typed, saying why.
  const QString tooLong(1000, QChar(0x5BC6));
  typePasswords(sheet, tooLong, tooLong);
  EXPECT_FALSE(create->isEnabled());
  EXPECT_EQ(named<Label>(sheet, "firstSetupStrength")->text(),
            "Too long: at most 2,048 bytes (about 680 Chinese characters)");
  test::shoot(sheet, "first-time-setup-too-long-en");
  {
    LanguageScope chinese(AppLanguage::zh);
    typePasswords(sheet, tooLong + "x", tooLong + "x");
    EXPECT_EQ(named<Label>(sheet, "firstSetupStrength")->text(), "密码太长：最多 2048 字节（约 680 个汉字）");
    test::shoot(sheet, "first-time-setup-too-long-zh");
  }
  typePasswords(sheet, "longenough1", "longenough1");
  EXPECT_TRUE(create->isEnabled());
  EXPECT_TRUE(mismatch->isHidden());
  test::shoot(sheet, "first-time-setup");
  EXPECT_EQ(named<Label>(sheet, "firstSetupStrength")->text(), "Medium");
  {
    // Readable in the light scheme too: the amber of its strength, darker.
    test::ApplicationLook look;
    look.set(AppearancePreference::light);
    EXPECT_EQ(named<Label>(sheet, "firstSetupStrength")->palette().color(QPalette::WindowText), Theme::cautionTextLight);
  }

  // Back keeps what was typed; closing wipes it.
  named<PaintedButton>(sheet, "firstSetupPrev")->click();
  EXPECT_EQ(sheet->step(), 1);
  auto* field = named<QLineEdit>(sheet, "firstSetupPassword");
  EXPECT_EQ(field->text(), "longenough1");
  // Named by the labels beside them, not by their placeholders.
  EXPECT_EQ(field->accessibleName(), named<Label>(sheet, "firstSetupPasswordLabel")->text());
  EXPECT_EQ(named<QLineEdit>(sheet, "firstSetupPasswordAgainField")->accessibleName(),
            named<Label>(sheet, "firstSetupPasswordAgain")->text());
  QSignalSpy gone(sheet, &QObject::destroyed);
  named<PaintedButton>(sheet, "firstSetupClose")->click();
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(dones_, 0);
  EXPECT_TRUE(!field || field->text().isEmpty());
  EXPECT_TRUE(!gone.isEmpty() || gone.wait(2000));
}

TEST_F(FirstTimeSetupFormTest, SomethingAlreadyAtThePlaceIsReportedAndTheSheetStaysOpen) {
  LanguageScope chinese(AppLanguage::zh);
  home_.writeFile(QFileInfo(BackupVolume::defaultImagePath()).fileName() + "/keep", "mine");
  FirstTimeSetupSheet* sheet = open();
  named<PaintedButton>(sheet, "firstSetupNext")->click();
  typePasswords(sheet, "password-1", "password-1");
  named<PaintedButton>(sheet, "firstSetupCreate")->click();
  auto* error = named<Label>(sheet, "firstSetupError");
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isCreating(); }));
  EXPECT_EQ(error->text(), "备份卷已存在，不需要重新创建");
  EXPECT_FALSE(error->isHidden());
  EXPECT_EQ(dones_, 0);
  EXPECT_FALSE(sheet->isDismissed());
  EXPECT_EQ(named<QLineEdit>(sheet, "firstSetupPassword")->text(), "password-1");
  EXPECT_EQ(test::readFile(BackupVolume::defaultImagePath() + "/keep"), "mine");
  sheet->dismiss();
}

TEST_F(FirstTimeSetupTest, CreatesTheImageSealsThePasswordProvesItAndCloses) {
  FirstTimeSetupSheet* sheet = open();
  named<PaintedButton>(sheet, "firstSetupNext")->click();
  typePasswords(sheet, "correct horse 1", "correct horse 1");
  // The sheet is deleted soon after it closes: the field is read when the
  // sheet is dismissed, while it still exists.
  QLineEdit* field = named<QLineEdit>(sheet, "firstSetupPassword");
  named<PaintedButton>(sheet, "firstSetupCreate")->click();
  EXPECT_TRUE(sheet->session().isCreating());
  EXPECT_FALSE(named<QProgressBar>(sheet, "firstSetupBusy")->isHidden());
  EXPECT_FALSE(named<PaintedButton>(sheet, "firstSetupCreate")->isEnabled());
  QSignalSpy gone(sheet, &QObject::destroyed);
  std::optional<QString> leftInField;
  QObject::connect(sheet, &Sheet::dismissed, [&] { leftInField = field->text(); });
  ASSERT_TRUE(waitUntil([&] { return dones_ == 1; }, std::chrono::seconds(60)));
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(leftInField, QString()) << "the field is wiped when the sheet closes";
  // The sheet was dismissed while an event was delivered: its deletion runs
  // at this level of the event loop, never inside a nested one (wait()).
  EXPECT_TRUE(waitUntil([&] { return !gone.isEmpty(); }, std::chrono::seconds(2)));

  EXPECT_TRUE(BackupVolume::exists());
  EXPECT_FALSE(BackupVolume::isMounted()) << "the proving mount is undone";
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), QStringLiteral("correct horse 1"));
  // The password opens the image.
  ASSERT_TRUE(BackupVolume::mount(QStringLiteral("correct horse 1")).ok());
  EXPECT_TRUE(BackupVolume::isMounted());
}

TEST_F(FirstTimeSetupTest, ClosingWhileTheImageIsMadeLosesNothingAndTouchesNoFreedSheet) {
  FirstTimeSetupSheet* sheet = open();
  named<PaintedButton>(sheet, "firstSetupNext")->click();
  typePasswords(sheet, "password-2x", "password-2x");
  named<PaintedButton>(sheet, "firstSetupCreate")->click();
  QSignalSpy gone(sheet, &QObject::destroyed);
  named<PaintedButton>(sheet, "firstSetupClose")->click();
  ASSERT_TRUE(!gone.isEmpty() || gone.wait(2000));
  // The work goes on without the sheet and finishes the image.
  test::finishOffMainWork(std::chrono::seconds(60));
  EXPECT_TRUE(BackupVolume::exists());
  EXPECT_FALSE(BackupVolume::isMounted());
  // Its completion is dropped: the presenter's onDone is not called late.
  EXPECT_EQ(dones_, 0);
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), QStringLiteral("password-2x"));
}

}  // namespace
}  // namespace tlr
