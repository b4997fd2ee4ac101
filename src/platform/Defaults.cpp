#include "platform/Defaults.h"

#include "platform/FileOps.h"
#include "platform/JsonWriter.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/SerialWorker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr {

namespace {

// A defaults file larger than this is not read but set aside: the event log
// (50 events of each agent, their details cut) and the lock-online set stay
// far below it, and a larger file would cost seconds and hundreds of
// megabytes before the first scan. A journal larger than this is left
// unread (the file is written whole at the next change).
constexpr qint64 kReadLimit = 4 * 1024 * 1024;

// The journal's first line names the file it belongs to.
constexpr QLatin1StringView kJournalMark("journal");

QByteArray compactJson(const QJsonValue& value) {
  const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
  return array.mid(1, array.size() - 2);
}

void appendQuoted(QByteArray& out, QByteArrayView utf8) {
  out += '"';
  JsonWriter::escape(out, utf8);
  out += '"';
}

// The array text of these elements, as a JSON string.
void appendArrayText(QByteArray& out, const QList<QByteArray>& elements) {
  out += "\"[";
  for (qsizetype i = 0; i < elements.size(); ++i) {
    if (i > 0) out += ',';
    JsonWriter::escape(out, elements[i]);
  }
  out += "]\"";
}

QByteArray joined(const QList<QByteArray>& elements) {
  qsizetype size = 2 + elements.size();
  for (const QByteArray& e : elements) size += e.size();
  QByteArray text;
  text.reserve(size);
  text += '[';
  for (qsizetype i = 0; i < elements.size(); ++i) {
    if (i > 0) text += ',';
    text += elements[i];
  }
  text += ']';
  return text;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The elements' texts of a JSON array text, each without the white space
// around it; nothing when the text is not an array whose brackets, braces
// and strings close. The elements themselves are not read.
std::optional<QList<QByteArray>> splitArray(QByteArrayView text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end && isSpace(*p)) ++p;
  if (p == end || *p != '[') return std::nullopt;
  ++p;
  QList<QByteArray> elements;
  const char* start = p;
  int depth = 0;
  const auto take = [&](const char* stop) {
    const char* a = start;
    const char* b = stop;
    while (a < b && isSpace(*a)) ++a;
    while (b > a && isSpace(b[-1])) --b;
    if (a == b) return false;
    elements.append(QByteArray(a, b - a));
    return true;
  };
  for (; p < end; ++p) {
    const char c = *p;
    if (c == '"') {
      for (++p; p < end && *p != '"'; ++p)
        if (*p == '\\') ++p;
      if (p >= end) return std::nullopt;
    } else if (c == '[' || c == '{') {
      ++depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ',' && depth == 0) {
      if (!take(p)) return std::nullopt;
      start = p + 1;
    } else if (c == ']') {
      // The end of the array: an element before it unless it is empty.
      if (!take(p) && !elements.isEmpty()) return std::nullopt;
      for (++p; p < end; ++p)
        if (!isSpace(*p)) return std::nullopt;
      return elements;
    } else if (c == '}') {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

// The values read from a parsed file, each standing alone: a value taken
// from the file's object would keep the whole file's text alive.
QMap<QString, QJsonValue> valuesOf(const QJsonObject& object) {
  QMap<QString, QJsonValue> values;
  for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
    const QJsonValue v = it.value();
    values.insert(it.key(), v.isString() ? QJsonValue(v.toString()) : v);
  }
  return values;
}

QByteArray changeLine(const Defaults::Change& change) {
  using Kind = Defaults::Change::Kind;
  const QByteArray key = change.key.toUtf8();
  QByteArray line;
  switch (change.kind) {
    case Kind::set:
      line = "{\"set\":";
      appendQuoted(line, key);
      line += ",\"value\":" + compactJson(change.value) + '}';
      break;
    case Kind::remove:
      line = "{\"remove\":";
      appendQuoted(line, key);
      line += '}';
      break;
    case Kind::setElements:
      line = "{\"elements\":";
      appendQuoted(line, key);
      line += ",\"all\":[";
      for (qsizetype i = 0; i < change.elements.size(); ++i) {
        if (i > 0) line += ',';
        appendQuoted(line, change.elements[i]);
      }
      line += "]}";
      break;
    case Kind::insertElement:
      line = "{\"elements\":";
      appendQuoted(line, key);
      line += ",\"insert\":" + QByteArray::number(change.index) + ",\"element\":";
      appendQuoted(line, change.element);
      line += '}';
      break;
    case Kind::removeElement:
      line = "{\"elements\":";
      appendQuoted(line, key);
      line += ",\"removeAt\":" + QByteArray::number(change.index) + '}';
      break;
  }
  return line + '\n';
}

std::optional<Defaults::Change> changeOf(const QByteArray& line) {
  using Kind = Defaults::Change::Kind;
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
  const QJsonObject o = doc.object();
  Defaults::Change change;
  const auto index = [&](const char* name) -> std::optional<qsizetype> {
    const QJsonValue v = o.value(QLatin1String(name));
    if (!v.isDouble() || v.toDouble() < 0 || std::trunc(v.toDouble()) != v.toDouble()) return std::nullopt;
    return static_cast<qsizetype>(v.toDouble());
  };
  if (o.value(QLatin1String("set")).isString() && o.contains(QLatin1String("value"))) {
    change.kind = Kind::set;
    change.key = o.value(QLatin1String("set")).toString();
    change.value = o.value(QLatin1String("value"));
    if (change.value.isString()) change.value = QJsonValue(change.value.toString());
  } else if (o.value(QLatin1String("remove")).isString()) {
    change.kind = Kind::remove;
    change.key = o.value(QLatin1String("remove")).toString();
  } else if (o.value(QLatin1String("elements")).isString()) {
    change.key = o.value(QLatin1String("elements")).toString();
    if (o.value(QLatin1String("all")).isArray()) {
      change.kind = Kind::setElements;
      for (const QJsonValue& e : o.value(QLatin1String("all")).toArray()) {
        if (!e.isString()) return std::nullopt;
        change.elements.append(e.toString().toUtf8());
      }
    } else if (const auto at = index("insert"); at && o.value(QLatin1String("element")).isString()) {
      change.kind = Kind::insertElement;
      change.index = *at;
      change.element = o.value(QLatin1String("element")).toString().toUtf8();
    } else if (const auto gone = index("removeAt")) {
      change.kind = Kind::removeElement;
      change.index = *gone;
    } else {
      return std::nullopt;
    }
  } else {
    return std::nullopt;
  }
  return change;
}

}  // namespace

Defaults::Plain& Defaults::State::edit() {
  auto copy = std::make_shared<Plain>(*plain);
  Plain& mine = *copy;
  plain = std::move(copy);
  return mine;
}

QList<QByteArray>* Defaults::State::listOf(const QString& key) {
  if (plain->listKeys.contains(key)) return &lists[key];
  const auto found = plain->values.constFind(key);
  if (found == plain->values.cend() || !found->isString()) return nullptr;
  auto elements = splitArray(found->toString().toUtf8());
  if (!elements) return nullptr;
  return &hold(key, std::move(*elements));
}

QList<QByteArray>& Defaults::State::hold(const QString& key, QList<QByteArray> elements) {
  Plain& next = edit();
  next.values.remove(key);
  next.listKeys.insert(key);
  return lists[key] = std::move(elements);
}

bool Defaults::State::apply(const Change& change) {
  switch (change.kind) {
    case Change::Kind::set:
    case Change::Kind::remove: {
      Plain& next = edit();
      next.listKeys.remove(change.key);
      lists.remove(change.key);
      if (change.kind == Change::Kind::remove || change.value.isUndefined())
        next.values.remove(change.key);
      else
        next.values.insert(change.key, change.value);
      return true;
    }
    case Change::Kind::setElements:
      if (!plain->listKeys.contains(change.key) || plain->values.contains(change.key)) {
        Plain& next = edit();
        next.values.remove(change.key);
        next.listKeys.insert(change.key);
      }
      lists.insert(change.key, change.elements);
      return true;
    case Change::Kind::insertElement: {
      QList<QByteArray>* list = listOf(change.key);
      if (!list || change.index < 0 || change.index > list->size()) return false;
      list->insert(change.index, change.element);
      return true;
    }
    case Change::Kind::removeElement: {
      QList<QByteArray>* list = listOf(change.key);
      if (!list || change.index < 0 || change.index >= list->size()) return false;
      list->removeAt(change.index);
      return true;
    }
  }
  return false;
}

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

Defaults::Defaults(QString filePath, Options options)
    : path_(std::move(filePath)),
      journalPath_(path_ + QStringLiteral(".journal")),
      options_(options),
      writer_(std::make_unique<SerialWorker>(QStringLiteral("TLR.Defaults.save"))) {
  const QString home = QDir::cleanPath(Paths::home());
  if (QDir::cleanPath(path_).startsWith(home + '/')) home_ = home;
  std::lock_guard io(ioMutex_);
  adopt(load());
}

Defaults::~Defaults() {
  static_cast<void>(flush());
  writer_.reset();
}

Defaults::Loaded Defaults::load() {
  Loaded loaded;
  // Opened without waiting and read only when it is a plain file, so a FIFO
  // or a device in its place neither stops nor floods the process.
  const FileOps::ReadResult read = FileOps::readFile(path_, kReadLimit);
  QString problem;
  switch (read.status) {
    case FileOps::ReadResult::Status::missing:
      break;
    case FileOps::ReadResult::Status::ok: {
      loaded.base = Identity{read.device, read.inode, read.data.size()};
      if (read.data.trimmed().isEmpty()) break;  // nothing in it to lose
      QJsonParseError error{};
      const QJsonDocument doc = QJsonDocument::fromJson(read.data, &error);
      if (error.error != QJsonParseError::NoError)
        problem = error.errorString() + QStringLiteral(" at offset ") + QString::number(error.offset);
      else if (!doc.isObject())
        problem = QStringLiteral("not a JSON object");
      else
        {
        auto plain = std::make_shared<Plain>();
        plain->values = valuesOf(doc.object());
        loaded.state.plain = std::move(plain);
      }
      break;
    }
    default:
      problem = read.reason;
      break;
  }
  if (!problem.isEmpty()) {
    loaded.base.reset();
    std::optional<std::pair<quint64, quint64>> identity;
    if (read.identified) identity = std::make_pair(read.device, read.inode);
    loaded.unreadableKept = !moveAside(problem, identity);
    return loaded;
  }
  if (!loaded.base) return loaded;

  // The changes made after the file was written, when the journal belongs
  // to this very file.
  const FileOps::ReadResult journal = FileOps::readFile(journalPath_, kReadLimit);
  if (journal.status == FileOps::ReadResult::Status::missing) return loaded;
  if (journal.status != FileOps::ReadResult::Status::ok) {
    // It may hold changes of this file: the file is written whole at the
    // next change, which replaces it.
    log("[Defaults] ", QStringLiteral("%1 无法读取（%2）").arg(journalPath_, journal.reason));
    loaded.writeWhole = true;
    return loaded;
  }
  const QList<QByteArray> lines = journal.data.split('\n');
  const QJsonObject header = QJsonDocument::fromJson(lines.first()).object();
  const Identity named{header.value(QLatin1String("device")).toString().toULongLong(),
                       header.value(QLatin1String("inode")).toString().toULongLong(),
                       static_cast<qint64>(header.value(QLatin1String("size")).toDouble(-1))};
  if (header.value(kJournalMark).toInt() != 1 || !(named == *loaded.base)) return loaded;
  // The last line ends with a line feed: the text after it is empty.
  bool whole = true;
  for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
    const auto change = changeOf(lines[i]);
    if (!change || !loaded.state.apply(*change)) {
      log("[Defaults] ", QStringLiteral("%1 第 %2 行无法读取：其后的 %3 行未采用").arg(journalPath_).arg(i + 1).arg(lines.size() - 1 - i));
      whole = false;
      break;
    }
  }
  if (!lines.last().isEmpty()) whole = false;  // cut short by a crash
  // A journal read to its end is written on; one that was not is replaced
  // by a whole file at the next change.
  if (whole)
    loaded.journal = Identity{journal.device, journal.inode, journal.data.size()};
  else
    loaded.writeWhole = true;
  return loaded;
}

void Defaults::adopt(Loaded loaded) {
  unreadableKept_ = loaded.unreadableKept;
  base_ = loaded.base;
  journal_ = loaded.journal;
  writeWhole_ = loaded.writeWhole;
  std::lock_guard lock(mutex_);
  state_ = std::move(loaded.state);
  std::lock_guard read(readMutex_);
  plain_ = state_.plain;
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

// ---- Reading ----

std::shared_ptr<const Defaults::Plain> Defaults::plain() const {
  std::lock_guard lock(readMutex_);
  return plain_;
}

bool Defaults::contains(const QString& key) const {
  const auto p = plain();
  return p->values.contains(key) || p->listKeys.contains(key);
}

QJsonValue Defaults::value(const QString& key) const {
  const auto p = plain();
  if (const auto found = p->values.constFind(key); found != p->values.cend()) return *found;
  if (!p->listKeys.contains(key)) return QJsonValue(QJsonValue::Undefined);
  QList<QByteArray> elements;
  {
    std::lock_guard lock(mutex_);
    elements = state_.lists.value(key);
  }
  return QJsonValue(QString::fromUtf8(joined(elements)));
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

QJsonObject Defaults::snapshot() const {
  const auto p = plain();
  QJsonObject object;
  for (auto it = p->values.cbegin(); it != p->values.cend(); ++it) object.insert(it.key(), it.value());
  for (const QString& key : p->listKeys) object.insert(key, value(key));
  return object;
}

// ---- Changing ----

void Defaults::change(Change change) {
  if (!state_.apply(change)) return;
  if (state_.plain != plain_) {
    std::shared_ptr<const Plain> old;
    std::lock_guard read(readMutex_);
    old = std::exchange(plain_, state_.plain);
  }
  queued_.push_back(std::move(change));
  if (writeQueued_) return;  // the write queued takes this change too
  writeQueued_ = true;
  writer_->post([this] { writeQueued(); });
}

void Defaults::set(const QString& key, const QJsonValue& value) {
  Change c;
  c.kind = value.isUndefined() ? Change::Kind::remove : Change::Kind::set;
  c.key = key;
  c.value = value;
  std::lock_guard lock(mutex_);
  change(std::move(c));
}

void Defaults::remove(const QString& key) { set(key, QJsonValue(QJsonValue::Undefined)); }

std::optional<QList<QByteArray>> Defaults::elementsOf(const QString& key) {
  std::lock_guard lock(mutex_);
  if (state_.plain->listKeys.contains(key)) return state_.lists.value(key);
  const auto found = state_.plain->values.constFind(key);
  if (found == state_.plain->values.cend() || !found->isString()) return std::nullopt;
  const QByteArray text = found->toString().toUtf8();
  std::optional<QList<QByteArray>> elements = splitArray(text);
  // Held element by element only when that is the same text (no white
  // space between the elements): the value reads as it was, and nothing is
  // written.
  if (elements && joined(*elements) == text) {
    state_.hold(key, *elements);
    std::lock_guard read(readMutex_);
    plain_ = state_.plain;
  }
  return elements;
}

void Defaults::setElements(const QString& key, QList<QByteArray> elements) {
  Change c;
  c.kind = Change::Kind::setElements;
  c.key = key;
  c.elements = std::move(elements);
  std::lock_guard lock(mutex_);
  change(std::move(c));
}

void Defaults::insertElement(const QString& key, qsizetype index, const QByteArray& element) {
  Change c;
  c.kind = Change::Kind::insertElement;
  c.key = key;
  c.element = element;
  c.index = index;
  std::lock_guard lock(mutex_);
  change(std::move(c));
}

void Defaults::removeElement(const QString& key, qsizetype index) {
  Change c;
  c.kind = Change::Kind::removeElement;
  c.key = key;
  c.index = index;
  std::lock_guard lock(mutex_);
  change(std::move(c));
}

void Defaults::setWriteHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  writeHook_ = std::move(hook);
}

Expected<void, QString> Defaults::flush() {
  writer_->flush();
  std::lock_guard io(ioMutex_);
  return lastWrite_;
}

void Defaults::reload() {
  static_cast<void>(flush());
  std::lock_guard io(ioMutex_);
  adopt(load());
}

// ---- Writing (on the writing thread) ----

void Defaults::writeQueued() {
  std::lock_guard io(ioMutex_);
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    hook = writeHook_;
  }
  if (hook) hook();
  std::vector<Change> changes;
  {
    std::lock_guard lock(mutex_);
    writeQueued_ = false;
    changes.swap(queued_);
  }
  if (changes.empty()) return;  // a whole write took them already
  // An unreadable file that could not be moved aside is never overwritten
  // (a line said so when it was read).
  if (unreadableKept_) {
    lastWrite_ = Unexpected(path_ + QStringLiteral(": unreadable, kept as it is"));
    return;
  }
  // Not once the home folder the file lay in is gone (a last write at exit,
  // after a temporary HOME was removed): making the file's folder would make
  // the home again.
  if (!home_.isEmpty() && !QFileInfo(home_).isDir()) {
    lastWrite_ = Unexpected(path_ + QStringLiteral(": the home folder is gone"));
    log("[Defaults] ", QStringLiteral("设置无法写入（%1）：新值只在本次运行中有效").arg(lastWrite_.error()));
    return;
  }
  if (base_ && !writeWhole_ && base_->size >= options_.journalFrom) {
    if (appendToJournal(changes)) {
      lastWrite_ = {};
      return;
    }
  }
  // The whole file, as it stands now: the changes made since these were
  // taken are in it too, and are not written again.
  State state;
  {
    std::lock_guard lock(mutex_);
    state = state_;
    queued_.clear();
  }
  lastWrite_ = writeWhole(state);
  if (!lastWrite_) log("[Defaults] ", QStringLiteral("设置无法写入（%1）：新值只在本次运行中有效").arg(lastWrite_.error()));
}

Expected<void, QString> Defaults::writeWhole(const State& state) {
  const Plain& plain = *state.plain;
  const auto& lists = state.lists;
  QStringList keys = plain.values.keys();
  for (const QString& key : plain.listKeys) keys.append(key);
  std::sort(keys.begin(), keys.end());
  QByteArray text = "{";
  for (qsizetype i = 0; i < keys.size(); ++i) {
    text += i == 0 ? "\n  " : ",\n  ";
    appendQuoted(text, keys[i].toUtf8());
    text += ": ";
    if (plain.listKeys.contains(keys[i]))
      appendArrayText(text, lists.value(keys[i]));
    else
      text += compactJson(plain.values.value(keys[i]));
  }
  text += keys.isEmpty() ? "}\n" : "\n}\n";

  // Never into a folder that is not ours alone.
  // Below the home it lay in when that was looked at: should the home go
  // meanwhile, it is not made again.
  Expected<void, QString> written = FileOps::makeOwnFolder(QFileInfo(path_).absolutePath(), home_);
  if (written) written = FileOps::writeOwnFile(path_, text);
  if (!written) {
    writeWhole_ = true;  // the journal may have been left cut short: not written on
    return written;
  }
  struct stat st;
  if (::stat(QFile::encodeName(path_).constData(), &st) == 0)
    base_ = Identity{static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino), text.size()};
  else
    base_.reset();
  // The journal belonged to the file just replaced.
  journal_.reset();
  writeWhole_ = false;
  if (::unlink(QFile::encodeName(journalPath_).constData()) != 0 && errno != ENOENT)
    log("[Defaults] ", QStringLiteral("%1 无法删除（%2）").arg(journalPath_, QString::fromLocal8Bit(std::strerror(errno))));
  return {};
}

