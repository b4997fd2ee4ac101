#pragma once

// Whether the words a window draws can be read: every text measured as it
// is drawn, opacity and all, against the ground it lies on.

#include "support/gui/ApplicationLook.h"
#include "ui/kit/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QAbstractScrollArea>
#include <QGraphicsOpacityEffect>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStringList>
#include <QTextEdit>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace tlr::test {
namespace readable_detail {

// Drawn at three times its size, so every glyph, even a 9-pixel one, has
// pixels it covers whole.
constexpr int kScale = 3;
// A pixel this far from the ground is ink (a hairline or a faint fill is
// not); a run of rows this tall (two pixels of the window) holding ink is a
// line of it.
constexpr double kInk = 1.5;
constexpr int kLeastLineRows = kScale;
// A control with a face of its own (a button, a chip): its edge and the
// ground showing past its rounded corners are no ink.
constexpr int kFaceEdge = 2 * kScale;
constexpr int kFaceCorner = 8 * kScale;

inline bool hasOwnFace(const QWidget* w) {
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLineEdit*>(w) || w->inherits("tlr::KindChip") ||
         w->inherits("tlr::MetricCard");
}

// A widget that draws several texts in colours of their own, one a line
// (a metric card's title, count and sub-line): each line is held to it.
// Any other is held to it by its strongest ink (a decoration beside its
// text, a glow or a ring, is no text of its own).
inline bool linesOfTheirOwn(const QWidget* w) { return w->inherits("tlr::MetricCard"); }

// Drawn faded as a whole around a control that cannot be used (a row of a
// choice that cannot be made): an inactive control and its label.
inline bool inactive(const QWidget* w, const QWidget* top) {
  for (const QWidget* p = w; p && p != top; p = p->parentWidget()) {
    const auto* effect = qobject_cast<const QGraphicsOpacityEffect*>(p->graphicsEffect());
    if (!effect || effect->opacity() >= 1) continue;
    for (const QAbstractButton* control : p->findChildren<const QAbstractButton*>())
      if (!control->isEnabled()) return true;
  }
  return false;
}

// The widgets whose own painting draws words, by their class.
inline bool drawsWords(const QWidget* w) {
  if (const auto* label = qobject_cast<const QLabel*>(w)) return !label->text().trimmed().isEmpty();
  if (const auto* button = qobject_cast<const QAbstractButton*>(w)) return !button->text().trimmed().isEmpty();
  if (const auto* field = qobject_cast<const QLineEdit*>(w))
    return !field->text().isEmpty() || !field->placeholderText().isEmpty();
  if (const auto* edit = qobject_cast<const QTextEdit*>(w)) return !edit->document()->isEmpty();
  if (const auto* plain = qobject_cast<const QPlainTextEdit*>(w)) return !plain->document()->isEmpty();
  for (const char* painted : {"tlr::SectionTitle", "tlr::KindChip", "tlr::ElidedText", "tlr::MetricCard"})
    if (w->inherits(painted)) return !w->accessibleName().trimmed().isEmpty() || w->inherits("tlr::MetricCard");
  return false;
}

// The scroll area's content that holds `w` nearest to it, else `top`.
inline const QWidget* canvasOf(const QWidget* w, const QWidget* top) {
  for (const QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget())
    if (const auto* area = qobject_cast<const QScrollArea*>(p->parentWidget() ? p->parentWidget()->parentWidget() : nullptr);
        area && area->widget() == p)
      return p;
  return top;
}

inline QImage render(QWidget* w, const QColor& ground) {
  QImage image(w->size() * kScale, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(kScale);
  image.fill(ground);
  w->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

// The ground of `area`: the colour most of its pixels have (a text's box is
// mostly its ground, even round dense Chinese strokes); where no colour
// holds a quarter of them (a gradient), the pixel of median lightness.
inline QColor groundIn(const QImage& image, const QRect& area) {
  QHash<QRgb, int> counts;
  QList<std::pair<float, QRgb>> pixels;
  pixels.reserve(qsizetype(area.width()) * area.height());
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = area.left(); x <= area.right(); ++x) {
      ++counts[row[x]];
      pixels.append({float(qRed(row[x]) * 2126 + qGreen(row[x]) * 7152 + qBlue(row[x]) * 722), row[x]});
    }
  }
  if (pixels.isEmpty()) return {};
  QRgb most = 0;
  int seen = 0;
  for (auto it = counts.cbegin(); it != counts.cend(); ++it)
    if (it.value() > seen) most = it.key(), seen = it.value();
  if (seen * 4 >= pixels.size()) return QColor::fromRgb(most);
  const auto middle = pixels.begin() + pixels.size() / 2;
  std::nth_element(pixels.begin(), middle, pixels.end());
  return QColor::fromRgb(middle->second);
}

// Each line of ink in `area` of `image`: the strongest contrast one of its
// pixels reaches against the ground. For a control with a face of its own,
// the face's edge and corners are left out.
inline QList<double> lines(const QImage& image, const QRect& area, const QColor& ground, bool face = false) {
  const auto counts = [&](int x, int y) {
    if (!face) return true;
    const int dx = std::min(x - area.left(), area.right() - x), dy = std::min(y - area.top(), area.bottom() - y);
    const int corner = std::min(kFaceCorner, area.height() / 2);
    return dx >= kFaceEdge && dy >= kFaceEdge && !(dx < corner && dy < corner);
  };
  QList<double> found;
  double strongest = 0;
  int rows = 0;
  const auto endLine = [&] {
    if (rows >= kLeastLineRows) found << strongest;
    strongest = 0;
    rows = 0;
  };
  for (int y = area.top(); y <= area.bottom(); ++y) {
    double inRow = 0;
    for (int x = area.left(); x <= area.right(); ++x)
      if (counts(x, y)) inRow = std::max(inRow, Theme::contrastRatio(image.pixelColor(x, y), ground));
    if (inRow >= kInk) {
      strongest = std::max(strongest, inRow);
      ++rows;
    } else {
      endLine();
    }
  }
  endLine();
  return found;
}

inline QString nameOf(const QWidget* w) {
  const QString text = w->accessibleName().isEmpty() ? w->objectName() : w->accessibleName();
  return QLatin1String(w->metaObject()->className()) + QStringLiteral(" \"") + text.left(40) + QLatin1Char('"');
}

// Measures the texts drawn on `canvas` (the picture of `owner`), then the
// whole content of every scroll area on it, each on its own picture.
inline void measure(QWidget* owner, const QImage& canvas, double least, QStringList& faults) {
  const QRect bounds(QPoint(), canvas.size());
  for (QWidget* w : owner->findChildren<QWidget*>()) {
    // Another window's (an alert over it) is not drawn here.
    if (!w->isVisibleTo(owner) || w->window() != owner->window() || canvasOf(w, owner) != owner) continue;
    if (auto* area = qobject_cast<QScrollArea*>(w); area && area->widget() && area->widget()->isVisibleTo(owner)) {
      const QRect view(area->viewport()->mapTo(owner, QPoint()) * kScale, area->viewport()->size() * kScale);
      measure(area->widget(), render(area->widget(), groundIn(canvas, view & bounds)), least, faults);
      continue;
    }
    // A control that cannot be used is not held to it.
    if (!w->isEnabled() || !drawsWords(w) || inactive(w, owner)) continue;
    const QRect area = QRect(w->mapTo(owner, QPoint()) * kScale, w->size() * kScale) & bounds;
    if (area.isEmpty()) continue;
    // A face's ground is read in its middle, away from its edge and what
    // lies round it (a glow).
    const int in = hasOwnFace(w) ? area.height() / 4 : 0;
    const QColor ground = groundIn(canvas, area.adjusted(in, in, -in, -in));
    QList<double> found = lines(canvas, area, ground, hasOwnFace(w));
    if (found.isEmpty()) faults << nameOf(w) + QStringLiteral(": no legible ink on ") + ground.name();
    if (!found.isEmpty() && !linesOfTheirOwn(w)) found = {*std::max_element(found.cbegin(), found.cend())};
    for (const double ratio : found)
      if (ratio < least)
        faults << nameOf(w) + QStringLiteral(": %1:1 on ").arg(ratio, 0, 'f', 2) + ground.name();
  }
}

}  // namespace readable_detail

