#pragma once

#include <QList>
#include <QString>

namespace tlr {

// A part of a snapshot that a restore which went through did not put back,
// and why: codes and values, which the restore sheet and the verification
// modes say in their own words.
struct RestoreGap {
  enum class Reason {
    // Nothing on this machine (the registry's `includePaths`, the catalog,
    // discovery) names where it goes, and the backup recorded no place in
    // the home folder for it.
    noPlace,
    // It was backed up from outside the home folder (`place`), where a
    // restore never writes unless this machine's registry names that place.
    outsideHome,
    // The manifest lists it but the archive does not hold it (`root` empty:
    // nothing of the agent at all).
    notInArchive,
  };
  Reason reason = Reason::noPlace;
  QString agentId;
  // Its name in the snapshot ("data", "app~2"), or empty for the whole agent.
  QString root;
  // Where it was backed up from, as the manifest records it ("~/…" or a
  // path); empty when the manifest does not say.
  QString place;

  bool operator==(const RestoreGap&) const = default;
  // What a reader is shown for it: its recorded place, else its name.
  QString shownPath() const { return place.isEmpty() ? root : place; }
};

// What a restore that went through did: what it left out, in the order the
// agents and their roots come in the snapshot. Empty: everything came back.
struct RestoreReport {
  QList<RestoreGap> leftOut;
  bool complete() const { return leftOut.isEmpty(); }
};

// The Chinese line the log writes for one gap ("未恢复（找不到原来的位置）").
QString describe(const RestoreGap& gap);

}  // namespace tlr
