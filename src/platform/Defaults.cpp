#include "platform/Defaults.h"

#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <memory>

namespace tlr {

namespace {

// The same keys and values in a new object. An object changed in place keeps
// the text of every value it ever held (a copy that is then changed does
// too), so without this each event, which stores the whole event log again,
// would add the log's size to the memory in use for the rest of the session.
// Costs no more than the write that follows every change.
QJsonObject compacted(const QJsonObject& values) {
  QJsonObject fresh;
  for (auto it = values.constBegin(); it != values.constEnd(); ++it) fresh.insert(it.key(), it.value());
  return fresh;
}

// A defaults file larger than this is not read but set aside: the event log
// (50 events of each agent, their details cut) and the lock-online set stay
// far below it, and a larger file would cost seconds and hundreds of
// megabytes before the first scan.
constexpr qint64 kReadLimit = 4 * 1024 * 1024;

}  // namespace

Defaults& Defaults::shared() {
  static std::mutex guard;
  static std::unique_ptr<Defaults> instance;
  // Instances are never destroyed while the process runs, so a reference
  // handed out earlier stays valid after HOME changes.
  static std::vector<std::unique_ptr<Defaults>> retired;
  const QString path = Paths::defaultsFile();
  std::lock_guard lock(guard);
  if (!instance || instance->filePath() != path) {
    if (instance) retired.push_back(std::move(instance));
    instance = std::make_unique<Defaults>(path);
  }
  return *instance;
}

Defaults::Defaults(QString filePath) : path_(std::move(filePath)) {
  const QString home = QDir::cleanPath(Paths::home());
  if (QDir::cleanPath(path_).startsWith(home + '/')) home_ = home;
  reload();
}

void Defaults::reload() {
  // Opened without waiting and read only when it is a plain file, so a FIFO
  // or a device in its place neither stops nor floods the process.
  const FileOps::ReadResult read = FileOps::readFile(path_, kReadLimit);
  QJsonObject loaded;
  QString problem;
  switch (read.status) {
    case FileOps::ReadResult::Status::missing:
      break;
    case FileOps::ReadResult::Status::ok: {
      if (read.data.trimmed().isEmpty()) break;  // nothing in it to lose
      QJsonParseError error{};
      const QJsonDocument doc = QJsonDocument::fromJson(read.data, &error);
      if (error.error != QJsonParseError::NoError)
        problem = error.errorString() + QStringLiteral(" at offset ") + QString::number(error.offset);
      else if (!doc.isObject())
        problem = QStringLiteral("not a JSON object");
      else
        loaded = doc.object();
      break;
    }
    default:
      problem = read.reason;
      break;
  }
  bool keep = false;
  if (!problem.isEmpty()) {
    std::optional<std::pair<quint64, quint64>> identity;
    if (read.identified) identity = std::make_pair(read.device, read.inode);
    keep = !moveAside(problem, identity);
  }
  std::lock_guard lock(mutex_);
  values_ = loaded;
  unreadableKept_ = keep;
}

bool Defaults::moveAside(const QString& problem, std::optional<std::pair<quint64, quint64>> identity) {
  // Every key the user ever set is in that file: it is kept, under a name
  // that says why, before anything writes a new one.
  const FileOps::SetAside aside = FileOps::setAsideUnreadable(path_, identity);
  if (!aside.path.isEmpty()) {
    log("[Defaults] ", QStringLiteral("设置文件无法读取（%1），已原样移到 %2，从空设置开始").arg(problem, aside.path));
    return true;
  }
  if (aside.replaced) return true;  // a new file stands there now
  log("[Defaults] ", QStringLiteral("设置文件无法读取（%1），也无法移到一旁（%2）：保留原文件，本次不写入设置")
                         .arg(problem, aside.error));
  return false;
}

bool Defaults::contains(const QString& key) const {
  std::lock_guard lock(mutex_);
  return values_.contains(key);
}

QJsonValue Defaults::value(const QString& key) const {
  std::lock_guard lock(mutex_);
  return values_.value(key);
}

std::optional<QString> Defaults::string(const QString& key) const {
  const QJsonValue v = value(key);
  if (!v.isString()) return std::nullopt;
  return v.toString();
}

std::optional<bool> Defaults::boolean(const QString& key) const {
  const QJsonValue v = value(key);
  if (!v.isBool()) return std::nullopt;
  return v.toBool();
}

std::optional<double> Defaults::number(const QString& key) const {
  const QJsonValue v = value(key);
  if (!v.isDouble()) return std::nullopt;
  return v.toDouble();
}

std::optional<qint64> Defaults::integer(const QString& key) const {
  const QJsonValue v = value(key);
  if (!v.isDouble()) return std::nullopt;
  const double d = v.toDouble();
  if (std::trunc(d) != d || std::fabs(d) > 9007199254740992.0) return std::nullopt;
  return static_cast<qint64>(d);
}

std::optional<QStringList> Defaults::stringList(const QString& key) const {
  const QJsonValue v = value(key);
  if (!v.isArray()) return std::nullopt;
  QStringList out;
  for (const QJsonValue& item : v.toArray()) {
    if (!item.isString()) return std::nullopt;
    out << item.toString();
  }
  return out;
}

Expected<void, QString> Defaults::set(const QString& key, const QJsonValue& value) {
  std::lock_guard lock(mutex_);
  if (value.isUndefined())
    values_.remove(key);
  else
    values_.insert(key, value);
  values_ = compacted(values_);
  return writeLocked();
}

Expected<void, QString> Defaults::remove(const QString& key) { return set(key, QJsonValue(QJsonValue::Undefined)); }

QJsonObject Defaults::snapshot() const {
  std::lock_guard lock(mutex_);
  return values_;
}

Expected<void, QString> Defaults::writeLocked() {
  // An unreadable file that could not be moved aside is never overwritten
  // (a line said so when it was read).
  if (unreadableKept_) return Unexpected(path_ + QStringLiteral(": unreadable, kept as it is"));
  // Not once the home folder the file lay in is gone (a last write at exit,
  // after a temporary HOME was removed): making the file's folder would make
  // the home again.
  Expected<void, QString> written = Unexpected(path_ + QStringLiteral(": the home folder is gone"));
  if (home_.isEmpty() || QFileInfo(home_).isDir()) {
    // Never into a folder that is not ours alone.
    written = FileOps::makeOwnFolder(QFileInfo(path_).absolutePath());
    if (written) written = FileOps::writeOwnFile(path_, QJsonDocument(values_).toJson(QJsonDocument::Indented));
  }
  if (!written) log("[Defaults] ", QStringLiteral("设置无法写入（%1）：新值只在本次运行中有效").arg(written.error()));
  return written;
}

}  // namespace tlr
