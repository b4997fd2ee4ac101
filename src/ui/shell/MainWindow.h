#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

namespace tlr {

class DashboardModel;
class SettingsStore;

// The one main window: titled "Tollamere", at least 680 × 560, painted in the
// scheme's background, with the product icon from its first paint on. Its
// body is the dashboard once one is set; until then it stays empty. Closing
// it only hides it.
class MainWindow final : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 680;
  static constexpr int kHeight = 560;

  explicit MainWindow(QWidget* parent = nullptr);

  // Replaces the body; the window takes ownership. nullptr empties it.
  void setBody(QWidget* body);
  QWidget* body() const { return body_; }

  // Whether the window appears in the task bar (the Dock setting): a hint to
  // the window manager (_NET_WM_STATE_SKIP_TASKBAR); the window stays the
  // same normal window, sheets and all.
  void setShownInTaskbar(bool shown);
  bool isShownInTaskbar() const { return shownInTaskbar_; }
  // Whether it has painted itself at least once.
  bool hasPainted() const { return painted_; }

 Q_SIGNALS:
  // Once, after its first paint.
  void firstPainted();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  // The log says when the display shows the window and when it stops.
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The window manager's frame may be known only after the first paint.
  void moveEvent(QMoveEvent* event) override;

 private:
  void applyTaskbarHint();

  QPointer<QWidget> body_;
  bool shownInTaskbar_ = true;
  bool painted_ = false;
  bool onScreen_ = false;
};

// Owns the main window: creates it on the first show() and keeps it for the
// life of the process, so a later show() brings back the same window at its
// last size and place.
class MainWindowController final : public QObject {
  Q_OBJECT

 public:
  // Builds the dashboard for a new window. Called once, when the window is
  // created, with the model given to the controller.
  using DashboardFactory = std::function<QWidget*(DashboardModel& model)>;

  // `model` may be null (no registry): the window then stays empty. The
  // window follows the task-bar setting of `settings`, which must outlive it.
  MainWindowController(DashboardModel* model, const SettingsStore& settings, QObject* parent = nullptr);
  ~MainWindowController() override;

  // Creates the window when needed, shows it, brings it to the front and
  // activates it.
  void show();
  // The window, or null before the first show().
  MainWindow* window() const { return window_; }
  DashboardModel* model() const { return model_; }

  // How the window's dashboard is built; set before the first show().
  void setDashboardFactory(DashboardFactory factory) { factory_ = std::move(factory); }
  // Puts a dashboard into the window now (creating the window, hidden, if
  // needed). The window takes ownership.
  void setDashboard(QWidget* dashboard);

 private:
  MainWindow* ensureWindow();

  DashboardModel* model_;
  const SettingsStore& settings_;
  DashboardFactory factory_;
  QPointer<MainWindow> window_;
};

}  // namespace tlr
