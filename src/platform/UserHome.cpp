#include "platform/UserHome.h"

#include "platform/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace tlr {

namespace {

// `lookup(entry, buffer, size, found)` is getpwuid_r or getpwnam_r with its
// key bound.
template <class Lookup>
std::optional<AccountEntry> account(Lookup lookup) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (lookup(&entry, buffer.data(), buffer.size(), &found) != 0 || !found) return std::nullopt;
  const auto text = [](const char* field) { return field ? QString::fromLocal8Bit(field) : QString(); };
  return AccountEntry{text(found->pw_name), text(found->pw_dir), text(found->pw_shell)};
}

}  // namespace

std::optional<AccountEntry> accountOfUid(uid_t uid) {
  return account([uid](passwd* entry, char* buffer, size_t size, passwd** found) {
    return ::getpwuid_r(uid, entry, buffer, size, found);
  });
}

std::optional<AccountEntry> accountNamed(const QString& userName) {
  if (userName.isEmpty()) return std::nullopt;
  const QByteArray name = userName.toLocal8Bit();
  return account([&name](passwd* entry, char* buffer, size_t size, passwd** found) {
    return ::getpwnam_r(name.constData(), entry, buffer, size, found);
  });
}

QString homeOfUser(const QString& userName) {
  const std::optional<AccountEntry> found = accountNamed(userName);
  return found ? found->home : QString();
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
