#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

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
    bool pidWritten = false;  // the file now holds this process's pid
    QString note;             // why it could not be written, when it could not
  };

  // Opens `path` without ever waiting (created 0600 when missing,
  // close-on-exec, so programs we start never inherit it) and takes an
  // exclusive, non-blocking flock on it. What cannot be opened for writing (a
  // read-only file, one of another user, a folder, a FIFO without a reader)
  // is opened read-only and locked all the same; a symbolic link there is
  // replaced by a file of our own, never written through; the check is skipped
  // (openFailed) only when nothing can be opened. The descriptor is
  // deliberately never closed: the kernel releases the lock when the process
  // ends, however it ends. On any other outcome it is closed again.
  // When the holder has a plain file open for writing, the file is cut to
  // this process's pid and one newline; otherwise a line says why not.
  static Result acquire(const QString& path);

  // The file's name inside the application folder.
  static constexpr const char* kFileName = "single-instance.lock";
};

// The rendezvous between the running instance and a later copy: a local
// socket named after the user id and the application folder (so the lock and
// the channel always belong to the same account and folder), in a short
// place whatever the home folder: "$XDG_RUNTIME_DIR/tollamere-<uid>-<hash>.socket"
// when that variable is set, else the abstract socket namespace.
//
// The listener serves anyone who can reach it, so it holds little for
// anyone: a connection of another user (told by its peer credentials; the
// abstract namespace has no file permissions) is closed at once; at most
// one short message is read from each connection, which is then closed; a
// connection that has not sent it within a short time is dropped; only a
// few are served at once, the rest wait in the kernel's queue. When no
// descriptor is left to accept with, the listener waits and tries again: it
// is never closed while the application runs.
class InstanceChannel final : public QObject {
  Q_OBJECT

 public:
  explicit InstanceChannel(QObject* parent = nullptr);
  // Stops listening; the socket file, if any, is removed.
  ~InstanceChannel() override;

  // Where the channel of an application folder is.
  struct Address {
    QString name;   // a socket path, or the abstract name
    bool abstract;  // in the abstract namespace: no file exists
  };
  static Address address(const QString& appFolder);
  // The socket's path, or the abstract name (no file) for an application folder.
  static QString socketPath(const QString& appFolder);
  // What a Unix socket path can hold (sun_path less its final NUL).
  static constexpr qsizetype kMaxSocketPathBytes = 107;

  // Starts listening (the lock holder only: a leftover socket of an ended
  // instance is removed first). False when the socket cannot be made.
  bool listen(const QString& appFolder);
  QString errorString() const { return error_; }

  // In a second copy: sends `message` to the running instance and waits at
  // most `timeout` for it to be taken. False when nobody listens.
  static bool notifyRunningInstance(const QString& appFolder, const QByteArray& message,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(2));

  static constexpr const char* kBringForward = "bring-forward";

 Q_SIGNALS:
  // One per message a later copy sent.
  void messageReceived(const QByteArray& message);

 private:
  struct Connection;
  void acceptPending();
  void readFrom(int fd);
  void close(int fd);
  void updateAccepting();

  int listenFd_ = -1;
  QString socketFile_;  // the file to remove, when not abstract
  QString error_;
  std::unique_ptr<QSocketNotifier> acceptNotifier_;
  bool outOfDescriptors_ = false;
  bool exhaustionLogged_ = false;
  std::map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace tlr
