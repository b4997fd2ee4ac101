#pragma once

#include "core/stores/SettingsStore.h"
#include "support/gui/ApplicationLook.h"
#include "support/gui/ReadableTexts.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tlr::test {

// Sets the interface language for one test and puts the previous one back.
class LanguageScope {
 public:
  explicit LanguageScope(AppLanguage language) : saved_(SettingsStore::shared().language()) {
    relaySharedLanguage();
    SettingsStore::shared().setLanguage(language);
  }
  ~LanguageScope() { SettingsStore::shared().setLanguage(saved_); }

 private:
  AppLanguage saved_;
};

// The widget as drawn. With TLR_SCREENSHOT_DIR set, also written there as
// "<name>.png" (the pictures of the README and docs/).
inline QImage shoot(QWidget* widget, const QString& name) {
  QApplication::processEvents();
  // Whatever a picture is taken of reads in both schemes.
  expectReadableInBothSchemes(*widget, qPrintable(name));
  const QImage shot = widget->grab().toImage();
  if (const QString dir = qEnvironmentVariable("TLR_SCREENSHOT_DIR"); !dir.isEmpty()) {
    QDir().mkpath(dir);
    shot.save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
  }
  return shot;
}

// Acts on the next modal window named `objectName` once it is shown, from
// inside the event loop that shows it (exec() loops of dialogs and prompts
// that tests cannot reach otherwise). Polls every 10 ms until `act` ran or
// the object is destroyed.
class OnModal : public QObject {
 public:
  OnModal(QString objectName, std::function<void(QWidget*)> act)
      : name_(std::move(objectName)), act_(std::move(act)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal || modal->objectName() != name_ || !modal->isVisible()) return;
      timer_.stop();
      fired_ = true;
      act_(modal);
    });
    timer_.start();
  }
  bool fired() const { return fired_; }

 private:
  QString name_;
  std::function<void(QWidget*)> act_;
  QTimer timer_;
  bool fired_ = false;
};

}  // namespace tlr::test
