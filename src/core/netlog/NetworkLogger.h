#pragma once

#include "platform/SerialWorker.h"

#include <QDateTime>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <functional>
#include <mutex>
#include <optional>

namespace tlr {

// What a network-log record is about; stored by case name.
enum class NetworkEventKind { heartbeat, updateCheck, backupUpload, restoreFetch };

QString toString(NetworkEventKind kind);
std::optional<NetworkEventKind> networkEventKindFromString(const QString& text);

// One logged network action.
struct NetworkEvent {
  QUuid id;
  NetworkEventKind kind = NetworkEventKind::updateCheck;
  QDateTime timestamp;  // UTC
  qint64 bytes = 0;
  bool success = false;

  // {"bytes", "id", "kind", "success", "timestamp"}; the id in upper-case
  // canonical form, the timestamp as ISO 8601 UTC to whole seconds.
  QJsonObject toJson() const;
  // Every key is required; nullopt when one is missing or malformed.
  static std::optional<NetworkEvent> fromJson(const QJsonValue& value);
};

// The local record of Tollamere's own network activity, kept for 90 days in
// "network-log.json" in the application folder (at most kMaxEvents records,
// the newest). Callers only append; each append rewrites the file on the
// background worker "TLR.NetworkLogger.save", atomically (temporary file,
// then rename), so the caller never waits for the disk and the file is never
// half-written. A file that cannot be read in full (broken, a bad record, a
// FIFO in its place, more than 4 MiB) is set aside as
// "network-log.json.unreadable-<UTC time>" with a line, and its good records
// are kept. Every other failure is silent.
class NetworkLogger final : public QObject {
  Q_OBJECT

 public:
  using Clock = std::function<QDateTime()>;

  static constexpr int kRetentionDays = 90;
  // At most this many records are kept, the newest.
  static constexpr qsizetype kMaxEvents = 10000;
  static constexpr const char* kFileName = "network-log.json";

  // The logger of this process, bound to Paths::appSupport() on first use and
  // kept to the end of the process. Writes still queued at exit are finished
  // before the process ends.
  static NetworkLogger& shared();

  // A logger on `filePath` (its folder is created); reads the file at once.
  // `now` defaults to the system clock.
  explicit NetworkLogger(QString filePath, Clock now = {});
  ~NetworkLogger() override;

  // Appends an event stamped with a new UUID and the current time, drops
  // events past the retention and saves in the background. Returns at once.
  void log(NetworkEventKind kind, qint64 bytes, bool success);

  // Oldest first. Safe from any thread.
  QList<NetworkEvent> events() const;
  const QString& filePath() const { return filePath_; }

  // Waits until every save queued so far is on disk. For a process that is
  // about to end (a verification mode) and for tests.
  void flush();

 Q_SIGNALS:
  // After every change of events().
  void eventsChanged();

 private:
  void load();
  void pruneLocked();
  void saveLocked();

  const QString filePath_;
  const Clock now_;
  mutable std::mutex mutex_;
  QList<NetworkEvent> events_;
  std::optional<QList<NetworkEvent>> pendingSave_;  // the list the next save writes
  SerialWorker saveWorker_;  // last: drains its queue while the rest still exists
};

}  // namespace tlr
