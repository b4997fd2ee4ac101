#pragma once

#include "SpawnedChild.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <QStringList>

#include <memory>

namespace tlr::test {

class AppProcess;

// A D-Bus session bus of the test's own, behind which the accessibility bus
// (at-spi2-core) starts on demand, so a test can read and drive an
// application's windows the way a screen reader does (AT-SPI, through
// support/atspi_probe.py and python3-gi: one probe process for the object's
// life, asked one query a line). The bus and everything it started make one
// process group, killed with the object, and the probe another; nothing is
// shared with the desktop's own session.
class AccessibilityBus {
 public:
  AccessibilityBus();
  ~AccessibilityBus();
  AccessibilityBus(const AccessibilityBus&) = delete;
  AccessibilityBus& operator=(const AccessibilityBus&) = delete;

  // Why there is no bus (a program or module missing), empty when running.
  const QString& failure() const { return failure_; }

  // Puts `app` on this bus with Qt's accessibility bridge switched on.
  void attach(AppProcess& app) const;

  // The application's top-level windows (role, name, extents …).
  QJsonArray windows(qint64 pid) const;
  // Every showing node of the window named `window` (all windows when empty).
  QJsonArray tree(qint64 pid, const QString& window = {}) const;
  // The control that has the keyboard focus (not the window or sheet that
  // holds it), the first in the order of tree(); empty while none has.
  QJsonObject focused(qint64 pid) const;
  // Does `action` ("Press", "Toggle", …) on the first showing node of `role`
  // and `name` in `window` ("*": any); the node as it was, or an object with
  // "error", and "acted": true when the action may have been done all the
  // same (the probe failed after asking for it, or gave no answer).
  QJsonObject act(qint64 pid, const QString& window, const QString& role, const QString& name,
                  const QString& action) const;

  // The probe that answers the queries, 0 before the first and after one
  // that went unanswered.
  qint64 probePid() const { return probe_ ? probe_->pid() : 0; }

  // The node of `role` and `name` in a tree; empty when there is none.
  static QJsonObject find(const QJsonArray& tree, const QString& role, const QString& name);

 private:
  // The probe's answer; `silence` says why there is none.
  QByteArray probe(qint64 pid, const QStringList& arguments, QString* silence = nullptr) const;

  // The buses' sockets: the session bus's and the accessibility bus's its
  // launcher starts. A daemon killed with its group leaves its socket, which
  // goes with this folder (after the daemon: members end in reverse order).
  QTemporaryDir sockets_;
  std::unique_ptr<SpawnedChild> daemon_;
  QString address_;
  QString failure_;
  // Started by the first query; ends before the bus does.
  mutable std::unique_ptr<SpawnedChild> probe_;
};

}  // namespace tlr::test
