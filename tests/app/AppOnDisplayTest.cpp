// The real application on a display of its own (Xvfb): its main window, a
// second start, and the onboarding window of a first run.
#include "platform/Defaults.h"
#include "platform/XDisplay.h"
#include "support/AppFixture.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QStandardPaths>

#include <gtest/gtest-spi.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <optional>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

const QString kWindowName = QStringLiteral("Tollamere");

class AppOnDisplay : public AppFixture {
 protected:
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
  }
  AppProcess& onDisplay(AppSandbox& box) {
    AppProcess& app = process(box);
    app.setEnv(QStringLiteral("DISPLAY"), x_.display());
    return app;
  }
  // Skips the two first-run prompts, as a second run would.
  static void seedFirstRunKeys() {
    tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), true);
    tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
    ASSERT_TRUE(tlr::Defaults::shared().flush());
  }
  // The visible windows named "Tollamere" of `size`.
  QStringList windowsOfSize(QSize size) const {
    QStringList found;
    for (const QString& id : x_.visibleWindows(kWindowName))
      if (x_.windowSize(id) == size) found << id;
    return found;
  }

  // Shows a plain window titled `title` (an X client of the test's own,
  // ended with the test) and returns its id once it is visible.
  QString showPlainWindow(const QString& title) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x_.display());
    plainWindow_.setProcessEnvironment(env);
    if (!XvfbServer::hasProgram(QStringLiteral("xmessage"))) {
      ADD_FAILURE() << "xmessage is not installed (scripts/deps installs it)";
      return {};
    }
    plainWindow_.start(QStringLiteral("xmessage"), {QStringLiteral("-title"), title, title});
    if (!plainWindow_.waitForStarted()) {
      ADD_FAILURE() << "xmessage: " << plainWindow_.errorString().toStdString();
      return {};
    }
    return x_.waitForWindow(title);
  }

  XvfbServer x_;
  QProcess plainWindow_;

 public:
  ~AppOnDisplay() override {
    if (plainWindow_.state() == QProcess::NotRunning) return;
    plainWindow_.kill();
    plainWindow_.waitForFinished(5000);
  }
};

