// The palette, the resolved scheme, the sheet base and the painted controls.
#include "core/stores/SettingsStore.h"
#include "support/TestSupport.h"
#include "support/gui/ApplicationLook.h"
#include "support/gui/AssistiveTool.h"
#include "support/gui/ReadableTexts.h"
#include "support/gui/WrappedLines.h"
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/DetailsDisclosure.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/StatusLight.h"
#include "ui/kit/Theme.h"

#include <QAccessible>
#include <QApplication>
#include <QBoxLayout>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtMath>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>
#include <memory>

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
  EXPECT_EQ(light.textDim, QColor(0x5D, 0x60, 0x6E));
  EXPECT_EQ(dark.contrast(0.06).rgb(), QColor(Qt::white).rgb());
  EXPECT_EQ(dark.contrast(0.06).alpha(), qRound(0.06 * 255));
  EXPECT_EQ(light.contrast(0.06).rgb(), QColor(Qt::black).rgb());
}

namespace {

// WCAG 2 relative luminance and contrast ratio; `over` is opaque, `c` is
// laid over it at its own opacity.
double luminance(const QColor& c) {
  const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
double contrast(const QColor& c, const QColor& over) {
  const double a = c.alphaF();
  const QColor seen = QColor::fromRgbF(c.redF() * a + over.redF() * (1 - a), c.greenF() * a + over.greenF() * (1 - a),
                                       c.blueF() * a + over.blueF() * (1 - a));
  const double l1 = luminance(seen), l2 = luminance(over);
  return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

// The strongest contrast a pixel of `button`'s label reaches against its
// face, the button drawn on `ground`.
double labelContrast(QWidget& button, const QColor& ground) {
  button.resize(button.sizeHint());
  QImage image(button.size(), QImage::Format_ARGB32);
  image.fill(ground);
  button.render(&image, {}, {}, QWidget::DrawChildren);
  const QColor face = image.pixelColor(4, image.height() / 2);  // inside the edge, before the label
  double strongest = 1;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) strongest = std::max(strongest, contrast(image.pixelColor(x, y), face));
  return strongest;
}

// A status light of 13 on `ground` at full breath, in the scheme in effect:
// the lamp's mean colour and the halo just beside it.
std::pair<QColor, QColor> lampOnHalo(LightState state, const QColor& ground) {
  QImage img(QSize(33, 33), QImage::Format_ARGB32);
  img.fill(ground);
  QPainter p(&img);
  StatusLight::paintLight(p, QPointF(16.5, 16.5), state, 13, 1);
  p.end();
  double red = 0, green = 0, blue = 0;
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (std::hypot(x + 0.5 - 16.5, y + 0.5 - 16.5) <= 5.5) {
        const QColor c = img.pixelColor(x, y);
        red += c.redF(), green += c.greenF(), blue += c.blueF(), ++n;
      }
  return {QColor::fromRgbF(red / n, green / n, blue / n), img.pixelColor(16 + 8, 16)};
}

}  // namespace

TEST(ThemeRoles, TextsReachFourAndAHalfAndIconsThreeToOneInBothSchemes) {
  test::ApplicationLook look;
  for (const ColorScheme scheme : {ColorScheme::light, ColorScheme::dark}) {
    const Theme::Roles r = Theme::roles(scheme);
    SCOPED_TRACE(r.dark ? "dark" : "light");
    look.set(r.dark ? AppearancePreference::dark : AppearancePreference::light);
    const QLinearGradient filled = r.filledGradient({0, 0}, {1, 1});
    const QColor filledStops[] = {filled.stops().first().second, filled.stops().last().second};
    struct Pair {
      const char* what;
      QColor foreground;
      QColor background;
      double least;
    };
    std::vector<Pair> pairs;
    for (const auto& [where, ground] : {std::pair{"background", r.background}, std::pair{"card", r.card},
                                        std::pair{"highlighted card", r.cardHover}}) {
      for (const auto& [what, text] : {std::pair{"text", r.text}, std::pair{"dim text", r.textDim},
                                       std::pair{"faint text", r.textFaint}, std::pair{"accent text", r.accentText}})
        pairs.push_back({what, text, ground, 4.5});
      // The status texts keep the hue of their status colour.
      for (const auto& [what, text, hue] : {std::tuple{"a failure text (red)", r.crashText, r.crash},
                                            std::tuple{"a warning text (orange)", r.warningText, Theme::orange},
                                            std::tuple{"a caution text (amber)", r.cautionText, Theme::amber},
                                            std::tuple{"a success text (green)", r.workingText, r.working}}) {
        pairs.push_back({what, text, ground, 4.5});
        EXPECT_NEAR(text.hslHueF(), hue.hslHueF(), 0.01) << what;
      }
      // The status colour's tint at its strongest (a row's state pill, the
      // warning boxes and banners take 0.10–0.15).
      const auto tinted = [&ground](const QColor& hue) {
        const double a = 0.15;
        return QColor::fromRgbF(hue.redF() * a + ground.redF() * (1 - a), hue.greenF() * a + ground.greenF() * (1 - a),
                                hue.blueF() * a + ground.blueF() * (1 - a));
      };
      // A dim text on the accent's tint at its strongest (0.12: a tinted
      // panel's title and lines) on the window and a card.
      if (ground != r.cardHover)
        pairs.push_back({"dim text on the accent's tint", r.textDim, Theme::laidOn(Theme::withOpacity(r.accent, 0.12), ground), 4.5});
      // A status text on its own colour's tint (a row's state pill, a
      // warning box).
      for (const auto& [tint, text] : {std::pair{r.crash, r.crashText}, std::pair{r.working, r.workingText},
                                       std::pair{Theme::orange, r.warningText}, std::pair{Theme::amber, r.cautionText}})
        pairs.push_back({"a status text on its tint", text, tinted(tint), 4.5});
      // The status symbols (failure and success marks, warning signs, the
      // lock mark) keep their status colour's hue, on the ground and on
      // their own tint; a failed step's mark is faded to 0.8.
      for (const auto& [what, symbol, hue] :
           {std::tuple{"a failure mark (red)", r.crashSymbol, r.crash},
            std::tuple{"a failed step's mark (red, faded)", Theme::withOpacity(r.crashSymbol, 0.8), r.crash},
            std::tuple{"a warning sign (orange)", r.warningSymbol, Theme::orange},
            std::tuple{"the lock mark (amber)", r.cautionSymbol, Theme::amber},
            std::tuple{"a success mark (green)", r.workingSymbol, Theme::working}}) {
        pairs.push_back({what, symbol, ground, 3.0});
        pairs.push_back({what, symbol, tinted(hue), 3.0});
        EXPECT_NEAR(symbol.hslHueF(), hue.hslHueF(), 0.01) << what;
      }
      // A working or recovering agent's status light, against its own halo;
      // in the light scheme a stopped agent's grey one too (in the dark
      // scheme its dark grey sits low on purpose, the row's state saying it).
      for (const LightState state : {LightState::working, LightState::recovering, LightState::idle}) {
        if (state == LightState::idle && r.dark) continue;
        const auto [lamp, halo] = lampOnHalo(state, ground);
        pairs.push_back({"a status light on its halo", lamp, halo, 3.0});
      }
      pairs.push_back({"the (i) symbol at rest (faint)", r.textFaint, ground, 3.0});
      pairs.push_back({"the focus ring (accent)", r.accent, ground, 3.0});
    }
    for (const QColor& stop : filledStops) {
      pairs.push_back({"white on a filled control", Qt::white, stop, 4.5});
      pairs.push_back({"the highlighted card's lighter white", Theme::withOpacity(Qt::white, 0.92), stop, 4.5});
    }
    EXPECT_EQ(roleColor(TextRole::accent), r.accentText) << "links and accent labels use the text shade";
    EXPECT_EQ(roleColor(TextRole::failure), r.crashText);
    EXPECT_EQ(roleColor(TextRole::warning), r.warningText);
    EXPECT_EQ(roleColor(TextRole::caution), r.cautionText);
    EXPECT_EQ(roleColor(TextRole::success), r.workingText);
    // A label in a colour of its own on a face tinted with it (Stop's red,
    // Open Console's blue, Launch's green), on the window and on a card.
    for (const auto& [what, color] : {std::pair{"red", Theme::destructive}, std::pair{"blue", QColor(10, 132, 255)},
                                      std::pair{"green", QColor(52, 199, 89)}})
      for (const QColor& ground : {r.background, r.card}) {
        SecondaryButton tinted(QStringLiteral("Stop"), QStringLiteral("stop.fill"), color);
        EXPECT_GE(labelContrast(tinted, ground), 4.5) << what << " label on " << ground.name().toStdString();
      }
    // Measured as drawn, opacity and all: a red label at 0.85 on no face of
    // its own (Uninstall), and an agent's kind chip (the dim text at 0.85 on
    // a faint fill) on the window, a card and a highlighted card.
    for (const QColor& ground : {r.background, r.card, r.cardHover}) {
      SecondaryButton outlined(QStringLiteral("Uninstall"), QStringLiteral("trash"));
      outlined.setColors([] {
        return SecondaryButton::Colors{Theme::withOpacity(Theme::destructive, 0.85), QColor(Qt::transparent),
                                       Theme::withOpacity(Theme::destructive, 0.35)};
      });
      KindChip chip;
      chip.setText(QStringLiteral("CLI"));
      for (QWidget* label : {static_cast<QWidget*>(&outlined), static_cast<QWidget*>(&chip)}) {
        const QList<double> lines = test::drawnOn(*label, ground);
        ASSERT_FALSE(lines.isEmpty()) << label->accessibleName().toStdString();
        for (const double ratio : lines)
          EXPECT_GE(ratio, 4.5) << label->accessibleName().toStdString() << " on " << ground.name().toStdString();
      }
    }
    // An alert's red answer: white on its face.
    {
      QWidget window;
      window.resize(480, 320);
      Alert alert(QStringLiteral("Uninstall?"), QString(), &window);
      PaintedButton* red = alert.addButton(QStringLiteral("Uninstall"), Alert::Role::destructive);
      EXPECT_GE(labelContrast(*red, r.background), 4.5) << "an alert's red answer";
    }
    for (const Pair& pair : pairs)
      EXPECT_GE(contrast(pair.foreground, pair.background), pair.least)
          << pair.what << " " << pair.foreground.name().toStdString() << " on " << pair.background.name().toStdString();
  }
}

// A coloured text on a ground it does not read on is drawn in the nearest
// shade of its own hue that does, on every ground it lies on, at the
// opacity it is drawn at.
TEST(ThemeLegibleOn, KeepsAReadableColourElseTakesTheNearestShadeOfItsHueThatReadsEverywhere) {
  const QColor white(Qt::white), paper = Theme::appBgLight, night = Theme::appBgDark, mid(150, 150, 150);
  const auto least = [](const QColor& c, std::initializer_list<QColor> grounds) {
    double lowest = 21;
    for (const QColor& g : grounds) lowest = std::min(lowest, Theme::contrastRatio(Theme::laidOn(c, g), g));
    return lowest;
  };
  // Readable as it is, or nothing to read it on: kept exactly.
  EXPECT_EQ(Theme::legibleOn(Theme::textLight, {white, paper}), Theme::textLight);
  EXPECT_EQ(Theme::legibleOn(Theme::destructive, {}), Theme::destructive);
  // Red on white and the light ground: darker, the same hue, reading on
  // both, and no darker than it must be.
  const QColor onLight = Theme::legibleOn(Theme::destructive, {white, paper});
  EXPECT_NEAR(onLight.hslHueF(), Theme::destructive.hslHueF(), 0.01);
  EXPECT_LT(onLight.lightnessF(), Theme::destructive.lightnessF());
  EXPECT_GE(least(onLight, {white, paper}), 4.5);
  EXPECT_LT(least(onLight, {white, paper}), 4.8);
  // On dark grounds it turns lighter instead.
  const QColor blueish(30, 60, 160);
  const QColor onDark = Theme::legibleOn(blueish, {night, Theme::cardDark});
  EXPECT_GT(onDark.lightnessF(), blueish.lightnessF());
  EXPECT_NEAR(onDark.hslHueF(), blueish.hslHueF(), 0.01);
  EXPECT_GE(least(onDark, {night, Theme::cardDark}), 4.5);
  EXPECT_LT(least(onDark, {night, Theme::cardDark}), 4.8);
  // Every ground counts: a grey that reads on white but not on mid grey.
  const QColor grey(90, 90, 90);
  ASSERT_GE(Theme::contrastRatio(grey, white), 4.5);
  EXPECT_EQ(Theme::legibleOn(grey, {white}), grey) << "it reads already: not a shade darker";
  EXPECT_EQ(Theme::legibleOn(Theme::withOpacity(grey, 0.9), {white}), Theme::withOpacity(grey, 0.9));
  EXPECT_GE(least(Theme::legibleOn(grey, {white, mid}), {white, mid}), 4.5);
  // Drawn faded it is measured faded, and keeps its opacity: the dim text
  // at 0.85 reads opaque on white, not at 0.85 on a faint fill.
  const QColor chip = Theme::laidOn(Theme::withOpacity(Qt::black, 0.05), white);
  const QColor faded = Theme::withOpacity(Theme::textDimLight, 0.85);
  ASSERT_LT(least(faded, {chip}), 4.5);
  const QColor shade = Theme::legibleOn(faded, {chip});
  EXPECT_NEAR(shade.alphaF(), 0.85, 0.01);
  EXPECT_GE(least(shade, {chip}), 4.5);
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

// The scheme reaches widgets through the application palette, the language
// through LanguageChange events relayed from the settings a test hands in.
TEST(AppearanceResolution, TheSchemeReachesWidgetsThroughThePaletteAndTheLanguageFromTheSettings) {
  test::TempHome home;
  test::ApplicationLook look;
  SettingsStore settings;
  relayLanguageChanges(settings);
  QWidget window;
  auto* child = new QWidget(&window);
  int windowChanges = 0, childChanges = 0;
  whenLookChanges(&window, [&windowChanges] { ++windowChanges; });
  whenLookChanges(child, [&childChanges] { ++childChanges; });

  look.set(AppearancePreference::dark);
  EXPECT_EQ(look.appearance().scheme(), ColorScheme::dark);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::appBgDark);
  EXPECT_TRUE(Theme::current().dark);
  EXPECT_EQ(windowChanges, 1) << "told before the setting returns, once";
  EXPECT_EQ(childChanges, 1);
  QPalette own = child->palette();
  own.setColor(QPalette::Base, Qt::red);
  child->setPalette(own);
  EXPECT_EQ(childChanges, 1) << "a widget's own palette is no change of scheme";

  look.set(AppearancePreference::light);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::appBgLight);
  EXPECT_FALSE(Theme::current().dark);
  EXPECT_EQ(windowChanges, 2);
  EXPECT_EQ(childChanges, 2);

