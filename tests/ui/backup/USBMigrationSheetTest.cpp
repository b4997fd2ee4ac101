#include "backup/BackupManifest.h"
#include "backup/BackupVolume.h"
#include "backup/PasswordVault.h"
#include "backup/USBMigration.h"
#include "ui/backup/USBMigrationSheet.h"
#include "ui/kit/Controls.h"
#include "ui/kit/DetailsDisclosure.h"

#include "ui/backup/BackupUiTestSupport.h"
#include "support/VolumeFixture.h"
#include "support/gui/InView.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace tlr {
namespace {

using test::LanguageScope;
using test::waitUntil;

template <class T>
T* named(QWidget* parent, const QString& name) {
  T* found = parent->findChild<T*>(name);
  EXPECT_NE(found, nullptr) << name.toStdString();
  return found;
}

class USBMigrationSheetTest : public test::VolumeTest {
 protected:
  void SetUp() override {
    test::VolumeTest::SetUp();
    if (IsSkipped()) return;
    stick_ = home_.path() + "/media/STICK";
    ASSERT_TRUE(QDir().mkpath(stick_));
  }
  void TearDown() override {
    if (sheet_) delete sheet_.data();
    test::VolumeTest::TearDown();
  }
  USBMigrationSheet* open(USBMigrationSheet::Mode mode) {
    auto* sheet = new USBMigrationSheet(
        mode, {agentWithData("alpha", {{"notes.md", "n"}})},
        [this] {
          ++closes_;
          if (sheet_) sheet_->dismiss();
        },
        SettingsStore::shared(), nullptr, [this] { return QStringList{stick_}; });
    sheet_ = sheet;
    sheet->present();
    EXPECT_TRUE(waitUntil([&] { return !sheet->session().isListing(); }));
    return sheet;
  }
  // The image made on "the old machine", away from the place an import uses.
  void createOldImage(const QString& password, int padFiles = 0) {
    const QString place = home_.path() + "/old-machine/TLR 备份.sparsebundle";
    QDir().mkpath(home_.path() + "/old-machine");
    const BackupVolume::Result created = BackupVolume::create(place, password);
    ASSERT_TRUE(created.ok()) << created.error().localizedDescription().toStdString();
    // Extra files in the image folder make the copy last long enough to be
    // cancelled half-way.
    for (int i = 0; i < padFiles; ++i) {
      QFile pad(place + QStringLiteral("/pad-%1").arg(i));
      ASSERT_TRUE(pad.open(QIODevice::WriteOnly));
      pad.write(QByteArray(32 * 1024, char('a' + i % 26)));
    }
  }
  void exportPackage(USBMigrationSheet* sheet) {
    named<PrimaryButton>(sheet, "usbAction")->click();
    ASSERT_TRUE(waitUntil([&] { return !sheet->session().isRunning(); }, std::chrono::seconds(60)));
  }

  QString stick_;
  QPointer<USBMigrationSheet> sheet_;
  int closes_ = 0;
};

TEST_F(USBMigrationSheetTest, ExportShowsProgressAndWritesThePackage) {
  LanguageScope english(AppLanguage::en);
  createOldImage("old-pw", 40);
  ASSERT_FALSE(HasFatalFailure());
  // A volume name of 80 characters: shortened with "…", the pill and every
  // control in view.
  const QString longName = QStringLiteral("BACKUP STICK ") + QString(67, QLatin1Char('U'));
  stick_ = home_.path() + "/media/" + longName;
  ASSERT_TRUE(QDir().mkpath(stick_));
  USBMigrationSheet* sheet = open(USBMigrationSheet::Mode::exportPkg);
  EXPECT_EQ(named<Label>(sheet, "usbTitle")->text(), "Export to USB");
  ASSERT_EQ(sheet->session().volumes(), QStringList{stick_});
  QApplication::processEvents();
  auto* pill = named<PaintedButton>(sheet, "usbVolume_0");
  EXPECT_EQ(pill->accessibleName(), longName);
  {
    // The name stops short of the pill's right end (its "…" there), never cut
    // by the edge: no white of the selected pill's text in its last 12 px.
    QImage drawn(pill->size(), QImage::Format_ARGB32);
    drawn.fill(Qt::black);
    pill->render(&drawn);
    int textPixels = 0;
    for (int x = pill->width() - 12; x < pill->width() - 2; ++x)
      for (int y = pill->height() / 4; y < pill->height() * 3 / 4; ++y) textPixels += drawn.pixelColor(x, y).lightnessF() > 0.8;
    EXPECT_EQ(textPixels, 0) << "the name runs into the pill's edge";
  }
  EXPECT_TRUE(pill->toolTip().contains(longName));
  for (const char* name : {"usbVolume_0", "usbRefresh", "usbAction"})
    EXPECT_TRUE(test::wholeInView(named<QWidget>(sheet, name))) << name;
  EXPECT_EQ(test::sidewaysScrolling(*sheet), QStringList());
  EXPECT_EQ(sheet->session().selection(), stick_);
  auto* action = named<PrimaryButton>(sheet, "usbAction");
  EXPECT_EQ(action->label(), "Export");
  action->click();
  EXPECT_EQ(action->label(), "Exporting…");
  EXPECT_FALSE(named<QWidget>(sheet, "usbCancel")->isHidden());
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isRunning(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(sheet->session().isDone()) << sheet->session().statusText().toStdString();
  // The place written to, the long name and all, wraps within its line.
  auto* status = named<Label>(sheet, "usbStatus");
  EXPECT_TRUE(status->accessibleName().contains(longName)) << status->accessibleName().toStdString();
  EXPECT_LE(status->minimumSizeHint().width(), status->width()) << "no line wider than the sheet";
  test::shoot(sheet, "usb-export-done");
  ASSERT_TRUE(sheet->session().exportProgress().has_value());
  const auto& progress = *sheet->session().exportProgress();
  EXPECT_EQ(progress.filesWritten, progress.filesTotal);
  EXPECT_GE(progress.filesTotal, 40);
  EXPECT_EQ(progress.bytesWritten, progress.bytesTotal);
  EXPECT_EQ(named<QProgressBar>(sheet, "usbProgress")->value(), 1000);
  EXPECT_EQ(named<Label>(sheet, "usbProgressFiles")->text(),
            QStringLiteral("%1 / %1 files").arg(progress.filesTotal));
  EXPECT_TRUE(USBMigration::hasMigrationPackage(stick_));
  EXPECT_THAT(sheet->session().statusText().toStdString(), ::testing::StartsWith("✓ Written to "));
  EXPECT_EQ(action->label(), "Done");
  action->click();
  EXPECT_EQ(closes_, 1);
}

TEST_F(USBMigrationSheetTest, CancelRemovesThePartialPackage) {
  LanguageScope english(AppLanguage::en);
  createOldImage("old-pw", 600);
  ASSERT_FALSE(HasFatalFailure());
  USBMigrationSheet* sheet = open(USBMigrationSheet::Mode::exportPkg);
  named<PrimaryButton>(sheet, "usbAction")->click();
  // Cancel as soon as the first progress report is on screen.
  ASSERT_TRUE(waitUntil([&] { return sheet->session().exportProgress().has_value() || !sheet->session().isRunning(); },
                        std::chrono::seconds(60)));
  ASSERT_TRUE(sheet->session().isRunning()) << "the copy ended before it could be cancelled";
  auto* cancel = named<PaintedButton>(sheet, "usbCancel");
  cancel->click();
  EXPECT_EQ(cancel->label(), "Cancelling…");
  EXPECT_FALSE(cancel->isEnabled());
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isRunning(); }, std::chrono::seconds(60)));
  EXPECT_FALSE(sheet->session().isDone());
  EXPECT_EQ(sheet->session().statusText(), "Export cancelled");
  EXPECT_FALSE(QFileInfo::exists(stick_ + "/Tollamere-Migration"));
  EXPECT_EQ(named<PrimaryButton>(sheet, "usbAction")->label(), "Export");
}

