#pragma once

// Small pieces the backup, restore and migration windows share: texts in the
// interface language, the sheet header, the masked password field and the
// way byte counts and times are written.

#include "core/LocKey.h"
#include "ui/kit/Controls.h"

#include <QDateTime>
#include <QLineEdit>
#include <QString>
#include <QWidget>

class QHBoxLayout;

namespace tlr {

class CloseButton;
class Label;

namespace backupui {

// The key's text in the interface language (SettingsStore::shared()).
QString text(const LocKey& key);
// The English text when the interface speaks English, else the Chinese one.
QString pick(const QString& english, const QString& chinese);
bool english();

// An empty plain-text label named `name` (for tests and accessibility), in
// the kit's type scale; `wrap` lets long texts break into lines.
Label* makeLabel(QWidget* parent, const QString& name, qreal pixels, QFont::Weight weight, TextRole role,
                 bool wrap = false);

// "1.2 MB"-style sizes as the rest of the interface writes them.
QString bytes(qint64 count);
// A snapshot's time as the sheets show it ("2026-12-07 09:15").
QString shortTime(const QDateTime& when);

// The masked entry used wherever a password is typed: plain text, no
// context menu (no copying out), its own look in the scheme's colours. Its
// contents are overwritten when it is cleared.
class SecureField final : public QLineEdit {
  Q_OBJECT
 public:
  explicit SecureField(QWidget* parent = nullptr);
  // Empties the field (the text is overwritten first).
  void wipe();
  void setPlaceholder(const QString& placeholder);

 private:
  void applyLook();
};

// A sheet's top row: its title on the left, the round close button on the
// right. `closeButton()` is named "<prefix>Close", the title "<prefix>Title".
// The title also names the window the header is in.
class SheetHeader final : public QWidget {
  Q_OBJECT
 public:
  SheetHeader(const QString& objectPrefix, QWidget* parent = nullptr);
  void setTitle(const QString& title);
  CloseButton* closeButton() const { return close_; }
  Label* titleLabel() const { return title_; }

 private:
  Label* title_;
  CloseButton* close_;
};

}  // namespace backupui
}  // namespace tlr