  settings.setLanguage(settings.language() == AppLanguage::en ? AppLanguage::zh : AppLanguage::en);
  EXPECT_EQ(windowChanges, 3);
  EXPECT_EQ(childChanges, 3);
}

namespace {

class TestSheet final : public Sheet {
 public:
  explicit TestSheet(QWidget* parent) : Sheet(QSize(300, 200), parent) {
    auto* row = new QHBoxLayout(this);
    for (const char* name : {"first", "second"}) {
      auto* button = new SecondaryButton(QString::fromLatin1(name), QString(), std::nullopt, this);
      button->setObjectName(QString::fromLatin1(name));
      connect(button, &QAbstractButton::clicked, this, [this, name] { pressed << QString::fromLatin1(name); });
      row->addWidget(button);
    }
    // Reached by a click only; Return there is the sheet's.
    auto* field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("field"));
    field->setFocusPolicy(Qt::ClickFocus);
    row->addWidget(field);
    auto* label = new Label(QStringLiteral("Faulted"), 13, QFont::Normal, TextRole::primary, this);
    label->setObjectName(QStringLiteral("label"));
    row->addWidget(label);
  }
  QStringList pressed;
};

// A window that holds sheets, as the main window does.
class TestHost final : public QWidget {
  Q_OBJECT
 public:
  TestHost() {
    static const bool accessible = (QAccessible::installFactory([](const QString& className, QObject* object) -> QAccessibleInterface* {
      return className == QLatin1String("TestHost") ? new SheetHostAccessible(static_cast<QWidget*>(object),
                                                                               QAccessible::Window)
                                                    : nullptr;
    }), true);
    Q_UNUSED(accessible);
  }
};

}  // namespace

