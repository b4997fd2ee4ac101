#pragma once

#include <QString>
#include <QStringList>

// One line per message. Each call is a single write(2) of the whole line and
// its newline, so lines from several threads never interleave mid-line and
// nothing waits in a buffer when the process ends.
namespace tlr {

// `text` with its control characters escaped ("\n", "\r", "\x1b", "\u2028"),
// so that it stays on one line whatever it holds: a text from the network,
// the registry, a file name or an agent's output can never start a line of
// its own or steer a terminal. Tabs stay as they are.
QString oneLine(const QString& text);

// Standard output: "<tag><message>", where the tag already ends with its blank
// ("[Registry] "). The line goes through oneLine() first; one longer than
// 8192 characters is cut there, with a note of how many were left out.
void logLine(const QString& line);
inline void log(const char* tag, const QString& message) {
  logLine(QString::fromUtf8(tag) + message);
}
// Standard error: diagnostics and verification reports, through oneLine().
void errLine(const QString& line);
// Writes `text` to standard error exactly as given, in one write (a
// report of several lines: each of its lines went through oneLine()).
void errWrite(const QByteArray& text);

// A list as log lines write it: ["a", "b"].
QString quotedList(const QStringList& items);

// Drops the toolkit's notice that $XDG_RUNTIME_DIR is not set (the only
// toolkit message a normal start printed; the toolkit asks for that folder
// itself while the application object is built, see Log.cpp); every other
// message goes on to the toolkit's own handler. Call once, before the
// application object exists.
void quietToolkitNotices();

// Makes standard output and error unbuffered for anything printed with stdio.
void makeStdioUnbuffered();

}  // namespace tlr
