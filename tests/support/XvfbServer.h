#pragma once

#include <QProcess>
#include <QSize>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace tlr::test {

// An X server of our own for black-box runs with a display: Xvfb picks a
// free display number itself (-displayfd) and tells us on its standard
// output. Stopped by pid with the object; never touches another server.
class XvfbServer {
 public:
  XvfbServer();
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // Why there is no server (Xvfb missing or failing), empty when running.
  const QString& failure() const { return failure_; }
  // ":N".
  const QString& display() const { return display_; }

  // Runs an X client (xdotool, import) against this display and returns its
  // standard output; empty on failure or after `timeout`.
  QString run(const QString& program, const QStringList& arguments,
              std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // Ids of the visible windows whose name is exactly `name`.
  QStringList visibleWindows(const QString& name) const;
  // A window's size ("WIDTH", "HEIGHT" from xdotool getwindowgeometry).
  std::optional<QSize> windowSize(const QString& id) const;
  // Writes a PNG of the whole screen; false when it could not.
  bool screenshot(const QString& path) const;

  static bool hasProgram(const QString& name);

 private:
  QProcess server_;
  QString display_;
  QString failure_;
};

}  // namespace tlr::test