// A sheet is drawn inside its window over the dimmed content: no window of
// its own for a window manager to minimise or move, the content under it
// unreachable by click or Tab, Esc and close requests going to the presenter.
TEST(SheetBase, ASheetIsDrawnInsideItsWindowAndOnlyItsPresenterClosesIt) {
  test::ApplicationLook look;  // the application's palette and style sheet
  TestHost window;
  window.resize(600, 400);
  auto* under = new SecondaryButton(QStringLiteral("under"), QString(), std::nullopt, &window);
  under->setGeometry(0, 0, 600, 400);
  int underClicks = 0;
  QObject::connect(under, &QAbstractButton::clicked, [&underClicks] { ++underClicks; });
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  under->setFocus();
  EXPECT_TRUE(test::reachableInTree(&window, under));
  auto* sheet = new TestSheet(&window);
  int closes = 0;
  sheet->setOnClose([&closes] { ++closes; });
  // A colour set before it opens stays once it is polished again inside the
  // window.
  sheet->ensurePolished();
  auto* label = sheet->findChild<Label*>(QStringLiteral("label"));
  label->setColor(Theme::crash);
  sheet->present();
  EXPECT_EQ(label->palette().color(QPalette::WindowText), Theme::crash);
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_TRUE(sheet->isEmbedded());
  EXPECT_FALSE(sheet->isWindow()) << "no window of its own";
  EXPECT_EQ(sheet->window(), &window);
  EXPECT_EQ(sheet->size(), QSize(300, 200));
  EXPECT_EQ(sheet->mapTo(&window, QPoint()), QPoint(150, 100)) << "centred";

  EXPECT_FALSE(test::reachableInTree(&window, under)) << "nor is it there for assistive tools";
  EXPECT_TRUE(test::reachableInTree(&window, sheet->findChild<QWidget*>(QStringLiteral("first"))));
  ASSERT_NE(window.childAt(10, 10), under);
  QTest::mouseClick(window.childAt(10, 10), Qt::LeftButton, {}, QPoint(1, 1));
  EXPECT_EQ(underClicks, 0) << "the content under the sheet takes no click";
  auto* first = sheet->findChild<QWidget*>(QStringLiteral("first"));
  auto* second = sheet->findChild<QWidget*>(QStringLiteral("second"));
  EXPECT_EQ(QApplication::focusWidget(), first) << "the focus moved into the sheet";
  EXPECT_TRUE(static_cast<PaintedButton*>(first)->showsFocus()) << "and shows where it is";
  for (QWidget* expected : {second, first, second}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), expected) << "Tab stays inside the sheet";
  }
  // Return and the keypad's Enter press the focused button; in a field they
  // press the default button, none when there is none.
  QTest::keyClick(second, Qt::Key_Return);
  QTest::keyClick(second, Qt::Key_Enter, Qt::KeypadModifier);
  auto* field = sheet->findChild<QLineEdit*>(QStringLiteral("field"));
  field->setFocus(Qt::MouseFocusReason);
  QTest::keyClick(field, Qt::Key_Return);
  sheet->setDefaultButton(static_cast<QAbstractButton*>(first));
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(sheet->pressed, QStringList({"second", "second", "first"}));
  EXPECT_EQ(closes, 0);
  second->setFocus(Qt::TabFocusReason);

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(closes, 1);
  EXPECT_TRUE(sheet->isVisible()) << "the presenter decides";
  EXPECT_FALSE(sheet->close()) << "a close request is refused";
  EXPECT_EQ(closes, 2);
  EXPECT_TRUE(sheet->isVisible());

  QPointer<TestSheet> alive(sheet);
  sheet->setOnClose([sheet] { sheet->dismiss(); });
  QTest::keyClick(sheet, Qt::Key_Escape);
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), under) << "the focus goes back where it was";
  EXPECT_TRUE(under->showsFocus()) << "and shows where it is";
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(alive.isNull()) << "deleted after dismissal";
  QTest::mouseClick(under, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(underClicks, 1) << "the content is reachable again";
  EXPECT_TRUE(test::reachableInTree(&window, under)) << "by assistive tools too";

  // Without a shown window it is a window-modal dialog without a close button.
  TestSheet loose(nullptr);
  loose.present();
  EXPECT_TRUE(loose.isWindow());
  EXPECT_TRUE(loose.isModal());
  EXPECT_FALSE(loose.windowFlags() & Qt::WindowCloseButtonHint);
  loose.dismiss();
}

