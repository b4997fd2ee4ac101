// The real application on a display of its own, read and driven over AT-SPI
// the way a screen reader does (and clicked with xdotool where a mouse user
// would): every window is named, ticks and switches act on their toggled
// state, a sheet opens inside the main window, and the windows speak this
// platform's words in English and in Chinese.
#include "platform/Defaults.h"
#include "platform/ProcessSignals.h"
#include "platform/TerminalLauncher.h"
#include "support/AccessibilityBus.h"
#include "support/AppFixture.h"
#include "support/FakeAgents.h"
#include "support/RegistryJson.h"
#include "support/XvfbServer.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRect>
#include <QRegularExpression>

#include <csignal>

using namespace tlr::test;
using namespace std::chrono_literals;

namespace {

const QString kDemo = QStringLiteral("tlr-demo");
const QString kDemoName = QStringLiteral("Tlr Demo");
// An agent whose 80-character name is wider than any sheet.
const QString kLongName = QStringLiteral("Tlr Long ") + QString(71, QLatin1Char('n'));

// A path the uninstaller refuses: outside the home folder.
const QString kRefusedPath = QStringLiteral("/usr/local/lib/node_modules/tlr-demo");

// One stand-in agent: its install makes ~/.tlr-demo/bin/tlr-demo and links
// it into ~/.local/bin (so the next scan finds it installed); its uninstall
// lists the program's folders, a cache, the user's data and a path it
// refuses.
QByteArray demoRegistry(const QString& liveProgram = {}) {
  const QString install = QStringLiteral(
      "mkdir -p \"$HOME/.tlr-demo/bin\" \"$HOME/.local/bin\" && printf '#!/bin/sh\\nexit 0\\n' > "
      "\"$HOME/.tlr-demo/bin/tlr-demo\" && chmod +x \"$HOME/.tlr-demo/bin/tlr-demo\" && "
      "ln -sf \"$HOME/.tlr-demo/bin/tlr-demo\" \"$HOME/.local/bin/tlr-demo\"");
  QJsonArray agents{QJsonObject{
      {QStringLiteral("id"), kDemo},
      {QStringLiteral("displayName"), kDemoName},
      {QStringLiteral("vendor"), QStringLiteral("tollamere tests")},
      {QStringLiteral("kind"), QStringLiteral("cli")},
      {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{kDemo}}}},
      {QStringLiteral("install"),
       QJsonObject{{QStringLiteral("commands"), QJsonArray{QJsonArray{QStringLiteral("sh"), QStringLiteral("-c"), install}}}}},
      {QStringLiteral("uninstall"),
       QJsonObject{{QStringLiteral("paths"), QJsonArray{QStringLiteral("~/.tlr-demo"), QStringLiteral("~/.local/bin/tlr-demo"),
                                                         QStringLiteral("~/.tlr-demo-cache"), kRefusedPath}},
                   {QStringLiteral("userDataPaths"), QJsonArray{QStringLiteral("~/.tlr-demo-data")}}}},
  }};
  agents.append(QJsonObject{
      {QStringLiteral("id"), QStringLiteral("tlr-long")},
      {QStringLiteral("displayName"), kLongName},
      {QStringLiteral("vendor"), QStringLiteral("tollamere tests")},
      {QStringLiteral("kind"), QStringLiteral("cli")},
      {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{QStringLiteral("tlr-long")}}}},
      {QStringLiteral("install"), QJsonObject{{QStringLiteral("commands"), QJsonArray{QJsonArray{QStringLiteral("true")}}}}},
  });
  if (!liveProgram.isEmpty()) {
    const QString name = QFileInfo(liveProgram).fileName();
    agents.append(QJsonObject{
        {QStringLiteral("id"), QStringLiteral("tlr-live")},
        {QStringLiteral("displayName"), QStringLiteral("Live Agent")},
        {QStringLiteral("vendor"), QStringLiteral("tollamere tests")},
        {QStringLiteral("kind"), QStringLiteral("cli")},
        {QStringLiteral("identify"), QJsonObject{{QStringLiteral("executableNames"), QJsonArray{name}}}},
        {QStringLiteral("recover"), QJsonObject{{QStringLiteral("strategy"), QStringLiteral("exec-cli")},
                                                {QStringLiteral("command"), QJsonArray{liveProgram, QStringLiteral("plain")}}}},
        // Its configuration folder: its setup opens it, and its data is
        // what a backup would take.
        {QStringLiteral("backup"),
         QJsonObject{{QStringLiteral("discovery"),
                      QJsonObject{{QStringLiteral("primaryHomes"), QJsonArray{QStringLiteral("~/.tlr-live-config")}}}}}},
    });
  }
  return QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 1},
                                   {QStringLiteral("updatedAt"), QStringLiteral("2025-01-01")},
                                   {QStringLiteral("agents"), agents}})
      .toJson();
}

// What the windows must never say on this platform.
const QRegularExpression kMacWords(
    QStringLiteral("\\bMac\\b|Finder|\\bDock\\b|menu bar|⌘|Terminal\\.app|Homebrew|macOS|System Settings|"
                   "200 GB|菜单栏|访达|系统设置"));

class WindowsOverAtSpi : public AppFixture {
 protected:
  explicit WindowsOverAtSpi(QSize screen = QSize(1280, 800), int panel = 0) : x_(screen, panel) {}
  void SetUp() override {
    if (!x_.failure().isEmpty()) GTEST_SKIP() << x_.failure().toStdString();
    if (!bus_.failure().isEmpty()) GTEST_SKIP() << bus_.failure().toStdString();
    if (!XvfbServer::hasProgram(QStringLiteral("xdotool"))) GTEST_SKIP() << "xdotool is not installed";
  }

  // Starts the application in `language` with the first-run prompts behind
  // it: English in the light scheme, Chinese in the dark one (so the
  // pictures show both).
  AppProcess& start(const QByteArray& registry, const QString& language, bool onboarded = true) {
    tlr::Defaults::shared().set(QStringLiteral("TLR.appearance"),
                                language == QStringLiteral("zh") ? QStringLiteral("dark") : QStringLiteral("light"));
    tlr::Defaults::shared().set(QStringLiteral("TLR.hasShownStatusItemOnboarding"), onboarded);
    tlr::Defaults::shared().set(QStringLiteral("TLR.selfGuard.asked"), true);
    tlr::Defaults::shared().set(QStringLiteral("TLR.language"), language);
    EXPECT_TRUE(tlr::Defaults::shared().flush());
    AppProcess& app = process(sandbox(registry));
    app.setEnv(QStringLiteral("DISPLAY"), x_.display());
    // No terminal program and no opener, whatever this machine has: what
    // needs them fails, and says so.
    app.setEnv(QStringLiteral("PATH"), pathWithout(tlr::TerminalLauncher::candidates() + QStringList{QStringLiteral("xdg-open")}));
    bus_.attach(app);
    EXPECT_TRUE(app.start());
    pid_ = app.pid();
    EXPECT_TRUE(waitForWindow(QStringLiteral("Tollamere"), 90s).has_value())
        << app.stdOut().toStdString() << app.stdErr().toStdString();
    // Placed: the window shows on the display, and the reader is told where
    // the X server has it (a place read before would be the one the window
    // asked for, without the title bar of the frame round it).
    QString& id = mainId_;
    EXPECT_TRUE(waitUntil(
        [&] {
          if (id.isEmpty()) id = x_.windowNamed(QStringLiteral("Tollamere"));
          return !id.isEmpty() && extentsOf(QStringLiteral("Tollamere")).topLeft() == x_.windowOrigin(id);
        },
        60s))
        << (id.isEmpty() ? "the main window is not shown on the display: " +
                               x_.whyNotShown(QStringLiteral("Tollamere")).toStdString() + "; window manager " +
                               x_.windowManagerEnd().toStdString() + "\n" + app.stdOut().toStdString()
                         : "the reader has the window at " + std::to_string(extentsOf(QStringLiteral("Tollamere")).x()) +
                               "," + std::to_string(extentsOf(QStringLiteral("Tollamere")).y()) + ", the X server at " +
                               std::to_string(x_.windowOrigin(id).x()) + "," + std::to_string(x_.windowOrigin(id).y()));
    return app;
  }

