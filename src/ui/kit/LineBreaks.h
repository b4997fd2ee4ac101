#pragma once

// Where a wrapped text may break. Both return the text to lay out, the same
// characters joined with invisible no-break marks (U+2060) or given a
// zero-width break opportunity (U+200B); what a label announces to
// assistive tools stays the original text.

#include <QString>
#include <QStringList>

namespace tlr::LineBreaks {

// `text` with every occurrence of each span kept on one line (its blanks made
// no-break blanks, no break between any two of its characters): a command
// is never broken at a blank, a hyphen or a dot.
QString keepTogether(const QString& text, const QStringList& spans);

// A text of the text tables that marks commands with backticks ("run
// `npm i -g x`") as shown: the marks dropped, each marked command kept on one
// line. `commands`, when given, receives the commands.
QString withoutCommandMarks(const QString& text, QStringList* commands = nullptr);

// A path that wraps only after a "/": each name between slashes is kept whole
// unless it alone is longer than `longestWholeName` characters ("~/TLR 备份"
// never breaks inside "备份").
QString pathWrapping(const QString& path, int longestWholeName = 40);

// A sentence that may hold a long path or name ("Written to /media/…"):
// each run without a blank longer than `longest` characters may break after
// a "/", and a piece of it still longer than that anywhere, so no line is
// wider than its label.
QString breakLongRuns(const QString& text, int longest = 30);

}  // namespace tlr::LineBreaks