// The focus stays with what the user pressed: a control that turns busy
// (disabled while its work runs) keeps it, ring and all, and Return does
// nothing meanwhile; usable again it has it back, and a control shown in
// its place takes it over. It never falls to the control that follows.
TEST(SheetBase, AFocusedControlThatTurnsBusyOrIsReplacedKeepsTheFocusFromWhatFollows) {
  test::ApplicationLook look;
  TestHost window;
  window.resize(600, 400);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* sheet = new TestSheet(&window);
  sheet->setOnClose([sheet] { sheet->dismiss(); });
  sheet->present();
  auto* first = sheet->findChild<SecondaryButton*>(QStringLiteral("first"));
  auto* second = sheet->findChild<SecondaryButton*>(QStringLiteral("second"));
  // Beside it, next in the order Tab goes: what takes its place.
  auto* replacement = new SecondaryButton(QStringLiteral("replacement"), QString(), std::nullopt, sheet);
  replacement->setObjectName(QStringLiteral("replacement"));
  QWidget::setTabOrder(first, replacement);
  replacement->hide();
  ASSERT_EQ(QApplication::focusWidget(), first);

  first->setEnabled(false);
  EXPECT_NE(QApplication::focusWidget(), second) << "not handed to what follows";
  EXPECT_TRUE(first->showsFocus()) << "its ring stays";
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_TRUE(sheet->pressed.isEmpty()) << "Return presses nothing meanwhile";
  first->setEnabled(true);
  EXPECT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == first; })) << "back when usable";
  EXPECT_TRUE(first->showsFocus());

  // Replaced while busy, and replaced while usable.
  for (const bool busy : {true, false}) {
    SCOPED_TRACE(busy ? "busy" : "usable");
    first->show();
    first->setEnabled(true);
    replacement->hide();
    first->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), first);
    if (busy) first->setEnabled(false);
    replacement->show();
    first->hide();
    EXPECT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == replacement; }))
        << "on " << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName().toStdString() : "nothing");
    EXPECT_TRUE(replacement->showsFocus());
    EXPECT_FALSE(first->showsFocus());
  }
  sheet->dismiss();
}

// The focus returns to the control that opened the sheet, also when a click
// opened it (a click gives a button no focus): with its ring after Esc,
// without one after a click closed it.
TEST(SheetBase, TheFocusReturnsToTheControlThatOpenedTheSheet) {
  test::ApplicationLook look;
  TestHost window;
  window.resize(600, 400);
  auto* column = new QVBoxLayout(&window);
  auto* plus = new SecondaryButton(QStringLiteral("plus"), QString(), std::nullopt, &window);
  auto* gear = new SecondaryButton(QStringLiteral("gear"), QString(), std::nullopt, &window);
  column->addWidget(plus);
  column->addWidget(gear);
  QPointer<TestSheet> sheet;
  QObject::connect(gear, &QAbstractButton::clicked, [&] {
    sheet = new TestSheet(&window);
    sheet->setOnClose([s = sheet.data()] { s->dismiss(); });
    sheet->present();
  });
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  plus->setFocus(Qt::ActiveWindowFocusReason);
  ASSERT_EQ(QApplication::focusWidget(), plus);

  QTest::mouseClick(gear, Qt::LeftButton);
  ASSERT_TRUE(sheet);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(QApplication::focusWidget(), gear) << "the button clicked, not the one the keyboard was on";
  EXPECT_TRUE(gear->showsFocus()) << "Esc shows where the focus is";

  QTest::mouseClick(gear, Qt::LeftButton);
  ASSERT_TRUE(sheet);
  QTest::mouseClick(sheet->findChild<QWidget*>(QStringLiteral("first")), Qt::LeftButton);
  sheet->requestClose();
  EXPECT_EQ(QApplication::focusWidget(), gear);
  EXPECT_FALSE(gear->showsFocus()) << "closed by a click: no ring";
}

