#include "ui/kit/Sheet.h"

#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QEvent>
#include <QKeyEvent>
#include <QList>
#include <QPainter>
#include <QScreen>

#include <algorithm>
#include <optional>

namespace tlr {
namespace {

// Room kept around a sheet inside the window that holds it: above and below,
// and at either side.
constexpr int kRoomAbove = 8;
constexpr int kRoomBeside = 20;

// The window a sheet opens inside: the first window above it that is not a
// sheet itself (a sheet over a sheet opens inside the same window).
QWidget* hostOf(QWidget* parent) {
  for (QWidget* w = parent ? parent->window() : nullptr; w; w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
    if (!qobject_cast<Sheet*>(w)) return w;
  return nullptr;
}

// The frame the window manager draws around `window`: its margins.
QMargins frameOf(const QWidget* window) {
  const QRect inner = window->geometry();
  const QRect outer = window->frameGeometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

// Kept by a window while it shows sheets: the window grows to hold the
// tallest and widest of them, centred where it was and kept, frame and all,
// within its screen's available area, and goes back to where it was once the
// last of them is gone.
class SheetRoom final : public QObject {
 public:
  static SheetRoom& of(QWidget* host) {
    if (auto* room = host->findChild<QObject*>(kName, Qt::FindDirectChildrenOnly)) return *static_cast<SheetRoom*>(room);
    return *new SheetRoom(host);
  }

  void add(Sheet* sheet) {
    // Known by its object address, taken now: QWidget's destructor says
    // destroyed() when the sheet is a sheet no more, and nothing may treat
    // it as one then (not even a QPointer<Sheet>, whose data() would cast).
    const QObject* key = sheet;
    sheets_.append({key, sheet});
    connect(sheet, &Sheet::dismissed, this, [this, key] { remove(key); });
    connect(sheet, &QObject::destroyed, this, [this, key] { remove(key); });
    fit();
  }

 private:
  static constexpr QLatin1StringView kName{"tlrSheetRoom"};

  explicit SheetRoom(QWidget* host) : QObject(host), host_(host), original_(host->geometry()) {
    setObjectName(kName);
  }

  void remove(const QObject* sheet) {
    if (done_) return;
    sheets_.removeIf([sheet](const Shown& s) { return s.key == sheet || s.sheet.isNull(); });
    if (!sheets_.isEmpty()) {
      fit();
      return;
    }
    if (host_->geometry() != original_) host_->setGeometry(original_);
    // Done: a sheet that opens from now on starts a room of its own, and
    // this one no longer moves the window.
    done_ = true;
    setObjectName(QString());
    deleteLater();
  }

  void fit() {
    QSize wanted = original_.size();
    for (const Shown& shown : sheets_)
      if (shown.sheet) wanted = wanted.expandedTo(shown.sheet->designSize() + QSize(2 * kRoomBeside, 2 * kRoomAbove));
    wanted = wanted.expandedTo(host_->minimumSize()).boundedTo(host_->maximumSize());
    QRect place(QPoint(), wanted);
    place.moveCenter(original_.center());
    if (const QScreen* screen = host_->screen()) {
      // Kept on its screen with its frame: no larger than the area, pushed
      // back in from whichever edge it crossed.
      const QRect area = screen->availableGeometry().marginsRemoved(frameOf(host_));
      place.setSize(place.size().boundedTo(area.size()).expandedTo(host_->minimumSize()));
      place.moveCenter(original_.center());
      if (place.bottom() > area.bottom()) place.moveBottom(area.bottom());
      if (place.right() > area.right()) place.moveRight(area.right());
      if (place.top() < area.top()) place.moveTop(area.top());
      if (place.left() < area.left()) place.moveLeft(area.left());
    }
    if (place != host_->geometry()) host_->setGeometry(place);
  }

  // A sheet shown in the room: its address as a plain object, to be
  // compared while it is destroyed, and the sheet while it lives.
  struct Shown {
    const QObject* key;
    QPointer<Sheet> sheet;
  };

  QWidget* host_;
  QRect original_;
  QList<Shown> sheets_;
  bool done_ = false;
};

// The control in `within` the user last pressed: the one a click went to,
// else the one with the focus.
QWidget* pressedIn(QWidget* within) {
  if (QWidget* clicked = InputTrail::clicked(); InputTrail::lastWasMouse() && clicked && within->isAncestorOf(clicked))
    return clicked;
  QWidget* focus = within->focusWidget();
  return focus && within->isAncestorOf(focus) ? focus : nullptr;
}

// Tells assistive tools that the children of `host` they can reach changed.
void announceReorder(QWidget* host) {
  if (!host) return;
  QAccessibleEvent event(host, QAccessible::ObjectReorder);
  QAccessible::updateAccessibility(&event);
}

}  // namespace

// The layer a sheet is drawn on inside its window: it covers the window's
// content, dims it, takes the clicks meant for it, and keeps its sheet
// centred in whatever size the window has, made smaller where the window
// cannot hold it whole.
class SheetLayer final : public QWidget {
 public:
  SheetLayer(QWidget* host, Sheet* sheet) : QWidget(host), host_(host), sheet_(sheet) {
    setObjectName(QStringLiteral("sheetLayer"));
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    host->installEventFilter(this);
    setGeometry(host->rect());
  }

  void place() {
    if (!sheet_) return;
    const QSize room = size() - QSize(2 * kRoomBeside, 2 * kRoomAbove);
    const QSize fitted = sheet_->designSize().boundedTo(room.expandedTo(QSize(1, 1)));
    if (sheet_->size() != fitted) sheet_->setFixedSize(fitted);
    sheet_->move((width() - fitted.width()) / 2, (height() - fitted.height()) / 2);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == host_ && event->type() == QEvent::Resize) setGeometry(host_->rect());
    return QWidget::eventFilter(watched, event);
  }
  void resizeEvent(QResizeEvent*) override { place(); }
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, Theme::current().dark ? 110 : 56));
  }
  // Clicks and the wheel meant for the content under the sheet go nowhere.
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override { event->accept(); }
  void mouseDoubleClickEvent(QMouseEvent* event) override { event->accept(); }
  void wheelEvent(QWheelEvent* event) override { event->accept(); }

 private:
  QWidget* host_;
  QPointer<Sheet> sheet_;
};