  std::optional<QJsonObject> windowNamed(const QString& name) const {
    for (const QJsonValue& w : bus_.windows(pid_))
      if (w.toObject().value(QStringLiteral("name")).toString() == name) return w.toObject();
    return std::nullopt;
  }
  std::optional<QJsonObject> waitForWindow(const QString& name, std::chrono::milliseconds timeout = 30s) const {
    std::optional<QJsonObject> found;
    waitUntil([&] { return (found = windowNamed(name)).has_value(); }, timeout);
    return found;
  }
  bool waitForNoWindow(const QString& name) const {
    return waitUntil([&] { return !windowNamed(name).has_value(); }, 30s);
  }
  // A window's extents, empty while the reader cannot find it (a probe that
  // ran while the tree changed).
  QRect extentsOf(const QString& window) const {
    const std::optional<QJsonObject> found = windowNamed(window);
    return found ? extents(*found) : QRect();
  }
  static QRect extents(const QJsonObject& node) {
    const QJsonArray e = node.value(QStringLiteral("extents")).toArray();
    return {e.at(0).toInt(), e.at(1).toInt(), e.at(2).toInt(), e.at(3).toInt()};
  }
  // The node of `role` and `name` in `window`, once it is showing.
  QJsonObject waitForNode(const QString& window, const QString& role, const QString& name) const {
    QJsonObject node;
    waitUntil([&] { return !(node = AccessibilityBus::find(bus_.tree(pid_, window), role, name)).isEmpty(); }, 30s);
    return node;
  }
  // Does `action` on the node once the reader finds it: the sheet may still
  // be on its way, or its nodes change while the reader walks them. A
  // failure after the action was asked for is not tried again.
  bool act(const QString& window, const QString& role, const QString& name, const QString& action) const {
    QJsonObject answer;
    waitUntil(
        [&] {
          answer = bus_.act(pid_, window, role, name, action);
          return !answer.contains(QStringLiteral("error")) || answer.value(QStringLiteral("acted")).toBool();
        },
        30s);
    EXPECT_FALSE(answer.contains(QStringLiteral("error")))
        << window.toStdString() << " / " << name.toStdString() << ": "
        << answer.value(QStringLiteral("error")).toString().toStdString();
    return !answer.contains(QStringLiteral("error"));
  }
  // The dashboard's row of the agent named `name`, once a scan shows it
  // (empty when none does).
  QJsonObject waitForRow(const QString& name) const {
    QJsonObject row;
    waitUntil(
        [&] {
          for (const QJsonValue& node : bus_.tree(pid_, QStringLiteral("Tollamere")))
            if (node.toObject().value(QStringLiteral("name")).toString() == name &&
                node.toObject().value(QStringLiteral("role")).toString() != QStringLiteral("label"))
              row = node.toObject();
          return !row.isEmpty();
        },
        30s);
    return row;
  }
  // Clicks the row until the agent's detail sheet (named `name`) is open.
  bool openDetailSheet(const QJsonObject& row, const QString& name) const {
    return waitUntil(
        [&] {
          clickAt(extents(row).center());
          return windowNamed(name).has_value();
        },
        30s);
  }
  bool press(const QString& window, const QString& name) const {
    return act(window, QStringLiteral("push button"), name, QStringLiteral("Press"));
  }
  bool toggle(const QString& window, const QString& name) const {
    return act(window, QStringLiteral("check box"), name, QStringLiteral("Toggle"));
  }
  void clickAt(QPoint at) const {
    x_.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                       QStringLiteral("click"), QStringLiteral("1")});
  }
  // Every text a window shows or names, for the words check.
  QStringList textsOf(const QString& window) const {
    QStringList texts;
    for (const QJsonValue& node : bus_.tree(pid_, window)) {
      const QJsonObject o = node.toObject();
      for (const char* key : {"name", "text"})
        if (const QString t = o.value(QLatin1String(key)).toString(); !t.isEmpty()) texts << t;
    }
    return texts;
  }
  void expectNoMacWords(const QString& window) const {
    const QStringList texts = textsOf(window);
    EXPECT_FALSE(texts.isEmpty()) << window.toStdString();
    for (const QString& text : texts)
      EXPECT_FALSE(text.contains(kMacWords)) << window.toStdString() << ": " << text.toStdString();
  }
  // A picture of the whole screen: into the build folder at once, or, with
  // TLR_SCREENSHOT_DIR set (scripts/screenshots), there once the screen has
  // settled (two pictures alike but for an animation's few pixels).
  void shoot(const QString& name) const {
    const QString wanted = qEnvironmentVariable("TLR_SCREENSHOT_DIR");
    const QString dir = wanted.isEmpty() ? QStringLiteral(TLR_TEST_BIN_DIR "/screenshots") : wanted;
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name;
    if (wanted.isEmpty()) {
      x_.screenshot(path);
      return;
    }
    QImage last;
    waitUntil(
        [&] {
          if (!x_.screenshot(path)) return false;
          const QImage now = QImage(path).convertToFormat(QImage::Format_RGB32);
          const bool settled = !now.isNull() && now.size() == last.size() && differingPixels(now, last) < 2000;
          last = now;
          return settled;
        },
        10s);
  }
  static qsizetype differingPixels(const QImage& a, const QImage& b) {
    qsizetype count = 0;
    for (int y = 0; y < a.height(); ++y) {
      const auto* ra = reinterpret_cast<const QRgb*>(a.constScanLine(y));
      const auto* rb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
      for (int x = 0; x < a.width(); ++x) count += ra[x] != rb[x];
    }
    return count;
  }
  QString home(const QString& relative) const { return home_.path() + QLatin1Char('/') + relative; }
  // Where an X window lies on the screen with the window manager's frame
  // around it (title bar, borders, the handle under it): the X server's
  // geometry and _NET_FRAME_EXTENTS (what a reader is told of a window that
  // the window manager moved may lag behind).
  QRect framed(const QString& windowId) const {
    const QRect client(x_.windowOrigin(windowId), x_.windowSize(windowId).value_or(QSize()));
    const QString answer =
        x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), windowId, QStringLiteral("_NET_FRAME_EXTENTS")});
    const QStringList parts = answer.section(QLatin1Char('='), 1).split(QLatin1Char(','));
    if (parts.size() != 4) return client;
    return client.adjusted(-parts[0].trimmed().toInt(), -parts[2].trimmed().toInt(), parts[1].trimmed().toInt(),
                           parts[3].trimmed().toInt());
  }
  // Every push button of `window` lies inside `area`.
  void expectButtonsInside(const QString& window, QRect area) const {
    int buttons = 0;
    for (const QJsonValue& node : bus_.tree(pid_, window)) {
      const QJsonObject o = node.toObject();
      if (o.value(QStringLiteral("role")).toString() != QStringLiteral("push button")) continue;
      ++buttons;
      const QRect box = extents(o);
      EXPECT_TRUE(area.contains(box)) << window.toStdString() << ": \"" << o.value(QStringLiteral("name")).toString().toStdString()
                                      << "\" at " << box.x() << "," << box.y() << " " << box.width() << "x"
                                      << box.height() << " past the edge of " << area.width() << "x" << area.height();
    }
    EXPECT_GT(buttons, 0) << window.toStdString();
  }

  void key(const QString& name) const { x_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), name}); }
  // The node that has the keyboard focus, empty while none has.
  QJsonObject focused() const { return bus_.focused(pid_); }
  QString focusedName() const { return focused().value(QStringLiteral("name")).toString(); }
  // Tab until the control named `name` has the focus.
  bool tabTo(const QString& name) const {
    for (int i = 0; i < 40; ++i) {
      if (waitUntil([&] { return focusedName() == name; }, 300ms)) return true;
      key(QStringLiteral("Tab"));
    }
    return focusedName() == name;
  }
  // Whether the screen shows the focus ring, in the scheme's accent colour,
  // along `box`: at least half its outline in pixels of that colour.
  bool ringAround(const QRect& box, bool dark) const {
    const QImage screen(x_.screen());
    if (screen.isNull() || box.isEmpty()) return false;
    const QColor accent = dark ? QColor(0x60, 0xA5, 0xFA) : QColor(0x3B, 0x82, 0xF6);
    int onRing = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
      for (int x = box.left(); x <= box.right(); ++x) {
        const QColor c = screen.pixelColor(x, y);
        onRing += std::abs(c.red() - accent.red()) <= 10 && std::abs(c.green() - accent.green()) <= 10 &&
                  std::abs(c.blue() - accent.blue()) <= 10;
      }
    return onRing >= box.width() + box.height();
  }
  // The alert `title` is up with the keyboard on its button `button`, whose
  // ring shows as soon as it opens (the window manager activating it).
  void expectAlertFocusedWithRing(const QString& title, const QString& button, bool dark) const {
    ASSERT_TRUE(waitForWindow(title)) << title.toStdString();
    EXPECT_TRUE(waitUntil([&] { return focusedName() == button; }, 30s))
        << title.toStdString() << ": focus on \"" << focusedName().toStdString() << "\"";
    EXPECT_TRUE(waitUntil([&] { return ringAround(extents(focused()), dark); }, 10s))
        << title.toStdString() << ": no ring on \"" << button.toStdString() << "\"";
  }

  XvfbServer x_;
  AccessibilityBus bus_;
  qint64 pid_ = 0;
  // The main window's id on the display, found by start().
  QString mainId_;
};

}  // namespace

