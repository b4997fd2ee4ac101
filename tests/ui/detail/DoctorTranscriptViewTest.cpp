#include "ui/detail/DoctorTranscriptView.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <gtest/gtest.h>

using tlr::DoctorTranscriptView;

namespace {

bool loadAll(DoctorTranscriptView& view) {
  return tlr::test::waitUntil([&] { return !view.isLoading(); }, std::chrono::seconds(60));
}

QString selectAll(DoctorTranscriptView& view) {
  QTextCursor all(view.document());
  all.select(QTextCursor::Document);
  view.setTextCursor(all);
  return view.selectedTranscriptText();
}

}  // namespace

TEST(DoctorTranscriptView, SixteenMebibytesArriveInSlicesWhileTheLoopKeepsTurning) {
  QString text;
  const QString line = QString(79, 'x') + '\n';
  while (text.size() < 16 * 1024 * 1024) text += line;
  text += "Exit code: 0";

  DoctorTranscriptView view;
  view.resize(600, 300);
  view.show();
  view.setTranscript(text);
  // Only the first slice is in; the rest waits for later turns of the loop.
  EXPECT_TRUE(view.isLoading());
  EXPECT_LE(view.document()->characterCount(), DoctorTranscriptView::kSliceChars + 2);

  int turns = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++turns; });
  ticker.start(0);
  ASSERT_TRUE(loadAll(view));
  EXPECT_GT(turns, 10) << "other work ran between the slices";
  EXPECT_EQ(view.toPlainText(), text);
  EXPECT_TRUE(view.isReadOnly());
  EXPECT_EQ(view.verticalScrollBar()->value(), 0) << "the view stays at the top while text arrives";
}

TEST(DoctorTranscriptView, AHugeLineIsShownInPiecesAndCopiedWhole) {
  const QString longLine = QString(3 * DoctorTranscriptView::kMaxLineChars + 10, 'y');
  const QString text = "$ doctor\n\n" + longLine + "\nshort\n<b>bold</b> & <img src=x>";
  DoctorTranscriptView view;
  view.setTranscript(text);
  ASSERT_TRUE(loadAll(view));
  int longest = 0;
  for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) longest = std::max(longest, b.length() - 1);
  EXPECT_EQ(longest, DoctorTranscriptView::kMaxLineChars);
  EXPECT_EQ(selectAll(view), text) << "copying gives the original lines back";
  // Markup is text here, shown as written.
  EXPECT_EQ(view.document()->lastBlock().text(), "<b>bold</b> & <img src=x>");
}

TEST(DoctorTranscriptView, ALongLineAcrossSlicesAndAPartialSelectionKeepTheirCharacters) {
  // One line longer than a slice, with astral characters, then a second line.
  QString longLine;
  while (longLine.size() < DoctorTranscriptView::kSliceChars + 5000) longLine += QString::fromUtf8("ab😀");
  const QString text = longLine + "\nend";
  DoctorTranscriptView view;
  view.setTranscript(text);
  ASSERT_TRUE(loadAll(view));
  EXPECT_EQ(selectAll(view), text);

  // A partial selection across an inserted break, in plain letters.
  view.setTranscript(QString(3 * DoctorTranscriptView::kMaxLineChars, 'q') + "\nend");
  ASSERT_TRUE(loadAll(view));
  QTextCursor part(view.document());
  part.setPosition(DoctorTranscriptView::kMaxLineChars - 3);
  part.setPosition(2 * DoctorTranscriptView::kMaxLineChars, QTextCursor::KeepAnchor);
  view.setTextCursor(part);
  const QString selected = view.selectedTranscriptText();
  EXPECT_FALSE(selected.contains('\n'));
  EXPECT_EQ(selected, QString(DoctorTranscriptView::kMaxLineChars + 2, QLatin1Char('q'))) << "the inserted break is not copied";

  view.copy();
  EXPECT_EQ(QApplication::clipboard()->text(), selected);
}

TEST(DoctorTranscriptView, ANewTranscriptReplacesOneStillLoading) {
  QString big(3 * DoctorTranscriptView::kSliceChars, 'z');
  DoctorTranscriptView view;
  view.setTranscript(big);
  ASSERT_TRUE(view.isLoading());
  view.setTranscript("second");
  ASSERT_TRUE(loadAll(view));
  EXPECT_EQ(view.toPlainText(), "second");
}