Sheet::Sheet(QSize fixedSize, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), designSize_(fixedSize) {
  setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  InputTrail::watch();
  setFixedSize(fixedSize);
  setSizeGripEnabled(false);
  setAutoFillBackground(false);
  whenLookChanges(this);
}

Sheet::~Sheet() {
  // The focus moves while the dialog under this hides: nothing of this
  // sheet may hear of it by then.
  disconnect(focusWatch_);
  unpark();
  if (layer_) layer_->deleteLater();
}

Label* Sheet::addTitleHeader(QBoxLayout* column, const QString& name) {
  auto* header = new QHBoxLayout();
  header->setContentsMargins(22, 16, 22, 16);
  auto* title = new Label(QString(), 16, QFont::DemiBold, TextRole::primary, this);
  title->setObjectName(name + QStringLiteral("Title"));
  title->setElided(true);
  header->addWidget(title, 1);
  auto* close = new CloseButton(this);
  titleClose_ = close;
  close->setObjectName(name + QStringLiteral("Close"));
  connect(close, &QAbstractButton::clicked, this, &Sheet::requestClose);
  header->addWidget(close);
  column->addLayout(header);
  column->addWidget(new Divider(this));
  title_ = title;
  return title;
}

QVBoxLayout* Sheet::addTitleHeaderAndBody(const QString& name, QMargins bodyMargins, int spacing) {
  auto* frame = new QVBoxLayout(this);
  frame->setContentsMargins(0, 0, 0, 0);
  frame->setSpacing(0);
  addTitleHeader(frame, name);
  auto* body = new QVBoxLayout;
  body->setContentsMargins(bodyMargins);
  body->setSpacing(spacing);
  frame->addLayout(body, 1);
  return body;
}

void Sheet::setTitle(const QString& title) {
  if (title_) title_->setPlainText(title);
  setWindowTitle(title);
}

void Sheet::setDefaultButton(QAbstractButton* button) { defaultButton_ = button; }

QAbstractButton* Sheet::defaultButton() const { return defaultButton_.data(); }

void Sheet::requestClose() {
  if (dismissed_) return;
  if (onClose_) {
    // The presenter may delete us later; keep the callable alive meanwhile.
    const std::function<void()> onClose = onClose_;
    onClose();
  } else {
    dismiss();
  }
}

