#include "ui/kit/Theme.h"

#include "core/stores/SettingsStore.h"
#include "platform/DesktopColorScheme.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace tlr {
namespace Theme {

QColor Roles::contrast(qreal opacity) const {
  return withOpacity(dark ? QColor(Qt::white) : QColor(Qt::black), opacity);
}

QColor Roles::separator() const {
  // The hairline strength at 0.5 when dark and 0.7 when light.
  return contrast(dark ? 0.12 * 0.5 : 0.12 * 0.7);
}

QLinearGradient Roles::brandGradient(QPointF from, QPointF to) const {
  QLinearGradient gradient(from, to);
  gradient.setColorAt(0, brandStart);
  gradient.setColorAt(1, brandEnd);
  return gradient;
}

QLinearGradient Roles::filledGradient(QPointF from, QPointF to) const {
  QLinearGradient gradient(from, to);
  gradient.setColorAt(0, filledStart);
  gradient.setColorAt(1, filledEnd);
  return gradient;
}

Roles roles(ColorScheme scheme) {
  Roles r;
  r.dark = scheme == ColorScheme::dark;
  r.accent = r.dark ? brand1 : brand1Light;
  r.accentText = r.dark ? brand1 : accentTextLight;
  r.brandStart = r.accent;
  r.brandEnd = r.dark ? brand2 : brand2Light;
  r.working = r.dark ? Theme::working : workingDark;
  r.crash = Theme::crash;
  r.crashText = r.dark ? crashTextDark : crashTextLight;
  r.warningText = r.dark ? orange : warningTextLight;
  r.cautionText = r.dark ? amber : cautionTextLight;
  r.workingText = r.dark ? Theme::working : workingTextLight;
  r.crashSymbol = r.dark ? Theme::crash : crashSymbolLight;
  r.warningSymbol = r.dark ? orange : warningSymbolLight;
  r.cautionSymbol = r.dark ? amber : cautionSymbolLight;
  r.workingSymbol = r.dark ? Theme::working : workingSymbolLight;
  r.background = r.dark ? appBgDark : appBgLight;
  r.card = r.dark ? cardDark : cardLight;
  r.cardHover = r.dark ? cardHoverDark : cardLight;
  r.text = r.dark ? textDark : textLight;
  r.textDim = r.dark ? textDimDark : textDimLight;
  r.textFaint = r.dark ? textFaintDark : textFaintLight;
  return r;
}

ColorScheme schemeOf(const QPalette& palette) {
  return palette.color(QPalette::Window).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
}

Roles current() { return roles(schemeOf(QGuiApplication::palette())); }

std::function<QColor()> role(QColor Roles::*member) {
  return [member] { return current().*member; };
}

QFont font(qreal pixels, QFont::Weight weight, qreal letterSpacing) {
  QFont f = QGuiApplication::font();
  // Chinese texts in the simplified-Chinese face, at the weight asked for
  // (left to the fallback, a CJK face of another region or weight is taken).
  QStringList families = f.families();
  if (families.isEmpty()) families << f.family();
  if (!families.contains(QStringLiteral("Noto Sans CJK SC"))) families << QStringLiteral("Noto Sans CJK SC");
  f.setFamilies(families);
  // Sizes are logical pixels; Qt's point sizes assume 96 logical dots an inch.
  f.setPointSizeF(pixels * 72.0 / 96.0);
  f.setWeight(weight);
  if (letterSpacing != 0) f.setLetterSpacing(QFont::AbsoluteSpacing, letterSpacing);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

QFont monoFont(qreal pixels, QFont::Weight weight) {
  QFont f = font(pixels, weight);
  // The fixed-width face alone: a fallback family in the list would win over
  // the style hint whenever the first name is only an alias.
  f.setFamilies({QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
  f.setStyleHint(QFont::Monospace);
  return f;
}

QColor withOpacity(QColor c, qreal opacity) {
  c.setAlphaF(static_cast<float>(opacity));
  return c;
}

QColor laidOn(const QColor& over, const QColor& under) {
  // As a painter lays it: 8-bit channels and opacity.
  const double a = over.alpha() / 255.0;
  const auto blend = [a](int o, int u) { return qRound(o * a + u * (1 - a)); };
  return {blend(over.red(), under.red()), blend(over.green(), under.green()), blend(over.blue(), under.blue())};
}

namespace {

double luminance(const QColor& c) {
  const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
  return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

}  // namespace

double contrastRatio(const QColor& a, const QColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor legibleOn(const QColor& color, std::initializer_list<QColor> grounds, double ratio) {
  // Measured as drawn: at the colour's own opacity, over each ground. A
  // text drawn faded is blended by the text renderer in its own way, a few
  // hundredths off the plain blend: aimed that much higher.
  const float alpha = color.alphaF();
  const double wanted = alpha < 1 ? ratio + 0.1 : ratio;
  const auto reads = [&](const QColor& c) {
    return std::all_of(grounds.begin(), grounds.end(),
                       [&](const QColor& g) { return contrastRatio(laidOn(withOpacity(c, alpha), g), g) >= wanted; });
  };
  if (grounds.size() == 0 || reads(color)) return color;
  double lightSum = 0;
  for (const QColor& g : grounds) lightSum += luminance(g);
  const bool darker = lightSum / static_cast<double>(grounds.size()) > 0.18;
  float h = 0, s = 0, l = 0, a = 0;
  color.getHslF(&h, &s, &l, &a);
  // Lightness in small steps, the hue, saturation and opacity kept.
  for (int step = 1; step <= 100; ++step) {
    const float lightness = darker ? l * (1.0f - step / 100.0f) : l + (1.0f - l) * (step / 100.0f);
    // Measured in the 8-bit colour it is drawn in.
    const QColor hsl = QColor::fromHslF(h, s, lightness).toRgb();
    const QColor shade = withOpacity(QColor(hsl.red(), hsl.green(), hsl.blue()), alpha);
    if (reads(shade)) return shade;
  }
  return withOpacity(darker ? QColor(Qt::black) : QColor(Qt::white), alpha);
}

}  // namespace Theme

Appearance::Appearance() = default;
Appearance::~Appearance() = default;

void Appearance::followDesktop() {
  if (portal_) return;
  // The platform's own window colour, before we paint the palette.
  setFallbackScheme(Theme::schemeOf(QGuiApplication::palette()));
  portal_ = std::make_unique<DesktopColorScheme>();
  DesktopColorScheme* portal = portal_.get();
  connect(portal, &DesktopColorScheme::preferenceChanged, this, [this, portal] {
    switch (portal->preference().value_or(DesktopColorScheme::Preference::noPreference)) {
      case DesktopColorScheme::Preference::dark:
        setDesktopScheme(ColorScheme::dark);
        break;
      case DesktopColorScheme::Preference::light:
        setDesktopScheme(ColorScheme::light);
        break;
      case DesktopColorScheme::Preference::noPreference:
        setDesktopScheme(std::nullopt);
        break;
    }
  });
  portal->start();
}

void Appearance::setPreference(AppearancePreference preference) {
  preference_ = preference;
  resolve();
}

void Appearance::setDesktopScheme(std::optional<ColorScheme> scheme) {
  desktop_ = scheme;
  resolve();
}

void Appearance::setFallbackScheme(ColorScheme scheme) {
  fallback_ = scheme;
  resolve();
}

void Appearance::setAppliesApplicationPalette(bool apply) {
  appliesPalette_ = apply;
  if (apply) applyToApplication();
}

QString Appearance::scrollBarStyleSheet(ColorScheme scheme) {
  const QColor handle = Theme::roles(scheme).contrast(scheme == ColorScheme::dark ? 0.22 : 0.2);
  const QString rgba = QStringLiteral("rgba(%1, %2, %3, %4)")
                           .arg(handle.red())
                           .arg(handle.green())
                           .arg(handle.blue())
                           .arg(handle.alphaF(), 0, 'f', 2);
  return QStringLiteral(
             "QScrollBar:vertical { background: transparent; width: 10px; margin: 2px 2px 2px 0; }"
             "QScrollBar:horizontal { background: transparent; height: 10px; margin: 0 2px 2px 2px; }"
             "QScrollBar::handle { background: %1; border-radius: 3px; }"
             "QScrollBar::handle:vertical { min-height: 28px; }"
             "QScrollBar::handle:horizontal { min-width: 28px; }"
             "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; border: none; }"
             "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }")
      .arg(rgba);
}

void Appearance::applyToApplication() {
  QApplication::setPalette(paletteFor(scheme_));
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance()))
    app->setStyleSheet(scrollBarStyleSheet(scheme_));
  // Qt posts the palette change to the windows; deliver it now, so every
  // widget shows the new scheme as soon as the setting changed.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::ApplicationPaletteChange);
}

QPalette Appearance::paletteFor(ColorScheme scheme) {
  const Theme::Roles r = Theme::roles(scheme);
  QPalette p;
  p.setColor(QPalette::Window, r.background);
  p.setColor(QPalette::WindowText, r.text);
  p.setColor(QPalette::Base, r.card);
  p.setColor(QPalette::AlternateBase, r.cardHover);
  p.setColor(QPalette::Text, r.text);
  p.setColor(QPalette::PlaceholderText, r.textFaint);
  p.setColor(QPalette::Button, r.card);
  p.setColor(QPalette::ButtonText, r.text);
  p.setColor(QPalette::Highlight, r.accent);
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::ToolTipBase, r.card);
  p.setColor(QPalette::ToolTipText, r.text);
  p.setColor(QPalette::Link, r.accent);
  p.setColor(QPalette::Mid, r.contrast(0.12));
  p.setColor(QPalette::Dark, r.contrast(0.25));
  p.setColor(QPalette::Disabled, QPalette::Text, r.textFaint);
  p.setColor(QPalette::Disabled, QPalette::WindowText, r.textFaint);
  p.setColor(QPalette::Disabled, QPalette::ButtonText, r.textFaint);
  return p;
}

void Appearance::resolve() {
  ColorScheme next = fallback_;
  switch (preference_) {
    case AppearancePreference::light:
      next = ColorScheme::light;
      break;
    case AppearancePreference::dark:
      next = ColorScheme::dark;
      break;
    case AppearancePreference::system:
      next = desktop_.value_or(fallback_);
      break;
  }
  if (next == scheme_) return;
  scheme_ = next;
  if (appliesPalette_) applyToApplication();
  Q_EMIT schemeChanged(scheme_);
}

namespace {

// Watches one widget for what changes its look: the application palette's
// scheme (palette events; the same scheme again, e.g. when the widget sets
// its own palette, is no change) and the interface language.
class LookWatch final : public QObject {
 public:
  LookWatch(QWidget* widget, std::function<void()> onChange)
      : QObject(widget), widget_(widget), onChange_(std::move(onChange)), scheme_(Theme::current().dark) {
    widget->installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched != widget_) return false;
    switch (event->type()) {
      case QEvent::PaletteChange:
      case QEvent::ApplicationPaletteChange: {
        const bool dark = Theme::current().dark;
        if (dark != scheme_) {
          scheme_ = dark;
          react();
        }
        break;
      }
      case QEvent::LanguageChange:
        react();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  void react() {
    if (onChange_) onChange_();
    widget_->update();
  }

  QWidget* widget_;
  std::function<void()> onChange_;
  bool scheme_;
};

}  // namespace

void whenLookChanges(QWidget* widget, std::function<void()> onChange) {
  new LookWatch(widget, std::move(onChange));
}

void relayLanguageChanges(const SettingsStore& settings) {
  QObject::connect(&settings, &SettingsStore::languageChanged, &settings, [] {
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (window->windowType() != Qt::Desktop) windows << window;
    for (const QPointer<QWidget>& window : windows) {
      QEvent change(QEvent::LanguageChange);
      if (window) QCoreApplication::sendEvent(window, &change);
    }
  });
}

}  // namespace tlr
