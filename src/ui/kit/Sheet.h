#pragma once

// The base of every sheet: a panel of fixed size drawn inside its window over
// the dimmed content, painted in the scheme's background under every edge,
// with no close button of its own.
//
//   auto* sheet = new MySheet(parentWindow);          // derives from Sheet
//   sheet->setOnClose([sheet] { sheet->dismiss(); });  // the presenter decides
//   sheet->present();                                  // shows it, returns
//
// A sheet opens inside its window (the first window above it that is not a
// sheet), on a layer that covers the window's content and takes every click
// meant for it; Tab stays among the sheet's own controls. No window manager
// can minimise, move or maximise it apart from its window. The window grows,
// centred where it was and within its screen's available area, to hold the
// sheet with a margin while the sheet is shown, and goes back to its place
// once the last sheet over it is gone. Where the window cannot grow enough,
// the sheet is made shorter (or narrower): its body scrolls, its footer stays.
// A sheet whose window is not shown opens as a window-modal dialog instead.
//
// Return and Enter press the focused button; elsewhere (a field, a switch)
// they press the sheet's default button, its main action, when it has one
// (setDefaultButton) and it can be used.
//
// A control that has the focus and is disabled or hidden (busy while its
// work runs, replaced by its opposite) keeps it, ring and all: the sheet
// holds it, where Return does nothing, until the control can take it again
// or a control beside it takes its place; the focus never falls to whatever
// follows, where a second Return would do what the user did not mean.
//
// The focus returns, once the sheet is gone, to the control that opened it
// (the one clicked, else the one the keyboard was on), with its ring unless
// a click closed the sheet.
//
// Sheets never close themselves: the Esc key, a window-close request from
// the window manager and the sheet's own Close/Cancel buttons all call
// `requestClose()`, which runs the presenter's onClose. The presenter closes
// the sheet there with dismiss() (which also deletes it on a later turn of
// the event loop, unless setDeleteOnDismiss(false)): after dismiss(), reach
// the sheet and its children only through QPointer. Without an onClose, a
// close request dismisses.
//
// Work that finishes after the sheet may be gone must reach it through a
// guarded pointer: `guarded(sheet, [](MySheet* s, Result r) { … })` gives a
// callable that does nothing once the sheet was deleted.

#include <QAccessibleWidget>
#include <QDialog>
#include <QPointer>

class QAbstractButton;
class QBoxLayout;
class QVBoxLayout;

#include <functional>
#include <optional>
#include <utility>

namespace tlr {

class CloseButton;
class Label;
class SheetLayer;

class Sheet : public QDialog {
  Q_OBJECT

 public:
  Sheet(QSize fixedSize, QWidget* parent);
  ~Sheet() override;

  void setOnClose(std::function<void()> onClose) { onClose_ = std::move(onClose); }
  // Esc, a window-close request and Close buttons come here.
  void requestClose();
  // Closes the sheet for real; only the presenter calls this.
  void dismiss();
  void setDeleteOnDismiss(bool on) { deleteOnDismiss_ = on; }
  // Shows the sheet window-modally over its parent, inside the parent's
  // window, and returns at once.
  void present();

  // The control named `objectName` takes the focus when the sheet is
  // presented, instead of its first control (a sheet coming back to where
  // the user left it).
  void setFirstFocus(const QString& objectName) { firstFocus_ = objectName; }
  // The control of this sheet the user last pressed (clicked, or on which
  // the keyboard was), if any.
  QWidget* pressedControl();

  // The button Return presses when the focus is on no button.
  void setDefaultButton(QAbstractButton* button);
  QAbstractButton* defaultButton() const;

  bool isDismissed() const { return dismissed_; }
  // Whether it is shown inside its window (rather than as a dialog).
  bool isEmbedded() const { return layer_ != nullptr; }
  // The size it was made for; shown smaller only where its window cannot
  // hold it.
  QSize designSize() const { return designSize_; }

