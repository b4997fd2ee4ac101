#include "ui/shell/MainWindow.h"

#include "core/stores/SettingsStore.h"
#include "platform/Log.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/Theme.h"
#include "ui/kit/WindowManagerHints.h"

#include <QGuiApplication>
#include <QShowEvent>
#include <QWindow>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace tlr {
namespace {

// To assistive tools the main window is a frame (a plain widget would read
// as a filler), whose content they do not reach under a sheet or an alert.
QAccessibleInterface* mainWindowAccessible(const QString& className, QObject* object) {
  if (className == QLatin1String("tlr::MainWindow") && object && object->isWidgetType())
    return new SheetHostAccessible(static_cast<QWidget*>(object), QAccessible::Window);
  return nullptr;
}

// Once the window manager has framed the window (by its first paint): a
// screen whose available area cannot hold the window with its frame (a
// netbook's 600 px less a panel) gets a window that much smaller, its rows
// scrolling; a frame that crosses the area, as on a short screen where the
// window was centred without it, is pushed back in from that edge.
void keepFrameOnScreen(QWidget* window, bool onlyWhenTooLarge = false) {
  const QScreen* screen = window->screen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  const QMargins frame(window->geometry().left() - window->frameGeometry().left(),
                       window->geometry().top() - window->frameGeometry().top(),
                       window->frameGeometry().right() - window->geometry().right(),
                       window->frameGeometry().bottom() - window->geometry().bottom());
  const QSize room = area.size().shrunkBy(frame);
  const bool tooLarge = window->width() > room.width() || window->height() > room.height();
  // A window the user moved partly off the screen stays where it is.
  if (onlyWhenTooLarge && !tooLarge) return;
  if (tooLarge) {
    window->setMinimumSize(window->minimumSize().boundedTo(room));
    window->resize(window->size().boundedTo(room));
  }
  const QRect outer = window->frameGeometry();
  QRect inside = outer;
  if (inside.bottom() > area.bottom()) inside.moveBottom(area.bottom());
  if (inside.right() > area.right()) inside.moveRight(area.right());
  if (inside.top() < area.top()) inside.moveTop(area.top());
  if (inside.left() < area.left()) inside.moveLeft(area.left());
  if (inside != outer) window->move(inside.topLeft());
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  static const bool accessible = (QAccessible::installFactory(mainWindowAccessible), true);
  Q_UNUSED(accessible);
  setObjectName(QStringLiteral("mainWindow"));
  // The same title in both languages.
  setWindowTitle(QStringLiteral("Tollamere"));
  // The icon, drawn off the window thread, comes once the window has painted.
  connect(this, &MainWindow::firstPainted, this,
          [this] { withBrandIcon(this, {64, 128}, [this](const QIcon& icon) { setWindowIcon(icon); }); });
  setMinimumSize(kWidth, kHeight);
  resize(kWidth, kHeight);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  whenLookChanges(this);
}

void MainWindow::setBody(QWidget* body) {
  if (body_ == body) return;
  if (body_) body_->deleteLater();
  body_ = body;
  if (body) layout()->addWidget(body);
}

void MainWindow::setShownInTaskbar(bool shown) {
  if (shownInTaskbar_ == shown) return;
  shownInTaskbar_ = shown;
  if (isVisible()) applyTaskbarHint();
}

void MainWindow::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    log("[Window] ", QStringLiteral("主窗口：显示"));
    // Told when the display has it on screen, and when no longer.
    if (QWindow* handle = windowHandle(); handle && !handle->property("tlrWatched").toBool()) {
      handle->setProperty("tlrWatched", true);
      handle->installEventFilter(this);
    }
    // Before the window is mapped: a window manager drops the state of a
    // window it withdrew, so every show sets it again.
    applyTaskbarHint();
  }
  QWidget::showEvent(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && watched == windowHandle()) {
    const bool exposed = windowHandle()->isExposed();
    if (exposed != onScreen_) {
      onScreen_ = exposed;
      log("[Window] ", exposed ? QStringLiteral("主窗口已在屏幕上 (%1×%2)").arg(width()).arg(height())
                               : QStringLiteral("主窗口已不在屏幕上"));
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::applyTaskbarHint() { WindowManagerHints::setSkipTaskbar(this, !shownInTaskbar_); }

void MainWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  if (painted_) keepFrameOnScreen(this, /*onlyWhenTooLarge=*/true);
}

void MainWindow::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Theme::current().background);
  if (!painted_) {
    painted_ = true;
    // After this paint event: the dashboard paints in the same pass.
    QMetaObject::invokeMethod(this, &MainWindow::firstPainted, Qt::QueuedConnection);
  }
}

MainWindowController::MainWindowController(DashboardModel* model, const SettingsStore& settings, QObject* parent)
    : QObject(parent), model_(model), settings_(settings) {}

MainWindowController::~MainWindowController() {
  if (window_) delete window_.data();
}

MainWindow* MainWindowController::ensureWindow() {
  if (window_) return window_;
  window_ = new MainWindow();
  window_->setShownInTaskbar(settings_.showInDock());
  connect(&settings_, &SettingsStore::showInDockChanged, window_,
          [w = window_.data()](bool shown) { w->setShownInTaskbar(shown); });
  if (model_ && factory_) window_->setBody(factory_(*model_));
  connect(window_, &MainWindow::firstPainted, window_, [w = window_.data()] { keepFrameOnScreen(w); });
  // Centred on the screen it opens on.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
  }
  return window_;
}

void MainWindowController::show() {
  MainWindow* window = ensureWindow();
  if (window->isMinimized()) window->showNormal();
  window->show();
  window->raise();
  window->activateWindow();
}

void MainWindowController::setDashboard(QWidget* dashboard) { ensureWindow()->setBody(dashboard); }

}  // namespace tlr
