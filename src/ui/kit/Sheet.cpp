#include "ui/kit/Sheet.h"

#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPainter>

namespace tlr {

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
  auto* close = new CloseButton(QStringLiteral("Close"), this);
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
  if (parentWidget()) {
    const QRect parentRect = parentWidget()->window()->geometry();
    move(parentRect.center() - QPoint(width() / 2, height() / 2));
  }
  open();
  raise();
  activateWindow();
}

void Sheet::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const Theme::Roles r = Theme::current();
  p.fillRect(rect(), r.background);
  // A hairline around the edge keeps a sheet apart from the window or sheet
  // beneath it.
  p.setPen(QPen(r.separator(), 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

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
