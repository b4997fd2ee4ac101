#include "core/DoctorResult.h"

namespace tlr {

QString DoctorResult::combinedOutput(bool english) const {
  QStringList lines;
  lines << QStringLiteral("$ ") + command.join(QLatin1Char(' ')) << QString();
  if (!stdOut.isEmpty()) lines << stdOut.trimmed();
  if (!stdErr.isEmpty()) lines << QString() << QStringLiteral("[stderr]") << stdErr.trimmed();
  lines << QString() << QString(9, QChar(0x2500));
  const QString seconds = QString::number(elapsedSeconds, 'f', 1);
  lines << (english ? QStringLiteral("Exit code: %1  /  Elapsed: %2s")
                    : QStringLiteral("退出码：%1  /  耗时：%2s"))
                   .arg(exitCode)
                   .arg(seconds);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace tlr
