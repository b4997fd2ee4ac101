#pragma once

// The painted pieces the windows repeat. Each follows the scheme in effect
// and repaints when it or the language changes; each shows its text as plain
// text (never markup, "&" shown as it is, no mnemonic) and exposes its
// visible text as its accessible name. Sizes are logical pixels.
//
//   Label            plain-text label in a role colour and font
//   SectionTitle     a section's title: 10.5 semibold, letter spacing 1.2,
//                    faint colour, upper case (Chinese is unaffected)
//   Card             rounded card (radius 10) in the card colour with a
//                    hairline border, or a fill and edge of its own; lay its
//                    contents out in its layout
//   PrimaryButton    white label (and optional symbol) on the brand gradient
//                    or one colour, radius 8, padding 14 × 8 (filled actions)
//   SecondaryButton  label and symbol in a colour on that colour at 0.15,
//                    with a 0.3 edge; tints, edges and measures of its own
//                    where a window's design gives them (the tinted actions,
//                    outlined section buttons, fixes, a row's state)
//   PillButton       a choice among several: brand gradient when selected,
//                    card colour with a hairline otherwise
//   CloseButton      the "xmark" in a 24 × 24 circle (sheet headers), named
//                    "Close" in the interface language
//   IconButton       a symbol centred in a square tile (toolbars)
//   LinkButton       text alone: underlined accent text (legal links) or
//                    plain text in a role colour (Cancel, Close)
//   TintedPanel      a rounded panel tinted with a colour (banners)
//   PanelButton      a tinted panel that is a button
//   ToggleSwitch     an on/off switch
//   CheckBox         a square box, filled with a check mark when on
//   SymbolView       one symbol of Glyphs, in a role colour, a fixed one or
//                    one that follows the scheme
//   KindChip         a word in a small rounded chip (an agent's kind)
//   IconTile         a picture framed in a rounded tile (an agent's icon)
//   Divider          a 1-pixel line: the separator under a sheet's header,
//                    or of a strength of its own (inside cards, lists, rows)
//   Spinner          an indeterminate progress indicator of twelve spokes
//
// Buttons report clicks through QAbstractButton::clicked. Their text is set
// with setLabel(); label() returns it unchanged. A painted button may be
// busy: a spinner then stands in its symbol's place. The on/off controls
// (ToggleSwitch, CheckBox) report their state through toggled(bool): see
// ToggleControl.

#include "ui/kit/Theme.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QTimer>

class QPainter;
class QVariantAnimation;

#include <functional>
#include <optional>
#include <utility>

namespace tlr {

// Which colour of the scheme a text takes.
enum class TextRole { primary, dim, faint, accent, white };

QColor roleColor(TextRole role);

// Text from anywhere (registry, processes, network) shown as plain text.
// Where the keyboard is: a ring in the scheme's accent colour, 2 wide, along
// the inside of `rect` with corners of `radius`. Every focusable control of
// the kit draws it while it has the keyboard focus from the keyboard.
void paintFocusRing(QPainter& p, const QRectF& rect, qreal radius);

class Label : public QLabel {
  Q_OBJECT

 public:
  Label(const QString& text, qreal pixels, QFont::Weight weight = QFont::Normal, TextRole role = TextRole::primary,
        QWidget* parent = nullptr);

  void setPlainText(const QString& text);
  // One line, shortened with "…" at the end to the width it is given (a
  // name or a title); the whole text is then its tooltip. Its accessible
  // name is always the whole text, and it asks for the whole text's width
  // but can be made as narrow as the "…".
  void setElided(bool elided);
  // The whole text, however it is shown.
  const QString& fullText() const { return full_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // A path, wrapping only after a "/" (see LineBreaks::pathWrapping).
  void setPathText(const QString& path);
  void setRole(TextRole role);
  // A fixed colour instead of a role (orange warnings, red failures).
  void setColor(const QColor& color);
  void setPixelFont(qreal pixels, QFont::Weight weight);

 private:
  void applyColor();
  void applyText();
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  TextRole role_;
  std::optional<QColor> fixed_;
  QString full_;
  bool elided_ = false;
};

class SectionTitle final : public QWidget {
  Q_OBJECT

