#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// File-system operations that must not follow symbolic links where a plain
// file manager would, or that must not leave a file half-written.
namespace tlr::FileOps {

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

// The storage allocated to everything below the folder `path`: files, links
// and other non-folders by their allocated bytes; folders themselves add
// nothing; links are not followed and unreadable items are left out.
quint64 allocatedSizeBelow(const QString& path);

// Removes the item at `path`: a folder with everything in it, a symbolic link
// as the link (its target stays). Nothing below a folder is reached through a
// link. Returns an empty text on success, else why it stopped.
QString removeItem(const QString& path);

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

// Replaces the content of `path` with `data` in one step: written to a
// temporary file in the same folder, synced, then renamed over it. A symbolic
// link is written through (the link stays, its target gets the content); an
// existing file keeps its permissions and, where allowed, its owner. A new
// file gets 0666 less the umask. Returns an empty text on success, else the
// reason; on failure the old content is untouched.
QString writeAtomically(const QString& path, const QByteArray& data);

}  // namespace tlr::FileOps
