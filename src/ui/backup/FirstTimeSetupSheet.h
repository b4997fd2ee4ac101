#pragma once

#include "presentation/FirstTimeSetupSession.h"
#include "ui/kit/Sheet.h"

#include <functional>

class QProgressBar;
class QStackedWidget;
class QVBoxLayout;

namespace tlr {

class SettingsStore;

class Label;
class PrimaryButton;
class SecondaryButton;

namespace backupui {
class MessageLine;
class SecureField;
}  // namespace backupui

// First-time setup of the encrypted backup image, in two steps: where the
// image lies (the home folder's "TLR 备份.sparsebundle" unless the user picks
// another folder), then its password typed twice. "Create encrypted volume"
// creates the image off the window's thread, with the step's busy bar, and
// calls onDone then onClose when the image exists; a failure shows the
// volume's own error in the interface language (the tool's output behind
// "Details") and keeps both fields so the user can try again. The sheet
// draws its FirstTimeSetupSession and forwards to it.
class FirstTimeSetupSheet final : public Sheet {
  Q_OBJECT
 public:
  // Its controls follow the language of `settings`, which must outlive it.
  FirstTimeSetupSheet(std::function<void()> onClose, std::function<void()> onDone, const SettingsStore& settings,
                      QWidget* parent = nullptr,
                      FirstTimeSetupSession::Create create = FirstTimeSetupSession::standardCreate());
  ~FirstTimeSetupSheet() override;

  const FirstTimeSetupSession& session() const { return *session_; }
  int step() const;

 private:
  void build();
  QWidget* buildPlaceStep();
  QWidget* buildPasswordStep();
  void connectControls();
  void retranslate();
  void goToStep(int step);
  void updatePasswordState();
  void showStrength();
  void create();
  void finishCreate();
  void changeLocation();
  void wipeFields();

  const SettingsStore& settings_;
  FirstTimeSetupSession* session_;
  std::function<void()> onDone_;

  Label* stepLabel_ = nullptr;
  QStackedWidget* pages_ = nullptr;
  // step 1
  Label* intro_ = nullptr;
  Label* introDetail_ = nullptr;
  Label* locationTitle_ = nullptr;
  Label* locationPath_ = nullptr;
  SecondaryButton* change_ = nullptr;
  Label* locationHint_ = nullptr;
  PrimaryButton* next_ = nullptr;
  // step 2
  Label* passwordTitle_ = nullptr;
  Label* passwordIntro_ = nullptr;
  Label* passwordLabel_ = nullptr;
  backupui::SecureField* password_ = nullptr;
  Label* strength_ = nullptr;
  Label* againLabel_ = nullptr;
  backupui::SecureField* again_ = nullptr;
  Label* mismatch_ = nullptr;
  backupui::MessageLine* error_ = nullptr;
  QProgressBar* busy_ = nullptr;
  SecondaryButton* back_ = nullptr;
  PrimaryButton* createButton_ = nullptr;
};

}  // namespace tlr
