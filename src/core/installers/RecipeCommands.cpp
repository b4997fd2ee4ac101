#include "core/installers/RecipeCommands.h"

#include "platform/LoginShell.h"
#include "platform/OffMain.h"
#include "platform/Paths.h"
#include "platform/UserPrograms.h"
#include "platform/Utf8.h"

#include <QFileInfo>
#include <QProcessEnvironment>

#include <algorithm>


namespace tlr::recipe {
namespace {

const QString kEnv = QStringLiteral("/usr/bin/env");

bool isExecutableFile(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() && info.isExecutable();
}

std::optional<QString> findInFolders(const QString& name) {
  for (const QString& folder : programFolders()) {
    const QString candidate = folder + "/" + name;
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

}  // namespace

QStringList programFolders() { return UserPrograms::folders() + UserPrograms::systemFolders(); }

std::optional<QString> resolveProgram(const QString& name) {
  if (name.contains('/')) return name;
  return findInFolders(name);
}

bool commandExists(const QString& name) {
  if (name.contains('/')) return isExecutableFile(name);
  return findInFolders(name).has_value();
}

QStringList childEnvironment(const QList<QPair<QString, QString>>& extra) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("PATH", UserPrograms::searchPath(env.value("PATH")));
  for (const auto& [name, value] : extra) env.insert(name, value);
  return env.toStringList();
}

QList<QPair<QString, QString>> recipeVariables() {
  const QString home = Paths::home();
  return {{QStringLiteral("npm_config_prefix"), home + QStringLiteral("/.npm-global")},
          {QStringLiteral("PIPX_HOME"), home + QStringLiteral("/.local/pipx")},
          {QStringLiteral("PIPX_BIN_DIR"), home + QStringLiteral("/.local/bin")}};
}

QStringList recipeEnvironment() { return childEnvironment(recipeVariables()); }

QString recipeShellExports() {
  QString line = UserPrograms::exportPathLine();
  for (const auto& [name, value] : recipeVariables())
    line += QStringLiteral("export ") + name + QLatin1Char('=') + shellQuote(value) + QStringLiteral("; ");
  return line;
}

ChildResult runVector(const QStringList& argv, const QStringList& environment,
                      std::chrono::milliseconds timeout, std::function<void()> onTimeout) {
  const QString program = resolveProgram(argv.first()).value_or(kEnv);
  ChildSpec spec;
  spec.program = program;
  spec.arguments = program == kEnv ? argv : argv.mid(1);
  spec.environment = environment;
  spec.timeout = timeout;
  spec.onTimeout = std::move(onTimeout);
  return runChild(spec);
}

QString decodeUtf8(const QByteArray& bytes) {
  return decodeStrictUtf8(bytes).value_or(QString());
}

LocKey timeoutText(std::chrono::milliseconds timeout) {
  return LocKey::installStepTimedOut(std::chrono::ceil<std::chrono::minutes>(timeout).count());
}

namespace {

// Output that is not UTF-8 is shown as well as it reads.
QString readable(const QByteArray& bytes) { return decodeStrictUtf8(bytes).value_or(QString::fromUtf8(bytes)); }

// Standard error and standard output, each trimmed, the empty ones left out.
QString printedStreams(const ChildResult& result) {
  QStringList streams;
  for (const QByteArray& bytes : {result.err, result.out}) {
    const QString text = readable(bytes).trimmed();
    if (!text.isEmpty()) streams.append(text);
  }
  return streams.join(QLatin1Char('\n'));
}

}  // namespace

std::optional<QString> printedText(const ChildResult& result) {
  const QString text = printedStreams(result);
  if (text.isEmpty()) return std::nullopt;
  return text.size() > kDetailsLimit ? QStringLiteral("…") + text.right(kDetailsLimit) : text;
}

QString timeoutLogText(std::chrono::milliseconds timeout) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(timeout).count();
  return QStringLiteral("命令超时 ") + QString::number(seconds) + QStringLiteral("s → terminate");
}

QString endingText(const ChildResult& result) {
  if (result.exited()) return QStringLiteral("exit ") + QString::number(result.exitCode());
  const int signal = result.termSignal();
  const QString name = signalName(signal);
  return QStringLiteral("signal ") + QString::number(signal) +
         (name.isEmpty() ? QString() : QStringLiteral(" (") + name + ")");
}

LocKey installFailureText(const ChildResult& result) {
  const QStringList lines = printedStreams(result).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (lines.isEmpty()) return LocKey::installStepNoOutput(endingText(result));
  const QString text = endingText(result) + QLatin1Char('\n') + lines.mid(std::max<qsizetype>(0, lines.size() - 4)).join('\n');
  if (text.size() <= kInstallFailureLimit) return LocKey::installStepAsIs(text);
  // Never half a character.
  return LocKey::installStepAsIs(
      text.left(text.at(kInstallFailureLimit - 1).isHighSurrogate() ? kInstallFailureLimit - 1 : kInstallFailureLimit));
}

LocKey uninstallFailureText(const ChildResult& result) {
  for (const QString& line : readable(result.err).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
    return LocKey::installStepAsIs(line);
  return LocKey::installStepAsIs(endingText(result));
}

void runStepsDetached(QObject* context, StepWork steps, StepProgressHandler onProgress,
                      StepCompletionHandler onComplete) {
  const StepProgressHandler deliver = whileAlive(context, [onProgress = std::move(onProgress)](const StepResult& row) {
    if (onProgress) onProgress(row);
  });
  startOffMain(
      context, [steps = std::move(steps), deliver] { return steps(deliver); },
      [onComplete = std::move(onComplete)](const QList<StepResult>& rows) {
        if (onComplete) onComplete(rows);
      });
}

}  // namespace tlr::recipe
