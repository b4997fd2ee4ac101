#pragma once

#include "platform/Expected.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tlr {

// The terminal windows Tollamere opened to start an instance of an agent (a
// relaunch, a launch, each session a restart brings back), so that the
// windows do not pile up: when the application starts the instance (the
// agent in that folder) again, it closes the windows it opened for it
// earlier whose command has ended, which wait at "Press Enter to close".
//
// Each window's shell line carries a file name of its own, a random token in
// this user's runtime folder, where the line writes the exit status of its
// command once that has ended. The token tells the window's shell from any
// other process: only windows we opened are ever closed, and only by hanging
// up their shell (the window closes with it), never by signalling a terminal
// program, which may hold the user's own windows too.
//
// Safe from any thread. Opening and closing read the process table: never on
// the window thread.
class InstanceTerminals final {
 public:
  // The record the whole process shares.
  static InstanceTerminals& shared();

  InstanceTerminals() = default;
  InstanceTerminals(const InstanceTerminals&) = delete;
  InstanceTerminals& operator=(const InstanceTerminals&) = delete;

  // Builds a window's shell line around the file where it writes its
  // command's exit status.
  using LineMaker = std::function<QString(const QString& endedFile)>;

  // Closes the windows opened earlier for the agent's instance in `folder`
  // whose command has ended, then starts the line `makeLine` builds in a new
  // terminal window in `folder` and notes it as that instance's. The window's
  // status file, or why no terminal started.
  Expected<QString, QString> open(const QString& agentId, const QString& folder, const LineMaker& makeLine);

  // Closes the agent's windows in `folder` whose command has ended, `keep`
  // (a window's status file) excepted; forgets the windows that are gone.
  // How many were closed.
  int closeEnded(const QString& agentId, const QString& folder, const QString& keep = {});

  // The status the command of a window ended with, read from its status
  // file; nothing while it runs (or when the window never started it).
  static std::optional<int> endedStatus(const QString& endedFile);

  // Where the shell line writes the status: `tlr_status` (the shell
  // variable that holds it) into `endedFile`.
  static QString statusWords(const QString& endedFile);

  // Waits until the command of each window (by its status file) has ended,
  // or has run for `settle` since its shell was first seen: a window opens a
  // moment to seconds after it is asked for (more on a busy machine), and
  // what a start is judged by is how long its command lasted, not how soon
  // the window came. A window whose shell is not seen within `opensWithin`
  // of the call is not waited for further. Returns early when the pool of
  // the calling task is cancelled. Reads the process table: never on the
  // window thread.
  static void waitUntilSettled(const QStringList& endedFiles, std::chrono::milliseconds settle,
                               std::chrono::milliseconds opensWithin);

 private:
  using Key = std::pair<QString, QString>;
  struct Window {
    QString endedFile;
    std::chrono::steady_clock::time_point opened;
  };
  std::mutex mutex_;
  std::map<Key, std::vector<Window>> windows_;  // by instance; guarded by mutex_
};

}  // namespace tlr
