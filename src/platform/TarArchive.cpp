#include "platform/TarArchive.h"

#include "platform/ChildProcess.h"

#include <QFileInfo>

namespace tlr::TarArchive {
namespace {

Result run(const QStringList& arguments, const QString& workingDirectory) {
  ChildSpec spec;
  spec.program = tarProgram();
  spec.arguments = arguments;
  spec.workingDirectory = workingDirectory;
  spec.umask = 077;
  // Only the error text of a failure is wanted; a flood is read and dropped.
  spec.outputLimit = 1 << 20;
  const ChildResult child = runChild(spec);
  Result result;
  result.started = child.started;
  result.startError = child.startError;
  if (child.started && child.exited()) result.exitCode = child.exitCode();
  result.errorOutput = child.err;
  return result;
}

QStringList compressionArguments() {
  const QString pigz = parallelGzip();
  if (pigz.isEmpty()) return {QStringLiteral("-z")};
  return {QStringLiteral("--use-compress-program=") + pigz};
}

}  // namespace

QString tarProgram() { return QStringLiteral("/usr/bin/tar"); }

QString parallelGzip() {
  // Looked up on PATH, so a test can take it away; a found program is passed
  // to tar by its full path.
  const QString found = findExecutable(QStringLiteral("pigz"), currentPath());
  return found.isEmpty() ? QString() : QFileInfo(found).absoluteFilePath();
}

Result pack(const QString& parentDir, const QString& memberName, const QString& archivePath) {
  QStringList arguments = compressionArguments();
  // Every name of a file is stored with its content, never as a link to
  // another member: any part of the archive unpacks on its own.
  arguments << QStringLiteral("--hard-dereference") << QStringLiteral("-cf") << archivePath << QStringLiteral("-C")
            << parentDir << QStringLiteral("--") << memberName;
  return run(arguments, parentDir);
}

Result extract(const QString& archivePath, const QString& intoDir, const QStringList& members) {
  QStringList arguments = compressionArguments();
  arguments << QStringLiteral("-xf") << archivePath << QStringLiteral("-C") << intoDir
            << QStringLiteral("--no-same-owner") << QStringLiteral("--same-permissions");
  if (!members.isEmpty()) arguments << QStringLiteral("--") << members;
  return run(arguments, intoDir);
}

}  // namespace tlr::TarArchive