 public:
  explicit SectionTitle(const QString& title, QWidget* parent = nullptr);
  void setTitle(const QString& title);
  // The text as drawn: upper case.
  QString shownText() const { return title_.toUpper(); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString title_;
};

class Card : public QFrame {
  Q_OBJECT

 public:
  explicit Card(QWidget* parent = nullptr, qreal radius = 10);
  void setHighlighted(bool on);
  bool isHighlighted() const { return highlighted_; }
  // A fill of its own instead of the card colour: one colour, or one a
  // function gives at every paint (so it follows the scheme).
  void setFill(std::optional<QColor> fill);
  void setFill(std::function<QColor()> fill);
  // The hairline: the contrast colour at `opacity`, `width` wide (0.06 and
  // 1 unless set).
  void setEdge(qreal opacity, qreal width);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  qreal radius_;
  bool highlighted_ = false;
  std::function<QColor()> fill_;
  qreal edgeOpacity_ = 0.06;
  qreal edgeWidth_ = 1;
};

// The turning of a spinner: the next of its twelve steps every 80 ms while
// it runs, repainting `owner` at each (a Spinner, a busy button).
class SpinnerTurn final {
 public:
  explicit SpinnerTurn(QWidget* owner);
  void run(bool on);
  int step() const { return step_; }

 private:
  QTimer timer_;
  int step_ = 0;
};

// An indeterminate progress indicator: twelve spokes around the centre, the
// one at the current step darkest and those behind it fading. It turns only
// while it is shown.
class Spinner final : public QWidget {
  Q_OBJECT

 public:
  explicit Spinner(qreal side = 14, QWidget* parent = nullptr);
  // The spokes' colour; the dim text colour when not set.
  void setColor(std::optional<QColor> color);
  QSize sizeHint() const override;

  // Paints a spinner at `step` (0…11) into the largest square centred in
  // `rect`, for controls that draw one inside themselves.
  static void paint(QPainter& p, const QRectF& rect, int step, const QColor& color);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  qreal side_;
  std::optional<QColor> color_;
  SpinnerTurn turn_;
};

// The common part of the painted buttons: the label, the optional symbol,
// hover and press state, the busy state, the accessible name, and the
// measures of the content: the label's font, the symbol's side, the room
// between them, the padding around them and the face's corner radius. Each
// kind sets its own defaults; a window sets other measures where its design
// gives them.
class PaintedButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit PaintedButton(const QString& label, QWidget* parent = nullptr);

  void setLabel(const QString& label);
  const QString& label() const { return label_; }
  void setSymbol(const QString& symbol);
  const QString& symbol() const { return symbol_; }
  bool isHovered() const { return hovered_; }
  // Focused from the keyboard (Tab): the face then shows a focus ring.
  bool showsFocus() const { return hasFocus() && keyboardFocus_; }
  // While busy, a turning spinner (11 × 11) stands in the symbol's place.
  void setBusy(bool busy);
  bool isBusy() const { return busy_; }

  void setLabelFont(qreal pixels, QFont::Weight weight);
  void setPadding(qreal horizontal, qreal vertical);
  void setSymbolSide(qreal side);
  void setSpacing(qreal spacing);
  void setCornerRadius(qreal radius);
  // How opaque the whole button is drawn while it cannot be used and is
  // not busy (0.35 unless set).
  void setDisabledOpacity(qreal opacity);

  // The label, symbol and padding.
  QSize sizeHint() const override;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // Paints the symbol (or the spinner) and the label centred in `rect`.
  void paintContent(QPainter& p, const QRectF& rect, const QColor& color) const;
  QSizeF contentSize() const;
  // The opacity the button is drawn at, by whether it can be used.
  qreal drawOpacity() const;
  // Under the pointer and usable.
  bool showsHover() const { return hovered_ && isEnabled(); }

