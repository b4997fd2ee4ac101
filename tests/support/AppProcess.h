#pragma once

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>

namespace tlr::test {

// A copy of the built application in a temporary folder with its own
// resource bundle beside it ("Tollamere_Tollamere.bundle" holding the given
// registry.json, or none), so a test controls what the program loads.
class AppSandbox {
 public:
  // The shipped registry (shippedRegistry()).
  AppSandbox();
  // `registryJson` absent: the bundle holds no registry.json.
  explicit AppSandbox(const std::optional<QByteArray>& registryJson);
  // A copy laid out as installed, "<prefix>/bin/tollamere", with no bundle
  // anywhere.
  struct InstalledWithoutBundle {};
  explicit AppSandbox(InstalledWithoutBundle);
  AppSandbox(const AppSandbox&) = delete;
  AppSandbox& operator=(const AppSandbox&) = delete;

  QString executable() const { return executable_; }
  QString bundle() const;

  // The shipped registry, its agents recognised under names no program of
  // this machine has (each name of its identify rules gets a suffix of this
  // run's own): a real `claude`, `gemini` or `codex` of the user running the
  // tests is never seen, counted or signalled, and never counts an agent as
  // installed. Tests that start an agent name their own stand-in.
  static QByteArray shippedRegistry();
  // The shipped file as it is.
  static QByteArray shippedRegistryFile();
  // What shippedRegistry() appends to every name.
  static QString standInSuffix();

 private:
  QTemporaryDir dir_;
  QString executable_ = dir_.path() + QStringLiteral("/tollamere");
};

// One started copy of the application, run as a user runs it: the current
// environment (so a TempHome and a FakeBin apply) without any verification
// variable or display unless the test sets them. Stopped by pid at the end.
class AppProcess {
 public:
  explicit AppProcess(const AppSandbox& sandbox);
  ~AppProcess();
  AppProcess(const AppProcess&) = delete;
  AppProcess& operator=(const AppProcess&) = delete;

  void setEnv(const QString& name, const QString& value) { environment_.insert(name, value); }
  void unsetEnv(const QString& name) { environment_.remove(name); }
  // Starts it with these limits of open files, as a login session might.
  void setOpenFileLimit(quint64 soft, quint64 hard) { fileLimit_ = {soft, hard}; }
  // Starts it with this umask, as a careless login session might.
  void setUmask(unsigned mask) { umask_ = mask; }

  bool start();
  qint64 pid() const { return process_.processId(); }
  bool isRunning() const { return process_.state() != QProcess::NotRunning; }

  // Waits until standard output (or error) holds `text`; false at once when
  // the process has ended without printing it.
  bool waitForStdout(const QString& text, std::chrono::milliseconds timeout = std::chrono::seconds(15));
  bool waitForStderr(const QString& text, std::chrono::milliseconds timeout = std::chrono::seconds(15));
  // Waits for the end; false when it is still running at the deadline.
  bool waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  int exitCode() const { return process_.exitCode(); }
  // SIGTERM to this pid, SIGKILL when it has not ended within a few seconds.
  void stop();
  // Closes our ends of its standard output and error, as a reader that went
  // away would; what it writes afterwards is lost.
  void closeOutput();
  // How it ended: a normal exit (not a signal).
  bool exitedNormally() const { return process_.exitStatus() == QProcess::NormalExit; }

  QString stdOut();
  QString stdErr();

 private:
  void drain();

  QProcess process_;
  QProcessEnvironment environment_;
  QString program_;
  QByteArray out_;
  QByteArray err_;
  std::optional<std::pair<quint64, quint64>> fileLimit_;
  std::optional<unsigned> umask_;
};


}  // namespace tlr::test