// The words a test reads in a language.
struct Words {
  QString language, addAgent, install, done, close, uninstall, installTitle, uninstallTitle;
  QSize screen = QSize(1280, 800);
  // A desktop panel's height at the bottom of the screen.
  int panel = 0;
};
const Words kEnglish{QStringLiteral("en"), QStringLiteral("Add Agent"), QStringLiteral("Install"),
                     QStringLiteral("Done"), QStringLiteral("Close"), QStringLiteral("Uninstall"),
                     QStringLiteral("Install Tlr Demo"), QStringLiteral("Uninstall Tlr Demo")};
const Words kChinese{QStringLiteral("zh"), QStringLiteral("添加 Agent"), QStringLiteral("安装"), QStringLiteral("完成"),
                     QStringLiteral("关闭"), QStringLiteral("彻底卸载"), QStringLiteral("安装 Tlr Demo"),
                     QStringLiteral("卸载 Tlr Demo")};
// A netbook's screen with a 24-px panel, shorter than the window with its
// frame, and than the window grown for the uninstall sheet.
const Words kEnglishOnAShortScreen = [] {
  Words words = kEnglish;
  words.screen = QSize(1024, 600);
  words.panel = 24;
  return words;
}();

class UninstallOverAtSpi : public WindowsOverAtSpi, public ::testing::WithParamInterface<Words> {
 protected:
  UninstallOverAtSpi() : WindowsOverAtSpi(GetParam().screen, GetParam().panel) {}
};

void PrintTo(const Words& words, std::ostream* out) {
  *out << words.language.toStdString() << " " << words.screen.width() << "x" << words.screen.height();
}