  QFont labelFont() const;
  // The focus ring along `face`, while showsFocus().
  void paintFocus(QPainter& p, const QRectF& face, qreal radius) const;
  qreal padX_ = 14, padY_ = 8;
  qreal radius_ = 8;

 private:
  void syncTurn();
  QString label_;
  QString symbol_;
  bool hovered_ = false;
  bool keyboardFocus_ = false;
  bool busy_ = false;
  qreal labelPixels_ = 13;
  QFont::Weight labelWeight_ = QFont::Medium;
  qreal symbolSide_;
  qreal spacing_ = 6;
  qreal disabledOpacity_;
  SpinnerTurn turn_;
};

// The filled kind: a white label (and optional symbol) on the brand gradient
// or on one colour; label 13 medium, symbol at font size 12, 8 apart,
// padding 14 × 8, radius 8.
class PrimaryButton final : public PaintedButton {
  Q_OBJECT

 public:
  explicit PrimaryButton(const QString& label, const QString& symbol = {}, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  // The drop shadow of the brand colour under the face (the onboarding's
  // default button); off by default.
  void setGlow(bool on);
  // One colour instead of the brand gradient (a destructive action's red).
  void setFill(std::optional<QColor> fill);
  // The face while the button cannot be used: this colour at full opacity
  // instead of the face faded.
  void setDisabledFill(std::optional<QColor> fill);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool glow_ = false;
  std::optional<QColor> fill_;
  std::optional<QColor> disabledFill_;
};

// The tinted kind: label and symbol in a colour on a face tinted with it
// and edged with it; label 12 medium, symbol at font size 12, 6 apart,
// padding 14 × 8, radius 8, edge 1. Under the pointer and pressed, the face
// takes the foreground at 0.06 and 0.12 more. The colours may come from a
// function called at every paint, so they follow the scheme and the state.
class SecondaryButton final : public PaintedButton {
  Q_OBJECT

 public:
  struct Colors {
    QColor foreground;
    // The face: a colour, or the brand gradient when none.
    std::optional<QColor> fill;
    QColor edge = Qt::transparent;
  };
  // `color` on itself at 0.15, edged with it at 0.3; the accent colour when
  // none.
  SecondaryButton(const QString& label, const QString& symbol, std::optional<QColor> color = {},
                  QWidget* parent = nullptr);
  void setColor(std::optional<QColor> color);
  void setColors(std::function<Colors()> colors);
  // `color` on a face of it at `fill`, edged with it at `edge`.
  static Colors tint(const QColor& color, qreal fill = 0.15, qreal edge = 0.3);
  // The edge's width; the face lies within it.
  void setEdgeWidth(qreal width);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<Colors()> colors_;
  qreal edgeWidth_ = 1;
};

class PillButton final : public PaintedButton {
  Q_OBJECT

