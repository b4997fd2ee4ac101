#pragma once

#include "platform/Expected.h"
#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

#include <sys/stat.h>

// File-system operations that must not follow symbolic links where a plain
// file manager would, or that must not leave a file half-written.
namespace tlr::FileOps {

// Whether `text` holds a NUL character. A system call would silently cut a
// path or an argument there ("~/\0x" would name the home folder), so every
// function here refuses such a path, and callers refuse such text before it
// gets anywhere near one.
bool holdsNul(const QString& text);
// The reason given for such a path: "<what>: holds a NUL character".
QString nulRefusal(const QString& what);

struct ItemInfo {
  bool isDirectory = false;
  bool isSymLink = false;
  qint64 size = 0;       // logical size (of a link: the length of its target text)
  qint64 allocated = 0;  // bytes of storage actually allocated
  bool ownedByUs = false;  // its owner is the user this process runs as
};

// The item's own attributes (a final symbolic link is not followed), or
// nothing when they cannot be read.
std::optional<ItemInfo> itemInfo(const QString& path);

// Walks that remove or measure keep to one file system: below where they
// start they never enter a folder where another file system is mounted (one
// on another device, or a bind mount of the same one), never remove or count
// a file mounted onto a file, and never follow a link.

// Calls `visit` with the attributes of every item below the folder `folder`
// that is no folder (a link as itself), folders entered as said above.
// Items that cannot be read are left out.
void forEachItemBelow(const QString& folder, const std::function<void(const struct stat&)>& visit);

// The storage allocated to everything below the folder `path`: files, links
// and other non-folders by their allocated bytes, a file with several names
// (hard links) once; folders themselves add nothing; unreadable items are
// left out.
quint64 allocatedSizeBelow(const QString& path);

// Whether another file system is mounted at the folder `path` (a final link
// is not followed): seen from the folder that holds it, as the walks see it.
bool isMountPoint(const QString& path);

// Why a removal stopped short.
struct RemovalFailure {
  // Why it stopped, "<path>: <the system's words>"; empty when all went but
  // the mounted folders.
  QString error;
  // The folders where another file system is mounted (and files mounted
  // onto files), named as the item was (its path for removeItem, its name
  // for removeItemAt) with the rest appended: never entered, and left with
  // the folders that hold them.
  QStringList mountsLeft;
  // `error`, or else "<first mounted folder>: another file system is mounted here".
  QString reason() const;
};

// Removes the item at `path`: a folder with everything in it, a symbolic link
// as the link (its target stays). Nothing below a folder is reached through a
// link, and no folder where another file system is mounted is entered (an
// item that is one is left whole). The failure says why it stopped.
Expected<void, RemovalFailure> removeItem(const QString& path);

// The same for the entry `name` of the folder open as `dirFd`.
Expected<void, RemovalFailure> removeItemAt(int dirFd, const QByteArray& name);

// Where the folder or file open as `fd` really is now (its links resolved),
// from /proc; nothing when that cannot be read or the item was removed.
std::optional<QString> openedPath(int fd);

// `absolutePath` with the symbolic links of its existing leading folders
// resolved; the last component is kept as written. Leading folders that do
// not exist are kept as written too.
QString resolveParentLinks(const QString& absolutePath);

// The file that writing `path` would change: `path` itself, or the final
// target of a chain of symbolic links. Nothing when the chain loops.
std::optional<QString> linkTarget(const QString& path);

// Up to `limit` bytes from the start of the plain file at `path` (a final
// link is followed). Nothing when it cannot be opened or read, or is not a
// plain file: a FIFO or a device named like a file is neither waited on nor
// read without end.
std::optional<QByteArray> readRegularFile(const QString& path, qint64 limit);

// What reading one of our own files found.
struct [[nodiscard]] ReadResult {
  enum class Status {
    ok,          // `data` holds the whole file
    missing,     // nothing at the path
    notRegular,  // a folder, FIFO, device or socket: never read
    tooLarge,    // more than the limit: never read in part
    failed,      // it could not be opened or read (`reason` says why)
  };
  Status status = Status::failed;
  QByteArray data;
  QString reason;  // empty when ok or missing
  // The identity of what was opened (device, inode), to tell later whether
  // the same file still stands at the path.
  quint64 device = 0;
  quint64 inode = 0;
  bool identified = false;
};

// Reads the whole plain file at `path` (a final link is followed), opened
// without waiting, so that a FIFO never blocks and a device is never read
// without end. A file larger than `limit` bytes is not read at all.
ReadResult readFile(const QString& path, qint64 limit);
// The same without following a final symbolic link (a link is notRegular):
// for files whose content is not to be trusted, such as those of a backup
// volume.
ReadResult readFileNoFollow(const QString& path, qint64 limit);

// Renames the item at `path` to `newPath` in the same folder, never
// replacing anything at `newPath`. When `device`/`inode` are given, only when
// the item at `path` (a final link followed) is still that file.
Expected<void, QString> moveAside(const QString& path, const QString& newPath, std::optional<std::pair<quint64, quint64>> identity = {});

// Moves one of our own files that cannot be read (broken, too large, a FIFO
// in its place) aside as "<path>.unreadable-<UTC time>" ("-2", "-3", ...
// when that name is taken), so whatever it held is kept for the user;
// `identity` as for moveAside. Returns the new path, or the reason it could
// not be moved. A file replaced meanwhile counts as gone (`replaced`).
struct [[nodiscard]] SetAside {
  QString path;   // where it is now, when moved
  QString error;  // why not, when not
  bool replaced = false;
};
SetAside setAsideUnreadable(const QString& path, std::optional<std::pair<quint64, quint64>> identity);

// Appends `data` at the end of the plain file at `path` (a final link is
// followed) in one write with O_APPEND, so lines that another program
// appends meanwhile are never lost; `separator` goes first when the file is
// not empty at that moment. With `createIfMissing` a missing file is made
// (0666 less the umask). A file whose permission bits allow no one to write
// it, a FIFO or other special file, and one that cannot be opened for
// writing are left as they are.
Expected<void, QString> appendToFile(const QString& path, const QByteArray& data, const QByteArray& separator, bool createIfMissing);

// Makes the folders up to and including `path`: every one that is missing
// is created 0700, whatever the umask (as the XDG base directory rules ask of
// the base folders); folders that exist are left as they are. The failure
// says why it stopped. The home folder (`home`, else $HOME as it is now) and
// the folders above it are never made: below a home that is missing the
// call fails, so a late write for a home that was removed meanwhile, or one
// not mounted yet, does not make it (again).
Expected<void, QString> makeFolders(const QString& path, const QString& home = {});
// The same for one of Tollamere's private folders, which is then checked:
// `path` itself must be a folder of this user's, not a symbolic link (a
// shared /tmp lets another user make the name first, or link it to a folder
// of their choosing). One that is ours but open to others (left so by an
// earlier start, or made under another umask) is closed again (0700), so no
// other user can swap or drop files in it. The failure says why the folder
// is not private; it must then not be used.
Expected<void, QString> makeOwnFolder(const QString& path, const QString& home = {});
// Why the folder open as `fd` (named `path`) is not this user's alone: not a
// folder, another user's, or open to others. Empty when it is.
QString notOursAlone(int fd, const QString& path);

// Writes one of Tollamere's own files (its settings, logs, lock, vault,
// caches and manifests) in one step: `data` goes into a new temporary file in
// the same folder, synced, then renamed onto `path` itself. The file is
// readable and writable by its owner only (0600), whatever the umask and
// whatever the file it replaces allowed. Nothing at `path`
// is ever written through: a symbolic link there is replaced by the file (its
// target stays untouched, and a "[Files] " line says so), and so is a FIFO or
// a device node. On failure what stood at `path` is untouched.
Expected<void, QString> writeOwnFile(const QString& path, const QByteArray& data);
// The same for a file written as it goes (a log): a new, empty file of ours
// (0600) takes the place of whatever stands at `path` (a link is replaced,
// its target untouched, and a "[Files] " line says so; so is a FIFO, a
// device node, or an earlier file), and is returned open for writing.
Expected<UniqueFd, QString> openOwnFile(const QString& path);

}  // namespace tlr::FileOps
