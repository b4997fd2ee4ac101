#pragma once

#include <QDialog>
#include <QImage>

namespace tlr {

class PrimaryButton;

// The first-run window that says where the tray item lives. 460 wide; shown
// application-modally by run(), which returns when the user presses "Got it"
// (also with Return) or closes the window, which counts the same.
class OnboardingWindow final : public QDialog {
  Q_OBJECT

 public:
  explicit OnboardingWindow(QImage brandIcon, QWidget* parent = nullptr);

  // Shows the window modally (the scan pauses meanwhile) and closes it.
  void run();
  PrimaryButton* okButton() const { return ok_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage brandIcon_;
  PrimaryButton* ok_ = nullptr;
};

}  // namespace tlr
