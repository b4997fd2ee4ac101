#include "platform/ArgumentReader.h"

#include <gtest/gtest.h>

using tlr::ArgumentGrammar;
using tlr::ArgumentReader;

namespace {

// "name[v1,v2]" for each option, in order.
QStringList optionsOf(const ArgumentReader& read) {
  QStringList out;
  for (const ArgumentReader::Option& option : read.options())
    out << option.name + QLatin1Char('[') + option.values.join(QLatin1Char(',')) + QLatin1Char(']');
  return out;
}

QStringList wordsOf(const ArgumentReader& read) {
  QStringList out;
  for (const ArgumentReader::Word& word : read.words()) out << word.text;
  return out;
}

struct Row {
  QStringList arguments;
  QStringList options;
  QStringList words;
  QString command;
  QStringList leading;
};

}  // namespace

// Options take their values as the program reads them, so a value is never
// taken for the sub-command.
TEST(ArgumentReader, OptionsTakeTheirValuesAndTheFirstWordIsTheCommand) {
  const ArgumentGrammar grammar{{"-m", "--model", "-c"}, {"-r", "--resume"}, {"--add-dir"}};
  const std::vector<Row> rows = {
      {{"-m", "o3", "exec", "hi"}, {"-m[o3]"}, {"exec", "hi"}, "exec", {}},
      {{"--model", "o3", "exec"}, {"--model[o3]"}, {"exec"}, "exec", {}},
      {{"--model=o3", "exec"}, {"--model[o3]"}, {"exec"}, "exec", {}},
      {{"-mo3", "exec"}, {"-m[o3]"}, {"exec"}, "exec", {}},
      {{"-c", "model=o3", "exec"}, {"-c[model=o3]"}, {"exec"}, "exec", {}},
      // A required value is taken whatever it looks like.
      {{"-m", "--help"}, {"-m[--help]"}, {}, "", {}},
      {{"--resume", "abc"}, {"--resume[abc]"}, {}, "", {}},
      {{"--resume", "--model", "x", "update"}, {"--resume[]", "--model[x]"}, {"update"}, "update", {}},
      {{"--add-dir", "a", "b", "doctor"}, {"--add-dir[a,b,doctor]"}, {}, "", {}},
      {{"--add-dir", "a", "--", "doctor"}, {"--add-dir[a]"}, {"doctor"}, "", {}},
      // A flag stands alone, also written with a value.
      {{"--verbose", "fix it"}, {"--verbose[]"}, {"fix it"}, "fix it", {}},
      {{"--color=never", "doctor"}, {"--color[never]"}, {"doctor"}, "doctor", {}},
      {{"-", "x"}, {}, {"-", "x"}, "-", {"-", "x"}},
      {{"-m"}, {"-m[]"}, {}, "", {}},
      {{"gateway", "install", "--force", "x"}, {"--force[]"}, {"gateway", "install", "x"}, "gateway",
       {"gateway", "install"}},
      {{"uninstall", "-g", "@scope/pkg"}, {"-g[]"}, {"uninstall", "@scope/pkg"}, "uninstall", {"uninstall"}},
      {{}, {}, {}, "", {}},
  };
  for (const Row& row : rows) {
    const ArgumentReader read(row.arguments, grammar);
    const std::string what = row.arguments.join(' ').toStdString();
    EXPECT_EQ(optionsOf(read), row.options) << what;
    EXPECT_EQ(wordsOf(read), row.words) << what;
    EXPECT_EQ(read.command(), row.command) << what;
    EXPECT_EQ(read.leadingWords(), row.leading) << what;
  }
  EXPECT_TRUE(ArgumentReader({"-x", "--model=o3"}, grammar).hasOption({"--model"}));
  EXPECT_FALSE(ArgumentReader({"-m", "--model"}, grammar).hasOption({"--model"})) << "a value is no option";
  // Without a grammar every option is a flag.
  EXPECT_EQ(ArgumentReader({"-m", "o3", "exec"}).command(), "o3");
}
