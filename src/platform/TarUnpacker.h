#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>

#include <memory>
#include <vector>

namespace tlr {

// Unpacks a tar stream (POSIX ustar and pax, GNU tar's long names and its
// pax sparse files, as TarWriter and GNU tar write them) into a folder.
// Every member is made through the folder that holds it, opened relative to
// its own parent and never through a link, so a path of any length comes
// back (no whole path is ever handed to the system). Ownership is never
// taken from the archive; files get the permission bits (never set-id or
// sticky bits), times to the nanosecond and holes the archive records; hard
// links are made as links. Folders are made writable for their owner while
// the stream is unpacked and get their modification times at its end; one
// whose recorded mode withholds writing from its owner keeps owner-write
// (so what is unpacked can be moved out of it) and its recorded mode is
// told in folderModes(). A member whose name has a ".." component, or a
// link member whose target has one (PathNames), is skipped and makes the unpacking fail; leading "/"
// is removed. A member that stands already is replaced (a later member of
// the same name wins). Not thread-safe.
class TarUnpacker {
 public:
  // Into the folder open as `intoFd` (kept open by the caller), only the
  // members named `members` and what lies below them, or everything.
  TarUnpacker(int intoFd, const QList<QByteArray>& members);
  ~TarUnpacker();
  TarUnpacker(const TarUnpacker&) = delete;
  TarUnpacker& operator=(const TarUnpacker&) = delete;

  // Where members stand already: the member `member` (as packed, with
  // what lies below it) corresponds to the path `path` (its own links
  // followed; links below it never are). A regular file below it whose
  // standing counterpart is this user's regular file of one name with the
  // same size, permission bits, modification time and content is not
  // unpacked at all: it is counted in kept() and nothing of it is made in
  // the unpacking folder. The standing files are only read. A hard link
  // member whose target was kept gets the target made after all.
  struct Standing {
    QByteArray member;
    QByteArray path;
  };
  void keepIdentical(const QList<Standing>& standing);

  // Reads the stream from `fd` to its end (also past the end-of-archive
  // blocks, so a writer is never cut off) and unpacks it. False when the
  // stream is no tar archive, ends early, or a member could not be made;
  // the members that could be made are made either way.
  bool unpack(int fd);

  // One line per problem, as tar says them ("<name>: Cannot open: …").
  const QByteArray& errors() const { return errors_; }
  // A write failed because the disk (or the user's quota) is full.
  bool diskFull() const { return diskFull_; }
  // Folders whose recorded permission bits withhold writing from their
  // owner: their inode number → those bits.
  const QHash<quint64, unsigned>& folderModes() const { return folderModes_; }
  // How many files were left out because they stand already (keepIdentical).
  qint64 kept() const { return kept_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  QByteArray errors_;
  bool diskFull_ = false;
  QHash<quint64, unsigned> folderModes_;
  qint64 kept_ = 0;
};

}  // namespace tlr
