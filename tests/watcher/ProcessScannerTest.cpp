#include "watcher/ProcessScanner.h"

#include "platform/ProcessSignals.h"
#include "platform/ProcessTable.h"
#include "support/RegistryJson.h"
#include "support/FakeAgents.h"
#include "support/SpawnedChild.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>
#include <vector>

namespace tlr {
namespace {

using test::SpawnedChild;

AgentEntry entry(const QString& id, std::function<void(AgentEntry&)> configure = {}) {
  AgentEntry e;
  e.id = id;
  e.displayName = id;
  if (configure) configure(e);
  return e;
}

std::shared_ptr<const AgentRegistry> registryOf(QList<AgentEntry> entries) {
  RegistryFile file;
  file.schemaVersion = 1;
  file.agents = std::move(entries);
  return std::make_shared<const AgentRegistry>(std::move(file));
}

const RunningAgent* recordOf(const QList<RunningAgent>& records, pid_t pid) {
  for (const RunningAgent& r : records)
    if (r.pid == pid) return &r;
  return nullptr;
}

// How a process runs, and the agent a scan takes it for.
struct Shape {
  QString name;  // the kernel's command name
  QStringList argv;
  QString agent;  // empty: not an agent
};

void expectShapes(const ProcessScanner& scanner, const std::vector<Shape>& shapes) {
  for (const Shape& shape : shapes) {
    const std::optional<AgentEntry> found = scanner.identify(shape.name, shape.argv);
    EXPECT_EQ(found ? found->id : QString(), shape.agent) << shape.argv.join(' ').toStdString();
  }
}

class ProcessScannerTest : public ::testing::Test {
 protected:
  // A copy of a system program under a name of our choosing.
  QString program(const QString& name, const QString& source = "/bin/sleep") {
    const QString path = home.path() + "/bin/" + name;
    QDir().mkpath(home.path() + "/bin");
    QFile::copy(source, path);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
  }
  // Waits until a scan sees (or no longer sees) `pid`.
  static bool scanSees(const ProcessScanner& scanner, pid_t pid, bool present = true) {
    return test::waitUntil([&] { return (recordOf(scanner.scanAll(), pid) != nullptr) == present; },
                           std::chrono::seconds(5));
  }

  test::TempHome home;
};

TEST_F(ProcessScannerTest, FindsAProcessByItsWholeLongExecutableName) {
  const QString name = "tlr-scanner-agent-with-a-long-name";  // far past the kernel's 15 bytes
  const ProcessScanner scanner(registryOf({entry("long", [&](AgentEntry& e) {
    e.identify.executableNames = QStringList{name};
  })}));
  const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-2);
  SpawnedChild child(program(name), {"30"});
  ASSERT_TRUE(scanSees(scanner, child.pid()));
  const auto records = scanner.scanAll();
  const RunningAgent* r = recordOf(records, child.pid());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entry.id, "long");
  EXPECT_FALSE(r->bundleId);
  EXPECT_FALSE(r->parentAgentId);
  ASSERT_TRUE(r->launchDate);
  EXPECT_GE(*r->launchDate, before);
  EXPECT_LE(*r->launchDate, QDateTime::currentDateTimeUtc().addSecs(2));
}

TEST_F(ProcessScannerTest, AgentsStartedThroughALinkOrAScriptLineAreSeenRunning) {
  // "~/.local/bin/claude" → a versioned program; and a #! script.
  const QString tag = QString::number(::getpid() % 100000);
  const QString linkName = "tlrlink" + tag, scriptName = "tlrscript" + tag;
  const QString target = program("2.0.14");
  ASSERT_TRUE(QFile::link(target, home.path() + "/bin/" + linkName));
  const QString script = home.writeFile("bin/" + scriptName, "#!/bin/sh\nsleep 30\n");
  QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const ProcessScanner scanner(registryOf({
      entry("linked", [&](AgentEntry& e) { e.identify.executableNames = QStringList{linkName}; }),
      entry("scripted", [&](AgentEntry& e) { e.identify.executableNames = QStringList{scriptName}; }),
  }));
  SpawnedChild linked(home.path() + "/bin/" + linkName, {"30"});
  SpawnedChild scripted(script, {});
  ASSERT_TRUE(scanSees(scanner, linked.pid()));
  ASSERT_TRUE(scanSees(scanner, scripted.pid()));
  const auto records = scanner.scanAll();
  EXPECT_EQ(recordOf(records, linked.pid())->entry.id, "linked");
  EXPECT_EQ(recordOf(records, scripted.pid())->entry.id, "scripted");
}

