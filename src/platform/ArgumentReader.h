#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tlr {

// Which options of a program take a value, and how. Every option it does not
// list stands alone.
struct ArgumentGrammar {
  // Take the next argument, whatever it is ("-m o3", "--model o3"); also
  // written "--model=o3" or "-mo3".
  QStringList withValue;
  // Take the next argument unless it is an option ("--resume [id]").
  QStringList withOptionalValue;
  // Take every next argument up to an option ("--add-dir a b").
  QStringList withValues;
};

// A program's arguments read by a grammar, as the program reads them:
// options with the values they take, and words (sub-commands, prompts,
// paths). Options are read wherever they stand; after "--" every argument
// is a word, and "-" alone is one. This is the one reading of an argument
// list: what a process of an agent is, whether a command starts the agent,
// which script an interpreter runs, what a fix's command names, which
// program a desktop entry's "env … program" starts.
class ArgumentReader {
 public:
  struct Option {
    QString name;        // "--model" of "--model=o3", "-m" of "-mo3"
    QStringList values;  // the values it took
    qsizetype index = 0;  // where it stands among the arguments
    qsizetype last = 0;   // the last argument it took (its own index when none)
  };
  struct Word {
    QString text;
    qsizetype index = 0;
    bool afterEnd = false;  // after "--"
  };

  explicit ArgumentReader(const QStringList& arguments, const ArgumentGrammar& grammar = {});

  // The name a program goes by: the last component of the path it is run
  // under ("/usr/bin/node" is node).
  static QString programName(const QString& path);

  const QList<Option>& options() const { return options_; }
  const QList<Word>& words() const { return words_; }
  // Whether one of the options read is named one of `names`.
  bool hasOption(const QStringList& names) const;
  // The sub-command (or first prompt): the first word, when it stands before
  // "--"; empty when there is none.
  QString command() const;
  // The words before the first option: a command with its sub-commands, as a
  // command line written for a person names them ("npm uninstall -g x").
  QStringList leadingWords() const;

 private:
  QList<Option> options_;
  QList<Word> words_;
};

}  // namespace tlr