// A control given the focus before its window is active (an alert the
// window manager activates after it is shown) shows its ring once the
// activation brings the focus; an alert's default button does.
TEST(PaintedControls, TheRingShowsWhenTheWindowsActivationBringsTheFocusGivenBefore) {
  test::ApplicationLook look;
  const auto activate = [](QWidget& w) {
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
  };
  QWidget other;
  other.show();
  ASSERT_TRUE(activate(other));

  QWidget window;
  window.setAttribute(Qt::WA_ShowWithoutActivating);
  auto* column = new QVBoxLayout(&window);
  auto* plain = new SecondaryButton(QStringLiteral("plain"), QString(), std::nullopt, &window);
  auto* asked = new SecondaryButton(QStringLiteral("asked"), QString(), std::nullopt, &window);
  column->addWidget(plain);
  column->addWidget(asked);
  window.show();
  ASSERT_FALSE(window.isActiveWindow());
  plain->setFocus(Qt::OtherFocusReason);
  ASSERT_TRUE(activate(window));
  EXPECT_EQ(QApplication::focusWidget(), plain);
  EXPECT_FALSE(plain->showsFocus()) << "a window activated again keeps what it showed";

  ASSERT_TRUE(activate(other));
  focusWithRing(asked);
  ASSERT_TRUE(activate(window));
  EXPECT_EQ(QApplication::focusWidget(), asked);
  EXPECT_TRUE(asked->showsFocus()) << "given with its ring before the activation";

  // An alert: the default (cancel) button has the keyboard, ring and all.
  ASSERT_TRUE(activate(other));
  auto* alert = new Alert(QStringLiteral("Turn off lock?"), QString(), &other);
  PaintedButton* cancel = alert->addButton(QStringLiteral("Cancel"), Alert::Role::cancel);
  alert->addButton(QStringLiteral("Confirm"), Alert::Role::destructive);
  alert->present();
  EXPECT_TRUE(test::waitUntil([&] { return QApplication::focusWidget() == cancel; }));
  EXPECT_TRUE(cancel->showsFocus());
  cancel->click();
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

// Every focusable control of the kit shows where the keyboard is: a ring in
// the scheme's accent colour, in both schemes, whether or not its face is of
// the accent colour itself (a selected pill, a ticked box, a switch that is on).
TEST(PaintedControls, EveryControlShowsTheKeyboardFocusInTheAccentColour) {
  test::ApplicationLook look;
  QWidget window;
  auto* column = new QVBoxLayout(&window);
  auto* pill = new PillButton(QStringLiteral("Dark"));
  pill->setSelected(true);
  auto* on = new ToggleSwitch(QStringLiteral("On"));
  on->showState(true);
  auto* ticked = new CheckBox(QStringLiteral("~/.cache"), [] { return Theme::current().accent; });
  ticked->showState(true);
  auto* panel = new PanelButton;
  panel->setColor(Theme::orange);
  panel->setMinimumSize(120, 40);
  const QList<QWidget*> controls{new PrimaryButton(QStringLiteral("Install")),
                                 new SecondaryButton(QStringLiteral("Restart"), QStringLiteral("arrow.clockwise")),
                                 pill,
                                 new CloseButton,
                                 new IconButton(QStringLiteral("gearshape"), QStringLiteral("Settings")),
                                 new LinkButton(QStringLiteral("Privacy policy")),
                                 panel,
                                 new ToggleSwitch(QStringLiteral("Off")),
                                 on,
                                 new CheckBox(QStringLiteral("~/.data"), [] { return Theme::current().accent; }),
                                 ticked};
  for (QWidget* control : controls) column->addWidget(control);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  for (const AppearancePreference scheme : {AppearancePreference::light, AppearancePreference::dark}) {
    look.set(scheme);
    const QColor accent = Theme::current().accent;
    // Whether the ring runs along all four sides: the middle of each side,
    // one pixel in, is of the accent colour.
    const auto ringed = [&](const QImage& image) {
      const int w = image.width(), h = image.height();
      for (const QPoint at : {QPoint(w / 2, 1), QPoint(w / 2, h - 2), QPoint(1, h / 2), QPoint(w - 2, h / 2)}) {
        const QColor c = image.pixelColor(at);
        if (std::abs(c.red() - accent.red()) + std::abs(c.green() - accent.green()) +
                std::abs(c.blue() - accent.blue()) >= 60)
          return false;
      }
      return true;
    };
    for (QWidget* control : controls) {
      SCOPED_TRACE(control->metaObject()->className());
      control->setFocus(Qt::MouseFocusReason);
      const QImage byMouse = control->grab().toImage();
      control->clearFocus();
      control->setFocus(Qt::TabFocusReason);
      ASSERT_TRUE(control->hasFocus());
      const QImage byKeyboard = control->grab().toImage();
      EXPECT_TRUE(ringed(byKeyboard)) << "a ring of the accent colour round it";
      EXPECT_NE(byKeyboard, byMouse) << "from the keyboard only";
      control->clearFocus();
    }
  }
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
  // The close button names itself in the language its owner gives it, or by
  // its help while it holds one.
  CloseButton close;
  close.setLanguage(AppLanguage::en);
  EXPECT_EQ(close.accessibleName(), QStringLiteral("Close"));
  EXPECT_EQ(close.toolTip(), QStringLiteral("Close"));
  EXPECT_EQ(close.size(), QSize(24, 24));
  close.setLanguage(AppLanguage::zh);
  EXPECT_EQ(close.accessibleName(), QStringLiteral("关闭"));
  close.setHelp(QStringLiteral("Wait"));
  close.setLanguage(AppLanguage::en);
  EXPECT_EQ(close.accessibleName(), QStringLiteral("Wait"));
  EXPECT_EQ(close.toolTip(), QStringLiteral("Wait"));
  close.setHelp(QString());
  EXPECT_EQ(close.accessibleName(), QStringLiteral("Close"));
  ToggleSwitch toggle(QStringLiteral("Auto-start at login"));
  EXPECT_TRUE(toggle.isCheckable());
  toggle.show();
  QTest::mouseClick(&toggle, Qt::LeftButton);
  EXPECT_TRUE(toggle.isChecked());
}

TEST(PaintedControls, SelectedPillPaintsTheFilledGradientUnselectedTheCard) {
  test::ApplicationLook look;
  look.set(AppearancePreference::light);
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
  EXPECT_NEAR(left.blue(), 230, 15);
  EXPECT_LT(left.red(), 80) << "the filled gradient's deep blue";
  }

namespace {

QImage renderOnTransparent(QWidget& widget) {
  QImage img(widget.size(), QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  widget.render(&img, {}, {}, QWidget::RenderFlags());
  return img;
}

qint64 totalAlpha(const QImage& img) {
  qint64 sum = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) sum += qAlpha(img.pixel(x, y));
  return sum;
}

QColor over(const QColor& top, const QColor& below) {
  const qreal a = top.alphaF();
  return QColor::fromRgbF(top.redF() * a + below.redF() * (1 - a), top.greenF() * a + below.greenF() * (1 - a),
                          top.blueF() * a + below.blueF() * (1 - a));
}

}  // namespace

TEST(PaintedControls, DisabledButtonsAreDrawnClearlyFainter) {
  test::ApplicationLook look;
  for (const auto preference : {AppearancePreference::light, AppearancePreference::dark}) {
    look.set(preference);
    PrimaryButton primary(QStringLiteral("Back up now"), QStringLiteral("book"));
    primary.setGlow(true);
    SecondaryButton secondary(QStringLiteral("Change"), QStringLiteral("book"));
    PillButton pill(QStringLiteral("Dark"));
    pill.setSelected(true);
    IconButton icon(QStringLiteral("book"), QStringLiteral("Open"), 28);
    CloseButton close;
    LinkButton link(QStringLiteral("Details"), 12);
    ToggleSwitch toggle(QStringLiteral("Auto-start at login"));
    const std::vector<std::pair<const char*, QAbstractButton*>> buttons{
        {"primary", &primary}, {"secondary", &secondary}, {"pill", &pill},    {"icon", &icon},
        {"close", &close},     {"link", &link},           {"toggle", &toggle}};
    for (const auto& [name, button] : buttons) {
      button->resize(button->sizeHint());
      const QImage enabled = renderOnTransparent(*button);
      button->setEnabled(false);
      const QImage disabled = renderOnTransparent(*button);
      EXPECT_GT(totalAlpha(enabled), 0) << name;
      EXPECT_LT(totalAlpha(disabled), totalAlpha(enabled) / 2) << name << ": at most half as strong";
    }
    // The face itself fades, not only the label: a point of the gradient
    // clear of the text and of the glow.
    primary.setEnabled(true);
    const QPoint face(8 + 4, primary.height() / 2);
    const int enabledAlpha = renderOnTransparent(primary).pixelColor(face).alpha();
    primary.setEnabled(false);
    const int disabledAlpha = renderOnTransparent(primary).pixelColor(face).alpha();
    EXPECT_EQ(enabledAlpha, 255);
    EXPECT_LT(disabledAlpha, 128);
  }
  }

TEST(PaintedControls, ABusyButtonShowsATurningSpinnerInItsSymbolsPlaceAtFullStrength) {
  SecondaryButton withSymbol(QStringLiteral("Diagnose"), QStringLiteral("stethoscope"));
  SecondaryButton withoutSymbol(QStringLiteral("Fixing…"), QString());
  const QSize symbolSize = withSymbol.sizeHint();
  const QSize plainSize = withoutSymbol.sizeHint();
  withSymbol.resize(symbolSize);
  const QImage idle = renderOnTransparent(withSymbol);
  withSymbol.setBusy(true);
  withoutSymbol.setBusy(true);
  EXPECT_EQ(withSymbol.sizeHint(), symbolSize) << "the symbol's room holds the spinner";
  EXPECT_EQ(withoutSymbol.sizeHint().width(), plainSize.width() + 11 + 6) << "room made for the spinner";
  EXPECT_NE(renderOnTransparent(withSymbol), idle) << "the spinner stands in the symbol's place";

  // Busy and so not usable, it is drawn as strongly as when usable.
  const qint64 busy = totalAlpha(renderOnTransparent(withSymbol));
  withSymbol.setEnabled(false);
  EXPECT_EQ(totalAlpha(renderOnTransparent(withSymbol)), busy);
  withSymbol.setBusy(false);
  EXPECT_LT(totalAlpha(renderOnTransparent(withSymbol)), totalAlpha(idle) / 2);

  // It turns while shown.
  withoutSymbol.resize(withoutSymbol.sizeHint());
  withoutSymbol.show();
  const QImage first = withoutSymbol.grab().toImage();
  EXPECT_TRUE(QTest::qWaitFor([&] { return withoutSymbol.grab().toImage() != first; }, 2000));
}

TEST(PaintedControls, ADividerIsTheSeparatorOrALineOfItsOwnStrengthInEachScheme) {
  test::ApplicationLook look;
  for (const auto preference : {AppearancePreference::light, AppearancePreference::dark}) {
    look.set(preference);
    const Theme::Roles r = Theme::current();
    Divider separator;
    Divider faint(0.06, 0.2);
    for (Divider* line : {&separator, &faint}) {
      line->resize(40, 1);
      EXPECT_EQ(line->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
      EXPECT_EQ(line->maximumHeight(), 1);
    }
    EXPECT_EQ(renderOnTransparent(separator).pixelColor(20, 0).alpha(), r.separator().alpha());
    EXPECT_EQ(renderOnTransparent(faint).pixelColor(20, 0).alpha(), r.contrast(r.dark ? 0.06 : 0.2).alpha());
  }
  }

TEST(PaintedControls, APlainLinkButtonIsPaddedTextInItsRoleColourNamedByIt) {
  test::ApplicationLook look;
  look.set(AppearancePreference::light);
  LinkButton cancel(QStringLiteral("Cancel"), 12);
  cancel.setPlain(TextRole::dim);
  EXPECT_EQ(cancel.accessibleName(), QStringLiteral("Cancel"));
  const QFontMetricsF m(Theme::font(12));
  EXPECT_EQ(cancel.sizeHint(),
            QSize(qCeil(m.horizontalAdvance(QStringLiteral("Cancel"))) + 16, qCeil(m.height()) + 10));
  cancel.resize(cancel.sizeHint());
  const QImage img = renderOnTransparent(cancel);
  // The darkest ink is the dim text colour, not the accent of a link.
  QColor ink = Qt::transparent;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (img.pixelColor(x, y).alpha() > ink.alpha()) ink = img.pixelColor(x, y);
  EXPECT_GT(ink.alpha(), 200);
  const QColor dim = Theme::current().textDim;
  EXPECT_NEAR(ink.red(), dim.red(), 24);
  EXPECT_NEAR(ink.blue(), dim.blue(), 24);
  EXPECT_EQ(img.pixelColor(2, img.height() / 2).alpha(), 0) << "padded, no face";
  }

TEST(PaintedControls, AnIconTileFramesItsPictureInsetUnlessItIsAnApplicationsIcon) {
  test::ApplicationLook look;
  look.set(AppearancePreference::light);
  IconTile tile(40, 8, 10);
  EXPECT_EQ(tile.size(), QSize(40, 40));
  EXPECT_FALSE(tile.hasPicture());
  const QColor placeholder = renderOnTransparent(tile).pixelColor(20, 20);
  EXPECT_LT(std::abs(placeholder.red() - placeholder.blue()), 8) << "grey without a picture";
  EXPECT_LT(placeholder.red(), 240);

  QPixmap red(16, 16);
  red.fill(Qt::red);
  tile.setPicture(red, false);
  QImage img = renderOnTransparent(tile);
  EXPECT_EQ(img.pixelColor(20, 20).rgb(), QColor(Qt::red).rgb()) << "the picture in the middle";
  EXPECT_EQ(img.pixelColor(6, 20).rgb(), QColor(Qt::white).rgb()) << "inset 10 on the white tile";
  tile.setPicture(red, true);
  img = renderOnTransparent(tile);
  EXPECT_EQ(img.pixelColor(6, 20).rgb(), QColor(Qt::red).rgb()) << "an application's icon fills the tile";
  }

TEST(PaintedControls, ACardsOwnFillMayFollowTheSchemeAndItsEdgeBeFainter) {
  test::ApplicationLook look;
  look.set(AppearancePreference::light);
  Card card(nullptr, 10);
  card.resize(60, 40);
  card.setFill([] { return Theme::current().dark ? QColor(Qt::red) : QColor(Qt::blue); });
  EXPECT_EQ(renderOnTransparent(card).pixelColor(30, 20).rgb(), QColor(Qt::blue).rgb());
  look.set(AppearancePreference::dark);
  EXPECT_EQ(renderOnTransparent(card).pixelColor(30, 20).rgb(), QColor(Qt::red).rgb());

  card.setFill(QColor(Qt::transparent));
  const int standard = renderOnTransparent(card).pixelColor(30, 0).alpha();
  card.setEdge(0.036, 0.5);
  const int faint = renderOnTransparent(card).pixelColor(30, 0).alpha();
  EXPECT_GT(faint, 0);
  EXPECT_LT(faint, standard / 2);
  }

TEST(PaintedControls, APlainIconTileLiesHalfAPixelInsideItsButtonTheToolbarsFillsIt) {
  test::ApplicationLook look;
  look.set(AppearancePreference::light);
  IconButton plain(QStringLiteral("arrow.clockwise"), QString(), 22);
  IconButton toolbar(QStringLiteral("plus"), QString(), 22);
  toolbar.setLook(&IconButton::toolbarLook);
  const QImage plainImg = renderOnTransparent(plain);
  const QImage toolbarImg = renderOnTransparent(toolbar);
  const int tileAlpha = plainImg.pixelColor(2, 11).alpha();
  EXPECT_GT(tileAlpha, 0);
  EXPECT_NEAR(plainImg.pixelColor(0, 11).alpha(), tileAlpha / 2.0, 2) << "the outer column half covered";
  EXPECT_GE(toolbarImg.pixelColor(0, 11).alpha(), toolbarImg.pixelColor(2, 11).alpha()) << "filled and edged";
  }

TEST(PaintedControls, ASymbolFillsItsSideAtTheTopLeftInAColourThatMayFollowTheScheme) {
  test::ApplicationLook look;
  look.set(AppearancePreference::light);
  const auto painted = [](const QString& symbol, QSize square, qreal side, const QColor& color) {
    QImage img(square, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    Glyphs::paint(p, symbol, QRectF(0, 0, side, side), color);
    return img;
  };
  // A fractional side: the square is rounded up, the symbol drawn at the
  // side itself, from the top-left corner.
  SymbolView stop(QStringLiteral("stop.fill"), 20.5, [] { return Theme::current().text; });
  EXPECT_EQ(stop.size(), QSize(21, 21));
  EXPECT_EQ(renderOnTransparent(stop), painted(QStringLiteral("stop.fill"), {21, 21}, 20.5, Theme::current().text));

  // The function is asked at every paint: the symbol follows the scheme.
  look.set(AppearancePreference::dark);
  EXPECT_EQ(renderOnTransparent(stop).pixelColor(10, 10).rgb(), Theme::current().text.rgb());

  // At a font's size: on whole pixels, filling them, in a role of the scheme.
  std::unique_ptr<SymbolView> lock(
      SymbolView::forFont(QStringLiteral("lock.fill"), 11, Theme::role(&Theme::Roles::cautionSymbol)));
  EXPECT_EQ(lock->size(), QSize(13, 13));  // 11 × 1.1 rounded up
  EXPECT_EQ(renderOnTransparent(*lock),
            painted(QStringLiteral("lock.fill"), {13, 13}, 13, Theme::current().cautionSymbol));
  look.set(AppearancePreference::light);
  EXPECT_EQ(renderOnTransparent(*lock), painted(QStringLiteral("lock.fill"), {13, 13}, 13, Theme::cautionSymbolLight));
  }

TEST(SheetBase, HasAHairlineEdgeInTheSeparatorColourInBothSchemes) {
  test::ApplicationLook look;
  for (const auto preference : {AppearancePreference::light, AppearancePreference::dark}) {
    look.set(preference);
    const Theme::Roles r = Theme::current();
    TestSheet sheet(nullptr);
    const QImage img = renderOnTransparent(sheet);
    const QColor edge = over(r.separator(), r.background);
    const auto near = [](QColor a, QColor b) {
      return std::abs(a.red() - b.red()) <= 2 && std::abs(a.green() - b.green()) <= 2 &&
             std::abs(a.blue() - b.blue()) <= 2;
    };
    for (const QPoint probe : {QPoint(0, 100), QPoint(299, 100), QPoint(150, 0), QPoint(150, 199), QPoint(0, 0)})
      EXPECT_TRUE(near(img.pixelColor(probe), edge)) << probe.x() << "," << probe.y() << " "
                                                     << img.pixelColor(probe).name().toStdString();
    EXPECT_EQ(img.pixelColor(1, 100).rgb(), r.background.rgb()) << "one pixel wide";
    EXPECT_EQ(img.pixelColor(150, 100).rgb(), r.background.rgb());
    EXPECT_NE(img.pixelColor(0, 100).rgb(), r.background.rgb());
  }
  }

TEST(OnOffControls, ShowStateNeverReachesTheActionAndEveryWayOfTogglingDoes) {
  CheckBox box(QStringLiteral("~/.agent"), [] { return Theme::orange; });
  QSignalSpy toggles(&box, &QAbstractButton::toggled);
  box.showState(true);
  EXPECT_TRUE(box.isChecked());
  EXPECT_TRUE(toggles.isEmpty()) << "the program's own state is only shown";
  EXPECT_TRUE(QAccessible::queryAccessibleInterface(&box)->state().checked);
  ASSERT_TRUE(test::assistiveToggle(&box));
  ASSERT_EQ(toggles.size(), 1);
  EXPECT_FALSE(toggles.first().first().toBool());
  box.show();
  box.setFocus();
  QTest::keyClick(&box, Qt::Key_Space);
  EXPECT_EQ(toggles.size(), 2);
  EXPECT_TRUE(box.isChecked());
  EXPECT_EQ(box.accessibleName(), QStringLiteral("~/.agent"));
}

TEST(DetailsDisclosureControl, HidesWithoutTextAndOpensOnAnyToggleKeepingLineBreaks) {
  QWidget window;
  auto* column = new QVBoxLayout(&window);
  auto* details = new DetailsDisclosure(&window);
  details->setLanguage(AppLanguage::en);
  column->addWidget(details);
  window.resize(360, 300);
  window.show();
  EXPECT_FALSE(details->isVisible()) << "nothing to show, nothing drawn";

  const QString output = QStringLiteral("npm ERR! code EACCES\nnpm ERR! path /usr/lib/node_modules\n<b>not bold</b>");
  details->setDetails(output);
  EXPECT_TRUE(details->isVisible());
  auto* line = details->findChild<QAbstractButton*>(QStringLiteral("detailsToggle"));
  auto* text = details->findChild<QTextEdit*>(QStringLiteral("detailsText"));
  ASSERT_NE(line, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(line->accessibleName(), QStringLiteral("Details"));
  EXPECT_FALSE(text->isVisible()) << "closed at first";

  ASSERT_TRUE(test::assistiveToggle(line));
  EXPECT_TRUE(details->isExpanded());
  EXPECT_TRUE(text->isVisible());
  EXPECT_EQ(text->toPlainText(), output) << "every line break kept, markup shown as text";
  EXPECT_EQ(text->document()->blockCount(), 3);
  EXPECT_GT(text->height(), 3 * QFontMetrics(text->font()).lineSpacing() - 1);
  EXPECT_LE(text->height(), 160);
  EXPECT_TRUE(text->isReadOnly());

  QTest::mouseClick(line, Qt::LeftButton);
  EXPECT_FALSE(details->isExpanded());
  EXPECT_FALSE(text->isVisible());

  details->setLanguage(AppLanguage::zh);
  EXPECT_EQ(line->accessibleName(), QStringLiteral("详情"));
  details->setDetails(QString());
  EXPECT_FALSE(details->isVisible());
}

// Every command a sentence marks is set apart the same way whatever its
// words, in a Chinese sentence as in an English one: each letter as wide as
// the next (the fixed-width face), on a tint of its own, in the primary
// colour, in both schemes.
TEST(LabelText, EveryMarkedCommandIsSetApartInEitherLanguageAndScheme) {
  test::ApplicationLook look;
  for (const AppearancePreference scheme : {AppearancePreference::light, AppearancePreference::dark}) {
    look.set(scheme);
    const Theme::Roles r = Theme::current();
    for (const QString& sentence :
         {QStringLiteral("Open a new terminal and type `wopennone`. Terminals that are already open need `source ~/.profile` first."),
          QStringLiteral("打开新终端直接输 `wopennone` 即可使用。已开的终端窗口需先跑 `source ~/.profile`。")}) {
      SCOPED_TRACE(sentence.toStdString());
      Label label(QString(), 10.5, QFont::Normal, TextRole::faint);
      label.setCommandText(sentence);
      QTextDocument document;
      document.setDefaultFont(label.font());
      document.setDocumentMargin(0);
      document.setHtml(label.text());
      document.setTextWidth(2000);
      QImage image(QSize(2000, qCeil(document.size().height())) * 3, QImage::Format_ARGB32);
      image.setDevicePixelRatio(3);
      image.fill(r.background);
      {
        QPainter painter(&image);
        document.drawContents(&painter);
      }
      const QTextBlock block = document.firstBlock();
      const QTextLine line = block.layout()->lineAt(0);
      const QString plain = block.text();
      for (const QString& command : {QStringLiteral("wopennone"), QStringLiteral("source")}) {
        QString joined;  // its letters are joined by invisible word joiners
        for (const QChar c : command) joined += QString(c) + QChar(0x2060);
        joined.chop(1);
        const qsizetype at = plain.indexOf(joined);
        ASSERT_GE(at, 0) << command.toStdString();
        const qreal from = line.cursorToX(int(at)), to = line.cursorToX(int(at + joined.size()));
        const qreal cell = QFontMetricsF(Theme::monoFont(10.5)).horizontalAdvance(QLatin1Char('m'));
        EXPECT_NEAR(to - from, cell * command.size(), 0.6) << command.toStdString() << ": fixed-width cells";
        // Above its letters, inside its line: the tint, not the ground.
        const QColor behind = image.pixelColor(qRound((from + to) / 2 * 3), qRound((line.y() + 1) * 3));
        EXPECT_NE(behind.rgb(), r.background.rgb()) << command.toStdString() << " lies on a tint of its own";
        // Its darkest (light: darkest; dark: lightest) ink is the primary colour.
        double strongest = 0;
        for (int y = qRound(line.y() * 3); y < qRound((line.y() + line.height()) * 3); ++y)
          for (int x = qRound(from * 3); x < qRound(to * 3); ++x)
            strongest = std::max(strongest, Theme::contrastRatio(image.pixelColor(x, y), behind));
        EXPECT_GE(strongest, Theme::contrastRatio(r.text, behind) - 0.5) << command.toStdString() << " in the primary colour";
      }
    }
  }
}

TEST(LabelText, APathWrapsOnlyAfterASlashAndNeverInsideAName) {
  const QString path = QStringLiteral("/home/someone-with-a-long-name/Backups/Agents/TLR 备份.sparsebundle");
  Label label(QString(), 12, QFont::Medium);
  label.setWordWrap(true);
  label.setPathText(path);
  EXPECT_EQ(label.accessibleName(), path) << "read out as written";
  for (int width : {120, 160, 220, 300}) {
    const QStringList lines = test::wrappedLines(&label, width);
    EXPECT_EQ(lines.join(QString()), path);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
      EXPECT_TRUE(lines[i].endsWith(QLatin1Char('/'))) << width << ": " << lines.join(" | ").toStdString();
    EXPECT_TRUE(std::any_of(lines.cbegin(), lines.cend(), [](const QString& l) { return l.contains("TLR 备份"); }));
  }
}

#include "ThemeAndControlsTest.moc"