TEST_F(ProcessScannerTest, ExcludesByWholeArgumentAndRequiresAllOf) {
  const QString shell = program("tlr-scanner-long-shell", "/bin/bash");
  const ProcessScanner scanner(registryOf({entry("shell", [&](AgentEntry& e) {
    e.identify.executableNames = QStringList{"tlr-scanner-long-shell"};
    e.identify.argvExclude = QStringList{"--exclude-me"};
    e.identify.argvAllOf = QStringList{"tlr-must"};
  })}));
  SpawnedChild kept(shell, {"-c", "sleep 30; true", "x", "tlr-must-have", "--exclude-me-not"});
  SpawnedChild excluded(shell, {"-c", "sleep 30; true", "x", "tlr-must-have", "--exclude-me"});
  SpawnedChild lacking(shell, {"-c", "sleep 30; true", "x", "other"});
  ASSERT_TRUE(scanSees(scanner, kept.pid()));
  const auto records = scanner.scanAll();
  EXPECT_FALSE(recordOf(records, excluded.pid()));
  EXPECT_FALSE(recordOf(records, lacking.pid()));
}

TEST_F(ProcessScannerTest, FindsInterpretersByTheirArguments) {
  const ProcessScanner scanner(registryOf({entry("script", [](AgentEntry& e) {
    e.identify.argvMatches = QStringList{"tlr-agent-script.js"};
    e.identify.argvExclude = QStringList{"--version"};
  })}));
  SpawnedChild agent("/bin/bash", {"-c", "sleep 30; true", "/opt/tlr-agent-script.js"});
  SpawnedChild probe("/bin/bash", {"-c", "sleep 30; true", "/opt/tlr-agent-script.js", "--version"});
  ASSERT_TRUE(scanSees(scanner, agent.pid()));
  EXPECT_EQ(recordOf(scanner.scanAll(), agent.pid())->entry.id, "script");
  EXPECT_FALSE(recordOf(scanner.scanAll(), probe.pid()));
}

TEST_F(ProcessScannerTest, AnNpmInstalledAgentRunsUnderNodeAndIsSeenByItsScriptsName) {
  // As `npm install -g` lays it out: <prefix>/bin/<name> links to the
  // package's script, whose "#!/usr/bin/env node" starts `node <link>`.
  const QString name = test::uniqueAgentName("tlr-npm-agent");
  const QString node = test::copyFakeAgent(home.path() + "/node/bin", "node");
  const QString script = home.writeFile(".npm-global/lib/node_modules/@tlr/" + name + "/dist/index.js",
                                        "#!/usr/bin/env node\n");
  QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const QString link = home.path() + "/.npm-global/bin/" + name;
  QDir().mkpath(home.path() + "/.npm-global/bin");
  ASSERT_TRUE(QFile::link(script, link));
  const ProcessScanner scanner(registryOf({entry("npm", [&](AgentEntry& e) {
    e.identify.executableNames = QStringList{name};
    e.identify.argvExclude = QStringList{"--version"};
  })}));
  const QString path = "PATH=" + home.path() + "/node/bin:/usr/bin:/bin";
  SpawnedChild agent("/usr/bin/env", {path, link, "--resume"});
  SpawnedChild probe("/usr/bin/env", {path, link, "--version"});
  ASSERT_TRUE(scanSees(scanner, agent.pid()));
  EXPECT_EQ(ProcessTable::read(agent.pid())->name, "node");
  EXPECT_EQ(recordOf(scanner.scanAll(), agent.pid())->entry.id, "npm");
  EXPECT_FALSE(recordOf(scanner.scanAll(), probe.pid())) << "its exclusions hold as for a program of that name";
}

