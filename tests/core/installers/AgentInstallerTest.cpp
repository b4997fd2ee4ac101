#include "core/installers/AgentInstaller.h"

#include "core/stores/SettingsStore.h"
#include "platform/ChildProcess.h"
#include "platform/LoginShell.h"
#include "support/RecipeTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <thread>

#include <sys/stat.h>

using namespace std::chrono_literals;
using tlr::AgentInstaller;
using tlr::test::expectRows;
using tlr::test::textOf;
using tlr::test::TempHome;

namespace {

const QString kWritten = QStringLiteral("已写入 PATH 到 ~/.zshrc（开新终端即可生效）");
const QString kBlock = QStringLiteral(
    "# >>> tollamere CLI path setup >>>\n"
    "export PATH=\"$HOME/.npm-global/bin:$HOME/.local/bin:$PATH\"\n"
    "# <<< tollamere CLI path setup <<<\n");

// The installer of a user whose shell is zsh.
AgentInstaller zshUser() { return AgentInstaller(tlr::recipe::kCommandTimeout, QStringLiteral("~/.zshrc")); }

// The row of the one failing command `script`.
tlr::StepResult failedRow(const QString& script, std::chrono::milliseconds timeout = 600s) {
  const auto rows = AgentInstaller(timeout).runSteps("Agent", {{"sh", "-c", script}}, nullptr);
  EXPECT_EQ(rows.size(), 1);
  if (rows.isEmpty()) return tlr::StepResult::make(tlr::LocKey::installStepAsIs("(no row)"), false);
  EXPECT_FALSE(rows[0].success);
  return rows[0];
}
// Its error text.
std::optional<QString> errorOf(const QString& script, std::chrono::milliseconds timeout = 600s) {
  return textOf(failedRow(script, timeout).error);
}

}  // namespace

TEST(InstallSteps, ARecipeRunsInOrderWithItsEnvironmentThenSetsUpPath) {
  TempHome home;
  const QString h = home.path();
  tlr::test::addUserProgram(home, "tlr-step",
                            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$HOME/args\"\n"
                            "printf '%s\\n' \"$PATH\" \"$npm_config_prefix\" \"$PIPX_HOME\" \"$PIPX_BIN_DIR\" "
                            "> \"$HOME/env\"\n");
  tlr::test::RowCollector rows;
  zshUser().executeCommands(
      nullptr, "Agent",
      {{"tlr-step", "one", "~/x", "~", "$HOME/y:$HOME", "a~b"}, {}, {"sh", "-c", "read line || echo eof > \"$HOME/stdin\""}},
      rows.onProgress(), rows.onComplete());
  ASSERT_TRUE(rows.waitForCompletion());
  EXPECT_FALSE(rows.offMainThread);
  expectRows(*rows.completed, {{"$ tlr-step one ~/x ~ $HOME/y:$HOME a~b", true, std::nullopt},
                               {"$ sh -c 'read line || echo eof > \"$HOME/stdin\"'", true, std::nullopt},
                               {kWritten, true, std::nullopt}});
  ASSERT_EQ(rows.progress.size(), 3);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rows.progress[i].id, (*rows.completed)[i].id);

  EXPECT_EQ(tlr::test::readFile(h + "/args"), "one\n" + h + "/x\n" + h + "\n" + h + "/y:" + h + "\na~b\n");
  const QStringList env = tlr::test::readFile(h + "/env").split('\n');
  ASSERT_GE(env.size(), 4);
  EXPECT_TRUE(env[0].startsWith(h + "/.npm-global/bin:" + h + "/.local/bin:" + h +
                                "/.cargo/bin:/usr/local/bin:/home/linuxbrew/.linuxbrew/bin:"));
  EXPECT_EQ(env[1], h + "/.npm-global");
  EXPECT_EQ(env[2], h + "/.local/pipx");
  EXPECT_EQ(env[3], h + "/.local/bin");
  EXPECT_EQ(tlr::test::readFile(h + "/stdin"), "eof\n");  // input is /dev/null
  EXPECT_EQ(tlr::test::readFile(h + "/.zshrc"), kBlock);
}

