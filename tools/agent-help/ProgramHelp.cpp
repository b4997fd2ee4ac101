#include "ProgramHelp.h"

#include "platform/ArgumentReader.h"

#include <QRegularExpression>

#include <optional>
#include <utility>

namespace tlr {
namespace {

enum class Section { none, commands, options };

void appendLine(QString& description, const QString& line) {
  description += (description.isEmpty() ? QString() : QStringLiteral(" ")) + line;
}

qsizetype indentOf(const QString& line) {
  qsizetype i = 0;
  while (i < line.size() && line[i] == QLatin1Char(' ')) ++i;
  return i;
}

// "Options:", "Commands:", "Arguments:", "Positionals:" at the line's start.
std::optional<Section> sectionOf(const QString& line) {
  static const QRegularExpression header(QStringLiteral("^([A-Z][A-Za-z ]*):\\s*$"));
  const QRegularExpressionMatch m = header.match(line);
  if (!m.hasMatch()) return std::nullopt;
  const QString name = m.captured(1).toLower();
  if (name.endsWith(QLatin1String("commands"))) return Section::commands;
  if (name.endsWith(QLatin1String("options")) || name == QLatin1String("flags")) return Section::options;
  return Section::none;
}

// The spec and the description of an item line: split at the first run of
// two or more blanks.
std::pair<QString, QString> splitItem(const QString& trimmed) {
  static const QRegularExpression gap(QStringLiteral("\\s{2,}"));
  const QRegularExpressionMatch m = gap.match(trimmed);
  if (!m.hasMatch()) return {trimmed, QString()};
  return {trimmed.left(m.capturedStart()), trimmed.mid(m.capturedEnd())};
}

ProgramHelp::Takes takesOf(const QString& argument) {
  using Takes = ProgramHelp::Takes;
  const QString a = argument.trimmed();
  if (a.isEmpty()) return Takes::nothing;
  if (a.endsWith(QLatin1String("...")) || a.endsWith(QLatin1String("...>")) || a.endsWith(QLatin1String("...]")))
    return Takes::values;
  if (a.startsWith(QLatin1Char('['))) return Takes::optionalValue;
  return Takes::value;
}

std::optional<ProgramHelp::Option> optionOf(const QString& trimmed) {
  static const QRegularExpression name(QStringLiteral("^(--?[A-Za-z0-9][A-Za-z0-9_-]*)(.*)$"));
  const auto [spec, description] = splitItem(trimmed);
  ProgramHelp::Option option;
  option.spec = spec;
  option.description = description;
  for (const QString& part : spec.split(QStringLiteral(", "))) {
    const QRegularExpressionMatch m = name.match(part.trimmed());
    if (!m.hasMatch()) return std::nullopt;
    option.names << m.captured(1);
    // "--opt <v>", "--opt=<v>", "--opt [v]", "--opt <v>...", "--opt MODEL".
    QString argument = m.captured(2).trimmed();
    if (argument.startsWith(QLatin1Char('='))) argument = argument.mid(1);
    if (!argument.isEmpty()) option.takes = takesOf(argument);
  }
  return option;
}

}  // namespace

ProgramHelp ProgramHelp::parse(const QString& text, const QStringList& path) {
  static const QRegularExpression commandName(QStringLiteral("^[a-z][a-z0-9-]*(\\|[a-z][a-z0-9-]*)*$"));
  static const QRegularExpression aliases(QStringLiteral("\\[aliases?: ([^\\]]*)\\]"));
  QStringList pathWords;
  for (const QString& word : path) pathWords << ArgumentReader::programName(word);
  ProgramHelp help;
  Section section = Section::none;
  qsizetype itemIndent = -1;
  Option* last = nullptr;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (line.trimmed().isEmpty()) continue;
    if (const std::optional<Section> header = sectionOf(line)) {
      section = *header;
      itemIndent = -1;
      last = nullptr;
      continue;
    }
    const qsizetype indent = indentOf(line);
    if (indent == 0) {
      section = Section::none;
      last = nullptr;
      continue;
    }
    const QString trimmed = line.trimmed();
    if (section == Section::options) {
      // An option's line, or more of the last option's description.
      std::optional<Option> option;
      if (trimmed.startsWith(QLatin1Char('-')) && (itemIndent < 0 || indent <= itemIndent + 4))
        option = optionOf(trimmed);
      if (option) {
        if (itemIndent < 0) itemIndent = indent;
        help.options.append(*option);
        last = &help.options.last();
      } else if (last) {
        appendLine(last->description, trimmed);
      }
      continue;
    }
    if (section != Section::commands) continue;
    if (itemIndent < 0) itemIndent = indent;
    if (indent != itemIndent) {
      // More of the last command's description (its aliases may be there).
      if (indent > itemIndent && !help.commands.isEmpty()) appendLine(help.commands.last().description, trimmed);
      continue;
    }
    // yargs: "gemini extensions <command>  Manage…"; commander:
    // "update|upgrade  Check…"; clap: "exec  Run… [aliases: e]".
    const auto [spec, description] = splitItem(trimmed);
    QStringList words = spec.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& pathWord : pathWords) {
      if (words.isEmpty() || words.first() != pathWord) break;
      words.removeFirst();
    }
    if (words.isEmpty() || !commandName.match(words.first()).hasMatch()) continue;
    Command command;
    command.names = words.first().split(QLatin1Char('|'));
    command.description = description;
    help.commands.append(command);
  }
  for (Command& command : help.commands)
    if (const QRegularExpressionMatch m = aliases.match(command.description); m.hasMatch())
      for (const QString& alias : m.captured(1).split(QLatin1Char(',')))
        if (!alias.trimmed().isEmpty()) command.names << alias.trimmed();
  // yargs names the type at the end of the description.
  for (Option& option : help.options) {
    if (option.takes != Takes::nothing) continue;
    if (option.description.contains(QLatin1String("[array]")))
      option.takes = Takes::values;
    else if (option.description.contains(QLatin1String("[string]")) || option.description.contains(QLatin1String("[number]")))
      option.takes = Takes::value;
  }
  return help;
}

bool ProgramHelp::endsAtOnce(const Option& option) {
  static const QRegularExpression once(
      QStringLiteral("\\band exit\\b|\\bthen exit\\b|return immediately|headless|"
                     "^(print|output|show|display)s? (the )?(version|help)"),
      QRegularExpression::CaseInsensitiveOption);
  return option.description.contains(once);
}

}  // namespace tlr