// How each agent of the shipped registry runs when installed by its recipe,
// and its helpers and short commands, which are not the agent.
TEST(ShippedRegistryShapes, EachInstalledShapeIsItsAgentAndHelpersAreNot) {
  const ProcessScanner scanner(test::registryFromJson(test::readFile(TLR_SOURCE_RESOURCES "/registry.json").toUtf8()));
  const QString npm = "/home/u/.npm-global", pipx = "/home/u/.local/share/pipx/venvs/aider-chat";
  const std::vector<Shape> shapes = {
      {"claude", {"claude", "--continue"}, "claude-code-cli"},  // the native installer's link
      {"node", {"node", npm + "/bin/claude"}, "claude-code-cli"},
      {"node", {"node", npm + "/lib/node_modules/@anthropic-ai/claude-code/cli.js"}, "claude-code-cli"},
      {"node", {"node", npm + "/bin/claude", "--version"}, ""},
      {"claude", {"claude", "mcp", "serve"}, ""},
      // One-shot runs of an agent's program are no session of it: print
      // mode, sub-commands, queries.
      {"claude", {"claude", "-p", "hello"}, ""},
      {"node", {"node", npm + "/bin/claude", "--print", "hello"}, ""},
      {"claude", {"claude", "--output-format=json", "-p", "hi"}, ""},
      {"claude", {"claude", "doctor"}, ""},
      {"claude", {"claude", "update"}, ""},
      {"claude", {"claude", "config", "list"}, ""},
      {"claude", {"claude", "--model", "opus"}, "claude-code-cli"},
      {"claude", {"claude", "explain the -p option"}, "claude-code-cli"},
      {"codex", {"codex", "exec", "write tests"}, ""},
      {"node", {"node", npm + "/bin/codex", "exec", "--json", "x"}, ""},
      {"codex", {"codex", "login"}, ""},
      {"codex", {"codex", "fix the exec bug"}, "codex-cli"},
      // Options before the sub-command take their values: the value is no
      // sub-command, the word after it is.
      {"codex", {"codex", "-m", "o3", "exec", "write tests"}, ""},
      {"codex", {"codex", "--model", "o3", "exec", "write tests"}, ""},
      {"codex", {"codex", "--model=o3", "exec"}, ""},
      {"codex", {"codex", "-c", "model=o3", "exec", "x"}, ""},
      {"node", {"node", npm + "/bin/codex", "-c", "model=o3", "review"}, ""},
      {"codex", {"codex", "-m", "o3", "fix the tests"}, "codex-cli"},
      {"codex", {"codex", "-m", "exec"}, "codex-cli"},  // a model named exec
      {"claude", {"claude", "--model", "opus", "update"}, ""},
      {"claude", {"claude", "--model", "opus", "fix it"}, "claude-code-cli"},
      {"claude", {"claude", "--resume", "update"}, "claude-code-cli"},  // a session named update
      // As the tools themselves read them: a list of values takes every
      // word up to an option.
      {"claude", {"claude", "--add-dir", "../lib", "doctor"}, "claude-code-cli"},
      {"codex", {"codex", "-i", "shot.png", "exec"}, "codex-cli"},
      {"gemini", {"gemini", "-e", "x", "y", "mcp"}, "gemini-cli"},
      {"gemini", {"gemini", "-m", "gemini-2.5-pro", "mcp", "list"}, ""},
      // Today's one-shots of each tool's help.
      {"codex", {"codex", "review"}, ""},
      {"codex", {"codex", "update"}, ""},
      {"codex", {"codex", "doctor"}, ""},
      {"codex", {"codex", "exec-server"}, ""},
      {"codex", {"codex", "remote-control", "start"}, ""},
      {"codex", {"codex", "archive", "s1"}, ""},
      {"codex", {"codex", "fork", "--last"}, "codex-cli"},
      {"claude", {"claude", "auth", "login"}, ""},
      {"claude", {"claude", "ultrareview"}, ""},
      {"claude", {"claude", "--bg", "fix it"}, ""},
      {"claude", {"claude", "logs", "a1b2"}, ""},
      {"claude", {"claude", "stop", "a1b2"}, ""},
      {"claude", {"claude", "attach", "a1b2"}, "claude-code-cli"},
      {"gemini", {"gemini", "extension", "list"}, ""},
      {"gemini", {"gemini", "skills", "list"}, ""},
      {"gemini", {"gemini", "hooks", "migrate"}, ""},
      {"gemini", {"gemini", "gemma", "status"}, ""},
      {"gemini", {"gemini", "--list-sessions"}, ""},
      {"gemini", {"gemini", "--delete-session", "3"}, ""},
      {"gemini", {"gemini", "-r", "latest"}, "gemini-cli"},
      {"node", {"node", npm + "/bin/gemini", "-p", "hi"}, ""},
      {"gemini", {"gemini", "--prompt=hi"}, ""},
      {"gemini", {"gemini", "mcp", "list"}, ""},
      {"gemini", {"gemini", "-i", "start here"}, "gemini-cli"},
      {"aider", {pipx + "/bin/python", "/home/u/.local/bin/aider", "--message", "fix it"}, ""},
      {"node", {"/usr/bin/node", npm + "/bin/codex", "resume", "--last"}, "codex-cli"},
      {"codex", {npm + "/lib/node_modules/@openai/codex/vendor/x86_64-unknown-linux-musl/codex/codex"}, "codex-cli"},
      // 0.171: the script run by its path, and the native program it starts.
      {"node", {"node", npm + "/lib/node_modules/@openai/codex/bin/codex.js", "resume", "--last"}, "codex-cli"},
      {"codex",
       {npm + "/lib/node_modules/@openai/codex/node_modules/@openai/codex-linux-x64/vendor/x86_64-unknown-linux-musl/bin/codex"},
       "codex-cli"},
      {"codex", {"codex", "app-server"}, ""},
      {"node", {"node", npm + "/bin/codex", "mcp-server"}, ""},
      {"node", {"node", npm + "/bin/gemini"}, "gemini-cli"},
      {"node", {"node", "--max-old-space-size=8192", npm + "/bin/gemini"}, "gemini-cli"},  // its relaunched child
      {"node", {"node", npm + "/lib/node_modules/@google/gemini-cli/bundle/gemini.js"}, "gemini-cli"},  // 0.61
      {"node", {"node", "/usr/lib/node_modules/@google/gemini-cli/bundle/gemini.js"}, "gemini-cli"},
      // An interpreter's own options that take a value are no script.
      {"node", {"node", "--require", "/opt/trace.js", npm + "/bin/gemini"}, "gemini-cli"},
      {"python3.11", {"python3", "-W", "ignore", pipx + "/bin/aider"}, "aider"},
      {"node", {"node", npm + "/bin/gemini", "-v"}, ""},
      {"aider", {pipx + "/bin/python", "/home/u/.local/bin/aider"}, "aider"},
      {"python3.11", {pipx + "/bin/python", pipx + "/bin/aider", "--model", "x"}, "aider"},
      {"python3", {"python3", "-m", "aider"}, "aider"},
      {"python3.11", {pipx + "/bin/python", pipx + "/lib/python3.11/site-packages/aider/__main__.py"}, "aider"},
      {"aider", {pipx + "/bin/python", "/home/u/.local/bin/aider", "--just-check-update"}, ""},
      {"node", {"node", npm + "/bin/openclaw", "gateway"}, "openclaw"},
      {"openclaw-gateway", {"openclaw-gateway"}, "openclaw"},  // the title the gateway gives itself
      {"node", {"node", npm + "/bin/openclaw", "gateway", "status"}, ""},
      {"node", {"node", npm + "/bin/openclaw", "tui"}, ""},
      {"cursor", {"/usr/share/cursor/cursor", "--type=renderer"}, ""},
      {"zed-editor", {"/home/u/.local/zed.app/libexec/zed-editor"}, "zed"},
      {"node", {"node", "/srv/app/server.js"}, ""},
      // A shell whose inline command names the agent (a terminal starting it)
      // is not the agent yet.
      {"sh", {"/bin/sh", "-c", "export PATH=\"$HOME/.local/bin:$PATH\"; /home/u/.local/bin/claude"}, ""},
      {"node", {"node", "-e", "require('/home/u/.npm-global/bin/gemini')"}, ""},
  };
  expectShapes(scanner, shapes);
  // Each argument pattern of an entry names what a version of the agent
  // runs: a shape of that agent holds it (a pattern naming a folder no
  // release ships finds nothing).
  for (const AgentEntry& entry : scanner.registry().visibleAgents())
    for (const QString& pattern : entry.identify.argvMatches.value_or(QStringList())) {
      const bool seen = std::any_of(shapes.cbegin(), shapes.cend(), [&](const Shape& shape) {
        return shape.agent == entry.id &&
               std::any_of(shape.argv.cbegin(), shape.argv.cend(), [&](const QString& a) { return a.contains(pattern); });
      });
      EXPECT_TRUE(seen) << entry.id.toStdString() << ": " << pattern.toStdString();
    }
}

