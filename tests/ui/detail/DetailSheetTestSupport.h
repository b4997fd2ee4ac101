#pragma once

#include "presentation/DetailSessionSupport.h"
#include "ui/detail/AgentDetailSheet.h"

#include "support/FakeAgents.h"
#include "support/gui/ApplicationLook.h"
#include "support/gui/ReadableTexts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <memory>

namespace tlr::test {

// A detail sheet's fixture: the session's stores and fakes, and ways to
// find, read and press the sheet's widgets.
class DetailSheetFixture : public DetailStoresFixture {
 protected:
  void SetUp() override {
    DetailStoresFixture::SetUp();
    settings.setLanguage(AppLanguage::en);
    relayLanguageChanges(settings);
  }
  // The sheets' language.
  void setLanguage(AppLanguage language) { settings.setLanguage(language); }

  SettingsStore settings;

  std::unique_ptr<AgentDetailSheet> open(const DashboardAgentItem& row, bool show = false) {
    auto sheet = std::make_unique<AgentDetailSheet>(row, callbacks.make(), stores(), settings);
    sheet->setDeleteOnDismiss(false);
    if (show) sheet->show();
    return sheet;
  }

  template <class T = QWidget>
  static T* find(QWidget* root, const QString& name) {
    T* found = root->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name.toStdString();
    return found;
  }
  static bool shown(QWidget* root, const QString& name) {
    QWidget* w = root->findChild<QWidget*>(name);
    return w && w->isVisibleTo(root);
  }
  // What a label reads: its text, or for one that sets commands apart its
  // text without the marks (its accessible name).
  static QString labelText(QWidget* root, const QString& name) {
    auto* label = root->findChild<QLabel*>(name);
    if (!label) return QStringLiteral("<missing %1>").arg(name);
    return label->textFormat() == Qt::RichText ? label->accessibleName() : label->text();
  }
  // The commands a label sets apart in the fixed-width face.
  static QStringList monospaced(QWidget* root, const QString& name) {
    auto* label = root->findChild<QLabel*>(name);
    QStringList found;
    if (!label || label->textFormat() != Qt::RichText) return found;
    static const QRegularExpression span(QStringLiteral("<span style=\"font-family:'[^']*'[^\"]*\">([^<]*)</span>"));
    for (auto it = span.globalMatch(label->text()); it.hasNext();)
      found << it.next().captured(1).remove(QChar(0x2060)).replace(QChar(0x00A0), QLatin1Char(' '));
    return found;
  }
  static QString buttonLabel(QWidget* root, const QString& name) {
    auto* button = root->findChild<QAbstractButton*>(name);
    return button ? button->accessibleName() : QStringLiteral("<missing %1>").arg(name);
  }
  static void click(QWidget* root, const QString& name) {
    auto* button = root->findChild<QAbstractButton*>(name);
    ASSERT_NE(button, nullptr) << name.toStdString();
    button->click();
  }
  // The open alert of that name, once it is there.
  template <class Dialog = QDialog>
  static Dialog* alert(QWidget* root, const QString& name) {
    Dialog* box = nullptr;
    waitUntil([&] {
      box = root->findChild<Dialog*>(name);
      return box != nullptr;
    });
    return box;
  }
  static void answer(QDialog* box, const QString& buttonName) {
    ASSERT_NE(box, nullptr);
    auto* button = box->findChild<QAbstractButton*>(buttonName);
    ASSERT_NE(button, nullptr) << buttonName.toStdString();
    button->click();
  }
};

}  // namespace tlr::test