Expected<void, QString> Defaults::appendToJournal(const std::vector<Change>& changes) {
  QByteArray text;
  for (const Change& change : changes) text += changeLine(change);
  // Once the journal holds half as much as the file, the file is written
  // whole again: replaying it stays cheap, and each change has cost about
  // three times its own size at most.
  const qint64 held = journal_ ? journal_->size : 0;
  if (held + text.size() > base_->size / 2) return Unexpected(QStringLiteral("journal full"));
  const QByteArray native = QFile::encodeName(journalPath_);
  const auto failed = [&](const QString& why) {
    writeWhole_ = true;
    return Unexpected(journalPath_ + QStringLiteral(": ") + why);
  };
  // The file it belongs to must still be the one written.
  struct stat st;
  if (::stat(QFile::encodeName(path_).constData(), &st) != 0 || static_cast<quint64>(st.st_dev) != base_->device ||
      static_cast<quint64>(st.st_ino) != base_->inode || st.st_size != base_->size)
    return failed(QStringLiteral("the file was replaced"));
  const bool fresh = !journal_;
  if (fresh) {
    const QByteArray header = "{\"" + QByteArray(kJournalMark.data(), kJournalMark.size()) + "\":1,\"device\":\"" +
                              QByteArray::number(base_->device) + "\",\"inode\":\"" +
                              QByteArray::number(base_->inode) + "\",\"size\":" + QByteArray::number(base_->size) +
                              "}\n";
    text.prepend(header);
  }
  // Never through a link; a fresh journal replaces what stood there.
  const int fd = ::open(native.constData(),
                        O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (fresh ? O_CREAT | O_TRUNC : O_APPEND), 0600);
  if (fd < 0) return failed(QString::fromLocal8Bit(std::strerror(errno)));
  const auto closeAndFail = [&](const QString& why) {
    ::close(fd);
    return failed(why);
  };
  if (::fstat(fd, &st) != 0) return closeAndFail(QString::fromLocal8Bit(std::strerror(errno)));
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return closeAndFail(QStringLiteral("not our plain file"));
  if (!fresh && (static_cast<quint64>(st.st_dev) != journal_->device || static_cast<quint64>(st.st_ino) != journal_->inode ||
                 st.st_size != journal_->size))
    return closeAndFail(QStringLiteral("changed by someone else"));
  if (fresh && ::fchmod(fd, 0600) != 0) return closeAndFail(QString::fromLocal8Bit(std::strerror(errno)));
  qsizetype written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.constData() + written, static_cast<size_t>(text.size() - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return closeAndFail(QString::fromLocal8Bit(std::strerror(n < 0 ? errno : ENOSPC)));
    written += n;
  }
  if (::fdatasync(fd) != 0) return closeAndFail(QString::fromLocal8Bit(std::strerror(errno)));
  if (::close(fd) != 0) return failed(QString::fromLocal8Bit(std::strerror(errno)));
  journal_ = Identity{static_cast<quint64>(st.st_dev), static_cast<quint64>(st.st_ino),
                      (fresh ? 0 : journal_->size) + text.size()};
  return {};
}

}  // namespace tlr
