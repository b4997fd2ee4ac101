#pragma once

#include <QPoint>
#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <chrono>
#include <optional>

namespace tlr::test {

// An X server of our own for black-box runs with a display: Xvfb picks a
// free display number itself (-displayfd) and tells us on its standard
// output. Stopped by pid with the object; never touches another server.
//
// A window manager (openbox) runs on it when installed, so windows get their
// frames, title bars and placement as on a desktop. `panel` keeps that many
// pixels at the bottom of the screen out of the available area, as a
// desktop's panel does.
class XvfbServer {
 public:
  explicit XvfbServer(QSize screen = QSize(1280, 800), int panel = 0);
  ~XvfbServer();
  // Ends the window manager and the server, as a logout does.
  void stop();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // Why there is no server (Xvfb missing or failing), empty when running.
  const QString& failure() const { return failure_; }
  // ":N".
  const QString& display() const { return display_; }
  // The X server's process.
  qint64 serverPid() const { return server_.processId(); }
  // Whether a window manager runs on the display and has taken it over.
  bool hasWindowManager() const { return windowManagerUp_ && windowManager_.state() == QProcess::Running; }
  // How the window manager ended, when it did (for a failure message).
  QString windowManagerEnd() const;

  // Runs an X client (xdotool, xprop, import) against this display and
  // returns its standard output. A busy machine (two cores, four times as
  // many processes spinning) has kept a search of the window tree waiting
  // more than 10 s for the server: a client that does not end within
  // `timeout` fails the running test and reads as empty, and so does one
  // that does not start.
  QString run(const QString& program, const QStringList& arguments,
              std::chrono::milliseconds timeout = kClientTime) const;
  // Ids of the visible windows whose name is exactly `name` (a walk that
  // ended on a window going in between is walked again).
  QStringList visibleWindows(const QString& name) const;
  // The first visible window named exactly `name` (of `size` when given),
  // once there is one; empty when none shows within `timeout`.
  QString waitForWindow(const QString& name, std::optional<QSize> size = std::nullopt,
                        std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
  // Why no window named `name` is visible, as the X server has it: none of
  // that name, or each one's map state (for a failure message).
  QString whyNotShown(const QString& name) const;
  // A window's size ("WIDTH", "HEIGHT" from xdotool getwindowgeometry).
  std::optional<QSize> windowSize(const QString& id) const;
  // The first visible window named exactly `name` (of `size` when given),
  // or empty.
  QString windowNamed(const QString& name, std::optional<QSize> size = std::nullopt) const;
  // A window's top-left corner on the screen.
  QPoint windowOrigin(const QString& id) const;
  // The top-level window that has the keyboard, or empty.
  QString focusedWindow() const;
  // Moves the pointer to `at` on the screen and clicks the left button.
  void clickAt(QPoint at) const;
  // Writes a PNG of the whole screen; false when it could not.
  bool screenshot(const QString& path) const;
  // A PNG of the whole screen as it is now, in a file of this server's own
  // (empty when it could not be taken): what a test looks at, where no other
  // test's picture can take its place. The next call replaces it.
  QString screen() const;

  // How long an X client may take before it counts as unanswered.
  static constexpr std::chrono::milliseconds kClientTime{60'000};

  static bool hasProgram(const QString& name);
  // Where a test keeps a screenshot named `name` (the folder is made).
  static QString screenshotPath(const QString& name);

 private:
  // What an X client said; `ended` is false when it did not start or did
  // not end in time.
  struct Answer {
    bool ended = false;
    QString out;
    QString err;
  };
  Answer call(const QString& program, const QStringList& arguments,
              std::chrono::milliseconds timeout = kClientTime) const;
  void startWindowManager(int panel);

  QProcess server_;
  QProcess windowManager_;
  QString display_;
  QString failure_;
  bool windowManagerUp_ = false;
  // The window manager's configuration and the screen's pictures.
  QTemporaryDir config_;
};

}  // namespace tlr::test
