#pragma once

#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace tlr {

// One progress row of an install or an uninstall, as the user reads it.
struct [[nodiscard]] StepResult {
  QUuid id = QUuid::createUuid();
  QString label;
  // False only when the step failed or was refused; a step skipped because
  // there was nothing to do succeeded.
  bool success = false;
  // Why a step failed or was refused, or the note on why it was skipped:
  // short, in the interface language of the moment it was made.
  std::optional<QString> error;
  // What the step's program printed, as it printed it (line breaks kept):
  // shown on request, never in place of `error`.
  std::optional<QString> details;

  static StepResult make(QString label, bool success, std::optional<QString> error = std::nullopt,
                         std::optional<QString> details = std::nullopt) {
    StepResult row;
    row.label = std::move(label);
    row.success = success;
    row.error = std::move(error);
    row.details = std::move(details);
    return row;
  }
};

using StepProgressHandler = std::function<void(const StepResult&)>;
using StepCompletionHandler = std::function<void(const QList<StepResult>&)>;

}  // namespace tlr