TEST_F(USBMigrationSheetTest, ImportPreviewsThePackageRefusesAWrongPasswordAndTakesTheRightOne) {
  LanguageScope english(AppLanguage::en);
  createOldImage("right-password");
  ASSERT_FALSE(HasFatalFailure());
  {
    USBMigrationSheet* exporter = open(USBMigrationSheet::Mode::exportPkg);
    exportPackage(exporter);
    ASSERT_TRUE(exporter->session().isDone()) << exporter->session().statusText().toStdString();
    delete exporter;
  }
  // The new machine: no image, no stored password.
  BackupVolume::setImageURL(home_.path() + "/nothing-here");
  EXPECT_TRUE(PasswordVault::removeStored());
  PasswordVault::clearCachedPassword();

  USBMigrationSheet* sheet = open(USBMigrationSheet::Mode::importPkg);
  EXPECT_EQ(named<Label>(sheet, "usbTitle")->text(), "Import from USB");
  ASSERT_TRUE(waitUntil([&] { return sheet->session().preview().has_value(); }, std::chrono::seconds(20)));
  EXPECT_EQ(named<Label>(sheet, "usbRowSourceDevice")->text(), BackupManifest::currentDeviceName());
  EXPECT_EQ(named<Label>(sheet, "usbRowOS")->text(), BackupManifest::currentOSVersion());
  EXPECT_FALSE(named<Label>(sheet, "usbRowBackupSize")->text().isEmpty());
  EXPECT_FALSE(named<QWidget>(sheet, "usbPackageDetails")->isHidden());

  test::shoot(sheet, "usb-import-preview");
  auto* password = named<QLineEdit>(sheet, "usbPassword");
  auto* action = named<PrimaryButton>(sheet, "usbAction");
  EXPECT_FALSE(action->isEnabled()) << "no password typed yet";
  password->setText("wrong-password");
  action->click();
  EXPECT_EQ(action->label(), "Importing…");
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isRunning(); }, std::chrono::seconds(60)));
  EXPECT_FALSE(sheet->session().isDone());
  // Said in the window's language; gocryptfs's own words only behind Details.
  EXPECT_EQ(sheet->session().statusText(), "The password is wrong: the encrypted backup image stays locked.");
  EXPECT_TRUE(sheet->session().statusIsFailure());
  auto* details = named<DetailsDisclosure>(sheet, "usbStatusDetails");
  EXPECT_FALSE(details->isHidden());
  EXPECT_FALSE(details->details().isEmpty());
  EXPECT_FALSE(sheet->session().statusText().contains(details->details()));
  EXPECT_TRUE(password->text().isEmpty());
  EXPECT_FALSE(PasswordVault::openStored().has_value()) << "a refused password is not kept";

  password->setText("right-password");
  action->click();
  ASSERT_TRUE(waitUntil([&] { return !sheet->session().isRunning(); }, std::chrono::seconds(60)));
  ASSERT_TRUE(sheet->session().isDone()) << sheet->session().statusText().toStdString();
  EXPECT_THAT(sheet->session().statusText().toStdString(), ::testing::StartsWith("✓ Imported the encrypted backup image into "));
  EXPECT_TRUE(BackupVolume::exists());
  EXPECT_EQ(BackupVolume::imageURL(), BackupVolume::defaultImagePath());
  PasswordVault::clearCachedPassword();
  EXPECT_EQ(PasswordVault::openStored(), QStringLiteral("right-password"));
  EXPECT_TRUE(password->isHidden());
}

}  // namespace
}  // namespace tlr