void Sheet::dismiss() {
  if (dismissed_) return;
  dismissed_ = true;
  dismissing_ = true;
  QDialog::done(QDialog::Accepted);
  dismissing_ = false;
  if (layer_) {
    // Back under the widget it was made for, hidden, and its layer gone;
    // the control that had the focus before the sheet opened gets it back.
    QWidget* layer = layer_;
    layer_ = nullptr;
    setParent(ownerBeforeLayer_, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    layer->hide();
    layer->deleteLater();
    announceReorder(layer->parentWidget());
    // With its ring unless a click closed the sheet.
    if (QWidget* focus = focusBeforeSheet_.data(); focus && focus->isVisible()) {
      if (InputTrail::lastWasMouse())
        focus->setFocus(Qt::MouseFocusReason);
      else
        focusWithRing(focus);
    }
  }
  Q_EMIT dismissed();
  if (deleteOnDismiss_) deleteLater();
}

void Sheet::present() {
  QWidget* host = hostOf(parentWidget());
  if (host && host->isVisible() && !layer_) {
    // Drawn inside its window, on a layer over the content. It stays tied to
    // the widget it was made for: when that one goes, so does the sheet.
    ownerBeforeLayer_ = parentWidget();
    // The control that opened it gets the focus back: the one clicked, else
    // the one the keyboard was on.
    focusBeforeSheet_ = pressedIn(host);
    if (!focusBeforeSheet_) focusBeforeSheet_ = host->focusWidget();
    if (QWidget* owner = ownerBeforeLayer_.data(); owner && owner != host)
      connect(owner, &QObject::destroyed, this, [this] { delete this; });
    SheetLayer* layer = new SheetLayer(host, this);
    layer_ = layer;
    setParent(layer, Qt::SubWindow);
    setWindowModality(Qt::NonModal);
    setResult(0);
    layer->place();
    SheetRoom::of(host).add(this);
    layer->show();
    layer->raise();
    show();
    // The focus moves into the sheet: the control asked for, else its first
    // control Tab reaches, else the sheet itself (so Esc reaches it).
    QWidget* first = firstControl();
    if (QWidget* asked = firstFocus_.isEmpty() ? nullptr : findChild<QWidget*>(firstFocus_);
        asked && asked->isVisibleTo(this) && asked->isEnabled() && (asked->focusPolicy() & Qt::TabFocus))
      first = asked;
    if (first == this) setFocusPolicy(Qt::ClickFocus);
    if (first == this)
      first->setFocus(Qt::OtherFocusReason);
    else
      focusWithRing(first);
    // Nor does it ever go back under the sheet (the window manager handing
    // the window its focus back, a control under it asking for it).
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) { keepFocusInside(now); });
    host->activateWindow();
    announceReorder(host);
    return;
  }
  if (parentWidget()) {
    const QRect parentRect = parentWidget()->window()->geometry();
    move(parentRect.center() - QPoint(width() / 2, height() / 2));
  }
  open();
  raise();
  activateWindow();
}

QWidget* Sheet::pressedControl() { return pressedIn(this); }

QWidget* Sheet::firstControl() {
  for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain()) {
    if (!isAncestorOf(w)) continue;
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) && w->isEnabled()) return w;
  }
  return this;
}

bool Sheet::focusNextPrevChild(bool next) {
  QWidget* focus = QApplication::focusWidget();
  if (focus && focus != this && isAncestorOf(focus) && (!focus->isEnabled() || !focus->isVisibleTo(this))) {
    park(focus);
    return true;
  }
  unpark();
  return QDialog::focusNextPrevChild(next);
}

void Sheet::park(QWidget* control) {
  unpark();
  parked_ = control;
  control->setProperty(kFocusParked, true);
  control->installEventFilter(this);
  control->update();
  setFocus(Qt::OtherFocusReason);
  // Hidden already (its own hiding moved the focus): what replaces it is
  // looked for once the change is over.
  if (!control->isVisibleTo(this)) QMetaObject::invokeMethod(this, &Sheet::parkedHidden, Qt::QueuedConnection);
  // The user moving the focus on in this window ends what the sheet held
  // for the control (another window taking the keyboard, a prompt, does not).
  parkWatch_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now && now != this && now->window() == window()) unpark();
  });
}

void Sheet::unpark() {
  QWidget* control = parked_.data();
  parked_ = nullptr;
  disconnect(parkWatch_);
  if (!control) return;
  control->removeEventFilter(this);
  control->setProperty(kFocusParked, QVariant());
  control->update();
}

