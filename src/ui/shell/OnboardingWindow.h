#pragma once

#include <QDialog>
#include <QImage>

namespace tlr {

class PrimaryButton;
class ScanPause;
class SettingsStore;

// The first-run window that says where Tollamere lives: the tray item, or,
// on a desktop without a system tray, the main window (which a second start
// brings forward). 460 wide; shown application-modally by run(), which
// returns when the user presses "Got it" (also with Return) or closes the
// window, which counts the same. `pause` holds the scan while it runs. Like
// an alert it has no frame, cannot be minimised and is no task-bar entry of
// its own; it is named by its title.
class OnboardingWindow final : public QDialog {
  Q_OBJECT

 public:
  enum class Home { tray, mainWindow };
  // Its texts are in the language of `settings`.
  OnboardingWindow(QImage brandIcon, Home home, ScanPause& pause, const SettingsStore& settings,
                   QWidget* parent = nullptr);

  // Shows the window modally (the scan pauses meanwhile) and closes it.
  void run();
  PrimaryButton* okButton() const { return ok_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage brandIcon_;
  ScanPause& pause_;
  PrimaryButton* ok_ = nullptr;
};

}  // namespace tlr
