#include "backup/BackupManifest.h"

#include <algorithm>

#include "platform/Crypto.h"
#include "platform/DeviceIdentity.h"
#include "platform/JsonWriter.h"
#include "platform/PathNames.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QTimeZone>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace tlr {
namespace {

// Mixed into the machine hash so the short hash reveals nothing about the id.
const char kMacHashSuffix[] = "Brindlecove-v4-snapshot";

// --- Decoding: the first fault, with the key path that led to it ---

struct Fault {
  QString text;
};

class Reader {
 public:
  Reader(const QJsonObject& obj, QString path) : obj_(obj), path_(std::move(path)) {}

  QJsonValue take(const QString& key) {
    if (fault_) return {};
    const auto it = obj_.constFind(key);
    if (it == obj_.constEnd()) {
      fail(key, QStringLiteral("缺少键"));
      return {};
    }
    return *it;
  }

  QString string(const QString& key) {
    const QJsonValue v = take(key);
    if (fault_) return {};
    if (!v.isString()) fail(key, QStringLiteral("应为字符串"));
    return v.toString();
  }

  qint64 integer(const QString& key) {
    const QJsonValue v = take(key);
    if (fault_) return 0;
    // Qt keeps a whole number within 64 bits exactly; a fraction or a value
    // beyond 64 bits has no exact integer and is refused, never truncated.
    if (v.isDouble()) {
      const qint64 n = v.toInteger(0);
      if (n != 0 || v.toInteger(1) == 0) return n;
    }
    fail(key, QStringLiteral("应为整数"));
    return 0;
  }

  QJsonObject object(const QString& key) {
    const QJsonValue v = take(key);
    if (fault_) return {};
    if (!v.isObject()) fail(key, QStringLiteral("应为对象"));
    return v.toObject();
  }

  QJsonArray array(const QString& key) {
    const QJsonValue v = take(key);
    if (fault_) return {};
    if (!v.isArray()) fail(key, QStringLiteral("应为数组"));
    return v.toArray();
  }

  void fail(const QString& key, const QString& why) {
    if (!fault_) fault_ = Fault{keyPath(key) + QStringLiteral(": ") + why};
  }
  QString keyPath(const QString& key) const { return path_.isEmpty() ? key : path_ + '.' + key; }

  std::optional<Fault> fault_;

