#pragma once

// Words on their own: a label, a section's title, a word in a chip.

#include "ui/kit/ControlBasics.h"

#include <QLabel>
#include <QWidget>

#include <optional>

namespace tlr {

// Text from anywhere (registry, processes, network) shown as plain text.
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
  // A text of the table with its commands marked by backticks ("Will run
  // `agent doctor`"): each command in the fixed-width face and the primary
  // colour on a faint tint, kept on one line, so it reads apart from the
  // sentence around it whatever its words; the marks are not shown, and the
  // accessible name and fullText() are the text without them. Everything
  // else stays plain text (never read as markup).
  void setCommandText(const QString& marked);
  // A path, wrapping only after a "/" (see LineBreaks::pathWrapping).
  void setPathText(const QString& path);
  void setRole(TextRole role);
  // A fixed colour instead of a role (orange warnings, red failures).
  void setColor(const QColor& color);
  void setPixelFont(qreal pixels, QFont::Weight weight);

 private:
  void applyColor();
  void applyText();
  void applyCommandText();
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  TextRole role_;
  std::optional<QColor> fixed_;
  QString full_;
  // The text with its commands marked, while it is shown so.
  std::optional<QString> marked_;
  bool elided_ = false;
};

class SectionTitle final : public QWidget {
  Q_OBJECT

 public:
  explicit SectionTitle(const QString& title, QWidget* parent = nullptr);
  void setTitle(const QString& title);
  // Faint unless set (dim on a tinted panel, where faint would not read).
  void setRole(TextRole role);
  // The text as drawn: upper case.
  QString shownText() const { return title_.toUpper(); }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString title_;
  TextRole role_ = TextRole::faint;
};

// A word in a small rounded chip (an agent's kind: "App", "CLI",
// "Plugin"): 9 bold, letter spacing 0.7, dim at 0.85 (in the shade of it
// that reads at 4.5:1 on the chip over the window, a card or a highlighted
// card), on the contrast colour at 0.07 (dark) or 0.05 (light). Its text is
// its accessible name.
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

}  // namespace tlr
