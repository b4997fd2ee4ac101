#pragma once

#include "platform/Expected.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>

#include <sys/types.h>
#include <unistd.h>

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
  struct [[nodiscard]] Result {
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

// The rendezvous between the running instance and a later copy: a socket
// file in a folder that only this user may write to, so no other user can
// take its name first. "$XDG_RUNTIME_DIR/tollamere-<hash>.socket" (named
// after the application folder, so two data folders are two instances) when
// that variable names a folder of this user's alone (0700), else
// "instance.socket" in the application folder itself (also 0700). The socket
// is 0600. The listener records where it listens in "instance.address" in
// the application folder (beside the lock), so a later copy started from a
// session with another environment (su, ssh: no XDG_RUNTIME_DIR) finds it;
// the record is read only as our own plain file, never through a link, and
// the folder it names must be ours alone like any other; when nobody listens
// there (a record left by a copy that ended), the later copy looks where its
// own environment says. A folder too deep for a socket path (107 bytes) is reached
// through its open descriptor, so any home folder works.
//
// Both sides check the other's user: a later copy sends nothing to a
// listener of another user (its peer credentials), and the listener closes a
// connection of another user unread. At most one short message is read from
// each connection, which is then closed; a connection that has not sent it
// within a short time is dropped; only a few are served at once, the rest
// wait in the kernel's queue. When no descriptor is left to accept with, the
// listener waits and tries again: it is never closed while the application
// runs.
class InstanceChannel final : public QObject {
  Q_OBJECT

 public:
  // `peerUid`: the user whose connections are served (this process's).
  explicit InstanceChannel(QObject* parent = nullptr, uid_t peerUid = ::geteuid());
  // Stops listening; the socket file is removed.
  ~InstanceChannel() override;

  // Where the channel of an application folder is.
  struct Address {
    QString folder;  // the folder that holds the socket
    QString name;    // the socket file's name in it
    QString path() const { return folder + '/' + name; }
  };
  static Address address(const QString& appFolder);
  // Where the running instance of an application folder recorded that it
  // listens; nothing when there is no usable record.
  static std::optional<Address> recordedAddress(const QString& appFolder);
  static constexpr const char* kAddressFileName = "instance.address";
  // The socket file of an application folder.
  static QString socketPath(const QString& appFolder) { return address(appFolder).path(); }
  // What a Unix socket path can hold (sun_path less its final NUL).
  static constexpr qsizetype kMaxSocketPathBytes = 107;

  // Starts listening (the lock holder only: a leftover socket of an ended
  // instance is removed first). Fails with why the socket cannot be made.
  Expected<void, QString> listen(const QString& appFolder);

  enum class Delivery {
    delivered,      // sent and taken
    nobodyListens,  // no channel, or nobody at it
    notOurs,        // the listener or its folder is another user's: nothing was sent
    failed,         // connected, but the message could not be sent
  };
  struct [[nodiscard]] Sent {
    Delivery outcome = Delivery::failed;
    QString reason;  // empty when delivered
  };
  // In a second copy: sends `message` to the running instance of
  // `listenerUid` (this process's user) and waits at most `timeout` for it
  // to be taken.
  static Sent notifyRunningInstance(const QString& appFolder, const QByteArray& message,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(2),
                                    uid_t listenerUid = ::geteuid());

  static constexpr const char* kBringForward = "bring-forward";

 Q_SIGNALS:
  // One per message a later copy sent.
  void messageReceived(const QByteArray& message);

 private:
  struct Connection;
  static Sent sendTo(const Address& where, const QByteArray& message, std::chrono::milliseconds timeout,
                     uid_t listenerUid);
  void acceptPending();
  void readFrom(int fd);
  void close(int fd);
  void updateAccepting();

  const uid_t peerUid_;
  int listenFd_ = -1;
  int folderFd_ = -1;    // the folder that holds the socket, open while listening
  QString socketName_;  // the socket file's name in it, removed at the end
  QString recordPath_;  // the record of where we listen, removed at the end
  // How far the record's write off the window thread is: the channel's end
  // removes a record written, and a write under way at the end removes what
  // it wrote itself.
  enum class RecordState { pending, writing, written, ended };
  std::shared_ptr<std::atomic<RecordState>> record_;
  std::unique_ptr<QSocketNotifier> acceptNotifier_;
  bool outOfDescriptors_ = false;
  bool exhaustionLogged_ = false;
  std::map<int, std::unique_ptr<Connection>> connections_;
};

}  // namespace tlr
