#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tlr {

// What a command-line program's "--help" lists: its sub-commands and its
// options, each option with what it takes after it. Reads the three shapes
// the agents' tools print (commander's, clap's and yargs's sections
// "Commands:" and "Options:", or "Positionals:").
struct ProgramHelp {
  enum class Takes { nothing, value, optionalValue, values };
  struct Option {
    QStringList names;  // "-m", "--model"
    Takes takes = Takes::nothing;
    QString spec;         // as the help writes it: "-m, --model <MODEL>"
    QString description;  // its lines joined
  };
  struct Command {
    QStringList names;  // the command and its aliases
    QString description;
  };

  QList<Option> options;
  QList<Command> commands;

  // `path` is the command the help belongs to (the program's name, then its
  // sub-commands): yargs repeats it before each sub-command it lists.
  static ProgramHelp parse(const QString& text, const QStringList& path);

  // Whether an option's description says that it does one thing and ends
  // ("… and exit", "Print version", "headless").
  static bool endsAtOnce(const Option& option);
};

}  // namespace tlr