// What an uninstall stops: every run of the agent's program, its helpers and
// one-shots too, whatever the one-shot tables of the shipped entries say.
TEST(ShippedRegistryShapes, EveryRunOfTheProgramIsFoundForAnUninstall) {
  const ProcessScanner everyRun(test::registryFromJson(test::readFile(TLR_SOURCE_RESOURCES "/registry.json").toUtf8()),
                                ProcessScanner::Runs::all);
  const QString daemon = "/home/u/.codex/packages/app-server-daemon/releases/0.171.0-x86_64-unknown-linux-musl/bin/codex";
  expectShapes(everyRun, {
      {"codex", {daemon, "app-server", "--listen", "unix://", "--analytics-default-enabled", "--managed-daemon"},
       "codex-cli"},
      {"codex", {daemon, "app-server", "daemon", "pid-update-loop"}, "codex-cli"},
      {"node", {"node", "/home/u/.npm-global/bin/codex", "mcp-server"}, "codex-cli"},
      {"claude", {"claude", "mcp", "serve"}, "claude-code-cli"},
      {"claude", {"claude", "-p", "hello"}, "claude-code-cli"},
      {"node", {"node", "/home/u/.npm-global/bin/gemini", "--version"}, "gemini-cli"},
      {"codex", {"codex"}, "codex-cli"},
      {"node", {"node", "/srv/app/server.js"}, ""},
  });
}

