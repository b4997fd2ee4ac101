#include "platform/ArgumentReader.h"

#include <algorithm>

namespace tlr {

namespace {

bool isOption(const QString& argument) {
  return argument.size() > 1 && argument.startsWith(QLatin1Char('-'));
}

}  // namespace

ArgumentReader::ArgumentReader(const QStringList& arguments, const ArgumentGrammar& grammar) {
  const auto takesValue = [&](const QString& name) {
    return grammar.withValue.contains(name) || grammar.withOptionalValue.contains(name) ||
           grammar.withValues.contains(name);
  };
  bool ended = false;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (ended || !isOption(argument)) {
      words_.append({argument, i, ended});
      continue;
    }
    if (argument == QLatin1String("--")) {
      ended = true;
      continue;
    }
    Option option{argument, {}, i, i};
    if (argument.startsWith(QLatin1String("--"))) {
      // "--model=o3": the value comes with it.
      if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
        option.name = argument.left(equals);
        option.values << argument.mid(equals + 1);
      }
    } else if (argument.size() > 2 && takesValue(argument.left(2))) {
      // "-mo3": a short option with its value joined to it.
      option.name = argument.left(2);
      option.values << argument.mid(2);
    }
    if (option.values.isEmpty()) {
      if (grammar.withValue.contains(option.name)) {
        if (i + 1 < arguments.size()) option.values << arguments[++i];
      } else if (grammar.withOptionalValue.contains(option.name)) {
        if (i + 1 < arguments.size() && !isOption(arguments[i + 1])) option.values << arguments[++i];
      } else if (grammar.withValues.contains(option.name)) {
        while (i + 1 < arguments.size() && !isOption(arguments[i + 1])) option.values << arguments[++i];
      }
    }
    option.last = i;
    options_.append(std::move(option));
  }
}

QString ArgumentReader::programName(const QString& path) { return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1); }

bool ArgumentReader::hasOption(const QStringList& names) const {
  return std::any_of(options_.cbegin(), options_.cend(),
                     [&](const Option& option) { return names.contains(option.name, Qt::CaseSensitive); });
}

QString ArgumentReader::command() const {
  if (words_.isEmpty() || words_.first().afterEnd) return {};
  return words_.first().text;
}

QStringList ArgumentReader::leadingWords() const {
  const qsizetype firstOption = options_.isEmpty() ? -1 : options_.first().index;
  QStringList leading;
  for (const Word& word : words_) {
    if (word.afterEnd || (firstOption >= 0 && word.index > firstOption)) break;
    leading << word.text;
  }
  return leading;
}

}  // namespace tlr
