#include "ui/kit/Sheet.h"

#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QList>
#include <QPainter>
#include <QScreen>

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

// Kept by a window while it shows sheets: the window grows to hold the
// tallest and widest of them, centred where it was and kept on its screen,
// and goes back to where it was once the last of them is gone.
class SheetRoom final : public QObject {
 public:
  static SheetRoom& of(QWidget* host) {
    if (auto* room = host->findChild<QObject*>(kName, Qt::FindDirectChildrenOnly)) return *static_cast<SheetRoom*>(room);
    return *new SheetRoom(host);
  }

  void add(Sheet* sheet) {
    sheets_.append(sheet);
    // Known by its widget address, taken now: QWidget's destructor says
    // destroyed() when the sheet is a sheet no more, and nothing may treat
    // it as one then.
    const QWidget* key = sheet;
    connect(sheet, &Sheet::dismissed, this, [this, key] { remove(key); });
    connect(sheet, &QObject::destroyed, this, [this, key] { remove(key); });
    fit();
  }

 private:
  static constexpr QLatin1StringView kName{"tlrSheetRoom"};

  explicit SheetRoom(QWidget* host) : QObject(host), host_(host), original_(host->geometry()) {
    setObjectName(kName);
  }

  void remove(const QWidget* sheet) {
    if (done_) return;
    sheets_.removeIf([sheet](const QPointer<QWidget>& s) { return s.isNull() || s.data() == sheet; });
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
    for (const QPointer<QWidget>& sheet : sheets_)
      if (sheet) wanted = wanted.expandedTo(sheet->size() + QSize(2 * kRoomBeside, 2 * kRoomAbove));
    wanted = wanted.expandedTo(host_->minimumSize());
    QRect place(QPoint(), wanted);
    place.moveCenter(original_.center());
    if (const QScreen* screen = host_->screen()) {
      // Kept on its screen: pushed back in from whichever edge it crossed.
      const QRect area = screen->availableGeometry();
      if (place.bottom() > area.bottom()) place.moveBottom(area.bottom());
      if (place.right() > area.right()) place.moveRight(area.right());
      if (place.top() < area.top()) place.moveTop(area.top());
      if (place.left() < area.left()) place.moveLeft(area.left());
    }
    if (place != host_->geometry()) host_->setGeometry(place);
    for (const QPointer<QWidget>& sheet : sheets_)
      if (sheet) sheet->move(place.center() - QPoint(sheet->width() / 2, sheet->height() / 2));
  }

  QWidget* host_;
  QRect original_;
  QList<QPointer<QWidget>> sheets_;
  bool done_ = false;
};

}  // namespace

Sheet::Sheet(QSize fixedSize, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  setFixedSize(fixedSize);
  setSizeGripEnabled(false);
  setAutoFillBackground(false);
  whenLookChanges(this);
}

Sheet::~Sheet() = default;

Label* Sheet::addTitleHeader(QBoxLayout* column, const QString& name) {
  auto* header = new QHBoxLayout();
  header->setContentsMargins(22, 16, 22, 16);
  auto* title = new Label(QString(), 16, QFont::DemiBold, TextRole::primary, this);
  title->setObjectName(name + QStringLiteral("Title"));
  header->addWidget(title);
  header->addStretch(1);
  auto* close = new CloseButton(this);
  close->setObjectName(name + QStringLiteral("Close"));
  connect(close, &QAbstractButton::clicked, this, &Sheet::requestClose);
  header->addWidget(close);
  column->addLayout(header);
  column->addWidget(new Divider(this));
  return title;
}

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
  Q_EMIT dismissed();
  if (deleteOnDismiss_) deleteLater();
}

void Sheet::present() {
  // Opened inside its window, which grows to hold it while it is shown.
  if (QWidget* host = hostOf(parentWidget()); host && host->isVisible()) {
    SheetRoom::of(host).add(this);
  } else if (parentWidget()) {
    const QRect parentRect = parentWidget()->window()->geometry();
    move(parentRect.center() - QPoint(width() / 2, height() / 2));
  }
  open();
  raise();
  activateWindow();
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