// Another user's process is never ours: a copy of a program that root and
// nobody can run, started as each.
TEST_F(ProcessScannerTest, InstancesTheirFoldersAndOnlyThisUsersProcesses) {
  const QString name = test::uniqueAgentName("tlr-inst");
  QTemporaryDir shared;  // readable by the other user
  ASSERT_TRUE(QFile::copy("/bin/bash", shared.path() + "/" + name));
  const QString path = shared.path() + "/" + name;
  QFile::setPermissions(shared.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                           QFile::ExeOther);
  QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
  const ProcessScanner scanner(registryOf({entry("inst", [&](AgentEntry& e) {
    e.identify.executableNames = QStringList{name};
  })}));
  const QString projA = home.path() + "/projA", projB = home.path() + "/projB";
  QDir().mkpath(projA);
  QDir().mkpath(projB);
  // Instance A starts, through a shell of its own, a helper that starts one
  // more: three levels of the agent below A, one of them no agent. Instance
  // B runs alone.
  const QString third = home.path() + "/third.sh", second = home.path() + "/second.sh", shell = home.path() + "/shell.sh";
  test::writeBytes(third, "sleep 30; true\n");
  test::writeBytes(second, ("'" + path + "' '" + third + "' & sleep 30; true\n").toUtf8());
  test::writeBytes(shell, ("'" + path + "' '" + second + "' & sleep 30; true\n").toUtf8());
  SpawnedChild a("/bin/sh", {"-c", "cd " + projA + " && exec " + path + " -c '/bin/sh " + shell + " & sleep 30; true'"});
  SpawnedChild b("/bin/sh", {"-c", "cd " + projB + " && exec " + path + " -c 'sleep 30; true'"});
  // Each shell forks before it runs `sleep` or a script, and until that
  // fork has exec'd it is one more process of the agent's name: the trees
  // have settled when all five sleeps below A and B run.
  const auto sleepsBelowTheInstances = [&] {
    const ProcessTable table = ProcessTable::snapshot();
    const auto below = [&](const ProcessInfo& process) {
      for (const ProcessInfo* p = &process; p && p->ppid > 1; p = table.find(p->ppid))
        if (p->ppid == a.pid() || p->ppid == b.pid()) return true;
      return false;
    };
    return std::count_if(table.processes().begin(), table.processes().end(),
                         [&](const ProcessInfo& p) { return p.name == QLatin1String("sleep") && below(p); });
  };
  QList<RunningAgent> records;
  // Scanned once they have: a scan begun before could still hold a fork
  // that has not exec'd.
  ASSERT_TRUE(test::waitUntil([&] { return sleepsBelowTheInstances() == 5; }, std::chrono::seconds(10)));
  records = scanner.scanAll();
  ASSERT_EQ(records.size(), 4);
  int helpers = 0;
  for (const RunningAgent& r : records) {
    if (r.pid == a.pid() || r.pid == b.pid()) continue;
    ++helpers;
    EXPECT_EQ(r.instancePid, a.pid()) << "a helper " << helpers << " level(s) below A belongs to A";
  }
  EXPECT_EQ(helpers, 2);
  EXPECT_EQ(recordOf(records, a.pid())->instancePid, a.pid());
  EXPECT_EQ(recordOf(records, b.pid())->instancePid, b.pid());
  EXPECT_EQ(recordOf(records, a.pid())->workingFolder, projA);
  EXPECT_EQ(recordOf(records, b.pid())->workingFolder, projB);
  const QList<RunningAgent> instances = ProcessScanner::instancesOf(records, "inst");
  ASSERT_EQ(instances.size(), 2);
  EXPECT_EQ(instances[0].pid, a.pid());
  EXPECT_EQ(instances[1].pid, b.pid());

  if (::getuid() != 0) GTEST_SKIP() << "starting a process as another user needs root";
  SpawnedChild theirs("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", path, "-c",
                                           "sleep 30; true"});
  ASSERT_TRUE(test::waitUntil([&] {
    const auto info = ProcessTable::read(theirs.pid());
    return info && info->name == name;
  })) << "runs as nobody";
  EXPECT_EQ(ProcessTable::read(theirs.pid())->uid, 65534u);
  EXPECT_FALSE(recordOf(scanner.scanAll(), theirs.pid())) << "another user's agent is not ours";
  EXPECT_EQ(scanner.pidsOf("inst").size(), 4);
  EXPECT_EQ(ProcessSignals::send(theirs.pid(), SIGTERM), EPERM);
  EXPECT_TRUE(ProcessSignals::isAlive(theirs.pid()));
}

