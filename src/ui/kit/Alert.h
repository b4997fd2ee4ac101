#pragma once

// A question the user answers before something happens, drawn like the
// sheets:
//
//   auto* alert = new Alert(title, message, parentWindow, {command});
//   auto* cancel = alert->addButton(tr("Cancel"), Alert::Role::cancel, "cancel");
//   auto* go = alert->addButton(tr("Restart"), Alert::Role::destructive, "go");
//   connect(alert, &Alert::answered, ctx, [=](QAbstractButton* b) { if (b == go) … });
//   alert->present();
//
// A warning symbol, the title (the window's title too) and the message,
// wrapping at word boundaries and never inside the spans given as
// `keepTogether` (a command, a path); the buttons at the right, in the order
// added. The window is as wide as its text needs, between kMinWidth and
// kMaxWidth (wider only for a span that cannot be broken), and as tall as its
// content. Window-modal over the parent's window; Return presses the default
// button (the cancel one unless set), Esc and closing the window answer with
// the cancel button. It answers once, then closes and deletes itself. The
// window manager keeps it with its window (no frame, no minimising, not in
// the task bar); whenever its window comes back (from the tray, from being
// minimised) the alert comes back on top with the keyboard. Assistive tools
// see an alert (AT-SPI role "alert") named by its title.

#include <QDialog>
#include <QPointer>
#include <QStringList>

class QAbstractButton;
class QHBoxLayout;
class QLineEdit;
class QVBoxLayout;

namespace tlr {

class Label;
class LocKey;
class SettingsStore;
class PaintedButton;

class Alert final : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinWidth = 300;
  static constexpr int kMaxWidth = 440;

  enum class Role { cancel, confirm, destructive };

  Alert(const QString& title, const QString& message, QWidget* parent, const QStringList& keepTogether = {});

  PaintedButton* addButton(const QString& label, Role role, const QString& objectName = {});
  // A line under the message holding `text` exactly as it is, read-only and
  // selectable, so it can be copied (an address, a path).
  QLineEdit* addCopyableText(const QString& text, const QString& objectName = {});

  // The alert of a target the desktop could not open (a web address, or a
  // folder when `folder`): why, in the interface's language, and the target
  // to copy. Presented over `parent`'s window.
  static Alert* presentOpenFailed(const SettingsStore& settings, const QString& target, const LocKey& reason,
                                  bool folder, QWidget* parent);
  void setDefaultButton(PaintedButton* button) { default_ = button; }

  // Shows it over the parent's window and returns at once.
  void present();

  const QString& title() const { return title_; }
  const QString& message() const { return message_; }

 Q_SIGNALS:
  // The button pressed; the cancel button (or none) when dismissed.
  void answered(QAbstractButton* button);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void answer(QAbstractButton* button);
  void fitToText();
  void takeTheKeyboard();

  QString title_;
  QString message_;
  QStringList keepTogether_;
  Label* titleLabel_ = nullptr;
  Label* messageLabel_ = nullptr;
  QVBoxLayout* column_ = nullptr;
  QLineEdit* copyable_ = nullptr;
  QHBoxLayout* buttons_ = nullptr;
  QPointer<PaintedButton> cancel_;
  QPointer<PaintedButton> default_;
  bool answered_ = false;
};

}  // namespace tlr
