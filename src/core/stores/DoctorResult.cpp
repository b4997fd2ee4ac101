#include "core/stores/DoctorResult.h"

namespace tlr {

DoctorResult::Verdict DoctorResult::verdict() const {
  if (!detectedIssues.isEmpty()) return Verdict::issuesFound;
  if (timedOut || exitCode != 0) return Verdict::checkFailed;
  return Verdict::clean;
}

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
  if (timedOut)
    lines << (english ? QStringLiteral("Stopped: did not finish within %1 s") : QStringLiteral("已中止：%1 秒内未完成"))
                 .arg(timeLimitSeconds);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace tlr
