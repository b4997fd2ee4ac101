// The backup windows as drawn, in both schemes: each paints the scheme's
// background under every edge and its title in the scheme's text colour.
#include "core/stores/SettingsStore.h"
#include "ui/backup/FirstTimeSetupSheet.h"
#include "ui/backup/PasswordPromptDialog.h"
#include "ui/kit/Theme.h"

#include "support/TestSupport.h"
#include "support/gui/ApplicationLook.h"
#include "ui/backup/BackupUiTestSupport.h"

#include <QImage>

#include <gtest/gtest.h>

namespace tlr {
namespace {

bool near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 && std::abs(a.blue() - b.blue()) <= 3;
}

// Whether some pixel of `area` is close to `color`.
bool anyPixel(const QImage& image, const QRect& area, const QColor& color) {
  const qreal dpr = image.devicePixelRatio();
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (near(image.pixelColor(QPoint(qRound(x * dpr), qRound(y * dpr))), color)) return true;
    }
  }
  return false;
}

class BackupLookTest : public ::testing::TestWithParam<AppearancePreference> {
 protected:
  void SetUp() override { look_.set(GetParam()); }
  bool dark() const { return GetParam() == AppearancePreference::dark; }
  test::TempHome home_;
  test::ApplicationLook look_;
};

TEST_P(BackupLookTest, TheSetupSheetPaintsItsBackgroundAndTitle) {
  FirstTimeSetupSheet sheet({}, {}, SettingsStore::shared());
  sheet.show();
  const QImage shot = test::shoot(&sheet, dark() ? "first-time-setup-dark" : "first-time-setup-light");
  const Theme::Roles roles = Theme::roles(dark() ? ColorScheme::dark : ColorScheme::light);
  const qreal dpr = shot.devicePixelRatio();
  for (const QPoint corner : {QPoint(1, 1), QPoint(sheet.width() - 2, sheet.height() - 2)}) {
    EXPECT_TRUE(near(shot.pixelColor(QPoint(qRound(corner.x() * dpr), qRound(corner.y() * dpr))), roles.background));
  }
  QWidget* title = sheet.findChild<QWidget*>(QStringLiteral("firstSetupTitle"));
  ASSERT_NE(title, nullptr);
  EXPECT_TRUE(anyPixel(shot, QRect(title->mapTo(&sheet, QPoint(0, 0)), title->size()), roles.text));
}

TEST_P(BackupLookTest, ThePasswordPromptPaintsTheSchemesBackground) {
  PasswordPromptDialog dialog(LocKey::vaultUnlockForBackup());
  dialog.show();
  const QImage shot = test::shoot(&dialog, dark() ? "password-prompt-dark" : "password-prompt-light");
  const Theme::Roles roles = Theme::roles(dark() ? ColorScheme::dark : ColorScheme::light);
  EXPECT_TRUE(near(shot.pixelColor(QPoint(2, 2)), roles.background));
  dialog.reject();
}

INSTANTIATE_TEST_SUITE_P(Schemes, BackupLookTest,
                         ::testing::Values(AppearancePreference::light, AppearancePreference::dark));

}  // namespace
}  // namespace tlr