 public:
  // One of the pills beside it (same parent) is selected: checkable and
  // auto-exclusive, so assistive tools read it as a radio button with its
  // checked state. A click, Space or a tool's action checks it (toggled);
  // the program shows its own choice with setSelected(), which emits nothing.
  explicit PillButton(const QString& label, QWidget* parent = nullptr);
  void setSelected(bool selected);
  bool isSelected() const { return isChecked(); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// Named "Close" in the interface language (its accessible name and its
// tooltip), renamed when the language changes; while it holds a help text
// (why it cannot be used now) it is named by that instead.
class CloseButton final : public PaintedButton {
  Q_OBJECT

 public:
  explicit CloseButton(QWidget* parent = nullptr);
  // An empty help names it "Close" again.
  void setHelp(const QString& help);
  QSize sizeHint() const override { return {24, 24}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void applyName();
  QString help_;
};

// A symbol centred in a square rounded tile. Its colours follow the pointer
// in 0.15 s (ease-out): the tile's fill and edge and the symbol's colour each
// go from their resting colour to their hovered one.
class IconButton final : public PaintedButton {
  Q_OBJECT
  Q_PROPERTY(qreal hoverProgress READ hoverProgress WRITE setHoverProgress)

 public:
  static constexpr int kHoverMs = 150;
  struct Look {
    QColor tile, tileHover;
    QColor edge, edgeHover;
    QColor symbol, symbolHover;
    // How far the tile lies within the button's bounds, and the contrast
    // colour's opacity laid over it while pressed.
    qreal inset = 0;
    qreal pressed = 0.08;
  };
  // `label` is the tooltip and accessible name; the face shows only the
  // symbol.
  IconButton(const QString& symbol, const QString& label, qreal side = 28, QWidget* parent = nullptr);
  // Sets the tooltip and the accessible name.
  void setHint(const QString& label);
  // Called at every paint; the plain tile by default.
  void setLook(std::function<Look()> look);
  // A tile of the contrast colour at 0.05 (0.1 under the pointer) inset
  // 0.5, the symbol dim.
  static Look tileLook();
  // The dashboard toolbar's: a lighter tile edged with a hairline; under
  // the pointer the edge and the symbol turn to the accent.
  static Look toolbarLook();
  qreal hoverProgress() const { return hoverProgress_; }
  void setHoverProgress(qreal progress);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void animateTo(qreal target);
  qreal side_;
  std::function<Look()> look_;
  qreal hoverProgress_ = 0;
  QVariantAnimation* animation_;
};

// Text alone, without a face: underlined accent text (the legal links), or,
// set plain, text in a role colour padded 8 × 5 that turns to the primary
// text colour under the pointer (a sheet footer's Cancel and Close).
class LinkButton final : public PaintedButton {
  Q_OBJECT

 public:
  explicit LinkButton(const QString& label, qreal pixels = 11, QWidget* parent = nullptr);
  void setPlain(TextRole role);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<TextRole> plain_;
};

// A rounded panel filled with a colour at some opacity and edged with it at
// another (0.5 wide): banners and embedded cards. Lay its contents out in
// its layout.
class TintedPanel : public QFrame {
  Q_OBJECT

 public:
  TintedPanel(std::function<QColor()> color, qreal fillOpacity, qreal edgeOpacity, qreal radius,
              QWidget* parent = nullptr);
  void setColor(std::function<QColor()> color);

  // Paints such a panel into `rect`.
  static void paint(QPainter& p, const QRectF& rect, const QColor& color, qreal fillOpacity, qreal edgeOpacity,
                    qreal radius);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<QColor()> color_;
  qreal fill_;
  qreal edge_;
  qreal radius_;
};

// A tinted panel that is a button (a banner one clicks): the colour at 0.1
// (0.16 pressed), edged at 0.3, radius 8. Lay its contents out in its
// layout, letting clicks through to it; name it (setAccessibleName) by the
// title it shows.
class PanelButton final : public QAbstractButton {
  Q_OBJECT

 public:
  explicit PanelButton(QWidget* parent = nullptr);
  void setColor(const QColor& color);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  QColor color_ = Qt::transparent;
  bool keyboardFocus_ = false;
};

// The base of the on/off controls. What such a control stands for is its
// toggled state, whatever changed it: a click, the keyboard (Space), or an
// assistive tool's "Toggle" action, which flips the state without any click.
// So act on toggled(bool), never on clicked(); and show the program's own
// state with showState(), which never reaches those actions. When the
// program refuses a change, show its state again, so the control always
// shows exactly what the program acts on.
class ToggleControl : public QAbstractButton {
  Q_OBJECT

 public:
  explicit ToggleControl(QWidget* parent = nullptr);
  // Shows `on` without emitting toggled().
  void showState(bool on);
  // Focused from the keyboard (Tab): drawn with a focus ring.
  bool showsFocus() const { return hasFocus() && keyboardFocus_; }
  // How opaque it is drawn while it cannot be used (0.35 unless set).
  void setDisabledOpacity(qreal opacity);
  qreal drawOpacity() const { return isEnabled() ? 1.0 : disabledOpacity_; }

 protected:
  void focusInEvent(QFocusEvent* event) override;
  // Where the keyboard is: a ring along the edge, drawn only when
  // showsFocus().
  void paintFocusRing(QPainter& p, qreal radius) const;

 private:
  bool keyboardFocus_ = false;
  qreal disabledOpacity_;
};

class ToggleSwitch final : public ToggleControl {
  Q_OBJECT

 public:
  // `accessibleLabel` names the switch for assistive tools; nothing is drawn.
  explicit ToggleSwitch(const QString& accessibleLabel, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {38, 22}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// An 18 × 18 box: "checkmark.square.fill" in `onColor` when on, "square" in
// the faint colour when off. `accessibleLabel` names it (what it chooses).
class CheckBox final : public ToggleControl {
  Q_OBJECT

 public:
  CheckBox(const QString& accessibleLabel, std::function<QColor()> onColor, QWidget* parent = nullptr);
  QSize sizeHint() const override { return {18, 18}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::function<QColor()> onColor_;
};

// A 1-pixel line across its width in the scheme's contrast colour (white in
// the dark scheme, black in the light one) at an opacity of its own for each
// scheme. By default the separator (Theme::Roles::separator()): the line
// under a sheet's header and the dashboard's divider.
class Divider final : public QWidget {
  Q_OBJECT

 public:
  explicit Divider(QWidget* parent = nullptr);
  Divider(qreal darkOpacity, qreal lightOpacity, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::optional<std::pair<qreal, qreal>> opacity_;
};

// A word in a small rounded chip (an agent's kind: "App", "CLI",
// "Plugin"): 9 bold, letter spacing 0.7, dim, on the contrast colour at
// 0.07 (dark) or 0.05 (light). Its text is its accessible name.
class KindChip final : public QWidget {
  Q_OBJECT

 public:
  explicit KindChip(QWidget* parent = nullptr);
  void setText(const QString& text);
  const QString& text() const { return text_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

// A picture framed in a square rounded tile (an agent's icon): the tile is
// white (light) or white at 0.06 (dark) with a hairline; a picture that is
// an application's own icon fills it, another is inset; without a picture
// the tile is grey.
class IconTile final : public QWidget {
  Q_OBJECT

 public:
  IconTile(int side, qreal radius, qreal inset, QWidget* parent = nullptr);
  // A null picture shows the grey tile.
  void setPicture(const QPixmap& picture, bool fillsTile);
  bool hasPicture() const { return !picture_.isNull(); }
  bool fillsTile() const { return fillsTile_; }
  QSize sizeHint() const override { return {side_, side_}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int side_;
  qreal radius_;
  qreal inset_;
  QPixmap picture_;
  bool fillsTile_ = false;
};

// One symbol of Glyphs drawn `side` wide at the top-left of its square (the
// side rounded up to whole pixels), in a role colour, a fixed colour, or one
// a function gives at every paint (so it follows the scheme and the state).
class SymbolView final : public QWidget {
  Q_OBJECT

 public:
  using ColorFn = std::function<QColor()>;
  // `side` is the square the symbol fills: Glyphs::sizeForFont(n) for a
  // symbol "at font size n" (forFont() gives it on whole pixels).
  SymbolView(const QString& symbol, qreal side, TextRole role = TextRole::primary, QWidget* parent = nullptr);
  SymbolView(const QString& symbol, qreal side, ColorFn color, QWidget* parent = nullptr);
  // A symbol at the visual size of a font of `fontPixels`, rounded up to
  // whole pixels, in a role colour or a fixed one.
  static SymbolView* forFont(const QString& symbol, qreal fontPixels, TextRole role, QWidget* parent = nullptr);
  static SymbolView* forFont(const QString& symbol, qreal fontPixels, const QColor& color, QWidget* parent = nullptr);

  void setSymbol(const QString& symbol);
  const QString& symbol() const { return symbol_; }
  void setRole(TextRole role);
  void setColor(const QColor& color);
  void setColor(ColorFn color);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString symbol_;
  qreal side_;
  ColorFn color_;
};

}  // namespace tlr
