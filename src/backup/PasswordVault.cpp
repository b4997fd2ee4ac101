#include "backup/PasswordVault.h"

#include "core/texts/Lang.h"
#include "core/texts/LocTexts.h"
#include "platform/Crypto.h"
#include "platform/DeviceIdentity.h"
#include "platform/FileOps.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/SecretFile.h"
#include "platform/Utf8.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace tlr {
namespace {

const char kSalt[] = "QRT-V5.8-crate-pepr-7b1e";
// A vault holds one password; anything far larger is not a vault file.
constexpr qint64 kMaxVaultBytes = 64 * 1024;

struct VaultState {
  std::mutex mutex;
  std::optional<QString> cached;
  std::shared_ptr<PasswordPrompt> prompt = std::make_shared<HeadlessPasswordPrompt>();
};

VaultState& state() {
  static VaultState s;
  return s;
}

// A text of the prompt in the interface language.
QString text(const LocKey& key) { return LocTexts::text(Lang::current(), key); }

}  // namespace

QString PasswordVault::vaultURL() {
  const QString folder = Paths::appSupport();
  static_cast<void>(SecretFile::ensurePrivateFolder(folder));  // a failure shows in the read or write that follows
  return folder + QStringLiteral("/.pwd.vault");
}

std::optional<QString> PasswordVault::machineUUID() { return DeviceIdentity::machineUuid(); }

QByteArray PasswordVault::deriveKey(const std::optional<QString>& machineUuid, const QString& loginName) {
  QByteArray material = (machineUuid.value_or(QString()) + loginName + QLatin1String(kSalt)).toUtf8();
  QByteArray key = Crypto::sha256(material);
  Crypto::wipe(material);
  return key;
}

QByteArray PasswordVault::deriveMachineKey() { return deriveKey(machineUUID(), DeviceIdentity::loginName()); }

std::optional<QString> PasswordVault::cachedPassword() {
  std::lock_guard lock(state().mutex);
  return state().cached;
}

void PasswordVault::setCachedPassword(const QString& password) {
  std::lock_guard lock(state().mutex);
  if (state().cached) Crypto::wipe(*state().cached);
  state().cached = password;
}

void PasswordVault::clearCachedPassword() {
  std::lock_guard lock(state().mutex);
  if (state().cached) Crypto::wipe(*state().cached);
  state().cached.reset();
}

bool PasswordVault::sealWithKey(const QString& password, const QByteArray& key) {
  return sealWithKeyAt(vaultURL(), password, key);
}

bool PasswordVault::sealWithKeyAt(const QString& path, const QString& password, const QByteArray& key) {
  QByteArray plain = password.toUtf8();
  std::optional<QByteArray> box = Crypto::chachaSeal(key, plain);
  Crypto::wipe(plain);
  if (!box) return false;
  return FileOps::writeOwnFile(path, *box).ok();
}

std::optional<QString> PasswordVault::openAt(const QString& path, const QByteArray& key) {
  const std::optional<QByteArray> box = FileOps::readRegularFile(path, kMaxVaultBytes);
  if (!box || box->size() < Crypto::kChaChaBoxOverhead) return std::nullopt;
  std::optional<QByteArray> plain = Crypto::chachaOpen(key, *box);
  if (!plain) return std::nullopt;
  std::optional<QString> password = decodeStrictUtf8(*plain);
  Crypto::wipe(*plain);
  return password;
}

bool PasswordVault::seal(const QString& password) {
  setCachedPassword(password);
  QByteArray key = deriveMachineKey();
  const bool written = sealWithKey(password, key);
  Crypto::wipe(key);
  return written;
}

std::optional<QString> PasswordVault::openStored() {
  QByteArray key = deriveMachineKey();
  std::optional<QString> password = openAt(vaultURL(), key);
  Crypto::wipe(key);
  if (!password) return std::nullopt;
  setCachedPassword(*password);
  return password;
}

bool PasswordVault::removeStored() {
  const QString path = vaultURL();
  QFile::remove(path);
  return !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
}

std::optional<QString> PasswordVault::promptAndCache(const LocKey& reason) {
  const std::shared_ptr<PasswordPrompt> asker = prompt();
  std::optional<QString> answer;
  auto ask = [&] { answer = asker->askPassword(reason); };
  if (isMainThread() || !QCoreApplication::instance()) {
    ask();
  } else if (!runOnMainAndWait(ask)) {
    return std::nullopt;  // the application is going away
  }
  if (!answer || answer->isEmpty()) return std::nullopt;
  setCachedPassword(*answer);
  return answer;
}

void PasswordVault::setPrompt(std::shared_ptr<PasswordPrompt> prompt) {
  std::lock_guard lock(state().mutex);
  state().prompt = prompt ? std::move(prompt) : std::make_shared<HeadlessPasswordPrompt>();
}

std::shared_ptr<PasswordPrompt> PasswordVault::prompt() {
  std::lock_guard lock(state().mutex);
  return state().prompt;
}

QString PasswordVault::promptMessage(const LocKey& reason) { return text(reason); }

QString PasswordVault::promptInformativeText() {
  return text(LocKey::vaultPasswordPromptInformative(text(LocKey::vaultPasswordPrompt()), text(LocKey::vaultPasswordIntro())));
}

QString PasswordVault::promptPlaceholder() { return text(LocKey::usbPasswordFieldPlaceholder()); }

QString PasswordVault::promptConfirmTitle() { return text(LocKey::vaultPasswordConfirm()); }

QString PasswordVault::promptCancelTitle() { return text(LocKey::vaultPasswordCancel()); }

}  // namespace tlr
