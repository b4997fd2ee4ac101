#pragma once

#include "core/texts/LocKey.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

namespace tlr {

// One progress row of an install or an uninstall: text keys with their
// values, turned into text by the window in its language of the moment.
struct [[nodiscard]] StepResult {
  QUuid id = QUuid::createUuid();
  LocKey label = LocKey::empty();
  // False only when the step failed or was refused; a step skipped because
  // there was nothing to do succeeded.
  bool success = false;
  // Why a step failed or was refused, or the note on why it was skipped.
  std::optional<LocKey> error;
  // What the step's program printed, as it printed it (line breaks kept):
  // shown on request, never in place of `error`.
  std::optional<QString> details;
  // The path, as shown ("~" for the home folder), of a removal that the
  // system refused (permission denied, a file in use): one the user can
  // remove by hand. Never set for a path left on purpose (unsafe, or holding
  // a mounted file system).
  std::optional<QString> removableByHand;

  static StepResult make(LocKey label, bool success, std::optional<LocKey> error = std::nullopt,
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
