#pragma once

#include "core/texts/SettingsValues.h"
#include "ui/kit/Sheet.h"

#include <QString>

class QVBoxLayout;

#include <optional>

namespace tlr {

class Label;
class SettingsStore;

// The two legal texts.
enum class LegalDocKind { privacy, terms };

// "privacy" or "terms".
QString rawValue(LegalDocKind kind);
std::optional<LegalDocKind> legalDocKindFromRaw(const QString& raw);

// The title and the text of a legal document in a language (plain text).
QString legalDocTitle(LegalDocKind kind, AppLanguage language);
QString legalDocText(LegalDocKind kind, AppLanguage language);

// Shows the privacy policy or the terms of service in the store's language
// (and follows a change of it); its close button calls onClose. The text is
// laid out as it is written: a line followed by "• " lines is a heading over
// them, each "• " item and each numbered clause ("1. Title. Text") hangs
// from its mark, and a clause's title is set as a heading.
class LegalDocSheet final : public Sheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{460, 480};

  LegalDocSheet(SettingsStore& store, LegalDocKind kind, QWidget* parent);

  LegalDocKind kind() const { return kind_; }
  QString shownTitle() const;
  // The whole text, as plain text.
  QString shownText() const;

 private:
  void retranslate();
  void layOut(const QString& text);

  SettingsStore& store_;
  LegalDocKind kind_;
  Label* title_ = nullptr;
  QWidget* body_ = nullptr;
  QVBoxLayout* blocks_ = nullptr;
  QString text_;
};

}  // namespace tlr
