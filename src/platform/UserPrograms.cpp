#include "platform/UserPrograms.h"

#include "platform/ChildProcess.h"
#include "platform/LoginShell.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <algorithm>
#include <mutex>

namespace tlr::UserPrograms {
namespace {

using namespace std::chrono_literals;

constexpr auto kShellDeadline = 5s;
constexpr qsizetype kShellOutputLimit = 64 * 1024;

QString fromEnvironment(const char* name, const QString& otherwise) {
  const QString value = qEnvironmentVariable(name);
  return value.startsWith('/') ? value : otherwise;
}

bool isFolder(const QString& path) { return QFileInfo(path).isDir(); }

// Whether the version name `a` ("v22.3.0") is newer than `b` ("v9.11.2"):
// their numbers compared one by one, as numbers.
bool newerVersion(const QString& a, const QString& b) {
  static const QRegularExpression number(QStringLiteral("\\d+"));
  QList<qulonglong> left, right;
  for (const auto& m : number.globalMatch(a)) left << m.captured().toULongLong();
  for (const auto& m : number.globalMatch(b)) right << m.captured().toULongLong();
  if (left != right) return std::lexicographical_compare(right.cbegin(), right.cend(), left.cbegin(), left.cend());
  return a > b;
}

// The version folders below `parent`, newest first ("v22.3.0" before
// "v9.11.2"), each with `below` appended.
QStringList versionFolders(const QString& parent, const QString& below) {
  QStringList names = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return newerVersion(a, b); });
  QStringList out;
  for (const QString& name : names) out << parent + '/' + name + below;
  return out;
}

}  // namespace

QStringList managerFolders() {
  const QString home = Paths::home();
  QStringList candidates;
  candidates << versionFolders(fromEnvironment("NVM_DIR", home + "/.nvm") + "/versions/node", "/bin");
  candidates << fromEnvironment("VOLTA_HOME", home + "/.volta") + "/bin";
  for (const QString& fnm : {fromEnvironment("FNM_DIR", home + "/.local/share/fnm"), home + "/.fnm"}) {
    candidates << fnm + "/aliases/default/bin";
    candidates << versionFolders(fnm + "/node-versions", "/installation/bin");
  }
  candidates << home + "/.linuxbrew/bin" << QString::fromLatin1(kLinuxbrewBin);
  QStringList out;
  for (const QString& folder : candidates)
    if (!out.contains(folder) && isFolder(folder)) out << folder;
  return out;
}

QStringList loginShellFolders() {
  static std::mutex lock;
  static QHash<QString, QStringList> asked;
  const QString home = Paths::home();
  {
    std::lock_guard guard(lock);
    if (const auto it = asked.constFind(home); it != asked.cend()) return *it;
  }
  const LoginShell shell = LoginShell::resolve();
  ChildSpec spec;
  spec.program = shell.program;
  spec.arguments = shell.options;
  spec.arguments << QStringLiteral("printf '%s' \"$PATH\"");
  // As a login starts it: from the system's PATH, not from ours.
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/local/bin:/usr/bin:/bin"));
  spec.environment = env.toStringList();
  spec.timeout = kShellDeadline;
  spec.killGrace = 1s;
  spec.outputLimit = kShellOutputLimit;
  const ChildResult r = runChild(spec);
  QStringList folders;
  if (r.started && !r.timedOut && r.exited() && r.exitCode() == 0) {
    for (const QString& folder : QString::fromUtf8(r.out).split(':', Qt::SkipEmptyParts))
      if (folder.startsWith('/') && !folders.contains(folder)) folders << folder;
  }
  std::lock_guard guard(lock);
  asked.insert(home, folders);
  return folders;
}

QStringList fixedFolders() {
  const QString home = Paths::home();
  return {home + QStringLiteral("/.npm-global/bin"), home + QStringLiteral("/.local/bin"),
          home + QStringLiteral("/.cargo/bin"), QStringLiteral("/usr/local/bin"), QString::fromLatin1(kLinuxbrewBin)};
}

QStringList systemFolders() { return {QStringLiteral("/usr/bin"), QStringLiteral("/bin")}; }

namespace {

std::mutex toolLock;
QStringList& toolList() {
  static QStringList* list = new QStringList;  // read until the process ends
  return *list;
}

// `more` appended to `out`, each folder once and never a system folder.
void appendNew(QStringList& out, const QStringList& more) {
  const QStringList system = systemFolders();
  for (const QString& folder : more)
    if (!folder.isEmpty() && !out.contains(folder) && !system.contains(folder)) out << folder;
}

}  // namespace

QStringList toolFolders() {
  std::lock_guard guard(toolLock);
  return toolList();
}

void setToolFolders(const QStringList& folders) {
  std::lock_guard guard(toolLock);
  toolList() = folders;
}

QStringList folders() {
  QStringList out;
  appendNew(out, fixedFolders());
  appendNew(out, managerFolders());
  appendNew(out, loginShellFolders());
  appendNew(out, toolFolders());
  return out;
}

QString searchPath(const QString& inherited) {
  QStringList out = folders();
  for (const QString& folder : inherited.split(QLatin1Char(':'), Qt::SkipEmptyParts))
    if (!out.contains(folder)) out << folder;
  for (const QString& folder : systemFolders())
    if (!out.contains(folder)) out << folder;
  return out.join(QLatin1Char(':'));
}

QString searchPath() { return searchPath(currentPath()); }

QString exportPathLine() { return QStringLiteral("export PATH=") + shellQuote(searchPath()) + QStringLiteral("; "); }

}  // namespace tlr::UserPrograms
