#pragma once

#include "core/texts/LocKey.h"

#include <QString>

namespace tlr {

// A failure of the backup, restore or migration engine as a window shows it:
// the key of its sentence in the text table, with the values the sentence
// inserts (the window writes it in its own language), and apart from it the
// raw output of the tool behind it (gocryptfs, tar) or the file-level reason,
// which a window shows only on request. `retryable` says whether doing the
// same again can help: not while a tool is missing or the backup is
// damaged. The engine's own Chinese description, with that output appended,
// stays what the log lines and reports write.
struct EngineMessage {
  LocKey key = LocKey::empty();
  QString details;  // may be empty
  bool retryable = true;

  friend bool operator==(const EngineMessage&, const EngineMessage&) = default;

  // "A backup is already running": another backup, restore, export or import
  // holds the volume.
  static EngineMessage busy() { return {LocKey::backupErrBusy(), {}, true}; }
};

}  // namespace tlr
