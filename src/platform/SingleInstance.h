#pragma once

#include <QByteArray>
#include <QLocalServer>
#include <QObject>
#include <QString>

#include <chrono>

// Keeps one Tollamere running per user account: an advisory lock on a file
// in the application folder, and a local socket through which a second copy
// asks the running one to come forward.
namespace tlr {

class SingleInstanceLock final {
 public:
  enum class Outcome {
    acquired,       // this process holds the lock from now to its end
    heldByAnother,  // another live process holds it
    openFailed,     // the file could not be opened; no lock is held
  };
  struct Result {
    Outcome outcome = Outcome::openFailed;
    int fd = -1;  // the held descriptor when acquired, else -1
    QString path;
  };

  // Opens `path` (created 0644 when missing, close-on-exec, so programs we
  // start never inherit it) and takes an exclusive, non-blocking flock on it.
  // On success the file is cut to this process's pid and one newline, and
  // the descriptor is deliberately never closed: the kernel releases the
  // lock when the process ends, however it ends. On any other outcome the
  // descriptor is closed again.
  static Result acquire(const QString& path);

  // The file's name inside the application folder.
  static constexpr const char* kFileName = "single-instance.lock";
};

// The rendezvous between the running instance and a later copy: a local
// socket named after the user id, kept beside the lock file, so the lock and
// the channel always belong to the same account and application folder.
class InstanceChannel final : public QObject {
  Q_OBJECT

 public:
  explicit InstanceChannel(QObject* parent = nullptr);

  // The socket's path for an application folder.
  static QString socketPath(const QString& appFolder);

  // Starts listening (the lock holder only: a leftover socket of an ended
  // instance is removed first). False when the socket cannot be made.
  bool listen(const QString& appFolder);
  QString errorString() const { return server_.errorString(); }

  // In a second copy: sends `message` to the running instance and waits at
  // most `timeout` for it to be taken. False when nobody listens.
  static bool notifyRunningInstance(const QString& appFolder, const QByteArray& message,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(2));

  static constexpr const char* kBringForward = "bring-forward";

 Q_SIGNALS:
  // One per message a later copy sent.
  void messageReceived(const QByteArray& message);

 private:
  void acceptPending();

  QLocalServer server_;
};

}  // namespace tlr