TEST(InstallSteps, StopsAtTheFirstFailure) {
  TempHome home;
  const auto failedSecond = zshUser().runSteps(
      "Agent", {{"true"}, {"sh", "-c", "exit 1"}, {"touch", home.path() + "/third"}}, nullptr);
  expectRows(failedSecond, {{"$ true", true, std::nullopt},
                            {"$ sh -c 'exit 1'", false, "exit 1（无输出）"},
                            {kWritten, true, std::nullopt}});
  EXPECT_FALSE(QFile::exists(home.path() + "/third"));

  QFile::remove(home.path() + "/.zshrc");
  const auto failedFirst = zshUser().runSteps("Agent", {{"false"}, {"true"}}, nullptr);
  expectRows(failedFirst, {{"$ false", false, "exit 1（无输出）"}});
  EXPECT_FALSE(QFile::exists(home.path() + "/.zshrc"));

  EXPECT_TRUE(zshUser().runSteps("Agent", {}, nullptr).isEmpty());
  EXPECT_TRUE(zshUser().runSteps("Agent", {{}, {}}, nullptr).isEmpty());
}

TEST(InstallSteps, ProgramsOutsideTheProgramFoldersRunThroughEnv) {
  TempHome home;
  tlr::test::FakeBin bin;
  bin.add("tlr-on-path-only", "echo ran > \"$HOME/ran\"");
  const auto rows = zshUser().runSteps(
      "Agent", {{"tlr-on-path-only"}, {"/nonexistent/tlr-installer"}}, nullptr);
  expectRows(rows, {{"$ tlr-on-path-only", true, std::nullopt},
                    {"$ /nonexistent/tlr-installer", false, "No such file or directory"},
                    {kWritten, true, std::nullopt}});
  EXPECT_EQ(tlr::test::readFile(home.path() + "/ran"), "ran\n");
}

// The message used to be the ending alone, with what the tool printed only
// behind Details: it is the ending and the last four lines printed.
TEST(InstallErrorText, TheMessageIsTheEndingAndTheLastLinesAndWhatTheToolPrintedIsTheDetailsWithItsLineBreaks) {
  TempHome home;
  const tlr::StepResult failed = failedRow("echo e1 >&2; echo >&2; echo e2 >&2; echo o1; exit 2");
  EXPECT_EQ(textOf(failed.error), "exit 2\ne1\ne2\no1");
  EXPECT_EQ(failed.details, "e1\n\ne2\no1") << "standard error first, then the output, line breaks kept";
  EXPECT_EQ(textOf(failedRow("printf 'a\\nb\\nc\\n\\n' >&2; printf '  d\\ne  \\n'; exit 7").error), "exit 7\nb\nc\nd\ne");
  const QString wide = textOf(failedRow("printf '%0700d\\n' 0; exit 1").error).value_or(QString());
  EXPECT_EQ(wide.size(), 600);
  EXPECT_EQ(wide, "exit 1\n" + QString(593, '0'));
  const tlr::StepResult quiet = failedRow("printf '  \\n\\n  '; exit 4");
  EXPECT_EQ(textOf(quiet.error), "exit 4（无输出）");
  EXPECT_EQ(quiet.details, std::nullopt);

  // A long output keeps its end; bytes that are not UTF-8 are shown as they read.
  const tlr::StepResult chatty =
      failedRow("i=0; while [ $i -lt 20000 ]; do echo line$i; i=$((i+1)); done; exit 1");
  EXPECT_EQ(textOf(chatty.error), "exit 1\nline19996\nline19997\nline19998\nline19999");
  ASSERT_TRUE(chatty.details);
  EXPECT_EQ(chatty.details->size(), tlr::recipe::kDetailsLimit + 1);
  EXPECT_TRUE(chatty.details->startsWith(QStringLiteral("…")));
  EXPECT_TRUE(chatty.details->endsWith("\nline19999"));
  EXPECT_EQ(failedRow("printf 'bad \\377\\n' >&2; echo fine; exit 5").details,
            QStringLiteral("bad \uFFFD\nfine"));
}

