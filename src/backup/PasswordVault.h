#pragma once

#include "core/texts/LocKey.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace tlr {

// Asks the user for the backup image's password. The application installs a
// dialog when it has a display; until then, and in the verification modes,
// the headless prompt answers nothing at once, so nothing ever waits for a
// window that cannot appear.
class PasswordPrompt {
 public:
  virtual ~PasswordPrompt() = default;
  // Called on the main thread. `reason` is the key of the caller's message,
  // which the prompt says in the interface language. The typed text
  // unchanged (blanks are kept), or nothing when the user cancelled or
  // confirmed an empty field.
  virtual std::optional<QString> askPassword(const LocKey& reason) = 0;
};

// The prompt without a display: always nothing.
class HeadlessPasswordPrompt final : public PasswordPrompt {
 public:
  std::optional<QString> askPassword(const LocKey&) override { return std::nullopt; }
};

// Keeps the backup image's password so backups can run unattended:
//  - in memory for the life of the process (cachedPassword),
//  - in ".pwd.vault" in the application folder, sealed with ChaCha20-Poly1305
//    under a key derived from this machine and this user, never stored,
//  - and, when neither has it, by asking the user (the prompt).
// The vault does not check passwords: BackupVolume seals one only after a
// mount with it succeeded, and removes a stored one the image refused.
//
// The file holds exactly nonce (12 bytes) | ciphertext | tag (16 bytes), no
// header and no associated data. The cache and the prompt are process-wide;
// all members are static and safe on any thread (the prompt itself always
// runs on the main thread).
class PasswordVault {
 public:
  // ".pwd.vault" in the application folder, which is created when missing
  // and restricted to its owner (0700).
  static QString vaultURL();

  // The key of the vault file: SHA-256 of the machine UUID text (or "" when
  // there is none), the login name and a fixed salt, joined without
  // separators. The caller wipes it after use.
  static QByteArray deriveMachineKey();
  static QByteArray deriveKey(const std::optional<QString>& machineUuid, const QString& loginName);
  // The machine's UUID (DeviceIdentity::machineUuid), or nothing.
  static std::optional<QString> machineUUID();

  // The password held in memory, if any.
  static std::optional<QString> cachedPassword();
  static void setCachedPassword(const QString& password);
  // Forgets the in-memory password (its characters are overwritten).
  static void clearCachedPassword();

  // Sealing: puts `password` in the cache and seals it into the vault file
  // (replacing it whole, atomically, mode 0600). Returns whether the file was
  // written; on failure the cache still holds the password, so this process
  // keeps working.
  [[nodiscard]] static bool seal(const QString& password);
  // Seals under a given key without touching the cache (a migration import
  // writes the file this way; tests seal as another machine or user).
  [[nodiscard]] static bool sealWithKey(const QString& password, const QByteArray& key);
  // The same two steps on a vault file at another place (a self-test's own),
  // leaving the cache alone.
  [[nodiscard]] static bool sealWithKeyAt(const QString& path, const QString& password, const QByteArray& key);
  static std::optional<QString> openAt(const QString& path, const QByteArray& key);

  // Opening: the password in the vault file, also put in the cache; nothing
  // when the file is missing, shorter than a sealed box, sealed on another
  // machine or for another user, damaged, or not UTF-8. A file that does not
  // open is left as it is.
  static std::optional<QString> openStored();
  // Deletes the vault file (a stored password the image refused). Returns
  // false when a file remains.
  [[nodiscard]] static bool removeStored();

  // Asks the installed prompt on the main thread (waiting for it from other
  // threads); a non-empty answer is put in the cache and returned. Nothing is
  // sealed here: a typed password is sealed only once it has opened the
  // volume.
  static std::optional<QString> promptAndCache(const LocKey& reason);

  // The prompt in use; the headless one until another is installed.
  static void setPrompt(std::shared_ptr<PasswordPrompt> prompt);
  static std::shared_ptr<PasswordPrompt> prompt();

  // The dialog's texts in the interface language at the moment of the call:
  // its message (the caller's reason), and its own.
  static QString promptMessage(const LocKey& reason);
  static QString promptInformativeText();
  static QString promptPlaceholder();
  static QString promptConfirmTitle();
  static QString promptCancelTitle();
};

}  // namespace tlr
