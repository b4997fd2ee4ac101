#pragma once

#include <QString>
#include <QStringList>

namespace tlr::test {

// The folder of one run of a test executable. Made first thing in main,
// before any thread starts: TMPDIR points into it, so every temporary file
// and folder the run makes (its own, the application's it starts, Qt's) is
// below it. What is still there when the tests have ended was left behind by
// a test: the run names it and fails (a test that fills /tmp run after run
// is a fault of that test). The folder then goes whole, byte for byte,
// whatever its names, so nothing stays in /tmp either way.
class RunFolder {
 public:
  explicit RunFolder(const char* argv0);
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  // Beside the temporaries: for the main's own files, which the check of
  // what was left behind does not look at.
  QString path() const { return path_; }
  // The items still in the temporaries (their names below it, one level).
  QStringList leftBehind() const;

 private:
  QString path_;
  QString temporaries_;
  QByteArray oldTmpdir_;
  bool hadTmpdir_ = false;
  bool setRuntime_ = false;
  bool nested_ = false;
};

}  // namespace tlr::test