// Install through the add-agent sheet, then uninstall through the detail
// sheet, with every choice made by a screen reader's "Toggle": the unticked
// cache stays, the ticked user data goes, and the button's total follows.
TEST_P(UninstallOverAtSpi, AScreenReadersTicksDecideWhatAnUninstallRemoves) {
  const Words& w = GetParam();
  const bool shortScreen = w.screen != QSize(1280, 800);
  const QString lang = QLatin1Char('-') + w.language +
                       (shortScreen ? QStringLiteral("-%1x%2").arg(w.screen.width()).arg(w.screen.height()) : QString()) +
                       QStringLiteral(".png");
  // What the panel leaves of the screen.
  const QRect screen(QPoint(), w.screen - QSize(0, w.panel));
  home_.writeFile(QStringLiteral(".tlr-demo-cache/blob"), QByteArray(300'000, 'c'));
  home_.writeFile(QStringLiteral(".tlr-demo-data/memory.md"), QByteArray(40'000, 'm'));
  AppProcess& app = start(demoRegistry(), w.language);
  // The window with its frame on the screen, made shorter where the screen
  // cannot hold its 560 px and the frame.
  const QString mainId = mainId_;
  QRect mainFrame;
  EXPECT_TRUE(waitUntil([&] { return screen.contains(mainFrame = framed(mainId)); }, 10s))
      << "window " << mainFrame.x() << "," << mainFrame.y() << " " << mainFrame.width() << "x" << mainFrame.height();
  const QRect mainWindow = extentsOf(QStringLiteral("Tollamere"));
  if (w.panel == 0) {
    ASSERT_EQ(mainWindow.size(), QSize(680, 560));
  }
  shoot(QStringLiteral("blackbox-0-main") + lang);

  ASSERT_TRUE(press(QStringLiteral("Tollamere"), w.addAgent));
  ASSERT_TRUE(waitForWindow(w.addAgent));
  // The 80-character name is shortened: both Install buttons on the sheet.
  expectButtonsInside(w.addAgent, extentsOf(w.addAgent));
  shoot(QStringLiteral("blackbox-1-add-agent") + lang);
  // Its Install button says which agent it installs.
  ASSERT_TRUE(press(w.addAgent, w.installTitle));
  ASSERT_TRUE(waitForWindow(w.installTitle));
  ASSERT_FALSE(waitForNode(w.installTitle, QStringLiteral("push button"), w.done).isEmpty())
      << app.stdOut().toStdString();
  shoot(QStringLiteral("blackbox-2-installed") + lang);
  ASSERT_TRUE(QFileInfo::exists(home(QStringLiteral(".local/bin/tlr-demo"))));
  ASSERT_TRUE(press(w.installTitle, w.done));
  ASSERT_TRUE(waitForNoWindow(w.installTitle));
  if (windowNamed(w.addAgent)) {
    ASSERT_TRUE(press(w.addAgent, w.close));
  }
  ASSERT_TRUE(waitForNoWindow(w.addAgent));

  // The next scan shows the row; a click on it opens the detail sheet.
  const QJsonObject row = waitForRow(kDemoName);
  ASSERT_FALSE(row.isEmpty());
  shoot(QStringLiteral("blackbox-3-row") + lang);
  ASSERT_TRUE(openDetailSheet(row, kDemoName));
  shoot(QStringLiteral("blackbox-detail") + lang);
  // The window with its frame, the sheet and the sheet's buttons are on the
  // screen.
  mainFrame = framed(mainId);
  EXPECT_TRUE(screen.contains(mainFrame)) << "window " << mainFrame.x() << "," << mainFrame.y() << " "
                                          << mainFrame.width() << "x" << mainFrame.height();
  EXPECT_TRUE(mainWindow.contains(extentsOf(kDemoName)));
  expectButtonsInside(kDemoName, extentsOf(kDemoName));
  ASSERT_TRUE(press(kDemoName, w.uninstall));
  ASSERT_TRUE(waitForWindow(w.uninstallTitle));

  // The sheet opened inside the main window, which grew to hold it as far as
  // the screen lets it (frame included); on a short screen the sheet is made
  // shorter, its list scrolls, and its buttons stay in view.
  QRect grown = extentsOf(QStringLiteral("Tollamere"));
  if (w.panel == 0) {
    EXPECT_TRUE(waitUntil([&] { return (grown = extentsOf(QStringLiteral("Tollamere"))).height() > 560; }, 10s));
  }
  const QRect sheet = extentsOf(w.uninstallTitle);
  EXPECT_TRUE(grown.contains(sheet)) << "sheet " << sheet.y() << "+" << sheet.height() << " in " << grown.y() << "+"
                                     << grown.height();
  const QRect grownFrame = framed(mainId);
  EXPECT_TRUE(screen.contains(grownFrame)) << "window " << grownFrame.y() << "+" << grownFrame.height();
  if (!shortScreen) {
    EXPECT_GE(grown.height(), 620);
  }

  // Sizes arrive; then the reader unticks the cache and ticks the data.
  QJsonObject cacheBox;
  ASSERT_TRUE(waitUntil(
      [&] {
        cacheBox = AccessibilityBus::find(bus_.tree(pid_, w.uninstallTitle), QStringLiteral("check box"),
                                          QStringLiteral("~/.tlr-demo-cache"));
        return cacheBox.value(QStringLiteral("enabled")).toBool();
      },
      30s));
  EXPECT_TRUE(cacheBox.value(QStringLiteral("checked")).toBool());
  // The refused path is unticked and cannot be ticked before the click, and
  // the reader hears why.
  const QJsonObject refusedBox = AccessibilityBus::find(bus_.tree(pid_, w.uninstallTitle), QStringLiteral("check box"),
                                                        kRefusedPath);
  ASSERT_FALSE(refusedBox.isEmpty());
  EXPECT_FALSE(refusedBox.value(QStringLiteral("checked")).toBool());
  EXPECT_FALSE(refusedBox.value(QStringLiteral("enabled")).toBool());
  EXPECT_EQ(refusedBox.value(QStringLiteral("description")).toString(),
            w.language == QStringLiteral("zh") ? QStringLiteral("路径不安全，拒绝删除：它不在你的主目录内")
                                               : QStringLiteral("unsafe path, not removed: it is outside your home folder"));
  const auto startButton = [&] {
    for (const QJsonValue& node : bus_.tree(pid_, w.uninstallTitle)) {
      const QJsonObject o = node.toObject();
      if (o.value(QStringLiteral("role")).toString() == QStringLiteral("push button") &&
          o.value(QStringLiteral("name")).toString().startsWith(w.uninstall))
        return o.value(QStringLiteral("name")).toString();
    }
    return QString();
  };
  const QString before = startButton();
  ASSERT_TRUE(toggle(w.uninstallTitle, QStringLiteral("~/.tlr-demo-cache")));
  ASSERT_TRUE(toggle(w.uninstallTitle, QStringLiteral("~/.tlr-demo-data")));
  const QJsonArray after = bus_.tree(pid_, w.uninstallTitle);
  EXPECT_FALSE(AccessibilityBus::find(after, QStringLiteral("check box"), QStringLiteral("~/.tlr-demo-cache"))
                   .value(QStringLiteral("checked"))
                   .toBool());
  EXPECT_TRUE(AccessibilityBus::find(after, QStringLiteral("check box"), QStringLiteral("~/.tlr-demo-data"))
                  .value(QStringLiteral("checked"))
                  .toBool());
  const QString total = startButton();
  EXPECT_NE(total, before) << "the total in the button follows the ticks";
  expectButtonsInside(w.uninstallTitle, sheet);
  shoot(QStringLiteral("blackbox-4-uninstall-preview") + lang);

  ASSERT_TRUE(press(w.uninstallTitle, total));
  ASSERT_FALSE(waitForNode(w.uninstallTitle, QStringLiteral("push button"), w.done).isEmpty());
  shoot(QStringLiteral("blackbox-5-uninstalled") + lang);
  EXPECT_TRUE(QFileInfo::exists(home(QStringLiteral(".tlr-demo-cache/blob")))) << "the unticked folder is kept";
  EXPECT_FALSE(QFileInfo::exists(home(QStringLiteral(".tlr-demo-data")))) << "the ticked user data is gone";
  EXPECT_FALSE(QFileInfo::exists(home(QStringLiteral(".tlr-demo"))));
  EXPECT_FALSE(QFileInfo::exists(home(QStringLiteral(".local/bin/tlr-demo"))));

  ASSERT_TRUE(press(w.uninstallTitle, w.done));
  ASSERT_TRUE(waitForNoWindow(w.uninstallTitle));
  ASSERT_TRUE(waitForNoWindow(kDemoName)) << "Done closes the detail sheet too";
  EXPECT_TRUE(waitUntil([&] { return extentsOf(QStringLiteral("Tollamere")) == mainWindow; }, 10s))
      << "the main window is back at its size and place";
  // The next scan finds the agent gone: its row goes.
  EXPECT_TRUE(waitUntil(
      [&] {
        for (const QJsonValue& node : bus_.tree(pid_, QStringLiteral("Tollamere")))
          if (node.toObject().value(QStringLiteral("name")).toString() == kDemoName) return false;
        return true;
      },
      30s));
  shoot(QStringLiteral("blackbox-6-row-gone") + lang);
}

INSTANTIATE_TEST_SUITE_P(InBothLanguages, UninstallOverAtSpi,
                         ::testing::Values(kEnglish, kChinese, kEnglishOnAShortScreen),
                         [](const ::testing::TestParamInfo<Words>& info) {
                           return info.param.language.toStdString() +
                                  (info.param.screen == QSize(1280, 800) ? "" : "OnAShortScreen");
                         });

// Codex as npm installs it, a session running and the two `app-server`
// daemons it leaves in sessions of their own, running from the copy under
// ~/.codex: the shipped Codex entry's tables under a stand-in's name. The
// uninstall says three processes run, stops them all and leaves nothing.
TEST_F(WindowsOverAtSpi, AnUninstallOfCodexStopsItsAppServerDaemonsAndLeavesNothingRunning) {
  const QString name = uniqueAgentName(QStringLiteral("tlr-codex"));
  const QString program = copyFakeAgent(home(QStringLiteral(".npm-global/bin")), name);
  const QString daemon =
      copyFakeAgent(home(QStringLiteral(".codex/packages/app-server-daemon/releases/0.171.0-x86_64-unknown-linux-musl/bin")), name);
  const QString project = home(QStringLiteral("projA"));
  QDir().mkpath(project);
  const QList<pid_t> running{
      agents_.start(program, {}, project),
      agents_.start(QStringLiteral("/usr/bin/setsid"),
                    {daemon, QStringLiteral("app-server"), QStringLiteral("--listen"), QStringLiteral("unix://"),
                     QStringLiteral("--analytics-default-enabled"), QStringLiteral("--managed-daemon")}),
      agents_.start(QStringLiteral("/usr/bin/setsid"),
                    {daemon, QStringLiteral("app-server"), QStringLiteral("daemon"), QStringLiteral("pid-update-loop")}),
  };
  for (const pid_t pid : running) ASSERT_GT(pid, 0);
  QJsonObject codex = shippedEntryObject(QStringLiteral("codex-cli"), name);
  // Its own files only: no npm of the machine runs.
  codex.insert(QStringLiteral("uninstall"),
               QJsonObject{{QStringLiteral("paths"), QJsonArray{QStringLiteral("~/.npm-global/bin/") + name}},
                           {QStringLiteral("userDataPaths"), QJsonArray{QStringLiteral("~/.codex")}}});
  start(QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 1},
                                  {QStringLiteral("updatedAt"), QStringLiteral("2025-01-01")},
                                  {QStringLiteral("agents"), QJsonArray{codex}}})
            .toJson(),
        QStringLiteral("en"));

  const QJsonObject row = waitForRow(QStringLiteral("Codex CLI"));
  ASSERT_FALSE(row.isEmpty());
  ASSERT_TRUE(openDetailSheet(row, QStringLiteral("Codex CLI")));
  ASSERT_TRUE(press(QStringLiteral("Codex CLI"), QStringLiteral("Uninstall")));
  const QString sheet = QStringLiteral("Uninstall Codex CLI");
  ASSERT_TRUE(waitForWindow(sheet));
  ASSERT_TRUE(toggle(sheet, QStringLiteral("~/.codex")));
  QString stopAndUninstall;
  ASSERT_TRUE(waitUntil(
      [&] {
        for (const QJsonValue& node : bus_.tree(pid_, sheet)) {
          const QJsonObject o = node.toObject();
          if (o.value(QStringLiteral("role")).toString() == QStringLiteral("push button") &&
              o.value(QStringLiteral("name")).toString().startsWith(QStringLiteral("Stop and Uninstall")))
            stopAndUninstall = o.value(QStringLiteral("name")).toString();
        }
        return !stopAndUninstall.isEmpty() &&
               textsOf(sheet).contains(
                   QStringLiteral("Codex CLI is running (3 processes). They are stopped before anything is removed."));
      },
      30s))
      << textsOf(sheet).join(QLatin1Char('|')).toStdString();
  shoot(QStringLiteral("blackbox-uninstall-codex-running.png"));
  ASSERT_TRUE(press(sheet, stopAndUninstall));
  ASSERT_FALSE(waitForNode(sheet, QStringLiteral("push button"), QStringLiteral("Done")).isEmpty());
  for (const pid_t pid : running) EXPECT_FALSE(tlr::ProcessSignals::isAlive(pid)) << pid;
  EXPECT_FALSE(QFileInfo::exists(program));
  EXPECT_FALSE(QFileInfo::exists(home(QStringLiteral(".codex"))));
  // Nothing of the agent's program runs, not even a daemon it restarted.
  for (const pid_t pid : agents_.pids()) EXPECT_FALSE(tlr::ProcessSignals::isAlive(pid)) << pid;
}

// Switches answer a screen reader's toggle: the settings sheet's task-bar
// switch writes its setting and the lock switch locks the agent; turning the
// lock off asks first in an alert named after its question.
TEST_F(WindowsOverAtSpi, SwitchesActOnAScreenReadersToggle) {
  const QString name = uniqueAgentName(QStringLiteral("tlr-live-agent"));
  const QString program = copyFakeAgent(home(QStringLiteral(".local/bin")), name);
  ASSERT_GT(agents_.start(program, {QStringLiteral("plain")}), 0);
  start(demoRegistry(program), QStringLiteral("en"));

  ASSERT_TRUE(press(QStringLiteral("Tollamere"), QStringLiteral("Settings")));
  ASSERT_TRUE(waitForWindow(QStringLiteral("Settings")));
  // The task-bar switch only hints the window manager: the main window stays
  // a normal window, and the open sheet inside it keeps answering.
  const QString mainId = mainId_;
  const auto windowState = [&] {
    return x_.run(QStringLiteral("xprop"),
                  {QStringLiteral("-id"), mainId, QStringLiteral("_NET_WM_STATE"), QStringLiteral("_NET_WM_WINDOW_TYPE")});
  };
  ASSERT_TRUE(toggle(QStringLiteral("Settings"), QStringLiteral("Show in task bar")));
  EXPECT_TRUE(waitUntil(
      [&] {
        return tlr::Defaults(tlr::Defaults::shared().filePath()).boolean(QStringLiteral("TLR.showInDock")) ==
               std::optional<bool>(false);
      },
      10s));
  EXPECT_TRUE(waitUntil([&] { return windowState().contains(QStringLiteral("_NET_WM_STATE_SKIP_TASKBAR")); }, 10s))
      << windowState().toStdString();
  EXPECT_TRUE(windowState().contains(QStringLiteral("_NET_WM_WINDOW_TYPE_NORMAL"))) << windowState().toStdString();
  EXPECT_EQ(x_.windowNamed(QStringLiteral("Tollamere")), mainId) << "the same window";
  ASSERT_TRUE(toggle(QStringLiteral("Settings"), QStringLiteral("Show in task bar")));
  EXPECT_TRUE(waitUntil([&] { return !windowState().contains(QStringLiteral("SKIP_TASKBAR")); }, 10s));
  x_.run(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
  ASSERT_TRUE(waitForNoWindow(QStringLiteral("Settings"))) << "Esc closes the sheet";

  const QJsonObject row = waitForRow(QStringLiteral("Live Agent"));
  ASSERT_FALSE(row.isEmpty());
  ASSERT_TRUE(openDetailSheet(row, QStringLiteral("Live Agent")));
  const auto locked = [] {
    return tlr::Defaults(tlr::Defaults::shared().filePath())
        .stringList(QStringLiteral("TLR.lockOnline.enabled"))
        .value_or(QStringList())
        .contains(QStringLiteral("tlr-live"));
  };
  ASSERT_FALSE(waitForNode(QStringLiteral("Live Agent"), QStringLiteral("check box"), QStringLiteral("Locked online"))
                   .isEmpty());
  ASSERT_TRUE(toggle(QStringLiteral("Live Agent"), QStringLiteral("Locked online")));
  EXPECT_TRUE(waitUntil(locked, 10s));
  ASSERT_TRUE(toggle(QStringLiteral("Live Agent"), QStringLiteral("Locked online")));
  // The keyboard on Cancel, its ring showing from the start: the red
  // Confirm beside it is not what Return presses.
  expectAlertFocusedWithRing(QStringLiteral("Turn off lock?"), QStringLiteral("Cancel"), /*dark=*/false);
  EXPECT_TRUE(locked()) << "nothing changes before the answer";
  // The question has no frame of the window manager's: nothing to minimise,
  // maximise or drag apart from its window.
  const QString question = x_.waitForWindow(QStringLiteral("Turn off lock?"));
  ASSERT_FALSE(question.isEmpty()) << x_.whyNotShown(QStringLiteral("Turn off lock?")).toStdString();
  EXPECT_TRUE(waitUntil(
      [&] {
        return x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), question, QStringLiteral("_NET_FRAME_EXTENTS")})
            .contains(QStringLiteral("= 0, 0, 0, 0"));
      },
      10s))
      << x_.run(QStringLiteral("xprop"), {QStringLiteral("-id"), question, QStringLiteral("_NET_FRAME_EXTENTS")})
             .toStdString();
  const auto lockSwitch = [&] {
    return AccessibilityBus::find(bus_.tree(pid_, QStringLiteral("Live Agent")), QStringLiteral("check box"),
                                  QStringLiteral("Locked online"));
  };
  EXPECT_TRUE(lockSwitch().isEmpty()) << "the sheet under the question is out of a screen reader's reach";
  shoot(QStringLiteral("blackbox-lock-off-question.png"));
  ASSERT_TRUE(press(QStringLiteral("Turn off lock?"), QStringLiteral("Cancel")));
  EXPECT_TRUE(waitUntil([&] { return lockSwitch().value(QStringLiteral("checked")).toBool(); }, 10s))
      << "back in reach, the switch shows what the program acts on";
  EXPECT_TRUE(locked());
  ASSERT_TRUE(toggle(QStringLiteral("Live Agent"), QStringLiteral("Locked online")));
  ASSERT_TRUE(waitForWindow(QStringLiteral("Turn off lock?")));
  ASSERT_TRUE(press(QStringLiteral("Turn off lock?"), QStringLiteral("Confirm")));
  EXPECT_TRUE(waitUntil([&] { return !locked(); }, 10s));
}

