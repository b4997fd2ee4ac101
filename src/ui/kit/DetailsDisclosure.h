#pragma once

// What a tool printed (npm, gocryptfs, tar, …), kept out of the message it
// explains and shown on request:
//
//   auto* details = new DetailsDisclosure(parent);
//   details->setDetails(rawOutput);   // empty: the control hides itself
//
// A "Details" / "详情" line with a disclosure chevron; opened (a click, Space,
// or an assistive tool's Toggle), the text below it in the fixed-width face
// with every line break kept, selectable, wrapping long lines anywhere and
// scrolling once it is taller than `maxBodyHeight`. The line is in the
// language its owner gives it; the text is shown as plain text, never as
// markup.

#include "ui/kit/Controls.h"

#include <QWidget>

class QTextEdit;

namespace tlr {

class DetailsDisclosure final : public QWidget {
  Q_OBJECT

 public:
  explicit DetailsDisclosure(QWidget* parent = nullptr, int maxBodyHeight = 160);

  void setLanguage(AppLanguage language);
  void setDetails(const QString& text);
  const QString& details() const { return details_; }

  bool isExpanded() const;
  void setExpanded(bool expanded);
  // The "Details" line (a ToggleControl: checked while open).
  ToggleControl* toggle() const { return toggle_; }

 Q_SIGNALS:
  void expandedChanged(bool expanded);

 private:
  void retranslate();
  void fitBody();
  bool event(QEvent* event) override;

  AppLanguage language_ = AppLanguage::zh;
  QString details_;
  int maxBodyHeight_;
  ToggleControl* toggle_;
  QTextEdit* body_;
};

}  // namespace tlr
