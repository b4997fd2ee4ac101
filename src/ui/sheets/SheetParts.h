#pragma once

// Pieces the add-agent, install and uninstall sheets share: the sheets' line, the footer's text button,
// text shortened in the middle, a step row and the sheet header.

#include "core/installers/StepResult.h"
#include "core/texts/LocKey.h"
#include "core/texts/SettingsValues.h"
#include "ui/kit/Kit.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <QBoxLayout>

#include <functional>
#include <optional>

class QBoxLayout;
class QLayout;
class QScrollArea;

namespace tlr {
class SettingsStore;
}

namespace tlr::sheets {

// The failure red of marks in the scheme in effect, at full opacity; callers
// fade it as they need.
QColor failureColor();

// The footer's text button in the dim colour (Cancel, Close).
LinkButton* footerTextButton(const QString& label);

// Plain text on at most `maxLines` lines, wrapped at the width it gets, its
// own line breaks kept, and shortened when it needs more (a long line in the
// middle; a text of several lines keeps its first lines and its last). Its
// accessible name is the whole text.
class ElidedText final : public QWidget {
  Q_OBJECT

 public:
  using ColorFn = std::function<QColor()>;
  ElidedText(const QString& text, const QFont& font, ColorFn color, int maxLines, QWidget* parent = nullptr);
  const QString& text() const { return text_; }
  // What fits, as drawn at the current width.
  QString shownText() const;
  // The lines drawn at `width`: broken at blanks (each line keeps its
  // trailing blanks), inside a word only when the word alone is too long.
  QStringList lines(int width) const;

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  QFont font_;
  ColorFn color_;
  int maxLines_;
};

// The row of one install or uninstall step: a success or failure mark, the
// label in monospace (two lines at most) and, when there is one, the error or
// note under it (red for a failure, secondary otherwise), then what the
// step's program printed behind a "Details" disclosure.
class StepRowView final : public QWidget {
  Q_OBJECT

 public:
  // Its "Details" line follows the language of `settings`.
  StepRowView(const StepResult& step, qreal labelPixels, int errorLines, const SettingsStore& settings,
              QWidget* parent = nullptr);
  const StepResult& step() const { return step_; }

 private:
  StepResult step_;
};

// The sheet header: a symbol, the title and the close button.
struct Header {
  QWidget* widget = nullptr;
  SymbolView* symbol = nullptr;
  Label* title = nullptr;
  CloseButton* close = nullptr;
};
// The close button is named in the language of `settings`.
Header makeHeader(const QString& symbol, SymbolView::ColorFn symbolColor, qreal titlePixels, qreal symbolPixels,
                  QMargins margins, const SettingsStore& settings, QWidget* parent);

// The start of these sheets: a column over the whole sheet, and in it the
// header (16-pixel title, 14-pixel symbol, 22 × 16 in from the edges) whose
// close button is named `closeName`.
struct SheetStart {
  QVBoxLayout* column = nullptr;
  Header header;
};
SheetStart startSheet(QWidget* sheet, const QString& symbol, SymbolView::ColorFn symbolColor,
                      const SettingsStore& settings, const QString& closeName);

// The line under these sheets' header and over their footer: stronger
// than the kit's separator (the contrast colour at 0.1 dark, 0.14 light).
Divider* sheetLine(QWidget* parent);

// A vertical scroll area without a frame or background of its own, holding
// `content`.
QScrollArea* makeScrollArea(QWidget* content, QWidget* parent);

// Below a sheet's header: a divider, a scrolling body, a divider and a footer
// row named `footerName`, added to `column`. Returns the body's and the
// footer's layouts.
struct BodyAndFooter {
  QVBoxLayout* body;
  QHBoxLayout* footer;
};
BodyAndFooter addBodyAndFooter(QVBoxLayout* column, QWidget* sheet, const QString& footerName);

// The monospaced interface font at `pixels`.
QFont monoFont(qreal pixels, QFont::Weight weight = QFont::Normal);

// Deletes every item and widget of `layout`.
void clearLayout(QLayout* layout);

}  // namespace tlr::sheets
