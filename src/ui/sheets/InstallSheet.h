#pragma once

#include "core/texts/LocKey.h"
#include "presentation/InstallSession.h"
#include "registry/AgentEntry.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Sheet.h"
#include "ui/sheets/StepsSheet.h"

#include <functional>

class QHBoxLayout;
class QVBoxLayout;

namespace tlr {

class SettingsStore;

// The card of one missing requirement: its command, the description of a
// command the application knows, and the ways to get it: an automatic
// install where one is known, else a terminal script where one is known,
// and the requirement's website when it names one.
class RequirementCard final : public Card {
  Q_OBJECT

 public:
  RequirementCard(const InstallSession::Requirement& requirement, const SettingsStore& settings,
                  QWidget* parent = nullptr);

 Q_SIGNALS:
  void autoInstallRequested();
  void terminalInstallRequested(const tlr::CommandList& commands);
};

// Installs one agent: checks the commands its recipe requires, offers ways
// to get the missing ones, runs the recipe in the application (or hands it
// to a terminal window when the recipe asks), and shows each step and the
// outcome. The work is the session's; closing the sheet stops nothing.
class InstallSheet final : public StepsSheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{540, 460};

  // `onDone` is called (before `onClose`) when the user confirms the end of
  // an install, successful or not.
  // Its texts are in the language of `settings`, which must outlive it.
  InstallSheet(AgentEntry entry, std::function<void()> onClose, std::function<void()> onDone,
               const SettingsStore& settings, QWidget* parent = nullptr);
  ~InstallSheet() override;

  InstallSession& session() { return *session_; }

 private:
  void start() override;
  void refresh();
  QWidget* checkingBody();
  QWidget* missingBody();
  QWidget* runningBody();
  QWidget* doneBody();
  void fillFooter();

  InstallSession* session_;
};

}  // namespace tlr