TEST(InstallErrorText, RowsAreKeysThatReadInTheInterfaceLanguageOfTheMoment) {
  TempHome home;
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::en);
  EXPECT_EQ(errorOf("exit 3"), "exit 3 (no output)");
  EXPECT_TRUE(errorOf("sleep 30", 1s)->startsWith("The command did not finish within 1 minutes and was stopped.\n"));
  const auto rows = zshUser().runSteps("Agent", {{"true"}}, nullptr);
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(textOf(rows[1].label), "Added PATH to ~/.zshrc (new terminals pick it up)");
  EXPECT_TRUE(AgentInstaller::terminalShellLine({{"true"}}).contains("echo \"✓ Install complete\""));
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::zh);
  EXPECT_EQ(textOf(rows[1].label), "已写入 PATH 到 ~/.zshrc（开新终端即可生效）") << "a row made in English";
  EXPECT_EQ(textOf(zshUser().runSteps("Agent", {{"true"}}, nullptr)[1].label), "PATH 已配置（~/.zshrc）");
  EXPECT_TRUE(AgentInstaller::terminalShellLine({{"true"}}).contains("echo \"✓ 安装完成\""));
}

TEST(InstallTimeout, AHungCommandIsStoppedWithTheTimeoutText) {
  TempHome home;
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(errorOf("sleep 30", 1s),
            "命令超过 1 分钟未完成，已中止。\n常见原因：网络很慢 / npm registry 不通 / 服务器无响应。\n"
            "请检查网络或换镜像（npm config set registry …）后再试。");
  EXPECT_LT(timer.elapsed(), 5000);
}

TEST(InstallTimeout, AChildIgnoringTerminateIsKilled) {
  TempHome home;
  QElapsedTimer timer;
  timer.start();
  EXPECT_TRUE(errorOf("trap '' TERM; sleep 30", 1s)->startsWith("命令超过 1 分钟未完成"));
  EXPECT_LT(timer.elapsed(), 15000);
}

TEST(InstallTimeout, ACrashIsReportedWithItsSignalNotAsTimeout) {
  TempHome home;
  const tlr::StepResult crashed = failedRow("echo boom >&2; kill -SEGV $$");
  EXPECT_EQ(textOf(crashed.error), "signal 11 (SIGSEGV)\nboom");
  EXPECT_EQ(crashed.details, "boom");
  EXPECT_EQ(errorOf("kill -KILL $$"), "signal 9 (SIGKILL)（无输出）");
}

TEST(InstallTimeout, AGrandchildHoldingThePipesDoesNotHangTheStep) {
  TempHome home;
  const QString pidFile = home.path() + "/grandchild";
  QElapsedTimer timer;
  timer.start();
  const auto rows = zshUser().runSteps(
      "Agent", {{"sh", "-c", "sleep 30 & echo $! > '" + pidFile + "'; echo started"}}, nullptr);
  EXPECT_LT(timer.elapsed(), 5000);
  ASSERT_EQ(rows.size(), 2);
  EXPECT_TRUE(rows[0].success);
  const pid_t grandchild = tlr::test::readFile(pidFile).trimmed().toInt();
  if (grandchild > 0) ::kill(grandchild, SIGKILL);
}

TEST(InstallPathSetup, TheBlockIsAddedOnceAndTheFileKeptWhole) {
  TempHome home;
  const QString zshrc = home.writeFile("dotfiles/zshrc", "alias ll='ls -l'\n");
  QFile::setPermissions(zshrc, QFile::ReadOwner | QFile::WriteOwner);
  ASSERT_TRUE(QFile::link(zshrc, home.path() + "/.zshrc"));

  expectRows(zshUser().runSteps("Agent", {{"true"}}, nullptr),
             {{"$ true", true, std::nullopt}, {kWritten, true, std::nullopt}});
  EXPECT_TRUE(QFileInfo(home.path() + "/.zshrc").isSymLink());
  EXPECT_EQ(tlr::test::readFile(zshrc), "alias ll='ls -l'\n\n\n" + kBlock);
  const auto userFlags = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
  EXPECT_EQ(QFile::permissions(zshrc) & ~userFlags, QFile::ReadOwner | QFile::WriteOwner);
  // No temporary file is left beside it.
  EXPECT_EQ(QDir(home.path() + "/dotfiles").entryList(QDir::Files | QDir::Hidden).size(), 1);

  expectRows(zshUser().runSteps("Agent", {{"true"}}, nullptr),
             {{"$ true", true, std::nullopt}, {"PATH 已配置（~/.zshrc）", true, std::nullopt}});
  EXPECT_EQ(tlr::test::readFile(zshrc), "alias ll='ls -l'\n\n\n" + kBlock);
}

