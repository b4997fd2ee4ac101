#pragma once

#include <QString>

#include <sys/types.h>

namespace tlr::test {

// A freezer group of the test's own (the kernel's v1 freezer, a folder under
// /sys/fs/cgroup/freezer): a process put in it and frozen gets no processor
// at all until it is thawed, as a process on a machine too busy to run it.
// Signals still reach it and are noted; a fatal one takes effect only once it
// runs again. Needs root and that freezer: available() says whether the
// group could be made. The end thaws it, moves what is left in it back to
// the top group and removes the folder (by its exact path).
class FrozenGroup {
 public:
  FrozenGroup();
  ~FrozenGroup();
  FrozenGroup(const FrozenGroup&) = delete;
  FrozenGroup& operator=(const FrozenGroup&) = delete;

  bool available() const { return !path_.isEmpty(); }
  // Puts `pid` in the group and freezes it; whether it is frozen.
  bool freeze(pid_t pid);
  void thaw();

 private:
  QString path_;
};

}  // namespace tlr::test
