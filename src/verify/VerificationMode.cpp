#include "verify/VerificationMode.h"

#include <array>

namespace tlr {
namespace {

constexpr std::array kOrder = {
    VerificationMode::selfTest,      VerificationMode::contractTest,   VerificationMode::e2e,
    VerificationMode::restoreVerify, VerificationMode::restartDryRun, VerificationMode::backupRegistry,
    VerificationMode::backup,
};

}  // namespace

QString environmentVariable(VerificationMode mode) {
  switch (mode) {
    case VerificationMode::selfTest: return QStringLiteral("TLR_SELFTEST");
    case VerificationMode::contractTest: return QStringLiteral("TLR_CONTRACT_TEST");
    case VerificationMode::e2e: return QStringLiteral("TLR_E2E");
    case VerificationMode::restoreVerify: return QStringLiteral("TLR_RESTORE_VERIFY");
    case VerificationMode::restartDryRun: return QStringLiteral("TLR_RESTART_DRYRUN");
    case VerificationMode::backupRegistry: return QStringLiteral("TLR_BACKUP_REGISTRY");
    case VerificationMode::backup: return QStringLiteral("TLR_BACKUP");
  }
  return {};
}

std::optional<SelectedMode> selectVerificationMode(const QProcessEnvironment& environment) {
  for (const VerificationMode mode : kOrder) {
    const QString name = environmentVariable(mode);
    if (!environment.contains(name)) continue;
    const QString value = environment.value(name);
    if (mode == VerificationMode::restartDryRun) {
      if (!value.isEmpty()) return SelectedMode{mode, value};
    } else if (value == QLatin1String("1")) {
      return SelectedMode{mode, QString()};
    }
  }
  return std::nullopt;
}

VerificationResult unavailableModeResult(VerificationMode mode) {
  return {false, environmentVariable(mode) +
                     QStringLiteral(": not available in this build (the backup engine is not part of it)")};
}

}  // namespace tlr
