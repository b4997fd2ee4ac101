#pragma once

#include "core/texts/SettingsValues.h"
#include "ui/kit/Sheet.h"
#include "ui/shell/LegalDocSheet.h"

#include <QPointer>
#include <QStringList>

#include <array>
#include <optional>

class QVBoxLayout;

namespace tlr {

class Label;
class LinkButton;
class PillButton;
class PrimaryButton;
class SectionTitle;
class SelfGuardStore;
class SettingsStore;
class ToggleSwitch;
class VornelAdBannerView;
class VornelAppSDK;

// The settings sheet (460 × 480): appearance, Dock icon, auto-start at login,
// language, tutorial, feedback, about with the legal links, and the maker's
// announcement. Every control writes straight into its store, which saves
// and applies it at once; the sheet keeps nothing of its own and redraws on
// every change of the stores, the scheme or the language.
class SettingsSheet final : public Sheet {
  Q_OBJECT

 public:
  static constexpr QSize kSize{460, 480};
  // The product web site's tutorial page and the support address.
  static constexpr const char* kTutorialUrl = "https://tollamere.example/tutorial/";
  static constexpr const char* kSupportAddress = "support@tollamere.example";

  struct Dependencies {
    SettingsStore* store = nullptr;
    SelfGuardStore* selfGuard = nullptr;
    VornelAppSDK* sdk = nullptr;
    bool isProductionApp = false;
    // Whether the desktop has a system tray; without one the main window is
    // where Tollamere lives, and the task-bar hint says so.
    bool hasSystemTray = true;
  };

  SettingsSheet(Dependencies deps, QWidget* parent);

  // "v" and the application version, or "v0.2.0" when it has none.
  static QString appVersion();
  // The feedback mail address: subject and body percent-encoded as a URL
  // query allows (letters, digits and - . _ ~ ! $ & ' ( ) * + , ; = : @ / ?
  // stay; everything else becomes %XX per UTF-8 byte).
  static QString feedbackMailto(AppLanguage language, const QString& version);
  static QString percentEncodeQuery(const QString& text);

  void openTutorialCenter();
  void openFeedbackEmail();
  // A failure is said in an alert with the address to copy.
  void openAddress(const QString& address);

  // The section titles as shown, top to bottom.
  QStringList sectionTitles() const;
  // The legal text presented over the sheet, if any.
  std::optional<LegalDocKind> legalToShow() const { return legalToShow_; }
  LegalDocSheet* legalSheet() const { return legalSheet_; }
  void showLegal(LegalDocKind kind);

 private:
  // The sections, each built into a box of `content`.
  QWidget* buildAppearance(QWidget* content);
  QWidget* buildDock(QWidget* content);
  QWidget* buildSelfGuard(QWidget* content);
  QWidget* buildLanguage(QWidget* content);
  QWidget* buildHintAndButton(QWidget* content, const char* name, const QString& symbol, Label*& hint,
                              PrimaryButton*& button, void (SettingsSheet::*action)());
  QWidget* buildAbout(QWidget* content);
  // Adds `content` to `column` under the section's title.
  QWidget* section(const char* name, QWidget* content, QVBoxLayout* column);
  void followChanges();
  void retranslate();
  void syncControls();

  Dependencies deps_;
  std::optional<LegalDocKind> legalToShow_;
  QPointer<LegalDocSheet> legalSheet_;

  QList<SectionTitle*> sectionTitles_;
  std::array<PillButton*, 3> appearancePills_{};
  std::array<PillButton*, 2> languagePills_{};
  ToggleSwitch* dockSwitch_ = nullptr;
  Label* dockSwitchLabel_ = nullptr;
  Label* dockHint_ = nullptr;
  Label* selfGuardLabel_ = nullptr;
  Label* selfGuardNote_ = nullptr;
  ToggleSwitch* selfGuardSwitch_ = nullptr;
  Label* tutorialHint_ = nullptr;
  PrimaryButton* tutorialButton_ = nullptr;
  Label* feedbackHint_ = nullptr;
  PrimaryButton* feedbackButton_ = nullptr;
  Label* aboutVersion_ = nullptr;
  Label* aboutTagline_ = nullptr;
  LinkButton* privacyLink_ = nullptr;
  LinkButton* termsLink_ = nullptr;
  VornelAdBannerView* banner_ = nullptr;
};

}  // namespace tlr
