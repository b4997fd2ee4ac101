// A bare Qt window the size and colour of the main window, centred like it:
// what bench/first-paint measures the application's first paint against.
#include <QApplication>
#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare"));
  QPalette palette = window.palette();
  palette.setColor(QPalette::Window, QColor(0xF8, 0xF9, 0xFB));
  window.setPalette(palette);
  window.setAutoFillBackground(true);
  window.resize(680, 560);
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  window.move(screen.center() - window.rect().center());
  window.show();
  return QApplication::exec();
}
