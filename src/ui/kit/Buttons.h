#pragma once

// The painted buttons: the common part (label, symbol, hover, busy, focus,
// measures) and its kinds: filled, tinted, pills, the sheet's close button,
// toolbar tiles and links.

#include "core/texts/SettingsValues.h"
#include "ui/kit/ControlBasics.h"
#include "ui/kit/Spinner.h"

#include <functional>
#include <optional>

class QVariantAnimation;

namespace tlr {

// The common part of the painted buttons: the label, the optional symbol,
// hover and press state, the busy state, the accessible name, and the
// measures of the content: the label's font, the symbol's side, the room
// between them, the padding around them and the face's corner radius. Each
// kind sets its own defaults; a window sets other measures where its design
// gives them. The keyboard works it as every kit button (KeyboardButton).
class PaintedButton : public KeyboardButton {
  Q_OBJECT

 public:
  explicit PaintedButton(const QString& label, QWidget* parent = nullptr);

  void setLabel(const QString& label);
  const QString& label() const { return label_; }
  void setSymbol(const QString& symbol);
  const QString& symbol() const { return symbol_; }
  bool isHovered() const { return hovered_; }
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
  // May be made narrower than its label (a long name in it): the label then
  // ends in "…", its accessible name staying whole.
  void setElided(bool elided);
  QSize minimumSizeHint() const override;

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
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
  bool busy_ = false;
  bool elided_ = false;
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
  // The selected pill is the one Tab stop of its group; the arrows move
  // among them.
  explicit PillButton(const QString& label, QWidget* parent = nullptr);
  void setSelected(bool selected);
  bool isSelected() const { return isChecked(); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void syncTabStop();
};

// Named "Close" in the language its owner gives it (its accessible name and
// its tooltip; the owner gives it again when the language changes); while it
// holds a help text (why it cannot be used now) it is named by that instead.
class CloseButton final : public PaintedButton {
  Q_OBJECT

 public:
  explicit CloseButton(QWidget* parent = nullptr);
  void setLanguage(AppLanguage language);
  // An empty help names it "Close" again.
  void setHelp(const QString& help);
  QSize sizeHint() const override { return {24, 24}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void applyName();
  AppLanguage language_ = AppLanguage::zh;
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

}  // namespace tlr
