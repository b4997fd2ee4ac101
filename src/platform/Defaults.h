#pragma once

#include "platform/Expected.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tlr {

class SerialWorker;

// The user defaults: one JSON object in a file, keys spelled as the rest of
// the system names them ("TLR.language"). Values keep their JSON types: a
// Boolean false is not the text "false", and a one-element list stays a list.
//
// Reading never waits for the file: readers look at an unchanging copy of the
// values, which a change replaces under a short lock. Every change is in
// memory at once and goes to the file in the order made, on one thread of
// its own ("TLR.Defaults.save"): the changes made while a write is under way
// go out together in the next one. flush() waits for them, and so does the
// destructor.
//
// A small file is written whole (temporary file, synced, then renamed onto
// it). Once it is larger than Options::journalFrom (an event log of
// thousands of events), a change is appended to a journal beside it
// ("defaults.json.journal": the file it belongs to, then one line per
// change, synced) and the file is written whole again only when the journal
// has grown to half the file's size: a change costs what it changes, not
// what the file holds. Whoever reads the file (this class, in any process)
// reads the journal's changes after it; a journal that belongs to another
// version of the file is left unread, and a line cut short by a crash ends
// it.
//
// A file that cannot be read as a JSON object (broken JSON, a truncation, a
// FIFO or a folder in its place, more than 4 MiB) reads as empty and is first
// moved aside as "defaults.json.unreadable-<UTC time>" with a log line, so
// nothing the user set is lost; when it cannot be moved, nothing is written
// over it. A file in the home folder is not written once that folder is gone
// (its folders would bring the home back). All members are safe to call from
// any thread.
class Defaults {
 public:
  struct Options {
    // From this size of the file on, changes go to the journal.
    qint64 journalFrom = 64 * 1024;
  };

  // The defaults of the current user, at Paths::defaultsFile(). When HOME or
  // XDG_CONFIG_HOME changes, the next call binds to the new file.
  static Defaults& shared();

  explicit Defaults(QString filePath) : Defaults(std::move(filePath), Options{}) {}
  Defaults(QString filePath, Options options);
  // Writes what is still to be written.
  ~Defaults();
  Defaults(const Defaults&) = delete;
  Defaults& operator=(const Defaults&) = delete;

  const QString& filePath() const { return path_; }
  const QString& journalPath() const { return journalPath_; }

  bool contains(const QString& key) const;
  // Undefined when the key is absent.
  QJsonValue value(const QString& key) const;
  std::optional<QString> string(const QString& key) const;
  std::optional<bool> boolean(const QString& key) const;
  std::optional<double> number(const QString& key) const;
  std::optional<qint64> integer(const QString& key) const;  // whole numbers only
  std::optional<QStringList> stringList(const QString& key) const;  // every element a string

  // Stores the value; an undefined value removes the key. Readers see it at
  // once; it is written to the file on the writing thread, and a write that
  // fails says why in a "[Defaults] " line (the value holds for this run).
  void set(const QString& key, const QJsonValue& value);
  void remove(const QString& key);

  // A value whose stored form is the text of a JSON array (a string: "[",
  // the elements' JSON texts joined by ",", "]"), held element by element,
  // so that inserting or removing one costs what that element costs, in
  // memory, in the journal and on the writing thread, however long the
  // array. Readers of the key see the whole text.
  //
  // The elements' texts of the array text under `key`; nothing when the key
  // holds no string that is a JSON array. From now on held element by
  // element when the text is compact (the value does not change, and
  // nothing is written); otherwise at the first insertion or removal.
  std::optional<QList<QByteArray>> elementsOf(const QString& key);
  // Replaces the value with the array of these elements (JSON texts).
  void setElements(const QString& key, QList<QByteArray> elements);
  // Inserts one element before `index` (0 ... count); removes the one at
  // `index`. Only on a key held element by element.
  void insertElement(const QString& key, qsizetype index, const QByteArray& element);
  void removeElement(const QString& key, qsizetype index);

  QJsonObject snapshot() const;

  // Waits until every change made before the call is in the file; the
  // outcome of the last write.
  Expected<void, QString> flush();
  // Reads the file again (for tests and for values another process wrote),
  // after writing what is pending.
  void reload();

  // For tests: runs on the writing thread before each write.
  void setWriteHook(std::function<void()> hook);

  // One change, as it waits for the writing thread and as the journal holds it.
  struct Change {
    enum class Kind { set, remove, setElements, insertElement, removeElement };
    Kind kind = Kind::set;
    QString key;
    QJsonValue value;              // set
    QList<QByteArray> elements;    // setElements
    QByteArray element;            // insertElement
    qsizetype index = 0;           // insertElement, removeElement
  };

 private:
  // What readers see: replaced whole, never changed.
  struct Plain {
    QMap<QString, QJsonValue> values;
    QSet<QString> listKeys;  // held element by element, in lists_
  };
  // The file as last read or written, which the journal belongs to.
  struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    bool operator==(const Identity&) const = default;
  };
  // The values as changes leave them, and as a read of the file and its
  // journal finds them.
  struct State {
    std::shared_ptr<const Plain> plain = std::make_shared<Plain>();
    QHash<QString, QList<QByteArray>> lists;

    // The key held element by element (converted from its array text when
    // it is not yet, which changes no value), or nothing.
    QList<QByteArray>* listOf(const QString& key);
    // Holds the key as these elements from now on.
    QList<QByteArray>& hold(const QString& key, QList<QByteArray> elements);
    // Applies one change; false when it does not fit what is held (an index
    // beyond the end, a key that holds no array).
    bool apply(const Change& change);

   private:
    Plain& edit();
  };
  struct Loaded {
    State state;
    bool unreadableKept = false;
    std::optional<Identity> base;
    std::optional<Identity> journal;
    bool writeWhole = false;  // a journal of the file was not read to its end
  };

  std::shared_ptr<const Plain> plain() const;
  // Under mutex_: applies a change, publishes what readers see, and queues
  // a write when none is queued.
  void change(Change change);

  Loaded load();
  void adopt(Loaded loaded);
  // On the writing thread.
  void writeQueued();
  Expected<void, QString> writeWhole(const State& state);
  Expected<void, QString> appendToJournal(const std::vector<Change>& changes);
  // Moves the unreadable file aside; false when it stays where it is.
  [[nodiscard]] bool moveAside(const QString& problem, std::optional<std::pair<quint64, quint64>> identity);

  const QString path_;
  const QString journalPath_;
  const Options options_;
  // The home folder the file lies in, when it lies in one.
  QString home_;

  // Readers take it only to copy plain_.
  mutable std::mutex readMutex_;
  std::shared_ptr<const Plain> plain_;

  // Short: the lists, the queue and the plain values' next copy; never held
  // across a file operation or the encoding of the file.
  mutable std::mutex mutex_;
  State state_;
  std::vector<Change> queued_;
  bool writeQueued_ = false;
  std::function<void()> writeHook_;

  // The writing side: held by the writing thread while it writes and by
  // reload(); readers and changes never take it.
  std::mutex ioMutex_;
  bool unreadableKept_ = false;  // an unreadable file stands at path_: never written over
  std::optional<Identity> base_;
  // The journal that belongs to base_, as this process last left it.
  std::optional<Identity> journal_;
  // The next write is of the whole file: the journal may hold changes that
  // are not in the file yet but cannot be written on.
  bool writeWhole_ = false;
  Expected<void, QString> lastWrite_;

  std::unique_ptr<SerialWorker> writer_;
};

}  // namespace tlr
