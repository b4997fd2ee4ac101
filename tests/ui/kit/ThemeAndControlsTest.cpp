// The palette, the resolved scheme, the sheet base and the painted controls.
#include "core/SettingsStore.h"
#include "support/TestSupport.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/Theme.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

using namespace tlr;

TEST(ThemeRoles, EachSchemeTakesItsColumn) {
  const Theme::Roles dark = Theme::roles(ColorScheme::dark);
  const Theme::Roles light = Theme::roles(ColorScheme::light);
  EXPECT_EQ(dark.background, QColor(0x14, 0x17, 0x1F));
  EXPECT_EQ(light.background, QColor(0xF8, 0xF9, 0xFB));
  EXPECT_EQ(dark.accent, QColor(0x60, 0xA5, 0xFA));
  EXPECT_EQ(light.accent, QColor(0x3B, 0x82, 0xF6));
  EXPECT_EQ(dark.brandEnd, QColor(0x22, 0xD3, 0xEE));
  EXPECT_EQ(light.brandEnd, QColor(0x06, 0xB6, 0xD4));
  EXPECT_EQ(dark.working, QColor(0x4A, 0xDE, 0x80));
  EXPECT_EQ(light.working, QColor(0x16, 0xA3, 0x4A)) << "the darker green serves the light scheme";
  EXPECT_EQ(dark.crash, light.crash);
  EXPECT_EQ(dark.card, QColor(0x1C, 0x20, 0x30));
  EXPECT_EQ(dark.cardHover, QColor(0x23, 0x28, 0x42));
  EXPECT_EQ(light.card, QColor(Qt::white));
  EXPECT_EQ(light.cardHover, QColor(Qt::white));
  EXPECT_EQ(dark.textFaint, light.textDim) << "#5D606E serves both";
  EXPECT_EQ(light.textFaint, QColor(0x94, 0x98, 0xA4));
  EXPECT_EQ(dark.contrast(0.06).rgb(), QColor(Qt::white).rgb());
  EXPECT_EQ(dark.contrast(0.06).alpha(), qRound(0.06 * 255));
  EXPECT_EQ(light.contrast(0.06).rgb(), QColor(Qt::black).rgb());
}

TEST(AppearanceResolution, ForcedSchemesIgnoreTheDesktopAndSystemFollowsIt) {
  Appearance appearance;
  QSignalSpy changes(&appearance, &Appearance::schemeChanged);
  appearance.setFallbackScheme(ColorScheme::light);
  EXPECT_EQ(appearance.scheme(), ColorScheme::light);
  appearance.setDesktopScheme(ColorScheme::dark);
  EXPECT_EQ(appearance.scheme(), ColorScheme::dark) << "system follows the desktop";
  appearance.setPreference(AppearancePreference::light);
  EXPECT_EQ(appearance.scheme(), ColorScheme::light);
  appearance.setPreference(AppearancePreference::dark);
  appearance.setDesktopScheme(ColorScheme::light);
  EXPECT_EQ(appearance.scheme(), ColorScheme::dark) << "dark stays forced";
  appearance.setPreference(AppearancePreference::system);
  EXPECT_EQ(appearance.scheme(), ColorScheme::light);
  appearance.setDesktopScheme(std::nullopt);
  appearance.setFallbackScheme(ColorScheme::dark);
  EXPECT_EQ(appearance.scheme(), ColorScheme::dark) << "no desktop preference: the palette's lightness";
  // light→dark, dark→light, light→dark(forced), dark→light, light→dark: one
  // signal per actual change, none for settings that changed nothing.
  EXPECT_EQ(changes.count(), 5);
}

TEST(AppearanceResolution, TheSharedInstanceFollowsTheSettingsStoreAndPaintsThePalette) {
  test::TempHome home;
  Appearance& shared = Appearance::shared();
  SettingsStore::shared().setAppearance(AppearancePreference::dark);
  EXPECT_EQ(shared.scheme(), ColorScheme::dark);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::appBgDark);
  SettingsStore::shared().setAppearance(AppearancePreference::light);
  EXPECT_EQ(shared.scheme(), ColorScheme::light);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::appBgLight);
  SettingsStore::shared().setAppearance(AppearancePreference::system);
}

namespace {

class TestSheet final : public Sheet {
 public:
  explicit TestSheet(QWidget* parent) : Sheet(QSize(300, 200), parent) {}
};

}  // namespace