TEST_F(ProcessScannerTest, IgnoresZombies) {
  const QString name = "tlr-scanner-zombie-agent";
  const ProcessScanner scanner(registryOf({entry("z", [&](AgentEntry& e) {
    e.identify.executableNames = QStringList{name};
  })}));
  SpawnedChild child(program(name), {"30"});
  ASSERT_TRUE(scanSees(scanner, child.pid()));
  child.signal(SIGKILL);  // not reaped: a zombie until the child object goes
  ASSERT_TRUE(test::waitUntil([&] { return test::readFile(QString("/proc/%1/stat").arg(child.pid())).contains(") Z "); }));
  EXPECT_FALSE(recordOf(scanner.scanAll(), child.pid()));
}

TEST_F(ProcessScannerTest, ScanKeepsTheFirstRecordOfEachAgent) {
  const QString name = "tlr-scanner-twin-agent";
  const ProcessScanner scanner(registryOf({entry("twin", [&](AgentEntry& e) {
    e.identify.executableNames = QStringList{name};
  })}));
  const QString path = program(name);
  SpawnedChild first(path, {"30"});
  SpawnedChild second(path, {"30"});
  ASSERT_TRUE(scanSees(scanner, second.pid()));
  ASSERT_TRUE(scanSees(scanner, first.pid()));
  int inAll = 0;
  for (const RunningAgent& r : scanner.scanAll()) inAll += r.entry.id == "twin";
  EXPECT_EQ(inAll, 2);
  const auto unique = scanner.scan();
  ASSERT_EQ(std::count_if(unique.begin(), unique.end(), [](const RunningAgent& r) { return r.entry.id == "twin"; }), 1);
  EXPECT_EQ(recordOf(unique, std::min(first.pid(), second.pid()))->entry.id, "twin");
}

