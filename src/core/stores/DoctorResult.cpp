#include "core/stores/DoctorResult.h"

#include "core/texts/LocTexts.h"

namespace tlr {

DoctorResult::Verdict DoctorResult::verdict() const {
  if (!detectedIssues.isEmpty()) return Verdict::issuesFound;
  if (timedOut || keeperLost || exitCode != 0) return Verdict::checkFailed;
  return Verdict::clean;
}

QString DoctorResult::combinedOutput(AppLanguage language) const {
  QStringList lines;
  lines << QStringLiteral("$ ") + command.join(QLatin1Char(' ')) << QString();
  if (!stdOut.isEmpty()) lines << stdOut.trimmed();
  if (!stdErr.isEmpty()) lines << QString() << QStringLiteral("[stderr]") << stdErr.trimmed();
  lines << QString() << QString(9, QChar(0x2500));
  lines << LocTexts::text(language, LocKey::doctorOutputExitCode(exitCode, elapsedSeconds));
  if (timedOut) lines << LocTexts::text(language, LocKey::doctorOutputStopped(timeLimitSeconds));
  if (keeperLost) lines << LocTexts::text(language, LocKey::doctorCheckKeeperLost());
  return lines.join(QLatin1Char('\n'));
}

}  // namespace tlr
