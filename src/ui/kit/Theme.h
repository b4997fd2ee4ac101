#pragma once

// The palette of every window, the scheme in effect, and the fonts.
//
//   Theme::brand1 …              the fixed colours, one constant each
//   Theme::roles(scheme)         the colours of a scheme by role (background,
//                                card, texts, accent, brand gradient, …)
//   Appearance                   resolves the scheme in effect (light or
//                                dark) and paints it into the application
//                                palette; src/app owns the application's one
//   Theme::font(13, QFont::Medium)  the interface font at a size in logical
//                                pixels (the sizes the designs give)
//   whenLookChanges(widget, fn)  runs fn (and repaints) whenever the scheme
//                                or the interface language changes
//
// The scheme reaches every widget the way Qt hands a look to widgets: through
// the application palette. A widget paints with `Theme::current()` (the roles
// of the application palette's scheme), never with colours of its own for
// these roles.

#include "core/texts/SettingsValues.h"

#include <QColor>

#include <initializer_list>
#include <QFont>
#include <QLinearGradient>
#include <QObject>
#include <QPalette>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QWidget;

namespace tlr {

class SettingsStore;
class DesktopColorScheme;

// Which column of the palette a window uses.
enum class ColorScheme { light, dark };

namespace Theme {

// sRGB, opacity 1. Names as the rest of the interface uses them.
inline const QColor brand1{96, 165, 250};       // #60A5FA brand start / accent, dark scheme
inline const QColor brand2{34, 211, 238};       // #22D3EE brand end, dark scheme
inline const QColor brand1Light{59, 130, 246};  // #3B82F6 brand start / accent, light scheme
inline const QColor brand2Light{6, 182, 212};   // #06B6D4 brand end, light scheme
inline const QColor working{74, 222, 128};      // #4ADE80 healthy agent, dark scheme
inline const QColor workingDark{22, 163, 74};   // #16A34A healthy agent, light scheme (a darker shade)
inline const QColor crash{248, 113, 113};       // #F87171 faulted agent or failure, both schemes
inline const QColor destructive{255, 59, 48};   // #FF3B30 stop, uninstall and other actions that remove
// The face of a filled button that removes (an alert's red answer, Uninstall):
// destructive's hue, dark enough for its white label at 5.2:1.
inline const QColor destructiveFill{213, 28, 17};  // #D51C11
inline const QColor appBgDark{20, 23, 31};      // #14171F window and sheet background, dark
inline const QColor cardDark{28, 32, 48};       // #1C2030 card, dark
inline const QColor cardHoverDark{35, 40, 66};  // #232842 highlighted card, dark
inline const QColor appBgLight{248, 249, 251};  // #F8F9FB window and sheet background, light
inline const QColor cardLight{255, 255, 255};   // white: card, light (also when highlighted)
inline const QColor textDark{236, 237, 240};    // #ECEDF0 primary text, dark
inline const QColor textDimDark{152, 155, 166}; // #989BA6 secondary text, dark
// Faint text reaches 4.5:1 on the background and the cards of its scheme,
// the highlighted one too (the original #5D606E dark and #9498A4 light gave
// 2.6–2.9:1).
inline const QColor textFaintDark{142, 145, 160};  // #8E91A0 faint text, dark
inline const QColor textLight{20, 21, 27};      // #14151B primary text, light
inline const QColor textDimLight{93, 96, 110};  // #5D606E secondary text, light
inline const QColor textFaintLight{110, 114, 128};  // #6E7280 faint text, light
// Filled controls with white text (primary buttons, the selected pill, the
// highlighted card): a deeper run of the brand gradient, so white reaches
// 4.5:1 over all of it in both schemes (the brand gradient itself gives
// 1.8–3.7:1).
inline const QColor filledStart{37, 99, 235};   // #2563EB
inline const QColor filledEnd{14, 116, 144};    // #0E7490
// Accent-coloured text (links) in the light scheme: brand1Light gives 3.5:1.
inline const QColor accentTextLight{37, 99, 235};  // #2563EB
// Status texts (a red "Faulted", an orange warning, a green "Guarded") in the
// light scheme: the same hues, darker, to reach 4.5:1 on the background, the
// cards and their own status tint (crash, orange and workingDark give
// 2.1–3.3:1 there). The dark scheme's texts take orange and working as they
// are, and crash a shade lighter (crashTextDark).
inline const QColor crashTextLight{200, 30, 30};     // #C81E1E
// The dark scheme's red text: crash, a little lighter, so it reads on its
// own tint over a highlighted card too.
inline const QColor crashTextDark{249, 127, 127};    // #F97F7F
inline const QColor warningTextLight{155, 90, 0};    // #9B5A00, 4.5:1 on its own tint too
inline const QColor cautionTextLight{140, 90, 6};    // #8C5A06, amber's hue
inline const QColor workingTextLight{19, 114, 54};   // #137236
// Status symbols (a warning sign, a lock mark, a success or failure mark) in
// the light scheme: the same hues, darker, to reach 3:1 on the background,
// the cards and their own status tint (crash, orange, amber and the lamp's
// green give 1.6–2.8:1 there). The dark scheme's take the status colours.
inline const QColor crashSymbolLight{220, 38, 38};    // #DC2626
inline const QColor warningSymbolLight{191, 112, 0};  // #BF7000
inline const QColor cautionSymbolLight{182, 117, 7};  // #B67507, amber's hue
inline const QColor workingSymbolLight{28, 153, 74};  // #1C994A

// Fixed colours used across windows that are not scheme pairs.
inline const QColor orange{255, 149, 0};   // warning symbols
inline const QColor amber{245, 158, 11};   // lock mark

// The colours of one scheme by role.
struct Roles {
  bool dark = false;
  QColor accent;       // brand1 / brand1Light
  QColor accentText;   // brand1 / accentTextLight: accent-coloured text
  QColor brandStart;   // brand1 / brand1Light
  QColor brandEnd;     // brand2 / brand2Light
  QColor working;      // working / workingDark
  QColor crash;        // crash
  // Status texts, 4.5:1 on the background and the cards: crash / crashTextLight,
  // orange / warningTextLight, amber / cautionTextLight, working /
  // workingTextLight.
  QColor crashText;
  QColor warningText;
  QColor cautionText;
  QColor workingText;
  // Status symbols, 3:1 on the background, the cards and their own tint:
  // crash / crashSymbolLight, orange / warningSymbolLight, amber /
  // cautionSymbolLight, working / workingSymbolLight.
  QColor crashSymbol;
  QColor warningSymbol;
  QColor cautionSymbol;
  QColor workingSymbol;
  QColor background;   // appBgDark / appBgLight
  QColor card;         // cardDark / cardLight
  QColor cardHover;    // cardHoverDark / cardLight
  QColor text;         // textDark / textLight
  QColor textDim;      // textDimDark / textDimLight
  QColor textFaint;    // textFaintDark / textFaintLight
  // White (dark) or black (light) at `opacity`: hairlines, subtle fills.
  QColor contrast(qreal opacity) const;
  // Separator lines and window hairlines.
  QColor separator() const;
  // The brand gradient from `from` to `to` (normally top-leading to
  // bottom-trailing corner of the shape it fills).
  QLinearGradient brandGradient(QPointF from, QPointF to) const;
  // The fill of a control that carries white text, the same way round.
  QLinearGradient filledGradient(QPointF from, QPointF to) const;
};

Roles roles(ColorScheme scheme);
// The scheme a palette was painted in (by its window colour).
ColorScheme schemeOf(const QPalette& palette);
// The roles of the scheme in effect: the application palette's.
Roles current();
// One role of the scheme in effect, read at every call (a symbol's colour
// that follows the scheme): Theme::role(&Theme::Roles::warningSymbol).
std::function<QColor()> role(QColor Roles::*member);

// The interface font at `pixels` logical pixels (fractions allowed) and
// `weight`. Letter spacing in pixels when given.
QFont font(qreal pixels, QFont::Weight weight = QFont::Normal, qreal letterSpacing = 0);
// The same in the system's fixed-width face (commands, paths, tool output).
QFont monoFont(qreal pixels, QFont::Weight weight = QFont::Normal);

// `c` with its alpha set to `opacity` (0…1).
QColor withOpacity(QColor c, qreal opacity);

// `over` as it shows laid on the opaque `under` at its own opacity.
QColor laidOn(const QColor& over, const QColor& under);
// The contrast ratio of two opaque colours (1…21), as WCAG 2 reckons it.
double contrastRatio(const QColor& a, const QColor& b);
// `color`, or the nearest shade of its hue that reads at `ratio` on every
// one of `grounds` (darker on light grounds, lighter on dark ones), each
// measured as drawn: at `color`'s own opacity, laid on the ground. A
// coloured text on a face tinted with its own colour, a text drawn faded.
QColor legibleOn(const QColor& color, std::initializer_list<QColor> grounds, double ratio = 4.5);

}  // namespace Theme

// The colour scheme in effect for every window: the appearance setting
// forces light or dark; "system" follows the desktop (the settings portal's
// colour-scheme when it states one, else the lightness of the platform's own
// window colour as it was at start). Changes of either are announced once
// through schemeChanged() and, when it applies the application palette, to
// every widget as a palette change. Main thread only.
class Appearance final : public QObject {
  Q_OBJECT

