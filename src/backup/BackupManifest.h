#pragma once

#include "platform/Expected.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <optional>

namespace tlr {

// Why a file could not be hashed. `domain` is "BackupManifest" and `code` 1;
// the description names the file's path at its end (Chinese only).
struct FileHashError {
  QString domain = QStringLiteral("BackupManifest");
  int code = 1;
  QString description;
};

// A file's SHA-256 (64 lower-case hexadecimal digits) and its size in bytes.
struct FileDigest {
  QString sha256;
  qint64 size = 0;
};

// The files a manifest lists, kept compactly (their UTF-8 texts one after
// another in one buffer) since a snapshot may list hundreds of thousands: a
// QStringList of 40,000 names takes four times the room.
class FileNames {
 public:
  FileNames() = default;
  FileNames(std::initializer_list<QString> names);
  explicit FileNames(const QStringList& names);

  void append(const QString& name);
  // A name given as its UTF-8 text in pieces, none holding a NUL.
  void appendUtf8(std::initializer_list<QByteArrayView> pieces);
  FileNames& operator<<(const QString& name) {
    append(name);
    return *this;
  }
  qsizetype size() const { return count_; }
  bool isEmpty() const { return count_ == 0; }
  QStringList toStringList() const;
  // Calls `visit` with each name's UTF-8 bytes, in order.
  template <class Visit>
  void forEachUtf8(Visit&& visit) const {
    qsizetype at = 0;
    for (qsizetype i = 0; i < count_; ++i) {
      const qsizetype end = data_.indexOf('\0', at);
      visit(QByteArrayView(data_.constData() + at, end - at));
      at = end + 1;
    }
  }
  friend bool operator==(const FileNames&, const FileNames&) = default;

 private:
  QByteArray data_;  // each name's UTF-8 text and a NUL (no name holds one)
  qsizetype count_ = 0;
};

// The record a snapshot's "manifest.json" holds: what the snapshot contains
// and where it came from. Plain values; the JSON form is encode()/decode().
struct BackupManifest {
  // The machine that made the snapshot.
  struct DeviceInfo {
    QString name;          // the computer's name (DeviceIdentity::hostDisplayName)
    QString macHashShort;  // currentMacHashShort() when written
    QString osVersion;     // currentOSVersion() when written
    bool operator==(const DeviceInfo&) const = default;
  };

  // One agent in the snapshot.
  struct AgentBackup {
    // Counts by kind of content, filled by the backup engine.
    struct Stats {
      qint64 skills = 0;
      qint64 memoryBytes = 0;
      qint64 tasks = 0;
      bool operator==(const Stats&) const = default;
    };
    QString id;           // the registry id
    QString displayName;  // the English name when the entry has one, else its name
    qint64 fileCount = 0;
    qint64 totalBytes = 0;
    Stats stats;
    // Each copied file in copy order: "<root name>/<path below the root>", or
    // the file's name for a root that is a single file (a name that is not
    // UTF-8 with "\xNN" for each byte that does not fit).
    FileNames files;
    // One backed-up root: the name of its entry in the agent's folder of the
    // archive, and where it came from ("~/.agent" below the home folder, else
    // absolute). In "roots" a root whose entry is named by the last component
    // of its place is written as the place alone (as older manifests wrote
    // every root); any other as {"name": ..., "place": ...}.
    //
    // A root stored once for several agents, or inside another root's
    // folder, records where in the archive it lies, below the top folder
    // ("stored": "<agent id>/<entry>[/<path below it>]"); without it the
    // root lies in the agent's own folder under its name. "diskBytes" is the
    // room its files take on a disk (holes left out). Both are left out of
    // manifests written before they existed.
    struct Root {
      QString name;
      QString place;
      std::optional<QString> stored;
      std::optional<qint64> diskBytes;
      bool operator==(const Root&) const = default;
    };
    // The backed-up roots in staging order; the restore puts each back where
    // it came from unless an include path or catalog folder names its place.
    // Optional: manifests written before it existed lack the key "roots", and
    // older ones list only the first root of each name.
    std::optional<QList<Root>> roots;
    bool operator==(const AgentBackup&) const = default;
  };

  qint64 schemaVersion = 1;
  QDateTime createdAt;  // UTC, whole seconds in the file
  DeviceInfo device;
  QList<AgentBackup> agents;
  qint64 totalBytes = 0;   // size of the snapshot's "backup.tar.gz"
  QString archiveSha256;   // SHA-256 of "backup.tar.gz"

  bool operator==(const BackupManifest&) const = default;

  // The JSON form of "manifest.json": pretty-printed UTF-8, the keys of every
  // object in sorted order, `createdAt` as "2026-03-01T09:30:00Z" (UTC, whole
  // seconds; any fraction of a second is dropped).
  QByteArray encode() const;
  // The same text handed to `sink` in pieces of about 64 KB as it is made,
  // so a manifest listing many files is never whole in memory; false from
  // the sink stops it (and is returned).
  bool encodeTo(const std::function<bool(QByteArrayView)>& sink) const;
  // Decodes "manifest.json" strictly: every key is required, every value
  // must have its JSON type, integers must be whole and fit 64 bits, and
  // `createdAt` must have exactly the form encode() writes. Unknown keys are
  // ignored. The error says which key failed and why.
  static Expected<BackupManifest, QString> decode(const QByteArray& json);

  // "2026-03-01T09:30:00Z" for a date (converted to UTC, seconds kept whole),
  // and the strict reverse: nothing for any other form (fractional seconds,
  // an offset instead of Z, an impossible date).
  static QString isoDate(const QDateTime& date);
  static std::optional<QDateTime> parseIsoDate(const QString& text);

  // --- Device identity and digests (stateless, any thread) ---

  // SHA-256 of `data` as 64 lower-case hexadecimal digits.
  static QString sha256Hex(const QByteArray& data);
  // SHA-256 of a file, read in chunks of kHashChunkBytes through one buffer,
  // so a file of any size is hashed in constant memory. A file that cannot
  // be opened, or a read that fails midway, is an error: a digest of part of
  // a file is never returned.
  static Expected<QString, FileHashError> sha256HexOfFile(const QString& path);
  // The same pass, also giving the number of bytes read.
  static Expected<FileDigest, FileHashError> digestOfFile(const QString& path);
  static constexpr qint64 kHashChunkBytes = 4 * 1024 * 1024;

  // Eight lower-case hexadecimal digits that identify this machine without
  // revealing its id: the start of the SHA-256 of the machine UUID (or
  // "unknown" without one) followed by a fixed suffix.
  static QString currentMacHashShort();
  // The same for a given machine UUID (nothing: the "unknown" form).
  static QString macHashShort(const std::optional<QString>& machineUuid);
  // "Linux 6.18.44": the running kernel's first three release numbers.
  static QString currentOSVersion();
  // The computer's name for `DeviceInfo::name`.
  static QString currentDeviceName();
  // A DeviceInfo of this machine now.
  static DeviceInfo currentDevice();
};

}  // namespace tlr
