#include "AppProcess.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace tlr::test {
namespace {

const char* const kVerificationVariables[] = {"TLR_SELFTEST", "TLR_CONTRACT_TEST", "TLR_E2E", "TLR_RESTORE_VERIFY",
                                              "TLR_RESTART_DRYRUN", "TLR_BACKUP_REGISTRY", "TLR_BACKUP"};

}  // namespace

AppSandbox::AppSandbox() : AppSandbox(shippedRegistry()) {}

AppSandbox::AppSandbox(const std::optional<QByteArray>& registryJson) {
  QFile::copy(QStringLiteral(TLR_APP_EXE), executable());
  QFile::setPermissions(executable(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  QDir().mkpath(bundle());
  if (registryJson) {
    QFile file(bundle() + QStringLiteral("/registry.json"));
    if (file.open(QIODevice::WriteOnly)) file.write(*registryJson);
  }
}

AppSandbox::AppSandbox(InstalledWithoutBundle) : executable_(dir_.path() + QStringLiteral("/bin/tollamere")) {
  QDir().mkpath(dir_.path() + QStringLiteral("/bin"));
  QFile::copy(QStringLiteral(TLR_APP_EXE), executable());
  QFile::setPermissions(executable(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString AppSandbox::bundle() const { return dir_.path() + QStringLiteral("/Tollamere_Tollamere.bundle"); }

QByteArray AppSandbox::shippedRegistryFile() {
  QFile file(QStringLiteral(TLR_SOURCE_RESOURCES "/registry.json"));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString AppSandbox::standInSuffix() {
  static const QString suffix = QStringLiteral("-tlrtest%1").arg(QCoreApplication::applicationPid());
  return suffix;
}

QByteArray AppSandbox::shippedRegistry() {
  QJsonObject root = QJsonDocument::fromJson(shippedRegistryFile()).object();
  QJsonArray agents = root.value(QStringLiteral("agents")).toArray();
  for (qsizetype i = 0; i < agents.size(); ++i) {
    QJsonObject agent = agents.at(i).toObject();
    QJsonObject identify = agent.value(QStringLiteral("identify")).toObject();
    for (const QString& rule : {QStringLiteral("executableNames"), QStringLiteral("argvMatches"),
                                QStringLiteral("argvAllOf"), QStringLiteral("bundleIds")}) {
      if (!identify.contains(rule)) continue;
      QJsonArray names;
      for (const QJsonValue& name : identify.value(rule).toArray()) names.append(name.toString() + standInSuffix());
      identify.insert(rule, names);
    }
    agent.insert(QStringLiteral("identify"), identify);
    agents.replace(i, agent);
  }
  root.insert(QStringLiteral("agents"), agents);
  return QJsonDocument(root).toJson();
}

AppProcess::AppProcess(const AppSandbox& sandbox)
    : environment_(QProcessEnvironment::systemEnvironment()), program_(sandbox.executable()) {
  for (const char* name : kVerificationVariables) environment_.remove(QString::fromLatin1(name));
  environment_.remove(QStringLiteral("DISPLAY"));
  environment_.remove(QStringLiteral("WAYLAND_DISPLAY"));
  environment_.remove(QStringLiteral("QT_QPA_PLATFORM"));
}

AppProcess::~AppProcess() { stop(); }

bool AppProcess::start() {
  process_.setProcessEnvironment(environment_);
  process_.setProgram(program_);
  if (fileLimit_ || umask_) {
    const std::optional<rlimit> limit =
        fileLimit_ ? std::optional<rlimit>({static_cast<rlim_t>(fileLimit_->first), static_cast<rlim_t>(fileLimit_->second)})
                   : std::nullopt;
    process_.setChildProcessModifier([limit, mask = umask_] {
      if (limit) ::setrlimit(RLIMIT_NOFILE, &*limit);
      if (mask) ::umask(static_cast<mode_t>(*mask));
    });
  }
  process_.start();
  return process_.waitForStarted(10000);
}

void AppProcess::drain() {
  out_ += process_.readAllStandardOutput();
  err_ += process_.readAllStandardError();
}

QString AppProcess::stdOut() {
  drain();
  return QString::fromUtf8(out_);
}

QString AppProcess::stdErr() {
  drain();
  return QString::fromUtf8(err_);
}

// A process that has ended prints nothing more: the wait ends with it, on
// what it printed to the end, rather than at the timeout.
bool AppProcess::waitForStdout(const QString& text, std::chrono::milliseconds timeout) {
  waitUntil([&] { return stdOut().contains(text) || !isRunning(); }, timeout);
  return stdOut().contains(text);
}

bool AppProcess::waitForStderr(const QString& text, std::chrono::milliseconds timeout) {
  waitUntil([&] { return stdErr().contains(text) || !isRunning(); }, timeout);
  return stdErr().contains(text);
}

bool AppProcess::waitForExit(std::chrono::milliseconds timeout) {
  const bool ended = waitUntil([&] { return !isRunning(); }, timeout);
  drain();
  return ended;
}

void AppProcess::closeOutput() {
  drain();
  process_.closeReadChannel(QProcess::StandardOutput);
  process_.closeReadChannel(QProcess::StandardError);
}

void AppProcess::stop() {
  if (!isRunning()) return;
  const auto pid = static_cast<pid_t>(process_.processId());
  if (pid > 0) ::kill(pid, SIGTERM);
  if (!process_.waitForFinished(5000) && pid > 0) {
    ::kill(pid, SIGKILL);
    process_.waitForFinished(5000);
  }
  drain();
}

}  // namespace tlr::test
