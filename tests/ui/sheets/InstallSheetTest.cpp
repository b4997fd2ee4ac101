#include "ui/sheets/InstallSheet.h"

#include "core/installers/DependencyGuides.h"
#include "platform/LoginShell.h"
#include "ui/sheets/SheetParts.h"
#include "ui/sheets/SheetTestSupport.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QTextDocument>
#include <QTextEdit>
#include <QtMath>

#include <gtest/gtest.h>

#include <memory>

using namespace tlr;
using namespace tlr::test;

namespace {

class InstallSheetTest : public SheetTest {
 protected:
  std::unique_ptr<InstallSheet> sheet(const QByteArray& install) {
    auto made = std::make_unique<InstallSheet>(entryWith(R"(,"install":)" + install), [this] { ++closes; },
                                               [this] { ++dones; }, SettingsStore::shared());
    made->setDeleteOnDismiss(false);
    return made;
  }
  static bool inPhase(const InstallSheet& s, const QString& phase) {
    return s.findChild<QWidget*>("installBody:" + phase) != nullptr;
  }
  static QStringList stepLabels(const InstallSheet& s) {
    QStringList labels;
    // As the rows show them.
    for (auto* row : s.findChildren<sheets::StepRowView*>("installStep"))
      labels << row->findChild<sheets::ElidedText*>("stepLabel")->text();
    return labels;
  }
  int closes = 0;
  int dones = 0;
};

bool machineHasPipx() {
  for (const char* folder : {"/usr/local/bin", "/home/linuxbrew/.linuxbrew/bin", "/usr/bin", "/bin"})
    if (QFileInfo(QString(folder) + "/pipx").isExecutable()) return true;
  return false;
}

}  // namespace

TEST_F(InstallSheetTest, AMetRequirementInstallsAndEndsWithHowToOpen) {
  userProgram("tlr-have", "echo \"$@\" >> \"$HOME/ran\"\n");
  auto s = sheet(R"({"requires":[{"command":"tlr-have"}],"commands":[["tlr-have","agent"]]})");
  EXPECT_EQ(s->size(), QSize(540, 460));
  EXPECT_EQ(shown(*s, "sheetTitle"), "Install Agent");
  EXPECT_TRUE(inPhase(*s, "checking"));
  EXPECT_EQ(shown(*s, "installCheckingText"), "Checking requirements…");
  EXPECT_EQ(shown(*s, "installCancelButton"), "Cancel");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  EXPECT_EQ(shown(*s, "installStatus"), "Installed");
  EXPECT_EQ(stepLabels(*s).first(), "$ tlr-have agent");
  EXPECT_EQ(readFile(home.path() + "/ran"), "agent\n");
  ASSERT_NE(child(*s, "installHowToOpen"), nullptr);
  EXPECT_EQ(child<SectionTitle>(*s, "installHowToOpenTitle")->shownText(), "HOW TO OPEN");
  // The commands without the text table's marks, each kept on one line.
  EXPECT_EQ(child(*s, "installHowToOpenBody")->accessibleName(),
            "Open a new terminal and type tlr-agent. Terminals that are already open need source " + userShellStartFile() +
                " first.");
  EXPECT_FALSE(shown(*s, "installHowToOpenBody").contains(QLatin1Char('`')));
  EXPECT_TRUE(shown(*s, "installHowToOpenBody").contains("font-family")) << "the commands read apart";
  expectReadableInBothSchemes(*s, "the install sheet, done");

  // Chinese at once, the rows already made too.
  SettingsStore::shared().setLanguage(AppLanguage::zh);
  EXPECT_EQ(shown(*s, "sheetTitle"), "安装 Agent ZH");
  EXPECT_EQ(shown(*s, "installStatus"), "已安装");
  EXPECT_EQ(shown(*s, "installDoneButton"), "完成");
  EXPECT_EQ(stepLabels(*s).last(), "已写入 PATH 到 " + userShellStartFile() + "（开新终端即可生效）");

  ASSERT_TRUE(click(*s, "installDoneButton"));
  EXPECT_EQ(dones, 1);
  EXPECT_EQ(closes, 1);
}

