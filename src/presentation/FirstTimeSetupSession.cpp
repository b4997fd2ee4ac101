#include "presentation/FirstTimeSetupSession.h"

#include "backup/BackupVolume.h"
#include "platform/DiskImage.h"
#include "platform/OffMain.h"
#include "presentation/BackupTexts.h"

#include <QDir>
#include <QFileInfo>

namespace tlr {

FirstTimeSetupSession::Create FirstTimeSetupSession::standardCreate() {
  return [](const QString& path, const QString& password) -> std::optional<EngineMessage> {
    const BackupVolume::Result created = BackupVolume::create(path, password);
    if (!created) return created.error().message();
    // Prove the password opens the new image, then leave it as it was.
    const bool wasMounted = BackupVolume::isMounted();
    const BackupVolume::Result mounted = BackupVolume::mount(password);
    if (!mounted) return mounted.error().message();
    if (wasMounted) return std::nullopt;
    if (auto detached = BackupVolume::detach(); !detached) return detached.error().message();
    return std::nullopt;
  };
}

FirstTimeSetupSession::Strength FirstTimeSetupSession::strengthOf(const QString& password) {
  if (password.size() < kMinimumPasswordLength) return Strength::weakest;
  bool lower = false, upper = false, digit = false, other = false;
  for (const QChar c : password) {
    if (c.isLower()) lower = true;
    else if (c.isUpper()) upper = true;
    else if (c.isDigit()) digit = true;
    else other = true;
  }
  const int kinds = int(lower) + int(upper) + int(digit) + int(other);
  if (kinds <= 1) return Strength::weak;
  if (kinds == 2 || password.size() < 12) return Strength::medium;
  return Strength::strong;
}

bool FirstTimeSetupSession::passwordTooLong(const QString& password) {
  return password.toUtf8().size() > DiskImage::kMaxPasswordBytes;
}

QString FirstTimeSetupSession::passwordTooLongText() {
  return backuptext::text(LocKey::firstSetupPasswordTooLong());
}

bool FirstTimeSetupSession::passwordsDiffer(const QString& password, const QString& confirmation) {
  return !confirmation.isEmpty() && password != confirmation;
}

FirstTimeSetupSession::FirstTimeSetupSession(QObject* parent, Create create)
    : QObject(parent), create_(std::move(create)), imagePath_(BackupVolume::defaultImagePath()) {}

bool FirstTimeSetupSession::canCreate(const QString& password, const QString& confirmation) const {
  return !creating_ && password.size() >= kMinimumPasswordLength && !passwordTooLong(password) &&
         password == confirmation;
}

void FirstTimeSetupSession::chooseFolder(const QString& folder) {
  if (creating_) return;
  imagePath_ = QDir(folder).filePath(QFileInfo(BackupVolume::defaultImagePath()).fileName());
  Q_EMIT changed();
}

void FirstTimeSetupSession::create(const QString& password, const QString& confirmation) {
  if (!canCreate(password, confirmation) || !create_) return;
  creating_ = true;
  failure_.reset();
  Q_EMIT changed();
  auto work = [create = create_, path = imagePath_, password = QString(password)]() mutable {
    std::optional<EngineMessage> error = create(path, password);
    password.fill(QLatin1Char('\0'));
    return error;
  };
  startOffMain(this, std::move(work), [this](std::optional<EngineMessage> error) {
    creating_ = false;
    failure_ = std::move(error);
    Q_EMIT changed();
    if (!failure_) Q_EMIT created();
  });
}

}  // namespace tlr
