#pragma once

#include "core/json/ExactJson.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace tlr {

// Sets text values at key paths inside a JSON configuration file that belongs
// to the user, keeping a copy of the previous file beside it ("<file>.tlrbak").
//
// Only the bytes of the values it sets change (JsonEdit): every other byte of
// the user's file stays as it was written. Both
// the copy and the new file are written to a temporary file in the same folder
// and renamed into place, so at every moment the file holds either its old or
// its new content, whole, and the copy is either the earlier copy or the
// complete new one. The file's permissions are kept; a symbolic link is
// followed and its target rewritten.
class JsonFilePatch {
 public:
  // One change: the keys from the outermost object inward, and the text.
  struct Change {
    QStringList keys;
    QString value;
  };

  enum class Outcome { patched, fileNotFound, readFailed, parseFailed, notAnObject, writeFailed };

  struct Report {
    Outcome outcome = Outcome::patched;
    QString detail;  // the error's description for the failures that carry one
  };

  // The moments between the steps of a patch, for tests that stop the process
  // at one of them.
  enum class Step { backupWritten, backupInPlace, contentWritten, contentInPlace };
  using StepHook = std::function<void(Step)>;

  // Applies `changes` in order to the object in the file at `path` (already
  // expanded). A change without keys is skipped. Nothing is written unless
  // the file holds a JSON object.
  static Report apply(const QString& path, const QList<Change>& changes, const StepHook& afterStep = {});

  // `path` with ".tlrbak" appended to the full file name.
  static QString backupPath(const QString& path);
};

}  // namespace tlr
