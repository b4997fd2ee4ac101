#include "core/installers/DependencyGuides.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"


namespace tlr::DependencyGuides {

QString pipxBootstrapScript() {
  // Each alternative is grouped: "&&" and "||" have equal precedence in the
  // shell, so without the braces a successful conda install would go on into
  // every pip fallback after it.
  return QStringLiteral(
      "{ command -v conda >/dev/null 2>&1 && conda install -y -c conda-forge pipx; } || "
      "python3 -m pip install --user pipx 2>/dev/null || "
      "python3 -m pip install --user --break-system-packages pipx 2>/dev/null || "
      "(python3 -m pip install --user --upgrade pip 2>/dev/null && python3 -m pip install --user pipx)");
}

QString nodeGuideScript() {
  // Through the distribution's package manager, in a terminal window where
  // sudo can ask for the password; without apt, the Node.js download page.
  return QStringLiteral("echo '") + kNodePlaceholder +
         QStringLiteral("'; if command -v apt-get >/dev/null 2>&1; then echo '") + kBrewMissingPlaceholder +
         QStringLiteral("'; if [ \"$(id -u)\" = 0 ]; then SUDO=; else SUDO=sudo; fi; "
                        "$SUDO apt-get update && $SUDO apt-get install -y nodejs npm; "
                        "else echo 'https://nodejs.org/en/download'; exit 1; fi");
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
  const QString brewMissing = LocTexts::text(language, LocKey::installEchoBrewMissing());
  const QString node = LocTexts::text(language, LocKey::installEchoNode());
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
