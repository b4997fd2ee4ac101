#pragma once

#include "core/stores/SettingsStore.h"
#include "registry/AgentEntry.h"
#include "support/RecipeTestSupport.h"
#include "support/RegistryJson.h"
#include "support/TestSupport.h"
#include "support/gui/ApplicationLook.h"
#include "support/gui/ReadableTexts.h"
#include "ui/kit/Controls.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

namespace tlr::test {

// A temporary HOME, fakes first on PATH (the opener and a terminal that
// record their arguments) and the interface in English.
class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    opened = bin.addRecorder("xdg-open");
    terminal = bin.addRecorder("x-terminal-emulator");
    relaySharedLanguage();
    SettingsStore::shared().setLanguage(AppLanguage::en);
  }
  void TearDown() override { SettingsStore::shared().setLanguage(AppLanguage::en); }

  // A program in ~/.local/bin, where recipe programs are looked for first.
  QString userProgram(const QString& name, const QString& body) {
    const QString path = home.writeFile(".local/bin/" + name, ("#!/bin/sh\n" + body).toUtf8());
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
    return path;
  }
  // The arguments a recording fake got, once it has finished writing them.
  QString recorded(const QString& record) {
    EXPECT_TRUE(waitUntil([&] { return readFile(record).endsWith("--\n"); })) << record.toStdString();
    return readFile(record);
  }

  TempHome home;
  FakeBin bin;
  QString opened;
  QString terminal;
};

template <class T = QWidget>
T* child(const QWidget& parent, const QString& name) {
  return parent.findChild<T*>(name);
}

// Clicks the named button; fails the test when there is none.
inline bool click(const QWidget& parent, const QString& name) {
  auto* button = parent.findChild<QAbstractButton*>(name);
  EXPECT_NE(button, nullptr) << name.toStdString();
  if (!button) return false;
  EXPECT_TRUE(button->isEnabled()) << name.toStdString();
  button->click();
  return true;
}

// The visible text of a label or the label of a painted button.
inline QString shown(const QWidget* widget) {
  if (!widget) return QStringLiteral("<missing>");
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<const PaintedButton*>(widget)) return button->label();
  return widget->accessibleName();
}

inline QString shown(const QWidget& parent, const QString& name) { return shown(child(parent, name)); }

// Every descendant whose object name is `name`, in creation order.
inline QList<QWidget*> all(const QWidget& parent, const QString& name) {
  return parent.findChildren<QWidget*>(name);
}

inline AgentEntry entryWith(const QByteArray& extra, const QByteArray& id = "tlr-agent") {
  return entryFromJson(R"("id":")" + id + R"(","displayName":"Agent ZH","displayNameEN":"Agent","vendor":"v",)"
                       R"("kind":"cli","identify":{"executableNames":["tlr-agent"]})" +
                       extra);
}

}  // namespace tlr::test