// A test's queries over the screen reader's bus go to one probe that stays
// running; one that has ended is replaced at the next query, and writing to
// it does not end the test.
TEST_F(WindowsOverAtSpi, OneProbeAnswersEveryQueryAndAnEndedOneIsReplaced) {
  start(demoRegistry(), QStringLiteral("en"));
  const qint64 probe = bus_.probePid();
  ASSERT_GT(probe, 0);
  ASSERT_TRUE(press(QStringLiteral("Tollamere"), QStringLiteral("Settings")));
  ASSERT_TRUE(waitForWindow(QStringLiteral("Settings")));
  EXPECT_FALSE(waitForNode(QStringLiteral("Settings"), QStringLiteral("check box"), QStringLiteral("Show in task bar"))
                   .isEmpty());
  EXPECT_EQ(bus_.probePid(), probe) << "one probe for all the queries";

  ASSERT_EQ(::kill(static_cast<pid_t>(probe), SIGKILL), 0);
  // Ended, its end not yet collected: nothing reads what is written to it.
  const auto ended = [stat = QStringLiteral("/proc/%1/stat").arg(probe)] {
    QFile file(stat);
    return !file.open(QIODevice::ReadOnly) ||
           QString::fromLatin1(file.readAll()).section(QLatin1Char(')'), -1).trimmed().startsWith(QLatin1Char('Z'));
  };
  ASSERT_TRUE(waitUntil(ended, 10s));
  EXPECT_TRUE(bus_.windows(pid_).isEmpty()) << "no answer from the probe that ended";
  EXPECT_EQ(bus_.probePid(), 0);
  EXPECT_TRUE(windowNamed(QStringLiteral("Settings")).has_value()) << "the next query has a probe of its own";
  EXPECT_NE(bus_.probePid(), probe);
  EXPECT_GT(bus_.probePid(), 0);
}

