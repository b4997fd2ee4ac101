#pragma once

#include <QString>

namespace tlr {

// A request, for the whole process, that running backups and restores stop
// where they stand (a verification mode ended by SIGTERM, SIGINT or SIGHUP):
// each checks it between its steps and between files, and then ends the way
// every failure ends, detaching what it attached and removing its staging.
class OperationStop {
 public:
  OperationStop() = delete;

  static void request();
  static bool requested();
  // The reason a stopped run gives: "已中止".
  static QString reason();
};

}  // namespace tlr