// WCAG 2 contrast between two opaque colours.
double contrast(const QColor& a, const QColor& b) {
  const auto luminance = [](const QColor& c) {
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a text in `image`: its strongest pixel inside `text`
// against the ground at `ground`, just beside it.
double textContrast(const QImage& image, const QRect& text, QPoint ground) {
  const QColor back = image.pixelColor(ground);
  double best = 1;
  for (int y = text.top(); y <= text.bottom(); ++y)
    for (int x = text.left(); x <= text.right(); ++x) best = std::max(best, contrast(image.pixelColor(x, y), back));
  return best;
}

}  // namespace

TEST_F(AppOnDisplay, WithoutATrayTheMainWindowShowsAndASecondStartBringsItForward) {
  seedFirstRunKeys();
  AppSandbox& box = sandbox();
  AppProcess& first = onDisplay(box);
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(waitUntil([&] { return !windowsOfSize({680, 560}).isEmpty(); }, 60s))
      << first.stdOut().toStdString() << first.stdErr().toStdString();

  // The window is centred on the 1280 × 800 screen and painted in the light
  // background (#F8F9FB) once it has drawn; around it the bare root window.
  const QString shot = XvfbServer::screenshotPath(QStringLiteral("main-window.png"));
  const QRgb background = QColor(0xF8, 0xF9, 0xFB).rgb();
  QImage image;
  EXPECT_TRUE(waitUntil(
      [&] {
        image = QImage(x_.screen());
        return !image.isNull() && image.pixelColor(640, 400).rgb() == background;
      },
      15s));
  ASSERT_FALSE(image.isNull());
  image.save(shot);
  EXPECT_EQ(image.size(), QSize(1280, 800));
  EXPECT_NE(image.pixelColor(5, 5).rgb(), background);
  // Its own icon, in both sizes, comes once it has painted.
  const QString window = windowsOfSize({680, 560}).value(0);
  EXPECT_TRUE(waitUntil(
      [&] {
        const QString icon = x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_ICON")});
        return icon.contains(QStringLiteral("Icon (64 x 64)")) && icon.contains(QStringLiteral("Icon (128 x 128)"));
      },
      15s));
  // The log says when the display has the window, and the watches start
  // once each.
  for (const QString& started :
       {appLog::mainWindowOnScreen, QStringLiteral("[LifecycleWatcher] started"), appLog::hangWatchStarted}) {
    EXPECT_TRUE(first.waitForStdout(started)) << started.toStdString();
    EXPECT_EQ(first.stdOut().count(started), 1) << started.toStdString();
  }

  // Texts as drawn reach 4.5:1 (light scheme, Chinese): the white ones on
  // the highlighted card's fill, the tagline, a card's faint line and the
  // section title, each against the ground beside it.
  const QPoint o = x_.windowOrigin(window);
  const struct {
    const char* what;
    QRect text;
    QPoint ground;
  } texts[] = {
      {"highlighted card's title", QRect(36, 126, 36, 13), QPoint(29, 132)},
      {"highlighted card's line", QRect(36, 201, 66, 13), QPoint(29, 207)},
      {"tagline", QRect(128, 72, 120, 15), QPoint(122, 79)},
      {"a card's faint line", QRect(198, 201, 44, 13), QPoint(192, 207)},
      {"section title", QRect(22, 265, 48, 12), QPoint(16, 271)},
  };
  for (const auto& t : texts)
    EXPECT_GE(textContrast(image, t.text.translated(o), t.ground + o), 4.5)
        << t.what << " in " << shot.toStdString();

  AppProcess& second = onDisplay(box);
  ASSERT_TRUE(second.start());
  ASSERT_TRUE(second.waitForExit(20s));
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_TRUE(first.waitForStdout(appLog::broughtForward));
  EXPECT_TRUE(first.isRunning());
  EXPECT_EQ(windowsOfSize({680, 560}).size(), 1) << "one window, not two: the second copy built none";
}

// The display going away (a logout, the X server ended) ends the
// application from inside the toolkit, which calls exit(1): its threads end
// before the static objects go. A pool thread still drawing the start-up's
// icons crashed in the font code (SIGSEGV) in 4 of 9 such ends on a busy
// machine.
TEST_F(AppOnDisplay, TheDisplayGoingAwayEndsTheApplicationWithoutACrash) {
  seedFirstRunKeys();
  AppProcess& app = onDisplay(sandbox());
  ASSERT_TRUE(app.start());
  ASSERT_FALSE(x_.waitForWindow(QStringLiteral("Tollamere"), QSize(680, 560)).isEmpty())
      << app.stdOut().toStdString();
  x_.stop();
  ASSERT_TRUE(app.waitForExit(10s)) << app.stdOut().toStdString();
  EXPECT_TRUE(app.exitedNormally()) << "ended by a signal\n" << app.stdOut().toStdString() << app.stdErr().toStdString();
}

TEST_F(AppOnDisplay, AFirstRunShowsTheOnboardingWindowAboutTwoSecondsAfterStart) {
  AppProcess& app = onDisplay(sandbox());
  QElapsedTimer sinceStart;
  sinceStart.start();
  ASSERT_TRUE(app.start());
  // A machine under load may take a while to connect and build the windows.
  ASSERT_TRUE(waitUntil([&] { return holdsTheLock(app); }, 60s))
      << app.stdOut().toStdString() << app.stdErr().toStdString();
  // Named by its title, in the first run's language.
  const QString onboardingName = QStringLiteral("Tollamere 已启动 👋");
  QString onboarding;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const QString& id : x_.visibleWindows(onboardingName))
          if (x_.windowSize(id).value_or(QSize()).width() == 460) onboarding = id;
        return !onboarding.isEmpty();
      },
      30s))
      << app.stdOut().toStdString() << app.stdErr().toStdString();
  EXPECT_GE(sinceStart.elapsed(), 2000);
  EXPECT_TRUE(waitUntil([] {
    return tlr::Defaults(tlr::Defaults::shared().filePath())
        .boolean(QStringLiteral("TLR.hasShownStatusItemOnboarding"))
        .value_or(false);
  }));
  ASSERT_TRUE(x_.screenshot(XvfbServer::screenshotPath(QStringLiteral("onboarding.png"))));
  // No frame, no task-bar entry of its own, and a minimise is undone.
  QString properties;
  EXPECT_TRUE(waitUntil([&] { return (properties = x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), onboarding})).contains(
                                         QStringLiteral("_NET_FRAME_EXTENTS(CARDINAL) = 0, 0, 0, 0")); }, 10s))
      << "window manager: " << x_.windowManagerEnd().toStdString() << "\n" << properties.toStdString();
  EXPECT_TRUE(x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), onboarding}).contains(
      QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")));
  x_.run(QStringLiteral("xdotool"), {QStringLiteral("windowminimize"), onboarding});
  EXPECT_TRUE(waitUntil([&] { return x_.visibleWindows(onboardingName).contains(onboarding); }, 10s));

  // Return presses "Got it": the window goes, the application stays. The
  // key goes where the keyboard is, so it is pressed once the window has it.
  EXPECT_TRUE(waitUntil([&] { return x_.focusedWindow() == onboarding; }, 30s)) << "the keyboard is on the window";
  x_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--window"), onboarding,
                                     QStringLiteral("Return")});
  EXPECT_TRUE(waitUntil(
      [&] {
        for (const QString& id : x_.visibleWindows(onboardingName))
          if (id == onboarding) return false;
        return true;
      },
      10s));
  EXPECT_TRUE(app.isRunning());
}