bool Sheet::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parked_.data()) {
    switch (event->type()) {
      case QEvent::EnabledChange:
      case QEvent::Show:
        // Usable again: back to it, if the sheet still holds its focus.
        QMetaObject::invokeMethod(
            this,
            [this, control = parked_] {
              if (!control || control != parked_ || window()->focusWidget() != this) return;
              if (!control->isEnabled() || !control->isVisibleTo(this)) return;
              unpark();
              focusWithRing(control);
            },
            Qt::QueuedConnection);
        break;
      case QEvent::Hide:
        QMetaObject::invokeMethod(this, &Sheet::parkedHidden, Qt::QueuedConnection);
        break;
      default:
        break;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void Sheet::parkedHidden() {
  QWidget* control = parked_.data();
  if (!control || control->isVisibleTo(this) || window()->focusWidget() != this) return;
  // Gone for good: the control shown in its place beside it (Launch for
  // Stop) takes the focus: of the controls of the same group that can take
  // it, the nearest to it in the order Tab goes, the one before it first.
  QWidget* group = control->parentWidget();
  QList<QWidget*> after;  // the focus chain from the control on, round to it
  for (QWidget* w = control->nextInFocusChain(); w && w != control && after.size() < 10000; w = w->nextInFocusChain())
    after << w;
  unpark();
  QWidget* nearest = nullptr;
  qsizetype distance = after.size() + 1;
  for (qsizetype i = 0; i < after.size(); ++i) {
    QWidget* w = after[i];
    if (w->parentWidget() != group || !(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(this) || !w->isEnabled())
      continue;
    const qsizetype forward = i + 1, backward = after.size() - i;
    const qsizetype d = std::min(forward, backward);
    if (d < distance || (d == distance && backward <= forward)) {
      nearest = w;
      distance = d;
    }
  }
  if (nearest) focusWithRing(nearest);
}

void Sheet::keepFocusInside(QWidget* now) {
  QWidget* layer = layer_.data();
  if (!layer || dismissed_ || !now || !isVisible() || now->window() != layer->window()) return;
  // In a sheet (this one, or one over it) is where it belongs.
  for (QWidget* w = now; w; w = w->parentWidget())
    if (dynamic_cast<SheetLayer*>(w)) return;
  // Under the layers: the sheet on top takes it back.
  QWidget* top = nullptr;
  for (QWidget* child : layer->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (dynamic_cast<SheetLayer*>(child) && child->isVisible()) top = child;
  if (top != layer) return;
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (dismissed_ || !isVisible()) return;
        QWidget* target = focusWidget() && isAncestorOf(focusWidget()) ? focusWidget() : firstControl();
        if (target == this)
          target->setFocus(Qt::OtherFocusReason);
        else
          focusWithRing(target);
      },
      Qt::QueuedConnection);
}

bool Sheet::event(QEvent* event) {
  // Named after its title, inside a window as well as as a window.
  if (event->type() == QEvent::WindowTitleChange) setAccessibleName(windowTitle());
  return QDialog::event(event);
}

SheetHostAccessible::SheetHostAccessible(QWidget* window, QAccessible::Role role) : QAccessibleWidget(window, role) {}

std::optional<QWidget*> SheetHostAccessible::onlyChild() const {
  // A window-modal alert or prompt over this window, or one modal over all:
  // none of its children.
  if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != widget() && modal->isVisible()) {
    const QWidget* over = modal->parentWidget() ? modal->parentWidget()->window() : nullptr;
    if (modal->windowModality() == Qt::ApplicationModal || over == widget()) return nullptr;
  }
  // Children are stacked in their order: the last shown layer is on top.
  QWidget* top = nullptr;
  for (QObject* child : widget()->children())
    if (auto* layer = dynamic_cast<SheetLayer*>(child); layer && !layer->isHidden()) top = layer;
  if (top) return top;
  return std::nullopt;
}

int SheetHostAccessible::childCount() const {
  const std::optional<QWidget*> only = onlyChild();
  if (!only) return QAccessibleWidget::childCount();
  return *only ? 1 : 0;
}

QAccessibleInterface* SheetHostAccessible::child(int index) const {
  const std::optional<QWidget*> only = onlyChild();
  if (!only) return QAccessibleWidget::child(index);
  return index == 0 && *only ? QAccessible::queryAccessibleInterface(*only) : nullptr;
}

int SheetHostAccessible::indexOfChild(const QAccessibleInterface* child) const {
  const std::optional<QWidget*> only = onlyChild();
  if (!only) return QAccessibleWidget::indexOfChild(child);
  return *only && child && child->object() == *only ? 0 : -1;
}

QAccessibleInterface* SheetHostAccessible::childAt(int x, int y) const {
  const std::optional<QWidget*> only = onlyChild();
  if (!only) return QAccessibleWidget::childAt(x, y);
  QAccessibleInterface* top = *only ? QAccessible::queryAccessibleInterface(*only) : nullptr;
  return top && top->rect().contains(x, y) ? top : nullptr;
}

void paintSheetBackground(QWidget* window) {
  QPainter p(window);
  const Theme::Roles r = Theme::current();
  p.fillRect(window->rect(), r.background);
  // A hairline around the edge keeps a sheet apart from the window or sheet
  // beneath it.
  p.setPen(QPen(r.separator(), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(window->rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void Sheet::paintEvent(QPaintEvent*) { paintSheetBackground(this); }

void Sheet::closeEvent(QCloseEvent* event) {
  if (dismissing_) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  requestClose();
}

void Sheet::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    requestClose();
    return;
  }
  if (isPressKey(event)) {
    // Not taken by the focused control: the main action, if it is there;
    // nothing while the sheet holds the focus of a busy control.
    event->accept();
    if (parked_) return;
    if (QAbstractButton* button = defaultButton_.data(); button && button->isVisibleTo(this) && button->isEnabled())
      button->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void Sheet::reject() {
  if (dismissing_) {
    QDialog::reject();
    return;
  }
  requestClose();
}

}  // namespace tlr
