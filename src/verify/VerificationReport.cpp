#include "verify/VerificationReport.h"

#include "platform/Log.h"

namespace tlr {

bool VerificationReport::step(const QString& name, bool ok, const QString& reason) {
  if (ok) {
    lines_ << oneLine(QStringLiteral("✓ ") + name);
  } else {
    failed_ = true;
    lines_ << oneLine(QStringLiteral("✗ ") + name + (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason));
  }
  return ok;
}

VerificationResult VerificationReport::result() const {
  QStringList all{environmentVariable(mode_)};
  all << lines_ << (passed() ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
  return {passed(), all.join('\n')};
}

}  // namespace tlr
