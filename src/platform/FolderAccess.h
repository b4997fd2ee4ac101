#pragma once

#include <QString>

#include <sys/types.h>

// Whether this user may put things into a folder, by one rule for every
// place that checks a folder before writing into it and then writes there
// (a restore putting files back, the migration export on a stick):
//
// - a folder this user may write into and enter is writable;
// - a folder of this user's own whose permission bits alone withhold that
//   (0555, 0444, 0000), on a file system that takes writes, is writable too:
//   its owner may open it for the moment, and it gets its bits back exactly
//   when the writing is done (also when it failed or was stopped);
// - a folder of another owner, or one on a read-only file system, is not.
namespace tlr::FolderAccess {

// 0 when this user may write into the folder open as `folderFd`, or may make
// it so; else why not (EACCES, EROFS, ...).
int refusal(int folderFd);
// The same for the folder at `path` (its links followed).
int refusal(const QString& path);
// The same for the folder `name` of the folder open as `parentFd`, which is
// never reached through a link (ELOOP when a link stands there).
int refusal(int parentFd, const char* name);

// A folder opened for writing into it: while this object lives, this user
// may make, replace and remove names in it, and its permission bits are
// set back exactly as they were when it ends. Never reaches a folder
// through a link (except a path's own links, which are the user's
// arrangement).
class Writing {
 public:
  Writing() = default;
  // The folder `name` of the folder open as `parentFd`.
  static Writing open(int parentFd, const char* name);
  // The folder at `path`.
  static Writing open(const QString& path);
  // The folder open as `folderFd` (the descriptor stays the caller's).
  static Writing of(int folderFd);

  ~Writing();
  Writing(Writing&& other) noexcept;
  Writing& operator=(Writing&& other) noexcept;
  Writing(const Writing&) = delete;
  Writing& operator=(const Writing&) = delete;

  // The folder, open; -1 when it could not be opened or made writable.
  int fd() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0 && error_ == 0; }
  // Why not (an errno value); 0 when it is open for writing.
  int error() const { return error_; }
  // Whether its bits had to be changed for the time.
  bool opened() const { return restore_; }

 private:
  static Writing fromPath(int pathFd);
  void release();

  int fd_ = -1;
  int error_ = 0;
  bool restore_ = false;
  mode_t mode_ = 0;
};

}  // namespace tlr::FolderAccess
