#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QString>
#include <QTimer>

namespace tlr {

// The full output of a doctor run: read-only, monospaced, selectable plain
// text in its own scrolling view. Large transcripts (a doctor may print 16 MiB
// and more) are loaded in slices on later turns of the event loop, so the
// window keeps answering while the rest arrives. A line longer than
// kMaxLineChars is shown in pieces of that length, since laying out one
// enormous line would stall every repaint; copying a selection gives the
// original lines back.
class DoctorTranscriptView : public QPlainTextEdit {
  Q_OBJECT

 public:
  static constexpr qsizetype kMaxLineChars = 4096;
  // About this many characters go into the document per turn of the loop.
  static constexpr qsizetype kSliceChars = 64 * 1024;

  explicit DoctorTranscriptView(QWidget* parent = nullptr);

  // Replaces the transcript; a load still under way is dropped.
  void setTranscript(const QString& text);
  const QString& transcript() const { return source_; }
  // Whether part of the transcript is still to come.
  bool isLoading() const { return loaded_ < source_.size(); }
  // The selected text as the transcript has it (pieces of long lines joined
  // again, line breaks as "\n").
  QString selectedTranscriptText() const;

 Q_SIGNALS:
  void loadFinished();

 protected:
  QMimeData* createMimeDataFromSelection() const override;

 private:
  void applyColors();
  // Appends the next slice of the source; schedules the one after.
  void loadSlice();
  // The next slice from `from`: up to kSliceChars, ending after a line break
  // where there is one; long lines are cut at kMaxLineChars. Returns the
  // display text and sets `next` to where the following slice starts.
  QString nextSlice(qsizetype from, qsizetype& next);

  QString source_;
  qsizetype loaded_ = 0;
  // Characters of the current display line taken so far (for cutting long
  // lines across slices).
  qsizetype lineRun_ = 0;
  // Document positions of the breaks inserted into long lines, ascending.
  QList<int> insertedBreaks_;
  int documentLength_ = 0;
  QTimer sliceTimer_;
};

}  // namespace tlr