TEST_F(InstallSheetTest, AFailureIsShownInTheDoneTextWithoutHowToOpen) {
  auto s = sheet(R"({"commands":[["true"],["sh","-c","echo 'npm ERR! code E404' >&2; echo 'npm ERR! 404 Not Found' >&2; echo 'npm ERR! A' >&2; echo 'npm ERR! B' >&2; echo 'npm ERR! C' >&2; exit 2"]]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  EXPECT_EQ(shown(*s, "installStatus"), "Install failed");
  EXPECT_EQ(child(*s, "installHowToOpen"), nullptr);
  const auto rows = s->findChildren<sheets::StepRowView*>("installStep");
  ASSERT_EQ(rows.size(), 3);
  EXPECT_FALSE(rows[1]->step().success);
  ASSERT_NE(rows[1]->findChild<sheets::ElidedText*>("stepError"), nullptr);
  // The message says how it ended and what npm printed last; all it printed
  // is behind "Details", with its line breaks.
  const auto* error = rows[1]->findChild<sheets::ElidedText*>("stepError");
  EXPECT_EQ(error->text(), "exit 2\nnpm ERR! 404 Not Found\nnpm ERR! A\nnpm ERR! B\nnpm ERR! C");
  EXPECT_EQ(error->shownText(), QString(error->text()).remove('\n')) << "the row shows it whole";
  auto* details = rows[1]->findChild<DetailsDisclosure*>("stepDetails");
  ASSERT_NE(details, nullptr);
  // A row added to the shown sheet is shown by the event loop's next turn.
  EXPECT_TRUE(waitUntil([&] { return details->isVisible(); }));
  EXPECT_FALSE(details->isExpanded());
  EXPECT_EQ(details->details(), "npm ERR! code E404\nnpm ERR! 404 Not Found\nnpm ERR! A\nnpm ERR! B\nnpm ERR! C");
  ASSERT_TRUE(click(*details, "detailsToggle"));
  EXPECT_EQ(details->findChild<QTextEdit*>("detailsText")->document()->blockCount(), 5);
  EXPECT_EQ(rows[0]->findChild<DetailsDisclosure*>("stepDetails"), nullptr) << "a step that succeeded has none";
  // The PATH row speaks the window's language.
  EXPECT_EQ(textOf(rows[2]->step().label), "Added PATH to " + userShellStartFile() + " (new terminals pick it up)");
  EXPECT_EQ(shown(*s, "installDoneButton"), "Done");
  expectReadableInBothSchemes(*s, "the install sheet, failed");
}

TEST_F(InstallSheetTest, AnErrorOfSeveralLinesKeepsItsLineBreaks) {
  const StepResult step = StepResult::make(LocKey::installStepAsIs("$ tlr"), false, LocKey::installStepAsIs("first line\nsecond line\nlast line"));
  sheets::StepRowView row(step, 11, 3, SettingsStore::shared());
  row.resize(400, row.sizeHint().height());
  auto* error = row.findChild<sheets::ElidedText*>("stepError");
  ASSERT_NE(error, nullptr);
  const int line = qCeil(QFontMetricsF(error->font()).lineSpacing());
  EXPECT_GE(error->heightForWidth(400), 3 * line - 1) << "three lines, one under the other";
  EXPECT_EQ(error->shownText(), "first linesecond linelast line");

  // A command wraps at its blanks, never inside a word ("x-terminal-emulator").
  const QString command = "$ sh -c 'x-terminal-emulator --version && xfce4-terminal --version'";
  sheets::ElidedText label(command, QFont(error->font()), [] { return QColor(Qt::black); }, 3);
  const QFontMetricsF metrics(label.font());
  const int narrow = qCeil(metrics.horizontalAdvance("$ sh -c 'x-terminal-emulator"));
  const QStringList lines = label.lines(narrow);
  EXPECT_EQ(lines.join(QString()), command) << "nothing lost";
  for (const QString& part : lines) {
    EXPECT_TRUE(part.endsWith(QLatin1Char(' ')) || part == lines.last()) << part.toStdString();
    EXPECT_LE(metrics.horizontalAdvance(part.trimmed()), narrow) << part.toStdString();
  }
}

TEST_F(InstallSheetTest, MissingRequirementsShowTheirCardsAndWaitForRecheck) {
  auto s = sheet(R"({"requires":[{"command":"npm-tlr-missing"},{"command":"tlr-odd","hintUrl":"https://odd.example/get"},)"
                 R"({"command":"tlr-bare","hintUrl":""},{"command":"tlr-bad-url","hintUrl":"odd.example"}],)"
                 R"("commands":[["true"]]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "missing"); }));
  EXPECT_EQ(shown(*s, "installMissingTitle"), "Missing requirements");
  EXPECT_EQ(shown(*s, "installMissingHint"), "Install these dependencies before this agent can be set up");
  EXPECT_EQ(shown(*s, "installMissingNote"), "Once done, come back and click [Re-check] to continue");
  EXPECT_EQ(shown(*s, "installCloseFooterButton"), "Close");
  EXPECT_EQ(shown(*s, "installRecheckButton"), "Re-check");

  // A command no table knows: its name, and the website button only with an address.
  auto* odd = child(*s, "installRequirement:tlr-odd");
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(shown(*odd, "installRequirementCommand"), "tlr-odd");
  EXPECT_EQ(child(*odd, "installRequirementDescription"), nullptr);
  EXPECT_EQ(shown(*odd, "installOpenWebsite:tlr-odd"), "Open website");
  ASSERT_TRUE(click(*odd, "installOpenWebsite:tlr-odd"));
  EXPECT_EQ(recorded(opened), "https://odd.example/get\n--\n");
  EXPECT_EQ(child(*s, "installOpenWebsite:tlr-bare"), nullptr);
  EXPECT_EQ(child(*s, "installAutoInstall:tlr-bare"), nullptr);
  // An address without a scheme is never handed to the opener.
  QFile::remove(opened);
  ASSERT_TRUE(click(*s, "installOpenWebsite:tlr-bad-url"));
  ASSERT_TRUE(click(*s, "installOpenWebsite:tlr-odd"));
  EXPECT_EQ(recorded(opened), "https://odd.example/get\n--\n");
  expectReadableInBothSchemes(*s, "the install sheet, requirements missing");

  userProgram("npm-tlr-missing", "");
  userProgram("tlr-odd", "");
  userProgram("tlr-bare", "");
  userProgram("tlr-bad-url", "");
  ASSERT_TRUE(click(*s, "installRecheckButton"));
  EXPECT_TRUE(inPhase(*s, "checking"));
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  EXPECT_EQ(shown(*s, "installStatus"), "Installed");
  EXPECT_EQ(closes, 0);
}

TEST_F(InstallSheetTest, EachKnownCommandGetsItsDescriptionAndAtMostOneMainAction) {
  struct Expected {
    const char* command;
    const char* description;  // empty: none
    const char* mainAction;   // "installAutoInstall", "installTerminalInstall" or empty
  };
  for (const Expected& e : {Expected{"npm", "Node.js package manager — most CLIs need it", "installTerminalInstall"},
                            Expected{"pipx", "Isolated installer for Python CLI tools", "installAutoInstall"},
                            Expected{"curl", "Command-line downloader (install it with apt)", ""},
                            Expected{"bash", "Shell (comes with the system)", ""},
                            Expected{"NPM", "", ""}, Expected{"npm ", "", ""}}) {
    SCOPED_TRACE(e.command);
    RequirementCard card({e.command, std::nullopt}, SettingsStore::shared());
    EXPECT_EQ(shown(card, "installRequirementCommand"), e.command);
    if (*e.description) {
      EXPECT_EQ(shown(card, "installRequirementDescription"), e.description);
    } else {
      EXPECT_EQ(child(card, "installRequirementDescription"), nullptr);
    }
    const QString command = e.command;
    for (const QString action : {"installAutoInstall", "installTerminalInstall"}) {
      EXPECT_EQ(child(card, action + ":" + command) != nullptr, action == e.mainAction) << action.toStdString();
    }
    EXPECT_EQ(child(card, "installOpenWebsite:" + command), nullptr);
  }
  RequirementCard npm({"npm", std::nullopt}, SettingsStore::shared());
  QList<CommandList> asked;
  QObject::connect(&npm, &RequirementCard::terminalInstallRequested, [&](const CommandList& c) { asked << c; });
  ASSERT_TRUE(click(npm, "installTerminalInstall:npm"));
  ASSERT_EQ(asked.size(), 1);
  EXPECT_EQ(asked[0], *DependencyGuides::guideFor("npm")->terminalCommands);
}

TEST_F(InstallSheetTest, TheTerminalRouteShowsOneRow) {
  auto s = sheet(R"({"commands":[["npm","install","-g","tlr-agent"]],"useTerminal":true})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "done"); }));
  EXPECT_EQ(stepLabels(*s), QStringList{"A terminal window opened — follow the prompts to complete the install"});
  EXPECT_EQ(shown(*s, "installStatus"), "Installed");
  EXPECT_TRUE(recorded(terminal).contains("npm install -g tlr-agent"));
}

TEST_F(InstallSheetTest, AFailedAutoInstallReturnsToTheMissingCard) {
  if (machineHasPipx()) GTEST_SKIP() << "pipx is installed on this machine, so it cannot be missing";
  userProgram("conda", "exit 1\n");
  userProgram("python3", "exit 1\n");
  auto s = sheet(R"({"requires":[{"command":"pipx"}],"commands":[["pipx","install","tlr-agent"]]})");
  s->show();
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "missing"); }));
  auto* card = child(*s, "installRequirement:pipx");
  ASSERT_NE(card, nullptr);
  EXPECT_EQ(shown(*card, "installRequirementDescription"), "Isolated installer for Python CLI tools");
  EXPECT_EQ(shown(*card, "installAutoInstall:pipx"), "Auto-install");
  EXPECT_EQ(child(*card, "installTerminalInstall:pipx"), nullptr);

  ASSERT_TRUE(click(*card, "installAutoInstall:pipx"));
  EXPECT_TRUE(inPhase(*s, "running"));
  EXPECT_EQ(shown(*s, "installRunningText"), "Installing…");
  EXPECT_EQ(shown(*s, "installRunningNote"), "Don't close this window…");
  EXPECT_EQ(stepLabels(*s).first(), "Auto-installing dependency: pipx");
  ASSERT_TRUE(waitUntil([&] { return inPhase(*s, "missing"); }));
  EXPECT_NE(child(*s, "installRequirement:pipx"), nullptr);
  EXPECT_TRUE(stepLabels(*s).isEmpty());
}

