#include "TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace tlr::test {
namespace {
const char* kHomeVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME",
                           "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
}

TempHome::TempHome() {
  dir_.setAutoRemove(true);
  for (const char* name : kHomeVars) saved_.append({name, qgetenv(name)});
  qputenv("HOME", QFile::encodeName(dir_.path()));
  for (const char* name : kHomeVars) {
    if (QByteArray(name) != "HOME") qunsetenv(name);
  }
}

TempHome::~TempHome() {
  for (const auto& [name, value] : saved_) {
    if (value.isNull())
      qunsetenv(name.constData());
    else
      qputenv(name.constData(), value);
  }
}

QString TempHome::writeFile(const QString& relative, const QByteArray& content) {
  const QString full = dir_.path() + "/" + relative;
  QDir().mkpath(QFileInfo(full).absolutePath());
  QFile file(full);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(content);
  return full;
}

FakeBin::FakeBin() {
  oldPath_ = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(dir_.path()) + ":" + oldPath_);
}

FakeBin::~FakeBin() {
  qputenv("PATH", oldPath_);
  if (oldRuntimeDir_) {
    if (oldRuntimeDir_->isNull())
      qunsetenv("XDG_RUNTIME_DIR");
    else
      qputenv("XDG_RUNTIME_DIR", *oldRuntimeDir_);
  }
}

void FakeBin::provideUserManagerSocket() {
  const QString runtime = dir_.path() + "/run";
  QDir().mkpath(runtime + "/systemd");
  const QByteArray socketPath = QFile::encodeName(runtime + "/systemd/private");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd >= 0 && socketPath.size() < static_cast<qsizetype>(sizeof address.sun_path)) {
    std::memcpy(address.sun_path, socketPath.constData(), static_cast<size_t>(socketPath.size()));
    (void)::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  if (fd >= 0) ::close(fd);  // the socket file stays
  if (!oldRuntimeDir_) oldRuntimeDir_ = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

QString FakeBin::add(const QString& name, const QString& body) {
  const QString full = dir_.path() + "/" + name;
  QFile file(full);
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
    QByteArray text = body.toUtf8();
    if (!text.startsWith("#!")) text.prepend("#!/bin/sh\n");
    file.write(text);
  }
  file.close();
  file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                      QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
  return full;
}

QString FakeBin::recordPath(const QString& name) const { return dir_.path() + "/" + name + ".record"; }

QString FakeBin::addRecorder(const QString& name, int exitCode) {
  add(name, QStringLiteral("for a in \"$@\"; do printf '%s\\n' \"$a\" >> '%1'; done\n"
                           "printf -- '--\\n' >> '%1'\nexit %2\n")
                .arg(recordPath(name))
                .arg(exitCode));
  return recordPath(name);
}

QString FakeBin::addUserManager(const QString& runningLabel, int mainPid) {
  provideUserManagerSocket();
  add("systemctl", QStringLiteral("echo \"$@\" >> '%1'\n"
                                  "case \"$*\" in *%2.service*) printf 'MainPID=%3\\nActiveState=active\\n';;\n"
                                  "*) printf 'MainPID=0\\nActiveState=inactive\\n';; esac\n")
                       .arg(recordPath("systemctl"), runningLabel, QString::number(mainPid)));
  return recordPath("systemctl");
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  QDeadlineTimer deadline(timeout);
  while (true) {
    if (condition()) return true;
    if (deadline.hasExpired()) return condition();
    if (QCoreApplication::instance())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
}

QString readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(file.readAll());
}

QString toolPath(const QString& name) { return QStringLiteral(TLR_TEST_BIN_DIR "/tools/") + name; }

}  // namespace tlr::test
