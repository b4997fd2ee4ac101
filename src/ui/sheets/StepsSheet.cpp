#include "ui/sheets/StepsSheet.h"

#include "core/stores/SettingsStore.h"
#include "ui/sheets/SheetParts.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QVBoxLayout>

namespace tlr {

StepsSheet::StepsSheet(QSize size, const QString& name, const QString& symbol, SymbolView::ColorFn symbolColor,
                       std::function<void()> onClose, std::function<void()> onDone, const SettingsStore& settings,
                       QWidget* parent)
    : Sheet(size, parent), settings_(settings), name_(name), onDone_(std::move(onDone)) {
  setObjectName(name + QStringLiteral("Sheet"));
  setOnClose(std::move(onClose));
  const sheets::SheetStart start =
      sheets::startSheet(this, symbol, std::move(symbolColor), settings_, name + QStringLiteral("CloseButton"));
  title_ = start.header.title;
  close_ = start.header.close;
  const sheets::BodyAndFooter parts = sheets::addBodyAndFooter(start.column, this, name + QStringLiteral("Footer"));
  body_ = parts.body;
  footer_ = parts.footer;
}

void StepsSheet::showEvent(QShowEvent* event) {
  Sheet::showEvent(event);
  if (!started_) {
    started_ = true;
    start();
  }
}

QString StepsSheet::text(const LocKey& key) const { return settings_.text(key); }

void StepsSheet::setTitle(const QString& title) {
  title_->setPlainText(title);
  setWindowTitle(title);
}

void StepsSheet::addSteps(QVBoxLayout* column, const QList<StepResult>& steps, qreal labelPixels, int errorLines,
                          QWidget* body) {
  for (const StepResult& step : steps) {
    auto* row = new sheets::StepRowView(step, labelPixels, errorLines, settings_, body);
    row->setObjectName(name_ + QStringLiteral("Step"));
    column->addWidget(row);
  }
}

void StepsSheet::clearFooter() {
  sheets::clearLayout(footer_);
  footer_->addStretch(1);
}

LinkButton* StepsSheet::addCancel() {
  auto* cancel = sheets::footerTextButton(text(LocKey::sheetCancel()));
  cancel->setObjectName(name_ + QStringLiteral("CancelButton"));
  connect(cancel, &QAbstractButton::clicked, this, &Sheet::requestClose);
  footer_->addWidget(cancel);
  return cancel;
}

void StepsSheet::addDontCloseNote() {
  auto* note = new Label(text(LocKey::sheetDontClose()), 11, QFont::Normal, TextRole::faint);
  note->setObjectName(name_ + QStringLiteral("RunningNote"));
  footer_->addWidget(note);
}

void StepsSheet::addDone(PaintedButton* done) {
  done->setObjectName(name_ + QStringLiteral("DoneButton"));
  connect(done, &QAbstractButton::clicked, this, [this] {
    const QPointer<StepsSheet> self(this);
    if (onDone_) onDone_();
    if (self) requestClose();
  });
  footer_->addWidget(done);
}

}  // namespace tlr
