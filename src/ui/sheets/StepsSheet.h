#pragma once

#include "core/installers/StepResult.h"
#include "core/texts/LocKey.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"

#include <QString>

#include <functional>

class QAbstractButton;
class QHBoxLayout;
class QVBoxLayout;

namespace tlr {

class SettingsStore;

// The one shape of the install and the uninstall sheet: the sheets' header
// (a symbol, the title, the close button), a scrolling body and a footer
// under it, the work started on the first show, the steps as rows, and a
// footer of Cancel, a "don't close" note or Done. Every part is named after
// the sheet ("install" gives "installCloseButton", "installFooter",
// "installCancelButton", "installRunningNote", "installDoneButton"). Texts
// come from the settings, which must outlive the sheet.
class StepsSheet : public Sheet {
  Q_OBJECT

 protected:
  StepsSheet(QSize size, const QString& name, const QString& symbol, SymbolView::ColorFn symbolColor,
             std::function<void()> onClose, std::function<void()> onDone, const SettingsStore& settings,
             QWidget* parent);

  // Runs once, on the first show.
  virtual void start() = 0;
  void showEvent(QShowEvent* event) override;

  QString text(const LocKey& key) const;
  // The title in the header and the window's.
  void setTitle(const QString& title);
  // Each step a row named "<name>Step", added to `column`.
  void addSteps(QVBoxLayout* column, const QList<StepResult>& steps, qreal labelPixels, int errorLines,
                QWidget* body);
  // The footer's parts, right-aligned in the order added after clearFooter().
  void clearFooter();
  LinkButton* addCancel();
  void addDontCloseNote();
  // Pressing `done` tells onDone, then closes the sheet.
  void addDone(PaintedButton* done);

  const SettingsStore& settings_;
  const QString name_;
  CloseButton* close_ = nullptr;
  QVBoxLayout* body_ = nullptr;
  QHBoxLayout* footer_ = nullptr;

 private:
  std::function<void()> onDone_;
  Label* title_ = nullptr;
  bool started_ = false;
};

}  // namespace tlr
