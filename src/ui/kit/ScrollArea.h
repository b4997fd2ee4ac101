#pragma once

// A column that scrolls up and down, never sideways: its content is as wide
// as its view (a long name is shortened, never pushed out of sight), no frame,
// no background of its own. Whatever control inside it gets the focus is
// scrolled into view, however the focus came (Tab from outside, Tab wrapping
// round, a sheet returning the focus), and the keys that scroll move the
// focus among its controls instead of leaving it behind (End, Page Down, the
// arrows). It is no Tab stop of its own unless
// setKeyboardScrolling(true): a list without controls (a history) then takes
// the focus, shows the ring, and scrolls with the arrows, Page Up/Down, Home
// and End.

#include <QPointer>
#include <QScrollArea>

class QKeyEvent;

namespace tlr {

class ScrollArea : public QScrollArea {
  Q_OBJECT

 public:
  // `content` is laid out by its own layout; the area takes it.
  explicit ScrollArea(QWidget* content, QWidget* parent = nullptr);
  void setKeyboardScrolling(bool on);
  // Has the focus, not from a click: the ring shows.
  bool showsFocus() const;

 protected:
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void focusMoved(QWidget* now);
  // Home, End, Page Up/Down and the up and down arrows pressed on a control
  // inside the list move the focus to the first, the last, the one a page
  // away, the one before or after; whether it was such a key.
  bool moveFocusFor(const QKeyEvent* event);
  QWidget* ring_;
  bool ringShown_ = false;
};

}  // namespace tlr
