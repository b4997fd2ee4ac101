#include "watcher/CommandRunner.h"

#include "platform/ChildProcess.h"
#include "platform/LoginShell.h"
#include "platform/UserPrograms.h"

#include <QRegularExpression>

namespace tlr {
namespace {

QString shellLine(const QStringList& argv) {
  QStringList quoted;
  quoted.reserve(argv.size());
  for (const QString& word : argv) quoted << shellQuote(word);
  return quoted.join(QLatin1Char(' '));
}

qint32 exitCodeOf(const ChildResult& child) {
  if (child.exited()) return child.exitCode();
  return 128 + child.termSignal();
}

}  // namespace

QString CommandRunner::terminalText(const QByteArray& output) {
  // CSI sequences (ESC [ … final byte), OSC strings (ESC ] … BEL or ESC \),
  // and any other two-byte escape.
  static const QRegularExpression controls(
      QStringLiteral("\x1b\\[[0-?]*[ -/]*[@-~]|\x1b\\][^\x07\x1b]*(?:\x07|\x1b\\\\)?|\x1b[@-Z\\\\-_]"));
  QString text = QString::fromUtf8(output);
  text.remove(controls);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

CommandRunner::Result CommandRunner::run(const QStringList& argv, std::chrono::milliseconds limit, bool inTerminal) {
  Result result;
  result.limit = limit;
  if (argv.isEmpty()) {
    result.stdErr = QStringLiteral("argv empty");
    return result;
  }
  ChildSpec spec = LoginShell::resolve().childSpec(shellLine(argv), UserPrograms::searchPath());
  spec.timeout = limit;
  spec.outputLimit = kOutputLimit;
  spec.terminal = inTerminal;

  const ChildResult child = runChild(spec);
  if (!child.started) {
    result.stdErr = QStringLiteral("spawn failed: ") + child.startError;
    return result;
  }
  result.exitCode = child.keeperLost ? -1 : exitCodeOf(child);
  result.keeperLost = child.keeperLost;
  result.stdOut = inTerminal ? terminalText(child.out) : QString::fromUtf8(child.out);
  result.stdErr = QString::fromUtf8(child.err);
  result.timedOut = child.timedOut;
  result.outputTruncated = child.outTruncated || child.errTruncated;
  return result;
}

}  // namespace tlr
