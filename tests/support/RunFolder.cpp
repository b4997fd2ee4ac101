#include "RunFolder.h"

#include "platform/FileOps.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace tlr::test {

namespace {
// Names the folder of the run that started this one.
constexpr char kRunFolderVar[] = "TLR_TEST_RUN_FOLDER";
}  // namespace

RunFolder::RunFolder(const char* argv0) {
  // A test executable a test started (a death test's child, a process a
  // test kills on purpose) works in the folder of the run that started it,
  // which removes what it leaves.
  if (const QString outer = qEnvironmentVariable(kRunFolderVar); !outer.isEmpty() && QFileInfo(outer).isDir()) {
    nested_ = true;
    path_ = outer;
    return;
  }
  hadTmpdir_ = qEnvironmentVariableIsSet("TMPDIR");
  oldTmpdir_ = qgetenv("TMPDIR");
  const QString name = QFileInfo(QFile::decodeName(argv0)).fileName();
  QByteArray pattern = QFile::encodeName(QDir::tempPath() + '/' + name + QStringLiteral("-run-XXXXXX"));
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("the run's temporary folder");
    std::exit(2);
  }
  path_ = QFile::decodeName(pattern);
  temporaries_ = path_ + QStringLiteral("/tmp");
  // Other users only pass through (a test's helper running as another user
  // reaches a folder a test opened for it); the folders below keep their
  // own modes.
  if (::mkdir(QFile::encodeName(temporaries_).constData(), 0711) != 0 ||
      ::chmod(pattern.constData(), 0711) != 0 || ::chmod(QFile::encodeName(temporaries_).constData(), 0711) != 0) {
    std::perror("the run's temporary folder");
    std::exit(2);
  }
  qputenv("TMPDIR", QFile::encodeName(temporaries_));
  qputenv(kRunFolderVar, QFile::encodeName(path_));
  // Where none is set (a runner's plain shell), a runtime folder of the
  // run's own, beside the temporaries: else the toolkit makes one in
  // TMPDIR, with a warning, for every run.
  if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
    const QString runtime = path_ + QStringLiteral("/runtime");
    if (::mkdir(QFile::encodeName(runtime).constData(), 0700) == 0) {
      qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
      setRuntime_ = true;
    }
  }
}

RunFolder::~RunFolder() {
  if (nested_) return;
  qunsetenv(kRunFolderVar);
  if (setRuntime_) qunsetenv("XDG_RUNTIME_DIR");
  if (hadTmpdir_)
    qputenv("TMPDIR", oldTmpdir_);
  else
    qunsetenv("TMPDIR");
  static_cast<void>(FileOps::removeItem(path_));
}

QStringList RunFolder::leftBehind() const {
  if (nested_) return {};
  // Each item with what is in it (the first few paths below it): a folder
  // made again by a late write says by what it holds which write it was.
  QStringList items;
  const auto filters = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
  for (const QString& name : QDir(temporaries_).entryList(filters, QDir::Name)) {
    QStringList inside;
    QDirIterator it(temporaries_ + '/' + name, filters, QDirIterator::Subdirectories);
    while (it.hasNext() && inside.size() < 8) inside << it.next().mid(temporaries_.size() + name.size() + 2);
    items << (inside.isEmpty() ? name : name + QStringLiteral(" (") + inside.join(QStringLiteral(", ")) + ')');
  }
  return items;
}

}  // namespace tlr::test
