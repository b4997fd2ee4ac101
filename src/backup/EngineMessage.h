#pragma once

#include <QString>

namespace tlr {

// A failure of the backup, restore or migration engine as a window shows it:
// one sentence in each interface language, and apart from it the raw output
// of the tool behind it (gocryptfs, tar) or the file-level reason, which a
// window shows only on request. The engine's own Chinese description, with
// that output appended, stays what the log lines and reports write.
struct EngineMessage {
  QString chinese;
  QString english;
  QString details;  // may be empty

  // The sentence in the interface language (English or Chinese).
  QString text(bool english) const { return english ? this->english : chinese; }

  friend bool operator==(const EngineMessage&, const EngineMessage&) = default;

  // "A backup is already running": another backup, restore, export or import
  // holds the volume.
  static EngineMessage busy() {
    return {QStringLiteral("已有备份正在进行中"), QStringLiteral("A backup is already running."), {}};
  }
};

}  // namespace tlr
