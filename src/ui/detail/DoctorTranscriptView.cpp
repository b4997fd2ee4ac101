#include "ui/detail/DoctorTranscriptView.h"

#include "ui/kit/Theme.h"

#include <QFontDatabase>
#include <QMimeData>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace tlr {

DoctorTranscriptView::DoctorTranscriptView(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  setUndoRedoEnabled(false);
  document()->setUndoRedoEnabled(false);
  setFont(Theme::monoFont(11));
  setFrameShape(QFrame::NoFrame);
  document()->setDocumentMargin(8);
  applyColors();
  whenLookChanges(this, [this] { applyColors(); });
  sliceTimer_.setSingleShot(true);
  sliceTimer_.setInterval(0);
  connect(&sliceTimer_, &QTimer::timeout, this, &DoctorTranscriptView::loadSlice);
}

void DoctorTranscriptView::applyColors() {
  // The card colour at 60 % under the text colour of the scheme.
  const Theme::Roles r = Theme::current();
  QPalette p = palette();
  p.setColor(QPalette::Base, Theme::withOpacity(r.card, 0.6));
  p.setColor(QPalette::Text, r.text);
  p.setColor(QPalette::Highlight, Theme::withOpacity(r.accent, 0.35));
  p.setColor(QPalette::HighlightedText, r.text);
  setPalette(p);
  viewport()->setPalette(p);
}

void DoctorTranscriptView::setTranscript(const QString& text) {
  sliceTimer_.stop();
  source_ = text;
  loaded_ = 0;
  lineRun_ = 0;
  insertedBreaks_.clear();
  documentLength_ = 0;
  clear();
  if (source_.isEmpty()) {
    Q_EMIT loadFinished();
    return;
  }
  // The first slice is on screen at once; the rest follows.
  loadSlice();
}

QString DoctorTranscriptView::nextSlice(qsizetype from, qsizetype& next) {
  qsizetype limit = std::min(source_.size(), from + kSliceChars);
  // A slice never ends between the halves of a surrogate pair.
  if (limit < source_.size() && source_.at(limit - 1).isHighSurrogate()) --limit;
  QString out;
  out.reserve(limit - from + (limit - from) / kMaxLineChars + 1);
  qsizetype i = from;
  while (i < limit) {
    const qsizetype nl = source_.indexOf(QLatin1Char('\n'), i);
    const qsizetype lineEnd = (nl < 0 || nl >= limit) ? limit : nl;
    // The stretch up to the line end, cut wherever the current display line
    // reaches kMaxLineChars. A slice may end inside a line: the next one
    // continues it.
    while (i < lineEnd) {
      if (lineRun_ >= kMaxLineChars) {
        insertedBreaks_.append(documentLength_ + static_cast<int>(out.size()));
        out += QLatin1Char('\n');
        lineRun_ = 0;
      }
      qsizetype take = std::min(kMaxLineChars - lineRun_, lineEnd - i);
      if (take < lineEnd - i && source_.at(i + take - 1).isHighSurrogate()) take += take > 1 ? -1 : 1;
      out += QStringView(source_).mid(i, take);
      lineRun_ += take;
      i += take;
    }
    if (lineEnd == nl) {
      out += QLatin1Char('\n');
      lineRun_ = 0;
      i = nl + 1;
    }
  }
  next = i;
  return out;
}

void DoctorTranscriptView::loadSlice() {
  if (!isLoading()) return;
  qsizetype next = loaded_;
  const QString slice = nextSlice(loaded_, next);
  QTextCursor cursor(document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(slice);
  documentLength_ += static_cast<int>(slice.size());
  loaded_ = next;
  if (isLoading()) {
    sliceTimer_.start();
  } else {
    Q_EMIT loadFinished();
  }
}

QString DoctorTranscriptView::selectedTranscriptText() const {
  const QTextCursor cursor = textCursor();
  if (!cursor.hasSelection()) return {};
  const int start = cursor.selectionStart();
  QString text = cursor.selectedText();
  // Drop the breaks this view added, from the back so positions hold.
  const auto first = std::lower_bound(insertedBreaks_.cbegin(), insertedBreaks_.cend(), start);
  const auto last = std::lower_bound(first, insertedBreaks_.cend(), start + static_cast<int>(text.size()));
  for (auto it = last; it != first;) {
    --it;
    text.remove(*it - start, 1);
  }
  text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  text.replace(QChar::LineSeparator, QLatin1Char('\n'));
  return text;
}

QMimeData* DoctorTranscriptView::createMimeDataFromSelection() const {
  auto* data = new QMimeData;
  data->setText(selectedTranscriptText());
  return data;
}

}  // namespace tlr