// The block and the hint named ~/.zshrc for every user: for a user of bash
// they did nothing.
TEST(InstallPathSetup, TheBlockGoesIntoTheStartFileOfTheUsersShellWhichTheRowsName) {
  TempHome home;
  EXPECT_EQ(AgentInstaller().shellStartFile(), tlr::userShellStartFile());
  const QList<std::pair<QString, QString>> users = {
      {"~/.bashrc", "Added PATH to ~/.bashrc (new terminals pick it up)"},
      {"~/.profile", "Added PATH to ~/.profile (new terminals pick it up)"}};
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::en);
  for (const auto& [file, label] : users) {
    const AgentInstaller installer(tlr::recipe::kCommandTimeout, file);
    expectRows(installer.runSteps("Agent", {{"true"}}, nullptr), {{"$ true", true, std::nullopt}, {label, true, std::nullopt}});
    EXPECT_EQ(tlr::test::readFile(home.path() + file.mid(1)), kBlock);
    EXPECT_EQ(textOf(installer.runSteps("Agent", {{"true"}}, nullptr)[1].label), "PATH already set up (" + file + ")");
  }
  tlr::SettingsStore::shared().setLanguage(tlr::AppLanguage::zh);
  EXPECT_FALSE(QFile::exists(home.path() + "/.zshrc"));
}

TEST(InstallPathSetup, AFileThatIsNotUtf8IsNeverRewritten) {
  TempHome home;
  const QByteArray latin1("export NAME=\"J\xf6rg\"\n");
  home.writeFile(".zshrc", latin1);
  const auto rows = zshUser().runSteps("Agent", {{"true"}}, nullptr);
  ASSERT_EQ(rows.size(), 2);
  EXPECT_EQ(textOf(rows[1].label), "写入 ~/.zshrc 失败");
  EXPECT_FALSE(rows[1].success);
  QFile file(home.path() + "/.zshrc");
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), latin1);
  file.close();

  // One that already holds the block needs no writing: the install succeeded.
  const QByteArray configured = latin1 + "\n" + kBlock.toUtf8();
  home.writeFile(".zshrc", configured);
  expectRows(zshUser().runSteps("Agent", {{"true"}}, nullptr),
             {{"$ true", true, std::nullopt}, {"PATH 已配置（~/.zshrc）", true, std::nullopt}});
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), configured);
}

namespace {

// The PATH step's row of a one-command run, run on a thread: a step that
// blocks is reported (and released through `release`) instead of hanging.
std::optional<tlr::StepResult> pathStep(const std::function<void()>& release = {}) {
  std::atomic<bool> done{false};
  QList<tlr::StepResult> rows;
  std::thread worker([&] {
    rows = zshUser().runSteps("Agent", {{"true"}}, nullptr);
    done = true;
  });
  const bool finished = tlr::test::waitUntil([&] { return done.load(); }, 60s);
  if (!finished && release) release();
  worker.join();
  if (!finished || rows.size() != 2) return std::nullopt;
  return rows[1];
}

}  // namespace

