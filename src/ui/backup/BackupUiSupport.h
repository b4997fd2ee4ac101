#pragma once

// Small pieces the backup, restore and migration windows share: labels, the
// masked password field and the status line. Their texts come from
// presentation/BackupTexts.h.

#include "backup/EngineMessage.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"

#include <QLineEdit>
#include <QString>
#include <QWidget>

#include <optional>

namespace tlr {

class SettingsStore;

class DetailsDisclosure;
class Label;

namespace backupui {

// An empty plain-text label named `name` (for tests and accessibility), in
// the kit's type scale; `wrap` lets long texts break into lines.
Label* makeLabel(QWidget* parent, const QString& name, qreal pixels, QFont::Weight weight, TextRole role,
                 bool wrap = false);

// The masked entry used wherever a password is typed: plain text, no
// context menu (no copying out), its own look in the scheme's colours. Its
// contents are overwritten when it is cleared.
class SecureField final : public QLineEdit {
  Q_OBJECT
 public:
  explicit SecureField(QWidget* parent = nullptr);
  // Empties the field (the text is overwritten first).
  void wipe();
  // The hint shown while empty (its accessible description); its name is
  // the label beside it (setAccessibleName).
  void setPlaceholder(const QString& placeholder);
};

// A status line of a backup window: one sentence (an engine failure in the
// interface language, in the failure colour, or a success line), and, when
// a failure carries the raw output of a tool (gocryptfs, tar) or a
// file-level reason, that text apart from the sentence, behind the kit's
// "Details" disclosure. The sentence is named `objectName`, the disclosure
// "<objectName>Details".
class MessageLine final : public QWidget {
  Q_OBJECT
 public:
  // Its "Details" line follows the language of `settings`.
  MessageLine(const QString& objectName, qreal pixels, const SettingsStore& settings, QWidget* parent = nullptr);
  // A failure: its sentence in the interface language, its details apart.
  void showFailure(const EngineMessage& message);
  // Shows `failure`, or nothing; the details fold up only when it is not the
  // failure already shown.
  void showLatestFailure(const std::optional<EngineMessage>& failure);
  // A plain line (a note) in the primary text colour, or a success ("✓ …")
  // in the working colour.
  void showText(const QString& text);
  void showSuccess(const QString& text);
  void clear();
  bool isEmpty() const { return !failure_ && text_.isEmpty(); }
  // The sentence as shown, and its label.
  QString shownText() const;
  Label* label() const { return label_; }
  DetailsDisclosure* details() const { return details_; }
  // Redraws the failure in the current interface language.
  void retranslate();

 private:
  void refresh();

  const SettingsStore& settings_;
  Label* label_;
  DetailsDisclosure* details_;
  std::optional<EngineMessage> failure_;
  QString text_;
  bool success_ = false;
};

// A backup window that draws one session: the settings whose language it
// follows, and its session, made by `make` with the sheet as its parent.
// The first time the sheet is shown, the session takes its first look
// (firstShown).
template <class Session>
class SessionSheet : public Sheet {
 public:
  const Session& session() const { return *session_; }

 protected:
  template <class Make>
  SessionSheet(QSize size, const SettingsStore& settings, Make make, QWidget* parent)
      : Sheet(size, parent), settings_(settings), session_(make(this)) {}

  void showEvent(QShowEvent* event) override {
    Sheet::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    firstShown();
  }
  virtual void firstShown() = 0;

  const SettingsStore& settings_;
  Session* const session_;

 private:
  bool shownOnce_ = false;
};

}  // namespace backupui
}  // namespace tlr
