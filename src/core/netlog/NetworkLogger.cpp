#include "core/netlog/NetworkLogger.h"

#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <cmath>

namespace tlr {
namespace {

// A log file larger than this is not read but set aside: the newest
// kMaxEvents records stay far below it.
constexpr qint64 kReadLimit = 4 * 1024 * 1024;

constexpr NetworkEventKind kAllKinds[] = {NetworkEventKind::heartbeat, NetworkEventKind::updateCheck,
                                          NetworkEventKind::backupUpload,
                                          NetworkEventKind::restoreFetch};

QString isoUtc(const QDateTime& t) { return t.toUTC().toString(Qt::ISODate); }

// An internet date-time ("2024-05-01T10:20:30Z" or with an offset); nothing
// looser, so a file with another date form is rejected as a whole.
std::optional<QDateTime> parseIso(const QString& text) {
  static const QRegularExpression form(
      QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
  if (!form.match(text).hasMatch()) return std::nullopt;
  const QDateTime t = QDateTime::fromString(text, Qt::ISODate);
  if (!t.isValid()) return std::nullopt;
  return t.toUTC();
}

std::optional<qint64> wholeNumber(const QJsonValue& v) {
  if (!v.isDouble()) return std::nullopt;
  const double d = v.toDouble();
  if (std::trunc(d) != d || std::fabs(d) > 9007199254740992.0) return std::nullopt;
  return static_cast<qint64>(d);
}

}  // namespace

QString toString(NetworkEventKind kind) {
  switch (kind) {
    case NetworkEventKind::heartbeat: return QStringLiteral("heartbeat");
    case NetworkEventKind::updateCheck: return QStringLiteral("updateCheck");
    case NetworkEventKind::backupUpload: return QStringLiteral("backupUpload");
    case NetworkEventKind::restoreFetch: return QStringLiteral("restoreFetch");
  }
  return {};
}

std::optional<NetworkEventKind> networkEventKindFromString(const QString& text) {
  for (NetworkEventKind kind : kAllKinds) {
    if (toString(kind) == text) return kind;
  }
  return std::nullopt;
}

QJsonObject NetworkEvent::toJson() const {
  return QJsonObject{
      {"bytes", static_cast<double>(bytes)},
      {"id", id.toString(QUuid::WithoutBraces).toUpper()},
      {"kind", toString(kind)},
      {"success", success},
      {"timestamp", isoUtc(timestamp)},
  };
}

std::optional<NetworkEvent> NetworkEvent::fromJson(const QJsonValue& value) {
  if (!value.isObject()) return std::nullopt;
  const QJsonObject o = value.toObject();
  const QJsonValue idValue = o.value("id"), kindValue = o.value("kind"),
                   timeValue = o.value("timestamp"), successValue = o.value("success");
  if (!idValue.isString() || !kindValue.isString() || !timeValue.isString() ||
      !successValue.isBool())
    return std::nullopt;
  const QUuid id = QUuid::fromString(idValue.toString());
  const auto kind = networkEventKindFromString(kindValue.toString());
  const auto timestamp = parseIso(timeValue.toString());
  const auto bytes = wholeNumber(o.value("bytes"));
  if (id.isNull() || !kind || !timestamp || !bytes || *bytes < 0) return std::nullopt;
  return NetworkEvent{id, *kind, *timestamp, *bytes, successValue.toBool()};
}

NetworkLogger& NetworkLogger::shared() {
  // Destroyed at exit, which finishes the writes still queued.
  static NetworkLogger instance(Paths::appSupport() + "/" + kFileName);
  return instance;
}

NetworkLogger::NetworkLogger(QString filePath, Clock now)
    : filePath_(std::move(filePath)),
      now_(now ? std::move(now) : Clock([] { return QDateTime::currentDateTimeUtc(); })),
      saveWorker_(QStringLiteral("TLR.NetworkLogger.save")) {
  static_cast<void>(FileOps::makeOwnFolder(QFileInfo(filePath_).absolutePath()));  // a failure shows in the saves
  load();
}

NetworkLogger::~NetworkLogger() = default;  // the worker drains its queue

void NetworkLogger::load() {
  // Opened without waiting and read only when it is a plain file: a FIFO in
  // its place would stop the start-up for good. What cannot be read in full
  // is set aside whole, so nothing logged is lost, and its good records kept.
  const FileOps::ReadResult read = FileOps::readFile(filePath_, kReadLimit);
  if (read.status == FileOps::ReadResult::Status::missing) return;
  QString problem = read.reason;
  QList<NetworkEvent> loaded;
  if (read.status == FileOps::ReadResult::Status::ok) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(read.data, &error);
    if (error.error != QJsonParseError::NoError)
      problem = error.errorString() + QStringLiteral(" at offset ") + QString::number(error.offset);
    else if (!doc.isArray())
      problem = QStringLiteral("not a JSON array");
    qsizetype bad = 0;
    for (const QJsonValue& item : doc.array()) {
      if (auto event = NetworkEvent::fromJson(item))
        loaded.append(*event);
      else
        ++bad;
    }
    if (bad > 0) problem = QStringLiteral("%1 条记录无法读取，保留其余 %2 条").arg(bad).arg(loaded.size());
  }
  if (!problem.isEmpty()) {
    std::optional<std::pair<quint64, quint64>> identity;
    if (read.identified) identity = std::make_pair(read.device, read.inode);
    const FileOps::SetAside aside = FileOps::setAsideUnreadable(filePath_, identity);
    tlr::log("[NetworkLogger] ",
             QStringLiteral("network-log.json 无法读取（%1），%2")
                 .arg(problem, aside.path.isEmpty() ? QStringLiteral("也无法移到一旁（%1），下次记录时被替换").arg(aside.error)
                                                    : QStringLiteral("已原样移到 ") + aside.path));
  }
  std::lock_guard lock(mutex_);
  events_ = std::move(loaded);
  pruneLocked();  // written back only with the next log()
}

void NetworkLogger::log(NetworkEventKind kind, qint64 bytes, bool success) {
  {
    std::lock_guard lock(mutex_);
    events_.append(NetworkEvent{QUuid::createUuid(), kind, now_().toUTC(), bytes, success});
    pruneLocked();
    saveLocked();
  }
  Q_EMIT eventsChanged();
}

QList<NetworkEvent> NetworkLogger::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

void NetworkLogger::flush() { saveWorker_.flush(); }

void NetworkLogger::pruneLocked() {
  const QDateTime cutoff = now_().toUTC().addSecs(-qint64(kRetentionDays) * 86400);
  events_.removeIf([&](const NetworkEvent& e) { return e.timestamp < cutoff; });
  // A service that asks for a check every minute fills 90 days with 130,000
  // records: the newest are kept.
  if (events_.size() > kMaxEvents) events_.remove(0, events_.size() - kMaxEvents);
}

void NetworkLogger::saveLocked() {
  // The latest list waits for the worker; a save still queued when another
  // log() comes writes that newer list, and the later ones find nothing left
  // to write. So quick logs cost one write, not one each, and the file
  // always ends up holding the latest list. The copy is cheap (shared until
  // written); encoding happens on the worker.
  pendingSave_ = events_;
  saveWorker_.post([this] {
    std::optional<QList<NetworkEvent>> snapshot;
    {
      std::lock_guard lock(mutex_);
      snapshot.swap(pendingSave_);
    }
    if (!snapshot) return;
    QJsonArray array;
    for (const NetworkEvent& e : *snapshot) array.append(e.toJson());
    // A record of our own requests: one that is not saved stays in memory
    // for this run and goes with the next save.
    static_cast<void>(FileOps::writeOwnFile(filePath_, QJsonDocument(array).toJson(QJsonDocument::Indented)));
  });
}

}  // namespace tlr
