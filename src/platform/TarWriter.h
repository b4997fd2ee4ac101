#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <utility>
#include <vector>
#include <sys/stat.h>

namespace tlr {

// Writes a tar stream to a descriptor (a pipe to gzip, say): POSIX ustar
// members, with a pax record for a name, size or time that ustar cannot
// hold (also a time finer than a second), so GNU tar and every other reader
// unpacks it. Only folders, regular files and hard links to a file stored
// before; ownership is written but never meant to be restored, and set-id
// and sticky bits are never written. Names are bytes, stored as
// they are. A file with holes is stored as a sparse member (GNU tar's pax
// format 1.0): its data without the holes, which GNU tar puts back as holes.
// Writes are buffered; a failed write (the reader went away) ends the
// stream and every later call returns false. Not thread-safe; the
// descriptor stays the caller's.
class TarWriter {
 public:
  explicit TarWriter(int fd);
  ~TarWriter();
  TarWriter(const TarWriter&) = delete;
  TarWriter& operator=(const TarWriter&) = delete;

  // A folder member named `name` (no trailing slash needed) with the
  // permission bits `mode` and the modification time `mtime` (seconds and
  // nanoseconds).
  [[nodiscard]] bool addFolder(QByteArrayView name, unsigned mode, qint64 mtime, long mtimeNsec = 0);

  // What storing one file read.
  struct FileRead {
    // Its size or modification time changed while it was read (an agent
    // writing it): the member keeps the size written in its header (cut, or
    // padded with zeros), so the stream stays whole, but its content is no
    // one state of the file.
    bool changed = false;
    // The bytes stored, holes left out: what unpacking it writes.
    qint64 dataBytes = 0;
  };

  // The regular file open as `fd`, whose status is `st`, stored under
  // `name` with st's size, permission bits and time. A file whose blocks do
  // not cover its size is looked at for holes, which are not stored. A file
  // stored again under the same name (after it changed) replaces the first
  // when the archive is unpacked.
  [[nodiscard]] bool addFile(QByteArrayView name, int fd, const struct stat& st, FileRead* read);

  // A second name `name` of the file stored before as `target` (a hard
  // link, status `st`): a link member, no data.
  [[nodiscard]] bool addHardLink(QByteArrayView name, QByteArrayView target, const struct stat& st);

  // The end-of-archive blocks, the stream padded to whole records, and
  // everything flushed.
  [[nodiscard]] bool finish();

  // Why the stream ended early (the write's error), else empty.
  const QString& error() const { return error_; }

 private:
  [[nodiscard]] bool writeHeader(QByteArrayView name, char type, unsigned mode, qint64 size,
                                 const struct timespec& mtime, const struct stat* st, QByteArrayView extraPax = {},
                                 QByteArrayView link = {});
  // Copies `length` bytes of `fd` from `offset` into the stream; what cannot
  // be read is written as zeros and sets `*changed`.
  [[nodiscard]] bool copyData(int fd, qint64 offset, qint64 length, bool* changed);
  [[nodiscard]] bool zeros(qint64 count);
  [[nodiscard]] bool writePax(QByteArrayView records);
  char* room(qsizetype bytes);
  [[nodiscard]] bool pad();
  [[nodiscard]] bool flush();

  int fd_;
  std::unique_ptr<char[]> buffer_;
  qsizetype used_ = 0;
  qint64 total_ = 0;
  QString error_;
  // Room kept from member to member: a member's pax records, a folder's
  // name with its slash.
  QByteArray pax_;
  QByteArray folderName_;
};

}  // namespace tlr