TEST_F(ProcessScannerTest, DesktopAgentsAndTheCommandLineAgentsInsideThem) {
  const QString app = program("tlr-scanner-desktop-app", "/bin/bash");
  const QString cli = program("tlr-scanner-embedded-cli");
  home.writeFile(".local/share/applications/com.tlr.Desk.desktop",
                 ("[Desktop Entry]\nType=Application\nExec=" + app + " %U\n").toUtf8());
  const ProcessScanner scanner(registryOf({
      entry("desk", [](AgentEntry& e) { e.identify.bundleIds = QStringList{"com.tlr.Desk"}; }),
      entry("cli", [&](AgentEntry& e) { e.identify.executableNames = QStringList{"tlr-scanner-embedded-cli"}; }),
  }));
  SpawnedChild desktop(app, {"-c", cli + " 30; true"});
  ASSERT_TRUE(test::waitUntil([&] {
    const auto records = scanner.scanAll();
    return std::any_of(records.begin(), records.end(), [](const RunningAgent& r) { return r.entry.id == "cli"; });
  }));
  const auto records = scanner.scanAll();
  const RunningAgent* gui = recordOf(records, desktop.pid());
  ASSERT_TRUE(gui);
  EXPECT_EQ(gui->entry.id, "desk");
  EXPECT_EQ(gui->bundleId, "com.tlr.Desk");
  ASSERT_TRUE(gui->app);
  EXPECT_FALSE(gui->parentAgentId);
  EXPECT_EQ(records.first().pid, desktop.pid());  // desktop records come first
  const auto embedded = std::find_if(records.begin(), records.end(), [](const RunningAgent& r) { return r.entry.id == "cli"; });
  EXPECT_EQ(embedded->parentAgentId, "desk");
  EXPECT_EQ(ProcessScanner::parentBundleId(embedded->pid), "com.tlr.Desk");
}

class LaunchdCheck : public ProcessScannerTest {
 protected:
  void SetUp() override {
    bin.addUserManager("tlr.test.up", 77);
    for (const char* label : {"tlr.test.up", "tlr.test.down"}) ProcessScanner::invalidateLaunchdCache(label);
  }
  test::FakeBin bin;
};

TEST_F(LaunchdCheck, InstalledAgentsFollowTheFirstRuleThatApplies) {
  home.writeFile(".local/bin/tlr-installed-cli", "#!/bin/sh\n");
  home.writeFile(".local/share/applications/com.tlr.Gone.desktop", "[Desktop Entry]\nExec=/nonexistent/tlr-gone\n");
  const ProcessScanner scanner(registryOf({
      entry("app-missing", [](AgentEntry& e) {
        e.identify.bundleIds = QStringList{"com.tlr.Gone"};
        e.launchdLabel = "tlr.test.up";
        e.identify.executableNames = QStringList{"tlr-installed-cli"};
      }),
      entry("by-label", [](AgentEntry& e) { e.launchdLabel = "tlr.test.up"; }),
      entry("label-down-cli", [](AgentEntry& e) {
        e.launchdLabel = "tlr.test.down";
        e.identify.executableNames = QStringList{"tlr-absent", "tlr-installed-cli"};
      }),
      entry("nothing", [](AgentEntry& e) { e.identify.executableNames = QStringList{"tlr-absent"}; }),
      entry("hidden", [](AgentEntry& e) {
        e.hidden = true;
        e.launchdLabel = "tlr.test.up";
      }),
  }));
  QStringList ids;
  for (const AgentEntry& e : scanner.scanInstalledAgents()) ids << e.id;
  EXPECT_EQ(ids, (QStringList{"by-label", "label-down-cli"}));
}

}  // namespace
}  // namespace tlr
