#pragma once

#include "AppProcess.h"
#include "FakeAgents.h"
#include "TestSupport.h"

#include <QFile>
#include <QJsonObject>
#include <QList>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tlr::test {

// Lines of the application's log that black-box tests read where nothing
// else they can see says the same (a request over the instance channel, how
// a quit came about, a shortage the log names), so that a reworded line is
// changed here only. What an event or a file says is read there instead.
namespace appLog {
// The running copy was asked by a second start to come forward.
inline const QString broughtForward = QStringLiteral("[App] 另一实例请求前置 → 显示主窗口");
// The quit was the user's (the menu, Ctrl+Q).
inline const QString userQuit = QStringLiteral("[App] 用户选择退出");
// A quit that the 1.8 s deadline, or work left running, had to end.
inline const QString quitDeadline = QStringLiteral("[App] 退出超时");
inline const QString workLeftAtQuit = QStringLiteral("个后台任务未结束");
// A thread of ours that still ran once the objects of the process were
// about to go.
inline const QString threadsLeftAtExit = QStringLiteral("[App] 退出时仍有线程在跑");
// The quit that `signal` ("SIGTERM") asked for.
inline QString quitOnSignal(const QString& signal) { return QStringLiteral("[App] 收到 ") + signal + QStringLiteral("，退出\n"); }
// Too few descriptors to watch every process, said with the limit.
inline QString descriptorsShort(int limit) { return QStringLiteral("文件描述符不够（上限 %1，").arg(limit); }
// This copy took the single-instance lock (the descriptor follows).
inline const QString lockTaken = QStringLiteral("[App] 单实例锁已获取 (fd=");
// A second start found the lock held; then either it asked the running copy
// to come forward, or it could not (the reason follows).
inline const QString lockHeld = QStringLiteral("[App] 单实例锁被持有 → 已有 TLR 在跑\n");
inline const QString askedToComeForward = QStringLiteral("[App] 已有实例在跑，前置已有窗口并退出本实例\n");
inline const QString couldNotAsk = QStringLiteral("[App] 已有实例在跑，但无法请它前置（");
// Why the registry did not load: the bundle holds none, or it does not
// decode (the decoder's reason follows).
inline const QString registryNotInBundle = QStringLiteral("registry.json 不在 bundle Resources 里");
inline const QString registryUndecodable = QStringLiteral("registry.json 解码失败: ");
// The scan's summary: agents running, agents installed, their processes,
// and the running agents' names.
inline QString scanSummary(int running, int installed, int pids, const QString& names) {
  return QStringLiteral("[Scanner] %1 Agent 在跑 / %2 已装 / %3 pid 全部: %4").arg(running).arg(installed).arg(pids).arg(names);
}
// What marks a line as the scan's summary, and the end of one whose agent
// `name` runs in `pids` processes.
inline const QString scanSummaryMark = QStringLiteral(" Agent 在跑 / ");
inline QString scanSummaryEnd(int pids, const QString& name) {
  return QStringLiteral(" / %1 pid 全部: %2\n").arg(pids).arg(name);
}
// No session bus is used: the session names none, or the one it names
// does not answer (said before the start waits longer for it, and when it
// gives up).
inline const QString noSessionBus = QStringLiteral("[App] 没有会话总线（");
inline QString sessionBusSlow(const QString& address) { return QStringLiteral("[App] 会话总线 ") + address + QStringLiteral(" 1 秒未应答"); }
inline QString sessionBusUnused(const QString& address) {
  return QStringLiteral("[App] 会话总线 ") + address + QStringLiteral(" 5 秒未应答 → 不用它");
}
// The X server of `display` has not answered the start's connection yet (a
// wait said before it is waited), and did not by the start's bound, or could
// not be reached at all: the start goes on headless.
inline QString displaySlow(const QString& display) { return QStringLiteral("[App] X 显示 ") + display + QStringLiteral(" 2 秒未应答"); }
inline QString displayUnanswered(const QString& display) {
  return QStringLiteral("[App] X 显示 ") + display + QStringLiteral(" 20 秒未应答 → 无窗口运行，只做监管");
}
inline QString displayUnreachable(const QString& display) {
  return QStringLiteral("[App] 无法连接 X 显示 ") + display + QStringLiteral("（");
}
// The display shows the main window (its size follows).
inline const QString mainWindowOnScreen = QStringLiteral("[Window] 主窗口已在屏幕上");
// A verification mode stopped by a signal: its work wound down by itself
// (the seconds since the signal follow), or did not by the stop deadline
// and was cut off.
inline const QString modeWoundDown = QStringLiteral("[App] 验证模式已停下：收到信号后 ");
inline const QString modeStopDeadline = QStringLiteral("[App] 验证模式 10 秒内未停下");
// The reports folder is watched from now on (the folder follows).
inline const QString hangWatchStarted = QStringLiteral("[HangWatcher] 开始监听 ");
}  // namespace appLog