TEST(SheetBase, EscAndCloseRequestsGoThroughOnCloseAndOnlyDismissCloses) {
  QWidget window;
  window.resize(600, 400);
  window.show();
  auto* sheet = new TestSheet(&window);
  int closes = 0;
  sheet->setOnClose([&closes] { ++closes; });
  sheet->present();
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
  EXPECT_EQ(sheet->size(), QSize(300, 200));
  EXPECT_EQ(sheet->minimumSize(), sheet->maximumSize()) << "fixed size";
  EXPECT_FALSE(sheet->windowFlags() & Qt::WindowCloseButtonHint);

  QTest::keyClick(sheet, Qt::Key_Escape);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(sheet->isVisible()) << "the presenter decides";
  EXPECT_FALSE(sheet->close()) << "a window-close request is refused";
  EXPECT_EQ(closes, 2);
  EXPECT_TRUE(sheet->isVisible());

  QPointer<TestSheet> alive(sheet);
  sheet->setOnClose([sheet] { sheet->dismiss(); });
  QTest::keyClick(sheet, Qt::Key_Escape);
  EXPECT_FALSE(sheet->isVisible());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull()) << "deleted after dismissal";
}

TEST(SheetBase, GuardedCompletionDoesNothingAfterTheSheetWasDeleted) {
  auto* sheet = new TestSheet(nullptr);
  int calls = 0;
  auto completion = guarded(sheet, [&calls](TestSheet* s, int value) {
    calls += value;
    s->setWindowTitle(QStringLiteral("done"));
  });
  completion(2);
  EXPECT_EQ(calls, 2);
  delete sheet;
  completion(5);
  EXPECT_EQ(calls, 2);
}

TEST(PaintedControls, AmpersandIsShownAndNeverAMnemonic) {
  PrimaryButton button(QStringLiteral("Back up & Restore"), QStringLiteral("book"));
  EXPECT_EQ(button.label(), QStringLiteral("Back up & Restore"));
  EXPECT_EQ(button.accessibleName(), QStringLiteral("Back up & Restore"));
  EXPECT_TRUE(button.shortcut().isEmpty()) << "no Alt+R shortcut";
  button.setLabel(QStringLiteral("&Quit"));
  EXPECT_TRUE(button.shortcut().isEmpty());
  EXPECT_EQ(button.accessibleName(), QStringLiteral("&Quit"));

  int clicks = 0;
  QObject::connect(&button, &QAbstractButton::clicked, [&clicks] { ++clicks; });
  button.resize(button.sizeHint());
  button.show();
  QTest::mouseClick(&button, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
}

TEST(PaintedControls, TextsArePlainAndNamedForAssistiveTools) {
  Label label(QStringLiteral("<b>agent</b> & co"), 13);
  EXPECT_EQ(label.textFormat(), Qt::PlainText);
  EXPECT_EQ(label.accessibleName(), QStringLiteral("<b>agent</b> & co"));
  SectionTitle title(QStringLiteral("Appearance"));
  EXPECT_EQ(title.shownText(), QStringLiteral("APPEARANCE"));
  EXPECT_EQ(title.accessibleName(), QStringLiteral("APPEARANCE"));
  SectionTitle chinese(QStringLiteral("外观"));
  EXPECT_EQ(chinese.shownText(), QStringLiteral("外观"));
  CloseButton close(QStringLiteral("Close"));
  EXPECT_EQ(close.accessibleName(), QStringLiteral("Close"));
  EXPECT_EQ(close.size(), QSize(24, 24));
  ToggleSwitch toggle(QStringLiteral("Auto-start at login"));
  EXPECT_TRUE(toggle.isCheckable());
  toggle.show();
  QTest::mouseClick(&toggle, Qt::LeftButton);
  EXPECT_TRUE(toggle.isChecked());
}

TEST(PaintedControls, SelectedPillPaintsTheBrandGradientUnselectedTheCard) {
  Appearance::shared();
  SettingsStore::shared().setAppearance(AppearancePreference::light);
  PillButton pill(QStringLiteral("Light"));
  pill.resize(pill.sizeHint());
  QImage img(pill.size(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  pill.render(&img);
  EXPECT_EQ(img.pixelColor(3, pill.height() / 2).rgb(), QColor(Qt::white).rgb()) << "card colour, light";
  pill.setSelected(true);
  img.fill(Qt::transparent);
  pill.render(&img);
  const QColor left = img.pixelColor(3, pill.height() / 2);
  EXPECT_NEAR(left.blue(), 240, 15);
  EXPECT_LT(left.red(), 120) << "brand blue";
  SettingsStore::shared().setAppearance(AppearancePreference::system);
}
