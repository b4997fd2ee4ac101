#include "ui/kit/LineBreaks.h"

namespace tlr::LineBreaks {
namespace {

const QChar kWordJoiner(0x2060);
const QChar kZeroWidthSpace(0x200B);
const QChar kNoBreakSpace(0x00A0);

// `span` as one unbreakable run.
QString whole(const QString& span) {
  QString joined;
  joined.reserve(span.size() * 2);
  for (qsizetype i = 0; i < span.size(); ++i) {
    const QChar c = span.at(i);
    joined += c == QLatin1Char(' ') ? kNoBreakSpace : c;
    if (i + 1 < span.size() && !c.isHighSurrogate()) joined += kWordJoiner;
  }
  return joined;
}

}  // namespace

QString keepTogether(const QString& text, const QStringList& spans) {
  QString out = text;
  for (const QString& span : spans)
    if (!span.isEmpty()) out.replace(span, whole(span));
  return out;
}

QString withoutCommandMarks(const QString& text, QStringList* commands) {
  QString out;
  QStringList found;
  qsizetype from = 0;
  for (;;) {
    const qsizetype open = text.indexOf(QLatin1Char('`'), from);
    const qsizetype close = open < 0 ? -1 : text.indexOf(QLatin1Char('`'), open + 1);
    if (close < 0) {
      out += text.mid(from);
      break;
    }
    const QString command = text.mid(open + 1, close - open - 1);
    out += text.mid(from, open - from) + whole(command);
    found << command;
    from = close + 1;
  }
  if (commands) *commands = found;
  return out;
}

QString pathWrapping(const QString& path, int longestWholeName) {
  QStringList names = path.split(QLatin1Char('/'));
  for (QString& name : names)
    if (name.size() <= longestWholeName) name = whole(name);
  // A break is allowed after each slash, and nowhere else.
  return names.join(QString(QLatin1Char('/')) + kZeroWidthSpace);
}

QString breakLongRuns(const QString& text, int longest) {
  QString out;
  out.reserve(text.size());
  const auto breakable = [longest](const QString& run) {
    if (run.size() <= longest) return run;
    QStringList pieces = run.split(QLatin1Char('/'));
    for (QString& piece : pieces) {
      if (piece.size() <= longest) continue;
      QString open;
      for (qsizetype i = 0; i < piece.size(); ++i) {
        open += piece.at(i);
        if (i + 1 < piece.size() && !piece.at(i).isHighSurrogate()) open += kZeroWidthSpace;
      }
      piece = open;
    }
    return pieces.join(QString(QLatin1Char('/')) + kZeroWidthSpace);
  };
  qsizetype from = 0;
  for (qsizetype i = 0; i <= text.size(); ++i) {
    if (i < text.size() && !text.at(i).isSpace()) continue;
    out += breakable(text.mid(from, i - from));
    if (i < text.size()) out += text.at(i);
    from = i + 1;
  }
  return out;
}

}  // namespace tlr::LineBreaks
