#include "platform/UserHome.h"

#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace tlr {

QString homeOfUser(const QString& userName) {
  if (userName.isEmpty()) return {};
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  const QByteArray name = userName.toLocal8Bit();
  if (::getpwnam_r(name.constData(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
      !found->pw_dir) {
    return {};
  }
  return QString::fromLocal8Bit(found->pw_dir);
}

QString expandUserTilde(const QString& path) {
  if (!path.startsWith(QLatin1Char('~'))) return path;
  const qsizetype slash = path.indexOf(QLatin1Char('/'));
  const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
  const QString rest = slash < 0 ? QString() : path.mid(slash);
  const QString home = user.isEmpty() ? Paths::home() : homeOfUser(user);
  if (home.isEmpty()) return path;
  return home + rest;
}

}  // namespace tlr