 private:
  QJsonObject obj_;
  QString path_;
};

// One entry name: not empty, no "/", not "." or "..".
bool isPlainName(const QString& name) {
  return !name.isEmpty() && !name.contains('/') && !PathNames::isDotName(name);
}

// The entry name a root's place gives it: its last component.
QString rootNameOf(const QString& place) {
  QString path = place;
  while (path.size() > 1 && path.endsWith('/')) path.chop(1);
  return path.mid(path.lastIndexOf('/') + 1);
}

BackupManifest::AgentBackup decodeAgent(const QJsonValue& value, const QString& path,
                                        std::optional<Fault>& fault) {
  BackupManifest::AgentBackup agent;
  if (!value.isObject()) {
    fault = Fault{path + QStringLiteral(": 应为对象")};
    return agent;
  }
  Reader r(value.toObject(), path);
  agent.id = r.string(QStringLiteral("id"));
  agent.displayName = r.string(QStringLiteral("displayName"));
  agent.fileCount = r.integer(QStringLiteral("fileCount"));
  agent.totalBytes = r.integer(QStringLiteral("totalBytes"));
  const QJsonObject stats = r.object(QStringLiteral("stats"));
  if (!r.fault_) {
    Reader s(stats, r.keyPath(QStringLiteral("stats")));
    agent.stats.skills = s.integer(QStringLiteral("skills"));
    agent.stats.memoryBytes = s.integer(QStringLiteral("memoryBytes"));
    agent.stats.tasks = s.integer(QStringLiteral("tasks"));
    if (s.fault_) r.fault_ = s.fault_;
  }
  const QJsonArray files = r.array(QStringLiteral("files"));
  for (qsizetype i = 0; !r.fault_ && i < files.size(); ++i) {
    if (!files[i].isString()) {
      r.fault_ = Fault{r.keyPath(QStringLiteral("files[%1]").arg(i)) + QStringLiteral(": 应为字符串")};
      break;
    }
    agent.files.append(files[i].toString());
  }
  if (!r.fault_ && value.toObject().contains(QStringLiteral("roots"))) {
    const QJsonArray roots = r.array(QStringLiteral("roots"));
    agent.roots = QList<BackupManifest::AgentBackup::Root>();
    for (qsizetype i = 0; !r.fault_ && i < roots.size(); ++i) {
      const QString at = r.keyPath(QStringLiteral("roots[%1]").arg(i));
      if (roots[i].isString()) {
        const QString place = roots[i].toString();
        agent.roots->append({rootNameOf(place), place, std::nullopt, std::nullopt});
        continue;
      }
      if (!roots[i].isObject()) {
        r.fault_ = Fault{at + QStringLiteral(": 应为字符串或对象")};
        break;
      }
      const QJsonObject object = roots[i].toObject();
      Reader root(object, at);
      const QString name = root.string(QStringLiteral("name"));
      const QString place = root.string(QStringLiteral("place"));
      // The name is one entry of the agent's folder: never a path.
      if (!root.fault_ && !isPlainName(name)) root.fail(QStringLiteral("name"), QStringLiteral("应为一个文件名"));
      BackupManifest::AgentBackup::Root decoded{name, place, std::nullopt, std::nullopt};
      if (!root.fault_ && object.contains(QStringLiteral("stored"))) {
        // Where in the archive it lies, below the top folder: a relative
        // path of plain names, never leading out of it.
        decoded.stored = root.string(QStringLiteral("stored"));
        const QStringList parts = decoded.stored->split('/');
        if (!root.fault_ && (parts.size() < 2 || !std::all_of(parts.cbegin(), parts.cend(), isPlainName)))
          root.fail(QStringLiteral("stored"), QStringLiteral("应为归档里的相对路径"));
      }
      if (!root.fault_ && object.contains(QStringLiteral("diskBytes"))) {
        decoded.diskBytes = root.integer(QStringLiteral("diskBytes"));
        if (!root.fault_ && *decoded.diskBytes < 0) root.fail(QStringLiteral("diskBytes"), QStringLiteral("应为整数"));
      }
      if (root.fault_) {
        r.fault_ = root.fault_;
        break;
      }
      agent.roots->append(decoded);
    }
  }
  if (r.fault_) fault = r.fault_;
  return agent;
}

bool isDigits(const QString& s, qsizetype from, qsizetype count) {
  for (qsizetype i = from; i < from + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

}  // namespace

// --- JSON form ---

QString BackupManifest::isoDate(const QDateTime& date) {
  return date.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

std::optional<QDateTime> BackupManifest::parseIsoDate(const QString& text) {
  // Exactly yyyy-MM-ddTHH:mm:ssZ.
  if (text.size() != 20 || !isDigits(text, 0, 4) || text[4] != '-' || !isDigits(text, 5, 2) ||
      text[7] != '-' || !isDigits(text, 8, 2) || text[10] != 'T' || !isDigits(text, 11, 2) ||
      text[13] != ':' || !isDigits(text, 14, 2) || text[16] != ':' || !isDigits(text, 17, 2) ||
      text[19] != 'Z') {
    return std::nullopt;
  }
  const QDate day(text.mid(0, 4).toInt(), text.mid(5, 2).toInt(), text.mid(8, 2).toInt());
  const QTime time(text.mid(11, 2).toInt(), text.mid(14, 2).toInt(), text.mid(17, 2).toInt());
  if (!day.isValid() || !time.isValid()) return std::nullopt;
  return QDateTime(day, time, Qt::UTC);
}

namespace {

void writeAgent(JsonWriter& w, const BackupManifest::AgentBackup& a) {
  w.beginObject();
  w.member(QStringLiteral("displayName"), a.displayName);
  w.member(QStringLiteral("fileCount"), a.fileCount);
  w.key(QStringLiteral("files"));
  w.beginArray();
  a.files.forEachUtf8([&](QByteArrayView name) { w.utf8(name); });
  w.endArray();
  w.member(QStringLiteral("id"), a.id);
  if (a.roots) {
    w.key(QStringLiteral("roots"));
    w.beginArray();
    for (const BackupManifest::AgentBackup::Root& root : *a.roots) {
      if (root.name == rootNameOf(root.place) && !root.stored && !root.diskBytes) {
        w.string(root.place);
        continue;
      }
      w.beginObject();
      if (root.diskBytes) w.member(QStringLiteral("diskBytes"), *root.diskBytes);
      w.member(QStringLiteral("name"), root.name);
      w.member(QStringLiteral("place"), root.place);
      if (root.stored) w.member(QStringLiteral("stored"), *root.stored);
      w.endObject();
    }
    w.endArray();
  }
  w.key(QStringLiteral("stats"));
  w.beginObject();
  w.member(QStringLiteral("memoryBytes"), a.stats.memoryBytes);
  w.member(QStringLiteral("skills"), a.stats.skills);
  w.member(QStringLiteral("tasks"), a.stats.tasks);
  w.endObject();
  w.member(QStringLiteral("totalBytes"), a.totalBytes);
  w.endObject();
}

}  // namespace

// Written by hand, keys in sorted order, and handed on in pieces: a manifest
// listing many files is never whole in memory (a QJsonDocument of 40,000
// names took 10 MB).
bool BackupManifest::encodeTo(const std::function<bool(QByteArrayView)>& sink) const {
  JsonWriter w(true, sink);
  w.beginObject();
  w.key(QStringLiteral("agents"));
  w.beginArray();
  for (const AgentBackup& a : agents) {
    writeAgent(w, a);
    if (w.failed()) return false;
  }
  w.endArray();
  w.member(QStringLiteral("archiveSha256"), archiveSha256);
  w.member(QStringLiteral("createdAt"), isoDate(createdAt));
  w.key(QStringLiteral("device"));
  w.beginObject();
  w.member(QStringLiteral("macHashShort"), device.macHashShort);
  w.member(QStringLiteral("name"), device.name);
  w.member(QStringLiteral("osVersion"), device.osVersion);
  w.endObject();
  w.member(QStringLiteral("schemaVersion"), schemaVersion);
  w.member(QStringLiteral("totalBytes"), totalBytes);
  w.endObject();
  w.finish();
  return !w.failed();
}

QByteArray BackupManifest::encode() const {
  QByteArray json;
  encodeTo([&json](QByteArrayView piece) {
    json += piece;
    return true;
  });
  return json;
}

FileNames::FileNames(std::initializer_list<QString> names) {
  for (const QString& name : names) append(name);
}

FileNames::FileNames(const QStringList& names) {
  for (const QString& name : names) append(name);
}

void FileNames::append(const QString& name) {
  // No file name holds a NUL; one read from a manifest is kept visible.
  data_ += name.contains(QChar(0)) ? QString(name).replace(QChar(0), QStringLiteral("\\x00")).toUtf8() : name.toUtf8();
  data_ += '\0';
  ++count_;
}

void FileNames::appendUtf8(std::initializer_list<QByteArrayView> pieces) {
  for (const QByteArrayView piece : pieces) data_ += piece;
  data_ += '\0';
  ++count_;
}

QStringList FileNames::toStringList() const {
  QStringList names;
  names.reserve(count_);
  forEachUtf8([&](QByteArrayView name) { names << QString::fromUtf8(name); });
  return names;
}

Expected<BackupManifest, QString> BackupManifest::decode(const QByteArray& json) {
  QJsonParseError parseError{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
  if (parseError.error != QJsonParseError::NoError) {
    return Unexpected(QStringLiteral("manifest 不是有效的 JSON: ") + parseError.errorString());
  }
  if (!doc.isObject()) return Unexpected(QStringLiteral("manifest 顶层应为对象"));

  BackupManifest m;
  Reader r(doc.object(), QString());
  m.schemaVersion = r.integer(QStringLiteral("schemaVersion"));
  const QString created = r.string(QStringLiteral("createdAt"));
  if (!r.fault_) {
    const std::optional<QDateTime> date = parseIsoDate(created);
    if (!date) r.fail(QStringLiteral("createdAt"), QStringLiteral("日期格式应为 yyyy-MM-ddTHH:mm:ssZ"));
    if (date) m.createdAt = *date;
  }
  const QJsonObject dev = r.object(QStringLiteral("device"));
  if (!r.fault_) {
    Reader d(dev, QStringLiteral("device"));
    m.device.name = d.string(QStringLiteral("name"));
    m.device.macHashShort = d.string(QStringLiteral("macHashShort"));
    m.device.osVersion = d.string(QStringLiteral("osVersion"));
    if (d.fault_) r.fault_ = d.fault_;
  }
  const QJsonArray agents = r.array(QStringLiteral("agents"));
  for (qsizetype i = 0; !r.fault_ && i < agents.size(); ++i) {
    std::optional<Fault> fault;
    m.agents << decodeAgent(agents[i], QStringLiteral("agents[%1]").arg(i), fault);
    if (fault) r.fault_ = fault;
  }
  m.totalBytes = r.integer(QStringLiteral("totalBytes"));
  m.archiveSha256 = r.string(QStringLiteral("archiveSha256"));
  if (r.fault_) return Unexpected(QStringLiteral("manifest 解码失败: ") + r.fault_->text);
  return m;
}

// --- Digests ---

QString BackupManifest::sha256Hex(const QByteArray& data) { return Crypto::hex(Crypto::sha256(data)); }

Expected<FileDigest, FileHashError> BackupManifest::digestOfFile(const QString& path) {
  // Opened without waiting and without following a link, and read only when
  // it is a plain file: a FIFO or a link to a device in a snapshot's place is
  // an error at once, never a wait or an endless read.
  const int fd = path.contains(QChar(0)) ? -1
                                         : ::open(QFile::encodeName(path).constData(),
                                                  O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Unexpected(FileHashError{.description = QStringLiteral("无法打开文件计算 SHA256: ") + path});
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Unexpected(FileHashError{.description = QStringLiteral("无法打开文件计算 SHA256: ") + path});
  }
  Crypto::Sha256 digest;
  std::vector<char> buffer(static_cast<size_t>(kHashChunkBytes));
  qint64 total = 0;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), static_cast<size_t>(kHashChunkBytes));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      return Unexpected(FileHashError{.description = QStringLiteral("读取文件计算 SHA256 失败: ") + path});
    }
    if (n == 0) break;
    digest.update(QByteArrayView(buffer.data(), n));
    total += n;
  }
  return FileDigest{Crypto::hex(digest.finish()), total};
}

Expected<QString, FileHashError> BackupManifest::sha256HexOfFile(const QString& path) {
  return digestOfFile(path).and_then([](FileDigest d) -> Expected<QString, FileHashError> { return d.sha256; });
}

// --- Device identity ---

QString BackupManifest::macHashShort(const std::optional<QString>& machineUuid) {
  const QString text = machineUuid.value_or(QStringLiteral("unknown")) + QLatin1String(kMacHashSuffix);
  return sha256Hex(text.toUtf8()).left(8);
}

QString BackupManifest::currentMacHashShort() { return macHashShort(DeviceIdentity::machineUuid()); }

QString BackupManifest::currentOSVersion() { return DeviceIdentity::osVersion(); }

QString BackupManifest::currentDeviceName() { return DeviceIdentity::hostDisplayName(); }

BackupManifest::DeviceInfo BackupManifest::currentDevice() {
  return {currentDeviceName(), currentMacHashShort(), currentOSVersion()};
}

}  // namespace tlr
