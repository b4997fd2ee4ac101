#pragma once

#include "ui/backup/BackupUiSupport.h"
#include "ui/kit/Sheet.h"

#include <QList>
#include <QPointer>
#include <QString>

#include <functional>

class QDialog;
class QVBoxLayout;

namespace tlr {

class SettingsStore;

class Card;
class Label;
class PrimaryButton;
class RestoreEngine;
class RestoreSession;
class SecondaryButton;
class SectionTitle;

namespace backupui {
class MessageLine;
}

// "Restore from backup": the time of the snapshot a restore would use, the
// machine it came from and its agents (read from its manifest), a note when
// a newer snapshot is damaged, "Restore all at once" and one "Restore
// <agent>" per agent, each behind a confirmation, the engine's stage label
// while a restore runs, and its outcome when it ends: the failure in the
// interface language (the tool's output behind "Details"), or "Restored
// <agent>" / all. The cross-device note shows when the snapshot was made on
// another machine. `onAgentRestored` is called with each agent's id once its
// data is back.
//
// The sheet draws its RestoreSession and asks before it hands a restore to
// it.
class RestoreSheet final : public backupui::SessionSheet<RestoreSession> {
  Q_OBJECT
 public:
  // `engine` runs the restores; the sheet's controls follow the language of
  // `settings`. Both must outlive it.
  RestoreSheet(std::function<void()> onClose, std::function<void(const QString& agentId)> onAgentRestored,
               RestoreEngine& engine, const SettingsStore& settings, QWidget* parent = nullptr);
  ~RestoreSheet() override;

  // The open confirmation, if any.
  QDialog* confirmation() const { return confirm_.data(); }

  // Ask for confirmation, then restore.
  void askRestoreAll();
  void askRestoreAgent(const QString& agentId);

 protected:
  void firstShown() override;

 private:
  void build();
  void buildSnapshotSection(QVBoxLayout* column);
  void buildAgentList(QVBoxLayout* column);
  void buildRunSection(QVBoxLayout* column);
  void retranslate();
  void refreshState();
  void rebuildAgentRows();
  void confirmThen(const QString& title, const QString& body, const QString& confirmLabel,
                   std::function<void()> then);

  QPointer<QDialog> confirm_;

  Card* summary_ = nullptr;
  Label* found_ = nullptr;
  Label* when_ = nullptr;
  Label* damaged_ = nullptr;
  Card* crossCard_ = nullptr;
  Label* crossTitle_ = nullptr;
  Label* crossBody_ = nullptr;
  Label* empty_ = nullptr;
  Label* emptyHint_ = nullptr;
  // Reads the backup again (asking for the password again) after reading it
  // failed.
  SecondaryButton* retry_ = nullptr;
  QWidget* agentsBox_ = nullptr;
  QVBoxLayout* agentsColumn_ = nullptr;
  struct AgentRow {
    QString id;
    QString name;
    Label* title = nullptr;
    Label* stats = nullptr;
    SecondaryButton* button = nullptr;
  };
  QList<AgentRow> rows_;
  PrimaryButton* restoreAll_ = nullptr;
  Label* stage_ = nullptr;
  backupui::MessageLine* outcome_ = nullptr;
  // What the last restore left out, one line each, in a scrolling column.
  void refreshLeftOut();
  ScrollArea* leftOutArea_ = nullptr;
  QVBoxLayout* leftOutColumn_ = nullptr;
  QList<Label*> leftOutLines_;
};

}  // namespace tlr
