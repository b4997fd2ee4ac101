#pragma once

#include "backup/PasswordVault.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr::test {

// A password prompt that answers from a script, each answer once, then
// nothing (a cancel), and keeps the reasons it was asked with.
class ScriptedPrompt final : public PasswordPrompt {
 public:
  explicit ScriptedPrompt(QList<std::optional<QString>> answers) : answers_(std::move(answers)) {}
  std::optional<QString> askPassword(const LocKey& reason) override {
    reasons << reason;
    return answers_.isEmpty() ? std::nullopt : answers_.takeFirst();
  }
  QList<LocKey> reasons;

 private:
  QList<std::optional<QString>> answers_;
};

}  // namespace tlr::test
