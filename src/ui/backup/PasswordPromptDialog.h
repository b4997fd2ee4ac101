#pragma once

#include "backup/PasswordVault.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

namespace tlr {

class Label;
class PrimaryButton;
class SecondaryButton;

namespace backupui {
class SecureField;
}

// The alert that asks for the backup image's password: the caller's
// message (its key said in the interface language), the informative text, a masked field (its placeholder set, focus
// in it so the user can type at once) and the buttons "Confirm" (the
// default) and "Cancel". Texts follow the interface language at the moment
// the dialog is built.
class PasswordPromptDialog final : public QDialog {
  Q_OBJECT
 public:
  explicit PasswordPromptDialog(const LocKey& reason, QWidget* parent = nullptr);
  ~PasswordPromptDialog() override;

  // Runs the dialog modally on the main thread. The typed text unchanged, or
  // nothing after Cancel (Esc, closing the window) or an empty Confirm. The
  // field is wiped before this returns.
  static std::optional<QString> ask(const LocKey& reason, QWidget* parent = nullptr);

  // What was confirmed (empty after Cancel); the field is wiped by then.
  std::optional<QString> takeAnswer();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void confirm();

  Label* message_;
  Label* informative_;
  backupui::SecureField* field_;
  PrimaryButton* confirm_;
  SecondaryButton* cancel_;
  std::optional<QString> answer_;
};

// The vault's prompt as this dialog, over the active window. The vault
// brings each request to the main thread (a worker waits for the answer).
class DialogPasswordPrompt final : public PasswordPrompt {
 public:
  std::optional<QString> askPassword(const LocKey& reason) override;
};

// Installs the dialog as the vault's prompt when the application has a
// display to show it on; on the offscreen or minimal platforms (no display)
// the headless prompt stays, answering nothing at once. Returns whether the
// dialog was installed.
bool installDialogPasswordPrompt();

}  // namespace tlr
