#include "platform/SecretFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tlr::SecretFile {
namespace {

QString lastError() { return QString::fromLocal8Bit(std::strerror(errno)); }

}  // namespace

bool ensurePrivateFolder(const QString& folder) {
  if (!QDir().mkpath(folder)) return false;
  return ::chmod(QFile::encodeName(folder).constData(), 0700) == 0;
}

QString writeAtomically(const QString& path, const QByteArray& data) {
  const QFileInfo info(path);
  QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                      QStringLiteral(".XXXXXX"));
  // mkstemp makes the file 0600 whatever the umask.
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return lastError();
  qsizetype written = 0;
  while (written < data.size()) {
    const ssize_t n = ::write(fd, data.constData() + written, static_cast<size_t>(data.size() - written));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const QString why = lastError();
      ::close(fd);
      ::unlink(temp.constData());
      return why;
    }
    written += n;
  }
  const bool synced = ::fsync(fd) == 0;
  const QString syncError = synced ? QString() : lastError();
  if (::close(fd) != 0 || !synced) {
    const QString why = synced ? lastError() : syncError;
    ::unlink(temp.constData());
    return why;
  }
  if (::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
    const QString why = lastError();
    ::unlink(temp.constData());
    return why;
  }
  return {};
}

int modeOf(const QString& path) {
  struct stat st{};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

}  // namespace tlr::SecretFile
