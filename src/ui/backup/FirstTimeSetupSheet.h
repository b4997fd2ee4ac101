#pragma once

#include "backup/EngineMessage.h"
#include "ui/kit/Sheet.h"

#include <QString>

#include <functional>
#include <optional>

class QProgressBar;
class QStackedWidget;

namespace tlr {

class Label;
class PrimaryButton;
class SecondaryButton;

namespace backupui {
class MessageLine;
class SecureField;
class SheetHeader;
}  // namespace backupui

// First-time setup of the encrypted backup image, in two steps: where the
// image lies (the home folder's "TLR 备份.sparsebundle" unless the user picks
// another folder), then its password typed twice. "Create encrypted volume"
// creates the image off the window's thread, with the step's busy bar, and
// calls onDone then onClose when the image exists; a failure shows the
// volume's own error in the interface language (the tool's output behind
// "Details") and keeps both fields so the user can try again.
class FirstTimeSetupSheet final : public Sheet {
  Q_OBJECT
 public:
  // What the sheet does with the image. Both run off the main thread.
  struct Operations {
    // Creates the image at `path` with `password` (sealing the password and
    // proving it opens the image). Nothing on success, else why it failed.
    std::function<std::optional<EngineMessage>(const QString& path, const QString& password)> create;
    // The folder picker of "Change…": a folder, or nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent)> chooseFolder;
  };
  static Operations standardOperations();

  // The shortest password the sheet accepts.
  static constexpr int kMinimumPasswordLength = 8;
  enum class Strength { weakest, weak, medium, strong };
  static Strength strengthOf(const QString& password);

  FirstTimeSetupSheet(std::function<void()> onClose, std::function<void()> onDone, QWidget* parent = nullptr,
                      Operations operations = standardOperations());
  ~FirstTimeSetupSheet() override;

  int step() const;
  QString imagePath() const { return imagePath_; }
  bool isCreating() const { return creating_; }

 private:
  void retranslate();
  void goToStep(int step);
  void updatePasswordState();
  void create();
  void finishCreate(const std::optional<EngineMessage>& error);
  void changeLocation();
  void wipeFields();

  std::function<void()> onDone_;
  Operations ops_;
  QString imagePath_;
  bool creating_ = false;

  backupui::SheetHeader* header_;
  Label* stepLabel_;
  QStackedWidget* pages_;
  // step 1
  Label* intro_;
  Label* introDetail_;
  Label* locationTitle_;
  Label* locationPath_;
  SecondaryButton* change_;
  Label* locationHint_;
  PrimaryButton* next_;
  // step 2
  Label* passwordTitle_;
  Label* passwordIntro_;
  Label* passwordLabel_;
  backupui::SecureField* password_;
  Label* strength_;
  Label* againLabel_;
  backupui::SecureField* again_;
  Label* mismatch_;
  backupui::MessageLine* error_;
  QProgressBar* busy_;
  SecondaryButton* back_;
  PrimaryButton* createButton_;
};

}  // namespace tlr
