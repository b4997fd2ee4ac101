#pragma once

// The lines a word-wrapping label draws at its width, as a reader sees them
// (the invisible break marks removed, no-break blanks shown as blanks).

#include <QLabel>
#include <QStringList>
#include <QTextLayout>
#include <QTextOption>

namespace tlr::test {

inline QStringList wrappedLines(const QLabel* label, int width = -1) {
  const QString text = label->text();
  QTextLayout layout(text, label->font());
  QTextOption option;
  option.setWrapMode(QTextOption::WordWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  QStringList lines;
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width >= 0 ? width : label->contentsRect().width());
    QString shown = text.mid(line.textStart(), line.textLength());
    shown.remove(QChar(0x2060));
    shown.remove(QChar(0x200B));
    shown.replace(QChar(0x00A0), QLatin1Char(' '));
    lines << shown;
  }
  layout.endLayout();
  return lines;
}

}  // namespace tlr::test