// What falls short: each text drawn by the visible widgets under `window`
// (its labels, buttons, titles, chips, fields and text views, and the whole
// content of its scroll areas, scrolled to or not), line by line, whose
// strongest ink reaches less than `least` against the colour its widget
// mostly shows. Controls that cannot be used are left out.
inline QStringList unreadableTexts(QWidget& window, double least = 4.5) {
  QStringList faults;
  readable_detail::measure(&window, readable_detail::render(&window, Theme::current().background), least, faults);
  return faults;
}

// The lines of ink `widget` draws laid on `ground`, each the strongest
// contrast it reaches against the face it draws them on (one widget alone,
// as drawn).
inline QList<double> drawnOn(QWidget& widget, const QColor& ground) {
  widget.resize(widget.size().expandedTo(widget.sizeHint()));
  const QImage image = readable_detail::render(&widget, ground);
  const QRect all(QPoint(), image.size());
  const bool face = readable_detail::hasOwnFace(&widget);
  const int in = face ? all.height() / 4 : 0;
  return readable_detail::lines(image, all, readable_detail::groundIn(image, all.adjusted(in, in, -in, -in)), face);
}

// Every text of `window` reads at 4.5:1 in the light and in the dark scheme
// (the scheme in effect comes back afterwards).
inline void expectReadableInBothSchemes(QWidget& window, const char* what) {
  if (!window.isVisible()) window.show();
  const bool wasDark = Theme::current().dark;
  Appearance look;
  look.setAppliesApplicationPalette(true);
  for (const AppearancePreference scheme : {AppearancePreference::dark, AppearancePreference::light}) {
    look.setPreference(scheme);
    QApplication::processEvents();
    const QStringList faults = unreadableTexts(window);
    EXPECT_TRUE(faults.isEmpty()) << what << (scheme == AppearancePreference::dark ? " (dark): " : " (light): ")
                                  << faults.join(QStringLiteral("; ")).toStdString();
  }
  look.setPreference(wasDark ? AppearancePreference::dark : AppearancePreference::light);
  QApplication::processEvents();
}

}  // namespace tlr::test
