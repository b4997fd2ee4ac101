#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Snapshot archives: standard gzip-compressed tar files made and unpacked by
// GNU tar at /usr/bin/tar. When pigz is installed it does the gzip work on
// every core; the archive is the same standard .tar.gz either way. tar runs
// under umask 077 (agents' configuration holds keys) and its output is read
// while it runs, so a tar with much to say never stalls.
namespace tlr::TarArchive {

struct Result {
  bool started = false;
  QString startError;  // why tar could not be started
  int exitCode = -1;   // -1 when it did not exit normally
  QByteArray errorOutput;

  bool ok() const { return started && exitCode == 0; }
};

// The tar program used.
QString tarProgram();
// The parallel gzip used for packing and unpacking, or empty when none is
// installed (tar's own -z is used then).
QString parallelGzip();

// Packs `memberName` (a file or folder inside `parentDir`) into the archive
// at `archivePath`, which tar creates; member names start with `memberName`.
// A file with several names is stored whole under each of them, never as a
// link member. Exit status 1 means a file changed while it was read: the
// archive is complete, that file as tar read it.
Result pack(const QString& parentDir, const QString& memberName, const QString& archivePath);

// Unpacks the archive into the existing folder `intoDir`: only `members`
// (names as packed) when given, else everything. Ownership is never taken
// from the archive; each member gets the permission bits and modification
// time the archive records, whatever the umask (keeping `intoDir` private is
// the caller's part). GNU tar's own
// defaults stay in force: leading "/" is removed from member and link names,
// members with ".." are skipped, and links the archive makes are not
// written through.
Result extract(const QString& archivePath, const QString& intoDir, const QStringList& members = {});

}  // namespace tlr::TarArchive
