#include "platform/SecretFile.h"

#include "platform/FileOps.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace tlr::SecretFile {

Expected<void, QString> ensurePrivateFolder(const QString& folder) { return FileOps::makeOwnFolder(folder); }

int modeOf(const QString& path) {
  struct stat st{};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

}  // namespace tlr::SecretFile
