#include "platform/LoginShell.h"

#include "platform/UserHome.h"

#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <unistd.h>

namespace tlr {
namespace {

bool isExecutableFile(const QString& path) {
  const QFileInfo info(path);
  return !path.isEmpty() && info.isFile() && info.isExecutable();
}

bool startsFromSystemProfile(const QString& shellPath) {
  static const QStringList kBourneFamily = {"sh", "bash", "dash", "ksh", "mksh", "ash", "yash"};
  return kBourneFamily.contains(QFileInfo(shellPath).fileName());
}

// Shells that read a single-quoted word the POSIX way, every byte literal.
bool quotesLikePosix(const QString& shellPath) {
  return startsFromSystemProfile(shellPath) || QFileInfo(shellPath).fileName() == QLatin1String("zsh");
}

}  // namespace

LoginShell LoginShell::resolve() { return resolve(QStringLiteral("/bin/zsh"), accountLoginShell()); }

LoginShell LoginShell::resolve(const QString& zshPath, const QString& accountShell) {
  if (isExecutableFile(zshPath)) return {zshPath, {QStringLiteral("-lc")}, false};
  if (isExecutableFile(accountShell) && quotesLikePosix(accountShell)) {
    return {accountShell, {QStringLiteral("-lc")}, startsFromSystemProfile(accountShell)};
  }
  return {QStringLiteral("/bin/sh"), {QStringLiteral("-c")}, false};
}

ChildSpec LoginShell::childSpec(const QString& commandLine, const QString& searchPath) const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PATH"), searchPath);
  ChildSpec spec;
  spec.program = program;
  spec.arguments = options;
  // After the profile has run, our folders come first again; what the profile
  // added follows them.
  spec.arguments << (profileReplacesPath
                         ? QStringLiteral("PATH=%1:\"$PATH\"; export PATH; %2")
                               .arg(shellQuote(searchPath), commandLine)
                         : commandLine);
  spec.environment = env.toStringList();
  return spec;
}

QString accountLoginShell() {
  const std::optional<AccountEntry> found = accountOfUid(::getuid());
  if (!found || found->shell.isEmpty()) return {};
  return isListedLoginShell(found->shell) ? found->shell : QString();
}

QString shellStartFile(const QString& shell) {
  const QString name = QFileInfo(shell).fileName();
  if (name == QLatin1String("bash")) return QStringLiteral("~/.bashrc");
  if (name == QLatin1String("zsh")) return QStringLiteral("~/.zshrc");
  return QStringLiteral("~/.profile");
}

QString userShellStartFile() {
  const std::optional<AccountEntry> account = accountOfUid(::getuid());
  const QString shell = account && !account->shell.isEmpty() ? account->shell : qEnvironmentVariable("SHELL");
  return shellStartFile(shell);
}

bool isListedLoginShell(const QString& shell, const QString& shellsFile) {
  QFile file(shellsFile);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return true;
  while (!file.atEnd()) {
    const QString line = QString::fromLocal8Bit(file.readLine()).section(QLatin1Char('#'), 0, 0).trimmed();
    if (!line.isEmpty() && line == shell) return true;
  }
  return false;
}

QString shellWords(const QStringList& words) {
  // "~" and "$HOME" stay as written: the installers expand them themselves.
  static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./~^$-]+$"));
  QStringList shown;
  for (const QString& word : words) shown << (plain.match(word).hasMatch() ? word : shellQuote(word));
  return shown.join(QLatin1Char(' '));
}

QString shellQuote(const QString& text) {
  QString quoted = text;
  quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace tlr