 Q_SIGNALS:
  void dismissed();

 protected:
  // Adds to `column` the title row a sheet opens with (a 16-point title,
  // shortened with "…" to its width, and a Close button that requests
  // closing) and a divider under it. The parts' object names are `name` +
  // "Title" and `name` + "Close". Returns the title.
  Label* addTitleHeader(QBoxLayout* column, const QString& name);
  // Lays the whole sheet out as that header over a column of its own
  // content, `bodyMargins` inside the sheet's edges; returns the column.
  QVBoxLayout* addTitleHeaderAndBody(const QString& name, QMargins bodyMargins, int spacing);
  // Shows `title` in the header and names the sheet after it (what
  // assistive tools read).
  void setTitle(const QString& title);
  // The header's Close button (its owner gives it its language).
  CloseButton* titleCloseButton() const { return titleClose_; }

  void paintEvent(QPaintEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // The focused control disabled or hidden (busy, replaced): its focus is
  // held, not handed to whatever follows.
  bool focusNextPrevChild(bool next) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // QDialog's own Esc handling ends here too.
  void reject() override;
  bool event(QEvent* event) override;

 private:
  friend class SheetLayer;
  // The first control Tab reaches in the sheet, else the sheet itself.
  QWidget* firstControl();
  // Takes the focus back when it lands under the sheet (the sheet on top).
  void keepFocusInside(QWidget* now);
  // Holds the focus of `control`, which can no longer take it, on the sheet
  // itself (keys other than Tab and Esc then do nothing), its ring still
  // shown on it; gives it back once the control can take it again, or to the
  // control beside it that replaced it.
  void park(QWidget* control);
  void unpark();
  void parkedHidden();

  std::function<void()> onClose_;
  CloseButton* titleClose_ = nullptr;
  QSize designSize_;
  Label* title_ = nullptr;
  QPointer<QWidget> layer_;
  QPointer<QWidget> ownerBeforeLayer_;
  QPointer<QWidget> focusBeforeSheet_;
  QString firstFocus_;
  QPointer<QWidget> parked_;
  QMetaObject::Connection parkWatch_;
  QMetaObject::Connection focusWatch_;
  QPointer<QAbstractButton> defaultButton_;
  bool dismissing_ = false;
  bool dismissed_ = false;
  bool deleteOnDismiss_ = true;
};

// A window that shows sheets, to assistive tools: while a sheet is drawn
// inside it, the topmost sheet (on its layer) is the one child they reach —
// the content under it, and a sheet under that one, are not there for them,
// as they are not for the mouse and Tab — and while an alert or another
// dialog is modal over the window, none of its children is. Each gets back
// once what covered it is gone. A window class that holds sheets makes its
// interface one through an accessibility factory installed before its first
// window is made (the main window's is; an interface, once made, is kept).
class SheetHostAccessible : public QAccessibleWidget {
 public:
  SheetHostAccessible(QWidget* window, QAccessible::Role role);

  int childCount() const override;
  QAccessibleInterface* child(int index) const override;
  int indexOfChild(const QAccessibleInterface* child) const override;
  QAccessibleInterface* childAt(int x, int y) const override;

 private:
  // When something covers the window's content, the one child left (the
  // top sheet's layer, or none under a modal alert); empty when nothing
  // covers it.
  std::optional<QWidget*> onlyChild() const;
};

// Paints `window` as a sheet is painted: the scheme's background and a
// hairline around the edge (from a paintEvent of `window`).
void paintSheetBackground(QWidget* window);

// A callable that runs `fn(receiver, args…)` only while `receiver` lives:
// for completions (worker results, network answers, timers) that may arrive
// after their window closed.
template <class T, class F>
auto guarded(T* receiver, F fn) {
  return [target = QPointer<T>(receiver), fn = std::move(fn)](auto&&... args) mutable {
    if (T* alive = target.data()) fn(alive, std::forward<decltype(args)>(args)...);
  };
}

}  // namespace tlr