 public:
  // An instance that follows nothing by itself; tests and previews drive it
  // with setPreference() and setDesktopScheme().
  Appearance();

  // Follows the desktop: the platform palette's lightness as it is now
  // becomes the fallback, and the settings portal's colour scheme the
  // desktop's. The application's instance (src/app) also applies the
  // palette and is its settings' appearance handler.
  void followDesktop();
  ~Appearance() override;

  ColorScheme scheme() const { return scheme_; }
  AppearancePreference preference() const { return preference_; }

  void setPreference(AppearancePreference preference);
  // What the desktop prefers; empty when it states nothing.
  void setDesktopScheme(std::optional<ColorScheme> scheme);
  // The scheme "system" falls back to when the desktop states nothing.
  void setFallbackScheme(ColorScheme scheme);

  // Whether the application palette is repainted on every change (and the
  // change delivered to every widget before this returns).
  void setAppliesApplicationPalette(bool apply);
  // The application palette of a scheme (used by setAppliesApplicationPalette).
  static QPalette paletteFor(ColorScheme scheme);
  // Thin, rounded scroll bars without arrows, in the scheme's hairline
  // colour (the application style sheet holds only these rules).
  static QString scrollBarStyleSheet(ColorScheme scheme);

 Q_SIGNALS:
  void schemeChanged(tlr::ColorScheme scheme);

 private:
  void resolve();
  void applyToApplication();

  AppearancePreference preference_ = AppearancePreference::system;
  std::optional<ColorScheme> desktop_;
  ColorScheme fallback_ = ColorScheme::light;
  ColorScheme scheme_ = ColorScheme::light;
  bool appliesPalette_ = false;
  std::unique_ptr<DesktopColorScheme> portal_;
};

// Calls `onChange` on the main thread after every change of the scheme in
// effect (a change of the application palette's scheme reaching `widget`) or
// of the interface language (a LanguageChange event reaching it), then
// repaints `widget`. The watch ends with the widget.
void whenLookChanges(QWidget* widget, std::function<void()> onChange = {});

// Delivers every change of `settings`' language, as it happens, to every
// window and its widgets as a LanguageChange event (which whenLookChanges
// watches). The application does this once for its settings; a test for its
// own.
void relayLanguageChanges(const SettingsStore& settings);

}  // namespace tlr
