#include "platform/Defaults.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

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

Defaults::Defaults(QString filePath) : path_(std::move(filePath)) { reload(); }

void Defaults::reload() {
  QJsonObject loaded;
  QFile file(path_);
  if (file.open(QIODevice::ReadOnly)) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error == QJsonParseError::NoError && doc.isObject()) loaded = doc.object();
  }
  std::lock_guard lock(mutex_);
  values_ = loaded;
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

bool Defaults::set(const QString& key, const QJsonValue& value) {
  std::lock_guard lock(mutex_);
  if (value.isUndefined())
    values_.remove(key);
  else
    values_.insert(key, value);
  values_ = compacted(values_);
  return writeLocked();
}

bool Defaults::remove(const QString& key) { return set(key, QJsonValue(QJsonValue::Undefined)); }

QJsonObject Defaults::snapshot() const {
  std::lock_guard lock(mutex_);
  return values_;
}

bool Defaults::writeLocked() {
  QDir().mkpath(QFileInfo(path_).absolutePath());
  QSaveFile file(path_);
  if (!file.open(QIODevice::WriteOnly)) return false;
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  file.write(QJsonDocument(values_).toJson(QJsonDocument::Indented));
  return file.commit();
}

}  // namespace tlr
