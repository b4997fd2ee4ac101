#include "core/DependencyGuides.h"

#include "core/SettingsStore.h"


namespace tlr::DependencyGuides {
namespace {

const QString kHomebrewInstallScript =
    QStringLiteral("https://raw.githubusercontent.com/Homebrew/install/HEAD/install.sh");

}  // namespace

QString pipxBootstrapScript() {
  // Each alternative is grouped: "&&" and "||" have equal precedence in the
  // shell, so without the braces a successful Homebrew install would go on
  // into the conda install and every pip fallback after it.
  return QStringLiteral(
      "{ command -v brew >/dev/null 2>&1 && brew install pipx; } || "
      "{ command -v conda >/dev/null 2>&1 && conda install -y -c conda-forge pipx; } || "
      "python3 -m pip install --user pipx 2>/dev/null || "
      "python3 -m pip install --user --break-system-packages pipx 2>/dev/null || "
      "(python3 -m pip install --user --upgrade pip 2>/dev/null && python3 -m pip install --user pipx)");
}

QString nodeGuideScript() {
  return QStringLiteral("if ! command -v brew >/dev/null 2>&1; then  echo '") + kBrewMissingPlaceholder +
         QStringLiteral("';  /bin/bash -c ") + "\"$(curl -fsSL " + kHomebrewInstallScript + ")\"" +
         QStringLiteral(";fi;BREW=$(command -v brew || echo /opt/homebrew/bin/brew);[ -x ") + "\"$BREW\"" +
         QStringLiteral(" ] || BREW=/usr/local/bin/brew;echo '") + kNodePlaceholder +
         QStringLiteral("';$BREW install node");
}

std::optional<CommandList> bootstrapFor(const QString& command) {
  if (command == QLatin1String("pipx")) return CommandList{{"bash", "-c", pipxBootstrapScript()}};
  return std::nullopt;
}

std::optional<CommandGuide> guideFor(const QString& command) {
  if (command == QLatin1String("npm"))
    return CommandGuide{LocKey::depDescNpm(), CommandList{{"bash", "-c", nodeGuideScript()}}};
  if (command == QLatin1String("pipx")) return CommandGuide{LocKey::depDescPipx(), std::nullopt};
  if (command == QLatin1String("curl")) return CommandGuide{LocKey::depDescCurl(), std::nullopt};
  if (command == QLatin1String("bash")) return CommandGuide{LocKey::depDescBash(), std::nullopt};
  return std::nullopt;
}

CommandList fillEchoPlaceholders(const CommandList& commands, AppLanguage language) {
  const QString brewMissing = SettingsStore::dict(language, LocKey::installEchoBrewMissing());
  const QString node = SettingsStore::dict(language, LocKey::installEchoNode());
  CommandList filled;
  filled.reserve(commands.size());
  for (const Command& command : commands) {
    Command words;
    words.reserve(command.size());
    for (QString word : command) {
      word.replace(kBrewMissingPlaceholder, brewMissing);
      word.replace(kNodePlaceholder, node);
      words.append(word);
    }
    filled.append(words);
  }
  return filled;
}

}  // namespace tlr::DependencyGuides