// The display's own clients, which every test on a display reads it by. A
// busy machine kept a search of the window tree waiting more than 10 s for
// the server, and the test read the unanswered search as "no such window"
// (the main window "not mapped", the same window "gone"): a client the
// server does not answer fails the test instead.
TEST_F(AppOnDisplay, AnXClientTheServerDoesNotAnswerFailsTheTestInsteadOfReadingAsNoWindow) {
  const QString id = showPlainWindow(QStringLiteral("Shown window"));
  ASSERT_FALSE(id.isEmpty());

  // The server stopped, as a starved one is: the search gets no answer.
  ASSERT_EQ(::kill(static_cast<pid_t>(x_.serverPid()), SIGSTOP), 0);
  QString answer;
  EXPECT_NONFATAL_FAILURE(answer = x_.run(QStringLiteral("xdotool"),
                                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--name"), QStringLiteral("^Shown window$")},
                                          std::chrono::milliseconds(500)),
                          "got no answer from the X server");
  ASSERT_EQ(::kill(static_cast<pid_t>(x_.serverPid()), SIGCONT), 0);
  EXPECT_TRUE(answer.isEmpty());
  // Answered late, it is read.
  EXPECT_FALSE(x_.visibleWindows(QStringLiteral("Shown window")).isEmpty());
}

// A start on an X server that takes connections and never answers (here
// stopped, as a hung one is): the toolkit would wait for its first answer
// for good, before the start's first line, nothing on the screen and nothing
// said. The start asks the server first, says that it waits, and ends,
// saying why, on its standard error too.
// A display the start cannot use, a server that takes the connection and
// never answers (stopped) or one that is gone (a DISPLAY left from an ended
// session): the toolkit would wait for good, or abort, before the first
// line. The start goes on headless and supervises, said.
TEST_F(AppOnDisplay, AStartOnAnXServerThatDoesNotAnswerOrIsGoneGoesOnHeadlessAndSaysWhy) {
  seedFirstRunKeys();
  // A display number nothing serves.
  QString gone;
  for (int n = 900; n < 1000 && gone.isEmpty(); ++n) {
    const QString candidate = QStringLiteral(":%1").arg(n);
    if (tlr::XDisplay::probe(candidate, 1s, 2s).state == tlr::XDisplay::State::unreachable) gone = candidate;
  }
  ASSERT_FALSE(gone.isEmpty());
  const auto server = static_cast<pid_t>(x_.serverPid());
  for (const bool hung : {true, false}) {
    SCOPED_TRACE(hung ? "a stopped server" : "no server");
    AppSandbox& box = sandbox();
    AppProcess& app = onDisplay(box);
    if (!hung) app.setEnv(QStringLiteral("DISPLAY"), gone);
    if (hung) {
      ASSERT_EQ(::kill(server, SIGSTOP), 0);
    }
    ASSERT_TRUE(app.start());
    // Its own bound is 20 s; a busy machine may add to it.
    const QString said = hung ? appLog::displayUnanswered(x_.display()) : appLog::displayUnreachable(gone);
    const bool wentOn = app.waitForStdout(appLog::lockTaken, 90s);
    if (hung) {
      ASSERT_EQ(::kill(server, SIGCONT), 0);
    }
    ASSERT_TRUE(wentOn) << "the start waited for the X server for good, or ended\n" << app.stdOut().toStdString()
                        << app.stdErr().toStdString();
    const QString out = app.stdOut();
    if (hung) {
      const qsizetype slow = out.indexOf(appLog::displaySlow(x_.display()));
      EXPECT_GE(slow, 0) << out.toStdString();
      EXPECT_GT(out.indexOf(said), slow) << out.toStdString();
    }
    EXPECT_GE(out.indexOf(said), 0) << out.toStdString();
    EXPECT_LT(out.indexOf(said), out.indexOf(appLog::lockTaken)) << out.toStdString();
    EXPECT_TRUE(app.stdErr().contains(said)) << app.stdErr().toStdString();
    // Supervising headless: a quit ends it as any other.
    ::kill(static_cast<pid_t>(app.pid()), SIGTERM);
    ASSERT_TRUE(app.waitForExit(30s));
    EXPECT_TRUE(app.exitedNormally()) << app.stdErr().toStdString();
  }
}

