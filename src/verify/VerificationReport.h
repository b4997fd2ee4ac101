#pragma once

#include "verify/VerificationMode.h"

#include <QString>
#include <QStringList>

namespace tlr {

// The report of a backup verification mode: its first line names the mode,
// then one line per step ("✓ step" or "✗ step: reason"), then "PASS" or
// "FAIL". It passes only when it holds at least one step and every step
// passed, so a mode can never report a success it did not check.
class VerificationReport {
 public:
  explicit VerificationReport(VerificationMode mode) : mode_(mode) {}

  // Records a step; returns `ok`, so a mode can stop at the first failure.
  bool step(const QString& name, bool ok, const QString& reason = {});
  bool pass(const QString& name) { return step(name, true); }
  bool fail(const QString& name, const QString& reason) { return step(name, false, reason); }

  bool passed() const { return !lines_.isEmpty() && !failed_; }
  VerificationResult result() const;

 private:
  VerificationMode mode_;
  QStringList lines_;
  bool failed_ = false;
};

}  // namespace tlr
