#pragma once

#include "core/texts/LocKey.h"
#include "presentation/UninstallSession.h"
#include "registry/AgentEntry.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"
#include "ui/sheets/StepsSheet.h"

#include <QList>
#include <QPointer>

#include <functional>

class QHBoxLayout;
class QVBoxLayout;

namespace tlr {

class SettingsStore;

// Removes one agent by its registry recipe: a preview of its commands,
// standard paths and user-data paths with their sizes and the user's choice,
// then each step as the uninstaller reports it, then a summary with the
// steps that failed. While the uninstall runs the sheet cannot be closed.
class UninstallSheet final : public StepsSheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{560, 620};

  // `onDone` is called (before `onClose`) when the user confirms the end of
  // the uninstall.
  // Its texts are in the language of `settings`, which must outlive it.
  UninstallSheet(AgentEntry entry, std::function<void()> onClose, std::function<void()> onDone,
                 const SettingsStore& settings, QWidget* parent = nullptr);
  ~UninstallSheet() override;

  UninstallSession& session() { return *session_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;

 private:
  void start() override;
  bool closable() const { return session_->phase() != UninstallSession::Phase::executing; }
  void refresh();
  QWidget* previewBody();
  QWidget* group(const QString& key, const QString& title, QWidget* rows);
  QWidget* pathRows(UninstallSession::Group group, const QStringList& paths);
  QWidget* executingBody();
  QWidget* doneBody();
  void fillFooter();
  // The boxes and the Uninstall button as the session's choice stands.
  void showChoice();

  UninstallSession* session_;
  struct Box {
    UninstallSession::Group group;
    QString path;
    QPointer<CheckBox> view;
  };
  QList<Box> boxes_;
  QPointer<PaintedButton> startButton_;
};

}  // namespace tlr