// The first run's onboarding window opens with the keyboard on "Got it",
// its ring showing as the window manager activates the window.
TEST_F(WindowsOverAtSpi, TheOnboardingWindowOpensWithItsButtonsRing) {
  start(demoRegistry(), QStringLiteral("en"), /*onboarded=*/false);
  expectAlertFocusedWithRing(QStringLiteral("Tollamere is running 👋"), QStringLiteral("Got it"), /*dark=*/false);
  key(QStringLiteral("Return"));
  EXPECT_TRUE(waitForNoWindow(QStringLiteral("Tollamere is running 👋")));
}

// Every window is named, the backup sheet opens inside the grown main window,
// and no window speaks of a Mac thing — in English and in Chinese.
TEST_F(WindowsOverAtSpi, WindowsAreNamedHoldTheirSheetsAndSpeakThisPlatformsWords) {
  for (const QString& language : {QStringLiteral("en"), QStringLiteral("zh")}) {
    SCOPED_TRACE(language.toStdString());
    const bool en = language == QStringLiteral("en");
    home_.writeFile(QStringLiteral(".local/bin/tlr-demo"), QByteArray("#!/bin/sh\n"));
    AppProcess& app = start(demoRegistry(), language);
    const QRect mainWindow = extentsOf(QStringLiteral("Tollamere"));
    expectNoMacWords(QStringLiteral("Tollamere"));

    const QString backup = en ? QStringLiteral("Backup & Restore") : QStringLiteral("备份与恢复");
    ASSERT_TRUE(press(QStringLiteral("Tollamere"), backup));
    ASSERT_TRUE(waitForWindow(backup)) << "the sheet is named after its title";
    const QRect grown = extentsOf(QStringLiteral("Tollamere"));
    const QRect sheet = extentsOf(backup);
    EXPECT_TRUE(grown.contains(sheet)) << sheet.height() << " in " << grown.height();
    EXPECT_TRUE(windowNamed(backup).value_or(QJsonObject()).value(QStringLiteral("embedded")).toBool()) << "drawn inside the main window";
    EXPECT_TRUE(x_.visibleWindows(backup).isEmpty()) << "no window of its own";
    expectNoMacWords(backup);
    // The dashboard under the sheet is not there for a screen reader (nor
    // for Tab), and is back once the sheet is gone.
    const QString settings = en ? QStringLiteral("Settings") : QStringLiteral("设置");
    const auto settingsButton = [&] {
      return AccessibilityBus::find(bus_.tree(pid_, QStringLiteral("Tollamere")), QStringLiteral("push button"), settings);
    };
    EXPECT_TRUE(settingsButton().isEmpty()) << "the content under the sheet is out of reach";
    shoot(QStringLiteral("blackbox-backup-") + language + QStringLiteral(".png"));
    ASSERT_TRUE(press(backup, en ? QStringLiteral("Close") : QStringLiteral("关闭")));
    ASSERT_TRUE(waitForNoWindow(backup));
    EXPECT_TRUE(waitUntil([&] { return extentsOf(QStringLiteral("Tollamere")) == mainWindow; }, 10s));
    EXPECT_TRUE(waitUntil([&] { return !settingsButton().isEmpty(); }, 10s)) << "and back in reach";

    ASSERT_TRUE(press(QStringLiteral("Tollamere"), settings));
    ASSERT_TRUE(waitForWindow(settings));
    expectNoMacWords(settings);
    EXPECT_FALSE(AccessibilityBus::find(bus_.tree(pid_, settings), QStringLiteral("check box"),
                                        en ? QStringLiteral("Show in task bar") : QStringLiteral("在任务栏显示"))
                     .isEmpty());
    shoot(QStringLiteral("blackbox-settings-") + language + QStringLiteral(".png"));
    ASSERT_TRUE(press(settings, en ? QStringLiteral("Close") : QStringLiteral("关闭")));
    ASSERT_TRUE(waitForNoWindow(settings));

    // Every window the application shows has a name (read once the sheet
    // has gone, not while its nodes go).
    for (const QJsonValue& window : bus_.windows(pid_))
      EXPECT_FALSE(window.toObject().value(QStringLiteral("name")).toString().isEmpty())
          << QJsonDocument(window.toObject()).toJson(QJsonDocument::Compact).toStdString();
    app.stop();
  }
}