// How long the application may take from a quit (Quit, SIGTERM) to its end:
// 2 s, and in a sanitized build the sanitizer's leak check at the end on
// top (kSanitizerSlowdown).
inline constexpr std::chrono::milliseconds kQuitWithin = std::chrono::seconds(2) * kSanitizerSlowdown;

// What the black-box tests of the running application share: a temporary
// HOME, fakes first on PATH, sandboxed copies of the application, and a
// ledger of the stand-in agent processes, which outlives the application's
// processes: every agent left behind, also one the application relaunched,
// is killed after the application has stopped.
class AppFixture : public ::testing::Test {
 protected:
  // The programs the application asks about the machine answer as on a
  // machine without user services, npm or pipx: never the real ones.
  AppFixture() {
    fakeBin_.add(QStringLiteral("systemctl"), QStringLiteral("echo MainPID=0\necho ActiveState=inactive\n"));
    // npm and pipx are looked for in the user's program folders before PATH
    // (and before /usr/bin): the fakes lie in one of them.
    for (const QString& name : {QStringLiteral("npm"), QStringLiteral("pipx")}) {
      const QString fake = home_.writeFile(QStringLiteral(".volta/bin/") + name, "#!/bin/sh\nexit 1\n");
      QFile::setPermissions(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    fakeBin_.addRecorder(QStringLiteral("notify-send"));
  }

  // A copy of the application whose bundle holds `registryJson` (none when
  // absent); the default is the shipped registry.
  AppSandbox& sandbox(const std::optional<QByteArray>& registryJson = AppSandbox::shippedRegistry()) {
    sandboxes_.push_back(std::make_unique<AppSandbox>(registryJson));
    return *sandboxes_.back();
  }
  // A process of `box`, not yet started; stopped when the test ends.
  AppProcess& process(const AppSandbox& box) {
    processes_.push_back(std::make_unique<AppProcess>(box));
    return *processes_.back();
  }
  // The lock file of the running application under this HOME.
  QString lockFile() const { return home_.path() + QStringLiteral("/.local/share/Tollamere/single-instance.lock"); }
  // The search path the application is started with, as PATH is now but
  // without any program named in `missing` (a terminal program, the desktop's
  // opener): a folder of it that holds one is replaced by a folder of links
  // to the rest of its programs, under the temporary HOME. The machine's
  // own programs may not be taken away otherwise.
  QString pathWithout(const QStringList& missing);

  // The events the application has stored for `agentId`, oldest first.
  QList<QJsonObject> storedEvents(const QString& agentId) const;
  // Their types, oldest first.
  QStringList storedEventTypes(const QString& agentId) const;
  // Whether the application stored an event of `type` for `agentId` that
  // says the text of `key` (its values aside).
  bool hasStoredEvent(const QString& agentId, const QString& type, const QString& key) const;
  // Whether the application `app` holds the lock: its pid is in the lock file.
  bool holdsTheLock(const AppProcess& app) const {
    return readFile(lockFile()) == QString::number(app.pid()) + '\n';
  }

  TempHome home_;
  FakeBin fakeBin_;
  FakeAgentLedger agents_{home_.path() + QStringLiteral("/agent-pids")};

 private:
  std::vector<std::unique_ptr<AppSandbox>> sandboxes_;
  // Declared after the sandboxes: processes stop before their copies go.
  std::vector<std::unique_ptr<AppProcess>> processes_;
};

}  // namespace tlr::test
