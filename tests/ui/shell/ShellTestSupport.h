#pragma once

#include "support/gui/ReadableTexts.h"

#include <QAbstractButton>
#include <QWidget>

#include <QTest>

namespace tlr::test {

// The child of `parent` with this object name, or null.
template <class T = QWidget>
T* child(const QObject& parent, const QString& name) {
  return parent.findChild<T*>(name);
}

// Clicks a button in the middle, as a user would.
inline void click(QAbstractButton* button) {
  QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

}  // namespace tlr::test
