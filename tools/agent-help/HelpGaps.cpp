#include "HelpGaps.h"

namespace tlr {
namespace {

using Takes = ProgramHelp::Takes;

QString tableOf(Takes takes) {
  switch (takes) {
    case Takes::nothing: return QString();
    case Takes::value: return QStringLiteral("optionsWithValue");
    case Takes::optionalValue: return QStringLiteral("optionsWithOptionalValue");
    case Takes::values: return QStringLiteral("optionsWithValues");
  }
  return QString();
}

Takes takesIn(const AgentEntry::Identify& identify, const QString& name) {
  if (identify.optionsWithValue.value_or(QStringList()).contains(name)) return Takes::value;
  if (identify.optionsWithOptionalValue.value_or(QStringList()).contains(name)) return Takes::optionalValue;
  if (identify.optionsWithValues.value_or(QStringList()).contains(name)) return Takes::values;
  return Takes::nothing;
}

QString described(const QString& spec, const QString& description) {
  return description.isEmpty() ? spec : spec + QStringLiteral(" (") + description.left(70) + QLatin1Char(')');
}

}  // namespace

HelpGaps HelpGaps::find(const AgentEntry::Identify& identify, const ProgramHelp& top,
                        const QMap<QString, ProgramHelp>& sessionHelps) {
  const QStringList oneShotCommands = identify.oneShotCommands.value_or(QStringList());
  const QStringList sessionCommands = identify.sessionCommands.value_or(QStringList());
  const QStringList oneShotArgs = identify.oneShotArgs.value_or(QStringList());
  HelpGaps gaps;
  QStringList listedCommands, listedOptions;

  for (const ProgramHelp::Command& command : top.commands) {
    listedCommands << command.names;
    for (const QString& name : command.names)
      if (!oneShotCommands.contains(name) && !sessionCommands.contains(name))
        gaps.missing << QStringLiteral("sub-command %1 is in neither oneShotCommands nor sessionCommands")
                            .arg(described(name, command.description));
  }
  for (const ProgramHelp::Option& option : top.options) {
    listedOptions << option.names;
    for (const QString& name : option.names) {
      const Takes known = takesIn(identify, name);
      if (known != option.takes) {
        gaps.missing << (option.takes == Takes::nothing
                             ? QStringLiteral("option %1 takes no value, but %2 lists %3")
                                   .arg(described(option.spec, option.description), tableOf(known), name)
                             : QStringLiteral("option %1 takes a value: list %2 in %3")
                                   .arg(described(option.spec, option.description), name, tableOf(option.takes)));
      }
      if (ProgramHelp::endsAtOnce(option) && !oneShotArgs.contains(name))
        gaps.missing << QStringLiteral("option %1 ends at once: list %2 in oneShotArgs")
                            .arg(described(option.spec, option.description), name);
    }
  }
  for (auto it = sessionHelps.cbegin(); it != sessionHelps.cend(); ++it) {
    for (const ProgramHelp::Option& option : it->options) {
      listedOptions << option.names;
      if (!ProgramHelp::endsAtOnce(option)) continue;
      for (const QString& name : option.names)
        if (!oneShotArgs.contains(name))
          gaps.missing << QStringLiteral("option %1 of the session sub-command %2 ends at once: list %3 in oneShotArgs")
                              .arg(described(option.spec, option.description), it.key(), name);
    }
  }

  for (const QString& name : oneShotCommands + sessionCommands)
    if (!listedCommands.contains(name)) gaps.notInThisVersion << name;
  for (const QString& name : oneShotArgs + identify.optionsWithValue.value_or(QStringList()) +
                                 identify.optionsWithOptionalValue.value_or(QStringList()) +
                                 identify.optionsWithValues.value_or(QStringList()))
    if (!listedOptions.contains(name) && !gaps.notInThisVersion.contains(name)) gaps.notInThisVersion << name;
  return gaps;
}

}  // namespace tlr