TEST_F(InstallSheetTest, CloseWorksWhileRunningAndTheInstallGoesOn) {
  userProgram("tlr-slow", "while [ ! -e \"$HOME/go\" ]; do sleep 0.05; done\necho done > \"$HOME/finished\"\n");
  auto* s = new InstallSheet(entryWith(R"(,"install":{"commands":[["tlr-slow"]]})"), [] {}, [] {},
                             SettingsStore::shared());
  s->show();
  ASSERT_TRUE(waitUntil([&] { return s->findChild<QWidget*>("installBody:running") != nullptr; }));
  ASSERT_NE(s->findChild<QAbstractButton*>("installCloseButton"), nullptr);
  EXPECT_TRUE(s->findChild<QAbstractButton*>("installCloseButton")->isEnabled());
  delete s;
  QFile(home.path() + "/go").open(QIODevice::WriteOnly);
  // The run goes on to its end: the command, then the shell setup.
  ASSERT_TRUE(waitUntil([&] { return QFile::exists(home.path() + userShellStartFile().mid(1)); }));
  EXPECT_EQ(readFile(home.path() + "/finished"), "done\n");
  QCoreApplication::processEvents();
}

TEST_F(InstallSheetTest, TheCardsTwoActionsStandLevel) {
  RequirementCard card({"npm", QStringLiteral("https://nodejs.org/")}, SettingsStore::shared());
  card.resize(480, card.sizeHint().height());
  card.show();
  auto* terminal = child<QAbstractButton>(card, "installTerminalInstall:npm");
  auto* website = child<QAbstractButton>(card, "installOpenWebsite:npm");
  ASSERT_NE(terminal, nullptr);
  ASSERT_NE(website, nullptr);
  EXPECT_EQ(website->height(), terminal->height());
  EXPECT_EQ(website->y(), terminal->y());
}
