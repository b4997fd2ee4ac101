#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include "platform/TarUnpacker.h"

#include <functional>

// Snapshot archives: standard gzip-compressed tar files. Packing writes the
// tar stream here (TarWriter) and has it compressed by pigz on every core
// when it is installed, else by gzip; unpacking has pigz (else gzip)
// decompress it and unpacks the tar stream here (TarUnpacker), through
// folder descriptors, so any path the disk held comes back. Either way the archive streams through this process in
// pieces, never whole in memory and never as a plain file of its own, so it
// can be hashed while it passes. The tools run under umask 077 (agents'
// configuration holds keys) and their error output is read while they run,
// so a tool with much to say never stalls.
namespace tlr {

class TarWriter;

namespace TarArchive {

struct [[nodiscard]] Result {
  bool started = false;
  QString startError;  // why the tool could not be started
  int exitCode = -1;   // -1 when it did not exit normally
  QByteArray errorOutput;
  // Packing: the members were all written (the producer finished) and every
  // compressed piece was taken. Unpacking: the archive was read to its end.
  bool streamed = false;
  // Unpacking stopped because the disk it wrote to is full (or the user's
  // quota on it is used up).
  bool diskFull = false;
  // Unpacking: the folders made writable for their owner although the
  // archive records a mode that is not (0555): inode number → that mode.
  QHash<quint64, unsigned> folderModes;
  // Unpacking: the files left out because they stand already as they are
  // in the archive (see TarUnpacker::keepIdentical).
  qint64 kept = 0;

  bool ok() const { return started && exitCode == 0 && streamed; }
};

// The parallel gzip used for packing and unpacking, or empty when none is
// installed (gzip is used then).
QString parallelGzip();

// Packs a tar stream into a standard .tar.gz as it is made. `produce` writes
// the members through the TarWriter it is given, on a thread of its own, and
// returns whether it wrote them all; each compressed piece is handed to
// `sink`, in order, on another thread, as it comes. False from either stops
// the packing: the result is then not ok.
Result pack(const std::function<bool(TarWriter&)>& produce, const std::function<bool(QByteArrayView)>& sink);

// Unpacks the archive at `archivePath` into the existing folder `intoDir`:
// only `members` (names as packed) when given, else everything. The archive
// is opened here (a plain file only: no link followed, never a FIFO or a
// device) and fed to tar; every byte of it passes through `onRead` (when
// given) exactly once, in order, on a thread of its own, also the bytes no
// longer wanted because the unpacking stopped early. An archive that cannot
// be opened or read is not ok, with the reason in `startError` when the
// decompressor never started. Ownership is never taken from the archive;
// each member gets the permission bits and modification time the archive
// records, whatever the umask (keeping `intoDir` private is the caller's
// part); see TarUnpacker. As GNU tar does, leading "/" is removed from
// member and link names, members with a ".." component are refused, and links the
// archive makes are not written through. A member named in `members` that
// the archive lacks fails the unpacking (exit code 2, as tar's).
Result extract(const QString& archivePath, const QString& intoDir, const QStringList& members = {},
               const std::function<void(QByteArrayView)>& onRead = {});
// The same into the folder open as `intoDirFd`, which tar works in: what
// stands at that folder's path meanwhile (a link put there) changes nothing.
// Files that stand already at a place given in `standing`, as they are in
// the archive, are left out (TarUnpacker::keepIdentical).
Result extractInto(const QString& archivePath, int intoDirFd, const QStringList& members = {},
                   const std::function<void(QByteArrayView)>& onRead = {},
                   const QList<TarUnpacker::Standing>& standing = {});

}  // namespace TarArchive
}  // namespace tlr
