#pragma once

#include "platform/Expected.h"

#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include <ctime>

// Copying, linking and putting files in place for backup and restore: whole
// files only, never half-written at their final name, links never followed
// where that would write somewhere else.
namespace tlr::FileTransfer {

enum class Kind { regular, directory, symlink, special };  // special: device, FIFO, socket

struct Entry {
  Kind kind = Kind::regular;
  unsigned mode = 0;  // permission bits including set-user-id, set-group-id and sticky
  qint64 size = 0;
  quint64 linkCount = 1;
  struct timespec modified{};
};

// The item's own attributes (a final symbolic link is not followed), or
// nothing when they cannot be read.
std::optional<Entry> entry(const QString& path);

// The data regions of the regular file open as `fd`, `size` bytes long, as
// (offset, length) pairs with the holes left out; the last pair is
// (size, 0) when the file ends in a hole. Nothing when it has no holes, when
// they cannot be asked for, or when it is in too many pieces to list. Moves
// the descriptor's offset.
std::optional<std::vector<std::pair<qint64, qint64>>> dataRegions(int fd, qint64 size);

// Copies the regular file `source` (a final link is followed) to
// `destination`, which must not exist yet; the copy keeps the permission
// bits (without set-id and sticky bits), the modification time and its
// holes (a sparse file stays sparse). On
// failure nothing is left at `destination`.
Expected<void, QString> copyNew(const QString& source, const QString& destination);

// Copies the regular file `source` (no link followed) to `destination`,
// which must not exist yet, a piece at a time, each piece on the disk before
// the next is read (so what is counted is written, and a stop takes effect
// within a piece): `onPiece` is told the bytes copied so far after each and
// returns false to stop. The copy keeps the permission bits (without set-id
// and sticky bits) and the modification time, and is flushed whole before it
// returns. On failure or a stop nothing is left at `destination`.
struct [[nodiscard]] PiecewiseCopy {
  QString error;         // empty on success
  bool stopped = false;  // `onPiece` said to stop
};
inline constexpr qint64 kCopyPiece = 4 << 20;
PiecewiseCopy copyInPieces(const QString& source, const QString& destination,
                           const std::function<bool(qint64 copied)>& onPiece);

// Makes `link` a second name of the file `existing`.
Expected<void, QString> hardLink(const QString& existing, const QString& link);

// Puts the regular file `source` at `destination` in one step, renamed over
// whatever file or link stood there, so there is always either the old or the
// new file. With `move` and a file that has no other names on the same file
// system, the source itself is renamed into place; otherwise its content goes
// to a temporary name in the destination's folder first. A folder standing at
// `destination` is not replaced: that is a failure. The result has the
// source's permission bits without set-id and sticky bits.
Expected<void, QString> replaceFile(const QString& source, const QString& destination, bool move);

// The same for the entry `from` of the folder open as `fromDir` and the entry
// `to` of the folder open as `toDir` (AT_FDCWD: the names are paths); never
// follows a link on either side. 0 or an errno value.
int replaceFileAt(int fromDir, const QByteArray& from, int toDir, const QByteArray& to, bool move);

// Puts a second name of the file `existing` of the folder `existingDir` at
// `to` of `toDir`, replacing what stands there in one step (made under a
// temporary name beside it first): 0, or the errno value of the failure.
int replaceWithLinkAt(int existingDir, const QByteArray& existing, int toDir, const QByteArray& to);

// Renames the folder `from` to `to` in one step. When a folder already
// stands at `to`, the two are exchanged first and the old one removed, so
// `to` never goes missing.
Expected<void, QString> renameFolderIntoPlace(const QString& from, const QString& to);

// The same for the entries `from` and `to` of the folder open as `dirFd`.
Expected<void, QString> renameFolderIntoPlaceAt(int dirFd, const QByteArray& from, const QByteArray& to);

// Renames `from` to `to` when nothing stands at `to`; never replaces.
Expected<void, QString> renameNew(const QString& from, const QString& to);

// Flushes a file or a folder (its entries) to the disk.
Expected<void, QString> sync(const QString& path);

}  // namespace tlr::FileTransfer