TEST(InstallPathSetup, SpecialFilesAndReadOnlyFilesAreLeftAloneWithTheReason) {
  TempHome home;
  const QString zshrc = home.path() + "/.zshrc";
  ASSERT_EQ(::mkfifo(QFile::encodeName(zshrc).constData(), 0600), 0);
  // A blocked reader is let go by opening the FIFO for writing once.
  const auto fifoRow = pathStep([&] { QFile(zshrc).open(QIODevice::WriteOnly); });
  ASSERT_TRUE(fifoRow.has_value()) << "the FIFO blocked the install";
  EXPECT_EQ(textOf(fifoRow->label), "写入 ~/.zshrc 失败");
  EXPECT_FALSE(fifoRow->success);
  EXPECT_TRUE(textOf(fifoRow->error).value_or("").contains("not a plain file")) << textOf(fifoRow->error)->toStdString();
  EXPECT_FALSE(QFileInfo(zshrc).isFile());
  ASSERT_TRUE(QFile::remove(zshrc));

  // Read without end, /dev/zero would grow memory until the process aborts.
  ASSERT_TRUE(QFile::link("/dev/zero", zshrc));
  const auto deviceRow = pathStep();
  ASSERT_TRUE(deviceRow.has_value());
  EXPECT_FALSE(deviceRow->success);
  EXPECT_TRUE(QFileInfo(zshrc).isSymLink());
  ASSERT_TRUE(QFile::remove(zshrc));

  // A file nobody may write is left alone, also by a process that could.
  home.writeFile(".zshrc", "export KEEP=1\n");
  ASSERT_TRUE(QFile::setPermissions(zshrc, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  const auto readOnlyRow = pathStep();
  ASSERT_TRUE(readOnlyRow.has_value());
  EXPECT_EQ(textOf(readOnlyRow->label), "写入 ~/.zshrc 失败");
  EXPECT_FALSE(readOnlyRow->success);
  EXPECT_TRUE(textOf(readOnlyRow->error).value_or("").contains("只读")) << textOf(readOnlyRow->error)->toStdString();
  EXPECT_EQ(tlr::test::readFile(zshrc), "export KEEP=1\n");
  EXPECT_EQ(QFile::permissions(zshrc) & (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther), QFile::Permissions());
}

namespace {

// The numbers of the "user line <n>" lines of ~/.zshrc's content, sorted.
QList<int> userLineNumbers(const QString& content) {
  QList<int> numbers;
  for (const QString& line : content.split('\n')) {
    if (line.startsWith("user line ")) numbers << line.mid(10).toInt();
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace

TEST(InstallPathSetup, LinesAppendedWhileTheStepRunsAreKept) {
  for (int trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE(trial);
    TempHome home;
    const QString zshrc = home.writeFile(".zshrc", "# mine\n");
    const QString stop = home.path() + "/stop";
    // Appends numbered lines until told to stop: the odd ones through a
    // descriptor held open all along (a file replaced under it would never
    // see them again), the even ones opening the file by name each time. A
    // short pause every 50 lines keeps the file far below the step's size
    // limit however slowly the step gets its turn on a busy machine.
    QProcess writer;
    writer.start("sh", {"-c", QStringLiteral("exec 3>>\"$HOME/.zshrc\"; i=1; while [ ! -e \"%1\" ]; do "
                                             "if [ $((i % 2)) -eq 1 ]; then echo \"user line $i\" >&3; "
                                             "else echo \"user line $i\" >> \"$HOME/.zshrc\"; fi; "
                                             "[ $((i % 50)) -eq 0 ] && sleep 0.01; i=$((i+1)); done")
                                  .arg(stop)});
    ASSERT_TRUE(writer.waitForStarted());
    ASSERT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(zshrc).contains("user line 20\n"); }, 60s));
    const auto row = pathStep();
    // Lines written after the step ended must still reach ~/.zshrc, also
    // those through the descriptor opened before it ran.
    const QList<int> atEnd = userLineNumbers(tlr::test::readFile(zshrc));
    const int last = atEnd.isEmpty() ? 0 : atEnd.back();
    const bool moreArrived = tlr::test::waitUntil(
        [&] {
          const QList<int> now = userLineNumbers(tlr::test::readFile(zshrc));
          return !now.isEmpty() && now.back() >= last + 3;
        },
        60s);
    QFile(stop).open(QIODevice::WriteOnly);
    ASSERT_TRUE(writer.waitForFinished(60000));
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(textOf(row->label), kWritten) << textOf(row->error).value_or("").toStdString();
    EXPECT_TRUE(moreArrived) << "lines written after the step never reached ~/.zshrc";

    const QString content = tlr::test::readFile(zshrc);
    EXPECT_TRUE(content.startsWith("# mine\n"));
    EXPECT_EQ(content.count(kBlock), 1);
    const QList<int> numbers = userLineNumbers(content);
    ASSERT_GE(numbers.size(), 23);
    for (int i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], i + 1) << "user lines were lost";
  }
}

TEST(InstallRequirements, MissingOnesInOrder) {
  TempHome home;
  tlr::test::FakeBin bin;
  bin.add("tlr-on-path-only", "exit 0");
  const QString user = tlr::test::addUserProgram(home, "tlr-user-tool", "exit 0");
  const QList<AgentInstaller::Requirement> requirements{
      {"sh", std::nullopt}, {"tlr-missing", "https://example.org"}, {"tlr-user-tool", std::nullopt},
      {"tlr-on-path-only", std::nullopt}, {user, std::nullopt}, {"/nonexistent/tool", std::nullopt}};
  const auto missing = AgentInstaller::missingRequirements(requirements);
  ASSERT_EQ(missing.size(), 3);
  EXPECT_EQ(missing[0].command, "tlr-missing");
  EXPECT_EQ(missing[0].hintUrl, "https://example.org");
  EXPECT_EQ(missing[1].command, "tlr-on-path-only");
  EXPECT_EQ(missing[2].command, "/nonexistent/tool");
  EXPECT_TRUE(AgentInstaller::missingRequirements(std::nullopt).isEmpty());
}

namespace {

// The environment the line sets up, as every recipe command gets it.
QString prefix() { return tlr::recipe::recipeShellExports(); }
const QString kOutcome = QStringLiteral(
    "echo \"\" && echo \"✓ 安装完成\" && echo TLR_INSTALL_SUCCESS_MARK && sleep 1 && exit 0 || "
    "echo \"✗ 安装失败，请向上滚动查看错误信息\"; exec \"${SHELL:-/bin/sh}\"");

// What the fake terminal was asked to run: its arguments, one per entry.
QStringList waitForTerminal(const tlr::test::FakeBin& bin) {
  const QString record = bin.recordPath("x-terminal-emulator");
  EXPECT_TRUE(tlr::test::waitUntil([&] { return tlr::test::readFile(record).endsWith("--\n"); }));
  QStringList args = tlr::test::readFile(record).split('\n');
  args.removeLast();  // after the final "--"
  args.removeLast();
  return args;
}

}  // namespace

TEST(InstallInTerminal, TheRecipeReachesTheTerminalAsOneShellLine) {
  TempHome home;
  tlr::test::FakeBin bin;  // first on PATH: no real terminal is ever reached
  bin.addRecorder("x-terminal-emulator");
  ASSERT_TRUE(zshUser().openInTerminal(
      {{"npm", "install", "-g", "@scope/agent-cli@1.2"}, {}, {"echo", "a b", "it's", "", "\"q\"\\", "~/bin"},
       {"curl", "https://example.org/x.sh", "名前"}}));
  EXPECT_EQ(waitForTerminal(bin),
            (QStringList{"-e", "/bin/sh", "-c",
                         prefix() + "npm install -g @scope/agent-cli@1.2 && echo 'a b' 'it'\\''s' '' '\"q\"\\' " +
                             home.path() + "/bin && curl https://example.org/x.sh 名前 && " + kOutcome}));
}

TEST(InstallInTerminal, AnEmptyRecipeStillGivesAWorkingLine) {
  TempHome home;
  tlr::test::FakeBin bin;
  bin.addRecorder("x-terminal-emulator");
  ASSERT_TRUE(zshUser().openInTerminal({}));
  EXPECT_EQ(waitForTerminal(bin).value(3), prefix() + kOutcome);
}

TEST(InstallInTerminal, TheLineReportsTheOutcomeWhenRun) {
  TempHome home;
  auto runLine = [](const tlr::CommandList& commands) {
    tlr::ChildSpec spec;
    spec.program = "/bin/sh";
    spec.arguments = {"-c", AgentInstaller::terminalShellLine(commands)};
    QStringList env = QProcessEnvironment::systemEnvironment().toStringList();
    env.append("SHELL=/bin/true");  // the shell kept open after a failure ends at once here
    spec.environment = env;
    spec.timeout = 10s;
    return tlr::runChild(spec);
  };
  const auto failed = runLine({{"true"}, {"sh", "-c", "echo step; exit 3"}, {"echo", "never"}});
  EXPECT_EQ(QString::fromUtf8(failed.out), "step\n✗ 安装失败，请向上滚动查看错误信息\n");
  const auto succeeded = runLine({{"echo", "it's done"}});
  EXPECT_EQ(QString::fromUtf8(succeeded.out), "it's done\n\n✓ 安装完成\nTLR_INSTALL_SUCCESS_MARK\n");
}

TEST(InstallInTerminal, NoTerminalMeansFailure) {
  TempHome home;
  QTemporaryDir empty;
  const QByteArray savedPath = qgetenv("PATH");
  qputenv("PATH", QFile::encodeName(empty.path()));
  const bool started = zshUser().openInTerminal({{"true"}});
  qputenv("PATH", savedPath);
  EXPECT_FALSE(started);
}
