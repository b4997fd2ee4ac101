#include "ui/shell/MainWindow.h"

#include "core/SettingsStore.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/Theme.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>

namespace tlr {

MainWindow::MainWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName(QStringLiteral("mainWindow"));
  // The same title in both languages.
  setWindowTitle(QStringLiteral("Tollamere"));
  QIcon icon;
  icon.addPixmap(QPixmap::fromImage(makeBrandIcon(QSizeF(64, 64))));
  icon.addPixmap(QPixmap::fromImage(makeBrandIcon(QSizeF(128, 128))));
  setWindowIcon(icon);
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
  // A tool window stays out of the task bar; changing the flag recreates the
  // native window, so keep it where it was.
  if (windowFlags().testFlag(Qt::Tool) == !shown) return;
  const bool wasVisible = isVisible();
  const QRect place = geometry();
  setWindowFlag(Qt::Tool, !shown);
  if (wasVisible) {
    setGeometry(place);
    show();
  }
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

MainWindowController::MainWindowController(DashboardModel* model, QObject* parent)
    : QObject(parent), model_(model) {}

MainWindowController::~MainWindowController() {
  if (window_) delete window_.data();
}

MainWindow* MainWindowController::ensureWindow() {
  if (window_) return window_;
  window_ = new MainWindow();
  window_->setShownInTaskbar(SettingsStore::shared().showInDock());
  connect(&SettingsStore::shared(), &SettingsStore::showInDockChanged, window_,
          [w = window_.data()](bool shown) { w->setShownInTaskbar(shown); });
  if (model_ && factory_) window_->setBody(factory_(*model_));
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