// A keyboard alone reaches every sheet: Tab walks to a button and shows its
// ring, Return presses it, Tab stays inside the sheet and shows what it
// reaches, Esc closes the sheet and the focus, ring and all, goes back;
// closing the restore sheet goes back to the backup sheet it came from.
class KeyboardOverAtSpi : public WindowsOverAtSpi, public ::testing::WithParamInterface<QString> {
 protected:
  // Tab `count` times inside `sheet`: each control reached lies in it, has
  // a name, and is a choice's checked one where it is one of a group.
  QStringList tabInside(const QString& sheet, int count) const {
    const QRect area = extentsOf(sheet);
    QStringList reached;
    for (int i = 0; i < count; ++i) {
      key(QStringLiteral("Tab"));
      QJsonObject now;
      waitUntil([&] { return !(now = focused()).isEmpty(); }, 5s);
      const QString name = now.value(QStringLiteral("name")).toString();
      reached << name;
      EXPECT_TRUE(area.contains(extents(now)))
          << sheet.toStdString() << ": \"" << name.toStdString() << "\" at " << extents(now).y() << "+"
          << extents(now).height() << " outside " << area.y() << "+" << area.height();
      EXPECT_FALSE(name.isEmpty()) << sheet.toStdString() << ": a " << now.value(QStringLiteral("role")).toString().toStdString()
                                   << " without a name";
      if (now.value(QStringLiteral("role")).toString() == QStringLiteral("radio button")) {
        EXPECT_TRUE(now.value(QStringLiteral("checked")).toBool()) << "Tab reaches the checked choice, not " << name.toStdString();
      }
    }
    return reached;
  }
};