// xdotool before 2021 ends its walk of the window tree on the X error of
// any window that went in between, whatever its name, having found
// nothing: that walk is walked again, never read as "no such window".
TEST_F(AppOnDisplay, AWindowWalkEndedByAWindowGoingInBetweenIsWalkedAgain) {
  const QString real = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
  const QString id = showPlainWindow(QStringLiteral("Shown window"));
  ASSERT_FALSE(id.isEmpty());

  // Its first two walks end as that xdotool's do when a window goes.
  FakeBin bin;
  bin.add(QStringLiteral("xdotool"),
          QStringLiteral("count=\"%1/walks\"\n"
                         "echo x >> \"$count\"\n"
                         "if [ \"$(wc -l < \"$count\")\" -le 2 ]; then\n"
                         "  echo 'X Error of failed request:  BadWindow (invalid Window parameter)' >&2\n"
                         "  echo '  Major opcode of failed request:  20 (X_GetProperty)' >&2\n"
                         "  exit 1\n"
                         "fi\n"
                         "exec '%2' \"$@\"\n")
              .arg(bin.path(), real));
  EXPECT_EQ(x_.visibleWindows(QStringLiteral("Shown window")), QStringList{id});
}

// The session's bus as a start meets it: none at all (the toolkit would have
// started one, a fork of the application from a thread of the toolkit's,
// which once hung a start for good before its first line), and one that
// takes connections and never answers (the toolkit waited 25 s for it before
// the start went on, saying nothing). Either way the start goes on without
// it and says why, and a wait is said before it is waited.
TEST_F(AppOnDisplay, AStartGoesOnWithoutASessionBusThatIsMissingOrSilentAndSaysWhy) {
  seedFirstRunKeys();
  // Takes connections into its queue and never reads them.
  const QString silentPath = home_.path() + QStringLiteral("/silent-bus");
  SilentSocket silent(silentPath);
  ASSERT_TRUE(silent.listening());
  const QString silentAddress = QStringLiteral("unix:path=") + silentPath;
  // A runtime folder of this user's without a bus in it.
  const QString runtime = home_.path() + QStringLiteral("/runtime");
  ASSERT_TRUE(QDir().mkpath(runtime));
  ASSERT_TRUE(QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

  struct Case {
    const char* what;
    std::optional<QString> address;
    QStringList linesInOrder;
  };
  const Case cases[] = {
      {"no bus", std::nullopt, {appLog::lockTaken, appLog::noSessionBus}},
      {"a silent bus", silentAddress,
       {appLog::sessionBusSlow(silentAddress), appLog::sessionBusUnused(silentAddress), appLog::lockTaken}},
  };
  AppSandbox& box = sandbox();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AppProcess& app = onDisplay(box);
    app.setEnv(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    if (c.address)
      app.setEnv(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), *c.address);
    else
      app.unsetEnv(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    ASSERT_TRUE(app.start());
    const bool said = app.waitForStdout(c.linesInOrder.last(), 60s);
    EXPECT_TRUE(said) << app.stdOut().toStdString() << app.stdErr().toStdString();
    if (said) {
      const QString out = app.stdOut();
      qsizetype at = 0;
      for (const QString& line : c.linesInOrder) {
        const qsizetype found = out.indexOf(line, at);
        EXPECT_GE(found, 0) << line.toStdString() << " after the lines before it in\n" << out.toStdString();
        if (found >= 0) at = found + line.size();
      }
      // The start went on to its window.
      EXPECT_TRUE(waitUntil([&] { return !windowsOfSize({680, 560}).isEmpty(); }, 60s)) << app.stdOut().toStdString();
    }
    app.stop();
  }
}