TEST_P(KeyboardOverAtSpi, EverySheetOpensWalksAndClosesByKeyboard) {
  const bool en = GetParam() == QStringLiteral("en");
  // English in the light scheme, Chinese in the dark one.
  const bool dark = !en;
  const QString lang = QLatin1Char('-') + GetParam() + QStringLiteral(".png");
  const QString name = uniqueAgentName(QStringLiteral("tlr-live-agent"));
  const QString program = copyFakeAgent(home(QStringLiteral(".local/bin")), name);
  home_.writeFile(QStringLiteral(".tlr-live-config/settings.json"), QByteArray("{}"));
  ASSERT_GT(agents_.start(program, {QStringLiteral("plain")}), 0);
  start(demoRegistry(program), GetParam());
  const QString mainId = mainId_;
  x_.run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), mainId});

  const QString addAgent = en ? QStringLiteral("Add Agent") : QStringLiteral("添加 Agent");
  const QString settings = en ? QStringLiteral("Settings") : QStringLiteral("设置");
  const QString backup = en ? QStringLiteral("Backup & Restore") : QStringLiteral("备份与恢复");
  const QString restore = en ? QStringLiteral("Restore from backup") : QStringLiteral("从备份恢复");
  const QString exportUsb = en ? QStringLiteral("Export to USB") : QStringLiteral("导出到 U 盘");
  const QString gotIt = en ? QStringLiteral("Got it") : QStringLiteral("我知道了");

  // Add Agent: both Install buttons reached, in the sheet; Esc returns the
  // focus to the button that opened it.
  ASSERT_TRUE(tabTo(addAgent));
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForWindow(addAgent)) << "Return pressed the focused button";
  tabInside(addAgent, 3);
  shoot(QStringLiteral("blackbox-keys-1-add-agent") + lang);
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(addAgent));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == addAgent; }, 10s)) << focusedName().toStdString();
  shoot(QStringLiteral("blackbox-keys-2-focus-back") + lang);

  // Settings: Tab round the whole sheet, every control in view and named,
  // each group of choices reached at its checked one.
  ASSERT_TRUE(tabTo(settings));
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForWindow(settings));
  const QStringList reached = tabInside(settings, 16);
  EXPECT_TRUE(reached.contains(en ? QStringLiteral("Light") : QStringLiteral("深色"))) << reached.join(", ").toStdString();
  EXPECT_TRUE(reached.contains(en ? QStringLiteral("English") : QStringLiteral("中文"))) << reached.join(", ").toStdString();
  shoot(QStringLiteral("blackbox-keys-3-settings") + lang);
  // The feedback mail, with nothing to open it: the alert says so, its
  // button's ring showing as it opens.
  const QString feedback = en ? QStringLiteral("Send email feedback") : QStringLiteral("发邮件反馈");
  ASSERT_TRUE(tabTo(feedback));
  key(QStringLiteral("Return"));
  expectAlertFocusedWithRing(en ? QStringLiteral("Couldn't open the link") : QStringLiteral("无法打开链接"), gotIt, dark);
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(en ? QStringLiteral("Couldn't open the link") : QStringLiteral("无法打开链接")));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == feedback; }, 10s)) << focusedName().toStdString();
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(settings));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == settings; }, 10s)) << focusedName().toStdString();

  // Opened with the mouse, closed with Esc: the focus, ring and all, is on
  // the button that was clicked.
  const QJsonObject archive = waitForNode(QStringLiteral("Tollamere"), QStringLiteral("push button"), backup);
  clickAt(extents(archive).center());
  ASSERT_TRUE(waitForWindow(backup));
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(backup));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == backup; }, 10s)) << focusedName().toStdString();
  EXPECT_TRUE(waitUntil([&] { return ringAround(extents(focused()), dark); }, 10s)) << "the ring on " << backup.toStdString();

  // Backup, then restore and export from it; Esc there goes back to the
  // backup sheet, to the button that handed over.
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForWindow(backup));
  ASSERT_TRUE(tabTo(restore));
  shoot(QStringLiteral("blackbox-keys-4-backup") + lang);
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForWindow(restore));
  tabInside(restore, 2);
  shoot(QStringLiteral("blackbox-keys-5-restore") + lang);
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(restore));
  EXPECT_TRUE(waitForWindow(backup, 10s).has_value()) << "back to the backup sheet";
  EXPECT_TRUE(waitUntil([&] { return focusedName() == restore; }, 10s)) << focusedName().toStdString();
  ASSERT_TRUE(tabTo(exportUsb));
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForNoWindow(backup));
  // The export sheet bears the button's words as its title.
  ASSERT_TRUE(waitForWindow(exportUsb));
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(exportUsb));
  EXPECT_TRUE(waitForWindow(backup, 10s).has_value()) << "back to the backup sheet";
  EXPECT_TRUE(waitUntil([&] { return focusedName() == exportUsb; }, 10s)) << focusedName().toStdString();
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(backup));

  // With an image (a folder standing for it): nothing can show it in the
  // file manager, and a backup asks for its password. Esc on the prompt
  // fails the backup; the focus is on "Back up now" again.
  QDir().mkpath(home(QStringLiteral("TLR 备份.sparsebundle")));
  ASSERT_TRUE(tabTo(backup));
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForWindow(backup));
  const QString reveal = en ? QStringLiteral("Show in Files") : QStringLiteral("在文件管理器中显示");
  ASSERT_TRUE(tabTo(reveal));
  key(QStringLiteral("Return"));
  const QString folderAlert = en ? QStringLiteral("Couldn't open the folder") : QStringLiteral("无法打开文件夹");
  expectAlertFocusedWithRing(folderAlert, gotIt, dark);
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForNoWindow(folderAlert));
  const QString backUpNow = en ? QStringLiteral("Back up now") : QStringLiteral("立即备份");
  ASSERT_TRUE(tabTo(backUpNow));
  key(QStringLiteral("Return"));
  const QString prompt = en ? QStringLiteral("Unlock the encrypted backup image to start the backup")
                            : QStringLiteral("解锁加密备份卷以开始备份");
  ASSERT_TRUE(waitForWindow(prompt));
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(prompt));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == backUpNow; }, 30s)) << focusedName().toStdString();
  EXPECT_TRUE(waitUntil([&] { return ringAround(extents(focused()), dark); }, 10s)) << "the ring on " << backUpNow.toStdString();
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(backup));

  // The running agent's row opens its detail sheet; its history takes the
  // focus in its turn.
  ASSERT_TRUE(tabTo(QStringLiteral("Live Agent")));
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForWindow(QStringLiteral("Live Agent")));
  tabInside(QStringLiteral("Live Agent"), 6);
  shoot(QStringLiteral("blackbox-keys-6-detail") + lang);
  // Stop from the keyboard: the focus goes to the Launch that takes its
  // place, not to what follows it.
  const QString stop = en ? QStringLiteral("Stop") : QStringLiteral("退出");
  const QString launch = en ? QStringLiteral("Launch Live Agent") : QStringLiteral("启动 Live Agent");
  ASSERT_TRUE(tabTo(stop));
  key(QStringLiteral("Return"));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == launch; }, 30s)) << focusedName().toStdString();
  shoot(QStringLiteral("blackbox-keys-7-stopped") + lang);
  // Return there launches it, and with no terminal program says it could not.
  key(QStringLiteral("Return"));
  expectAlertFocusedWithRing(en ? QStringLiteral("Cannot launch Live Agent") : QStringLiteral("无法启动 Live Agent"), gotIt,
                             dark);
  key(QStringLiteral("Return"));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == launch; }, 10s)) << focusedName().toStdString();
  // Its configuration folder, with nothing to open it: the alert, and no
  // finished setup in its history.
  ASSERT_TRUE(tabTo(en ? QStringLiteral("Open config folder") : QStringLiteral("打开配置目录")));
  key(QStringLiteral("Return"));
  const QString setupAlert = en ? QStringLiteral("Cannot open the configuration folder of Live Agent")
                                : QStringLiteral("无法打开 Live Agent 的配置目录");
  expectAlertFocusedWithRing(setupAlert, gotIt, dark);
  key(QStringLiteral("Return"));
  ASSERT_TRUE(waitForNoWindow(setupAlert));
  const QString manualStop = en ? QStringLiteral("Manual stop") : QStringLiteral("用户主动退出");
  ASSERT_TRUE(waitUntil([&] { return textsOf(QStringLiteral("Live Agent")).contains(manualStop); }, 10s))
      << textsOf(QStringLiteral("Live Agent")).join(" | ").toStdString();
  for (const QString& text : textsOf(QStringLiteral("Live Agent")))
    EXPECT_FALSE(text.startsWith(en ? QStringLiteral("Setup completed") : QStringLiteral("setup 完成"))) << text.toStdString();
  key(QStringLiteral("Escape"));
  ASSERT_TRUE(waitForNoWindow(QStringLiteral("Live Agent")));
  EXPECT_TRUE(waitUntil([&] { return focusedName() == QStringLiteral("Live Agent"); }, 10s));
}

INSTANTIATE_TEST_SUITE_P(InBothLanguages, KeyboardOverAtSpi,
                         ::testing::Values(QStringLiteral("en"), QStringLiteral("zh")),
                         [](const ::testing::TestParamInfo<QString>& info) { return info.param.toStdString(); });
