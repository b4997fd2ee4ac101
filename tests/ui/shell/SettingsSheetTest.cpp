// The settings sheet, the legal texts and the announcement banner.
#include "core/netlog/NetworkLogger.h"
#include "core/stores/SettingsStore.h"
#include "core/system/SelfGuard.h"
#include "platform/Paths.h"
#include "service/VornelAppSDK.h"
#include "support/TestSupport.h"
#include "support/gui/AssistiveTool.h"
#include "support/gui/Drawn.h"
#include "support/gui/InView.h"
#include "ui/kit/Controls.h"
#include "ui/shell/LegalDocSheet.h"
#include "ui/shell/SettingsSheet.h"
#include "ui/shell/ShellTestSupport.h"
#include "ui/shell/VornelAdBannerView.h"

#include <QTextDocument>

#include <QBuffer>
#include <QtMath>
#include <QFontMetricsF>
#include <QApplication>
#include <QCoreApplication>
#include <QImageWriter>

#include <gtest/gtest.h>

using namespace tlr;
using tlr::test::child;
using tlr::test::click;

namespace {

QByteArray pngBytes(QSize size = QSize(40, 10)) {
  QImage image(size, QImage::Format_RGB32);
  image.fill(Qt::red);
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

// An icon file holding `pictures` (PNG files), whose directory says each is
// `said` large, whatever it really is.
QByteArray iconOf(const QList<QByteArray>& pictures, QSize said) {
  const auto le16 = [](QByteArray& out, quint16 v) { out += char(v & 0xFF), out += char(v >> 8); };
  const auto le32 = [&](QByteArray& out, quint32 v) { le16(out, v & 0xFFFF), le16(out, v >> 16); };
  QByteArray out;
  le16(out, 0), le16(out, 1), le16(out, quint16(pictures.size()));
  quint32 offset = 6 + 16 * quint32(pictures.size());
  for (const QByteArray& picture : pictures) {
    out += char(said.width() & 0xFF), out += char(said.height() & 0xFF), out += char(0), out += char(0);
    le16(out, 1), le16(out, 32), le32(out, quint32(picture.size())), le32(out, offset);
    offset += quint32(picture.size());
  }
  for (const QByteArray& picture : pictures) out += picture;
  return out;
}

// A settings sheet over a window, with stores of its own in a temporary home
// and a recording xdg-open first on PATH.
struct SheetFixture {
  test::TempHome home;
  test::FakeBin bin;
  SettingsStore store;
  SelfGuardInstaller installer{QStringLiteral("/nowhere/build/tollamere")};
  SelfGuardStore selfGuard{installer};
  NetworkLogger networkLog{Paths::appSupport() + QStringLiteral("/network-log.json")};
  VornelAppSDK sdk{networkLog};
  QWidget window;
  SettingsSheet* sheet = nullptr;

  explicit SheetFixture(AppLanguage language = AppLanguage::en, bool production = false, bool tray = true) {
    bin.addRecorder("xdg-open");
    store.setLanguage(language);
    window.resize(680, 560);
    window.show();
    sheet = new SettingsSheet({&store, &selfGuard, &sdk, production, tray}, &window);
    sheet->setOnClose([this] { sheet->dismiss(); });
    sheet->present();
  }
  QString opened() const { return test::readFile(bin.recordPath("xdg-open")); }
  template <class T = QWidget>
  T* find(const char* name) const {
    return child<T>(*sheet, QString::fromLatin1(name));
  }
};

}  // namespace

TEST(SettingsSheetLayout, SectionsInOrderWithUpperCaseEnglishTitles) {
  SheetFixture f(AppLanguage::en);
  EXPECT_EQ(f.sheet->size(), QSize(460, 480));
  EXPECT_EQ(f.find<Label>("settingsTitle")->text(), QStringLiteral("Settings"));
  EXPECT_EQ(f.sheet->sectionTitles(),
            (QStringList{"APPEARANCE", "TASK BAR", "AUTO-START & RECOVERY", "LANGUAGE", "TUTORIAL CENTER",
                         "FEEDBACK", "ABOUT"}));
  // Laid out top to bottom in that order.
  int lastY = -1;
  for (const char* name : {"section.appearance", "section.dock", "section.selfGuard", "section.language",
                           "section.tutorial", "section.feedback", "section.about"}) {
    QWidget* section = f.find(name);
    ASSERT_NE(section, nullptr) << name;
    EXPECT_GT(section->y(), lastY) << name;
    lastY = section->y();
  }
  EXPECT_EQ(f.find<PillButton>("appearancePill.system")->label(), QStringLiteral("System"));
  EXPECT_EQ(f.find<PrimaryButton>("tutorialButton")->label(), QStringLiteral("Open Tutorial Center"));
  test::expectReadableInBothSchemes(*f.sheet, "the settings sheet");
}

TEST(SettingsSheetLayout, ChoosingEnglishRedrawsEverythingAtOnceAndPillsKeepTheirLabels) {
  SheetFixture f(AppLanguage::zh);
  EXPECT_EQ(f.find<Label>("settingsTitle")->text(), QStringLiteral("设置"));
  EXPECT_EQ(f.sheet->sectionTitles().first(), QStringLiteral("外观"));
  EXPECT_TRUE(f.find<PillButton>("languagePill.zh")->isSelected());
  click(f.find<PillButton>("languagePill.en"));
  EXPECT_EQ(f.store.language(), AppLanguage::en);
  EXPECT_EQ(f.find<Label>("settingsTitle")->text(), QStringLiteral("Settings"));
  EXPECT_EQ(f.sheet->sectionTitles().first(), QStringLiteral("APPEARANCE"));
  EXPECT_EQ(f.find<PillButton>("languagePill.zh")->label(), QStringLiteral("中文"));
  EXPECT_EQ(f.find<PillButton>("languagePill.en")->label(), QStringLiteral("English"));
  EXPECT_TRUE(f.find<PillButton>("languagePill.en")->isSelected());
  EXPECT_FALSE(f.find<PillButton>("languagePill.zh")->isSelected());
}

TEST(SettingsSheetControls, AppearanceAndDockWriteTheStoreAndTheHintFollows) {
  SheetFixture f(AppLanguage::en);
  click(f.find<PillButton>("appearancePill.dark"));
  EXPECT_EQ(f.store.appearance(), AppearancePreference::dark);
  EXPECT_TRUE(f.find<PillButton>("appearancePill.dark")->isSelected());
  EXPECT_FALSE(f.find<PillButton>("appearancePill.system")->isSelected());

  auto* dock = f.find<ToggleSwitch>("dockSwitch");
  EXPECT_TRUE(dock->isChecked());
  EXPECT_EQ(f.find<Label>("dockHint")->text(),
            QStringLiteral("Make sure you can see Tollamere in the system tray before turning this off"));
  click(dock);
  EXPECT_FALSE(f.store.showInDock());
  EXPECT_EQ(f.find<Label>("dockHint")->text(),
            QStringLiteral("Tollamere now lives only in the system tray. Turn this on again if you can't find it"));
  click(dock);
  EXPECT_TRUE(f.store.showInDock());
  EXPECT_EQ(dock->accessibleName(), QStringLiteral("Show in task bar"));
}

TEST(SettingsSheetControls, SwitchesActOnAnAssistiveToolsToggleAndFollowTheStore) {
  SheetFixture f(AppLanguage::en);
  auto* dock = f.find<ToggleSwitch>("dockSwitch");
  ASSERT_TRUE(test::assistiveToggle(dock));
  EXPECT_FALSE(f.store.showInDock()) << "the toggle reaches the setting";
  EXPECT_FALSE(dock->isChecked());
  ASSERT_TRUE(test::assistiveToggle(dock));
  EXPECT_TRUE(f.store.showInDock());
  dock->setFocus();
  QTest::keyClick(dock, Qt::Key_Space);
  EXPECT_FALSE(f.store.showInDock());
  // The store changed elsewhere: the switch follows without writing back.
  f.store.setShowInDock(true);
  EXPECT_TRUE(dock->isChecked());

  // The appearance and language choices are radio buttons whose checked
  // state a screen reader reads, and whose action chooses as a click does.
  auto* light = f.find<PillButton>("appearancePill.light");
  auto* system = f.find<PillButton>("appearancePill.system");
  EXPECT_EQ(QAccessible::queryAccessibleInterface(light)->role(), QAccessible::RadioButton);
  EXPECT_TRUE(test::accessibleChecked(system));
  EXPECT_FALSE(test::accessibleChecked(light));
  const QString choose = QAccessible::queryAccessibleInterface(light)->actionInterface()->actionNames().value(0);
  ASSERT_TRUE(test::assistiveAction(light, choose));
  EXPECT_EQ(f.store.appearance(), AppearancePreference::light);
  EXPECT_TRUE(test::accessibleChecked(light));
  EXPECT_FALSE(test::accessibleChecked(system));
  // Each group's checked choice is its one Tab stop, so Tab reaches and a
  // reader announces what is set.
  const auto tabStops = [&f](const char* group) {
    QStringList stops;
    for (const char* value : {"system", "light", "dark", "zh", "en"})
      if (auto* pill = f.sheet->findChild<PillButton*>(QLatin1String(group) + QLatin1Char('.') + QLatin1String(value));
          pill && (pill->focusPolicy() & Qt::TabFocus))
        stops << QLatin1String(value);
    return stops;
  };
  EXPECT_EQ(tabStops("appearancePill"), QStringList{"light"});
  EXPECT_EQ(tabStops("languagePill"), QStringList{"en"});
  f.store.setAppearance(AppearancePreference::system);
  EXPECT_TRUE(test::accessibleChecked(system)) << "the store changed elsewhere: the choice follows";
  EXPECT_FALSE(test::accessibleChecked(light));
  EXPECT_EQ(tabStops("appearancePill"), QStringList{"system"});
  EXPECT_EQ(f.find<QWidget>("settingsScroll")->focusPolicy(), Qt::NoFocus) << "no unnamed Tab stop";

  // A development copy's auto-start switch cannot be toggled from anywhere.
  auto* selfGuard = f.find<ToggleSwitch>("selfGuardSwitch");
  EXPECT_FALSE(test::assistiveToggle(selfGuard));
  selfGuard->toggle();
  EXPECT_FALSE(selfGuard->isChecked());
  EXPECT_FALSE(f.selfGuard.enabled());
}

TEST(SettingsSheetControls, WithoutASystemTrayTheHintSaysTheMainWindowIsWhereTollamereLives) {
  SheetFixture f(AppLanguage::en, false, /*tray=*/false);
  EXPECT_EQ(f.find<Label>("dockHint")->text(),
            QStringLiteral("This desktop has no system tray: Tollamere lives in its main window. Start Tollamere "
                           "again to bring the window forward"));
  f.store.setShowInDock(false);
  EXPECT_EQ(f.find<Label>("dockHint")->text(),
            QStringLiteral("The main window stays out of the task bar. Start Tollamere again to bring it forward"));
  f.store.setLanguage(AppLanguage::zh);
  EXPECT_EQ(f.find<Label>("dockHint")->text(), QStringLiteral("主窗口不在任务栏显示。再次启动 Tollamere 即可把窗口带到最前面"));
  EXPECT_EQ(f.find<Label>("dockSwitchLabel")->text(), QStringLiteral("在任务栏显示"));
  // The kit's controls follow the sheet's language.
  EXPECT_EQ(f.find<CloseButton>("settingsClose")->accessibleName(), QStringLiteral("关闭")) << "named in Chinese too";
  f.store.setLanguage(AppLanguage::en);
  EXPECT_EQ(f.find<CloseButton>("settingsClose")->accessibleName(), QStringLiteral("Close"));
}

TEST(SettingsSheetControls, AutoStartIsGreyedWithItsNoteInADevelopmentCopy) {
  {
    SheetFixture dev(AppLanguage::en, false);
    auto* toggle = dev.find<ToggleSwitch>("selfGuardSwitch");
    EXPECT_FALSE(toggle->isEnabled());
    EXPECT_NEAR(test::drawnSwitchOpacity(toggle, false), 0.5, 0.05) << "greyed to half opacity";
    EXPECT_FALSE(dev.find<Label>("selfGuardNote")->isHidden());
    EXPECT_EQ(dev.find<Label>("selfGuardNote")->text(), QStringLiteral("Not available in dev mode"));
    click(toggle);
    EXPECT_FALSE(toggle->isChecked()) << "cannot be flipped";
  }
  SheetFixture installed(AppLanguage::en, true);
  EXPECT_TRUE(installed.find<ToggleSwitch>("selfGuardSwitch")->isEnabled());
  EXPECT_TRUE(installed.find<Label>("selfGuardNote")->isHidden());
}

TEST(SettingsSheetActions, FeedbackMailIsPercentEncodedAndOpenedThroughTheOpener) {
  EXPECT_EQ(SettingsSheet::feedbackMailto(AppLanguage::en, QStringLiteral("v1.4.0")),
            QStringLiteral("mailto:support@tollamere.example?subject=Tollamere%20%C2%B7%20Feedback"
                           "&body=Describe%20what%20went%20wrong%20or%20what%20you'd%20like%20to%20see:"
                           "%0A%0A%0A---%0AVersion:%20v1.4.0%0A"));
  const QString zh = SettingsSheet::feedbackMailto(AppLanguage::zh, QStringLiteral("v1.4.0"));
  EXPECT_TRUE(zh.contains(QStringLiteral("subject=Tollamere%20%C2%B7%20%E5%8F%8D%E9%A6%88"))) << zh.toStdString();
  EXPECT_TRUE(zh.endsWith(QStringLiteral("%0A---%0A%E7%89%88%E6%9C%AC%EF%BC%9Av1.4.0%0A"))) << zh.toStdString();

  SheetFixture f(AppLanguage::en);
  click(f.find<PrimaryButton>("feedbackButton"));
  ASSERT_TRUE(test::waitUntil([&] { return f.opened().endsWith("--\n"); }));
  EXPECT_EQ(f.opened(), SettingsSheet::feedbackMailto(AppLanguage::en, SettingsSheet::appVersion()) + "\n--\n");
  click(f.find<PrimaryButton>("tutorialButton"));
  ASSERT_TRUE(test::waitUntil([&] { return f.opened().count("--\n") == 2; }));
  EXPECT_TRUE(f.opened().endsWith("https://tollamere.example/tutorial/\n--\n"));
}

TEST(SettingsSheetActions, VersionTextFallsBackWhenTheApplicationHasNone) {
  const QString saved = QCoreApplication::applicationVersion();
  QCoreApplication::setApplicationVersion(QString());
  EXPECT_EQ(SettingsSheet::appVersion(), QStringLiteral("v0.2.0"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.4.0"));
  EXPECT_EQ(SettingsSheet::appVersion(), QStringLiteral("v1.4.0"));
  QCoreApplication::setApplicationVersion(saved);
}

// Tab round the sheet and back to its start: every control it reaches is
// scrolled into view first, the choices at the top too.
TEST(SettingsSheetClosing, TabShowsEveryControlAndReturnEscAndCloseGoThroughOnClose) {
  SheetFixture f(AppLanguage::en);
  f.window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f.window));
  int closes = 0;
  f.sheet->setOnClose([&closes] { ++closes; });
  QStringList reached;
  f.find<CloseButton>("settingsClose")->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < 40; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QWidget* focused = QApplication::focusWidget();
    reached << focused->accessibleName();
    EXPECT_TRUE(test::wholeInView(focused)) << i << " " << focused->accessibleName().toStdString();
  }
  EXPECT_GE(reached.count("System"), 2) << "round and back to the top";
  click(f.find<CloseButton>("settingsClose"));
  QTest::keyClick(f.sheet, Qt::Key_Escape);
  f.find<CloseButton>("settingsClose")->setFocus(Qt::TabFocusReason);
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
  EXPECT_EQ(closes, 3);
  EXPECT_TRUE(f.sheet->isVisible()) << "only the presenter closes it";
}

TEST(LegalSheets, PrivacyThenTermsOneAtATimeInTheSheetsLanguage) {
  SheetFixture f(AppLanguage::en);
  EXPECT_FALSE(f.sheet->legalToShow().has_value());
  click(f.find<LinkButton>("privacyLink"));
  ASSERT_NE(f.sheet->legalSheet(), nullptr);
  EXPECT_EQ(f.sheet->legalToShow(), LegalDocKind::privacy);
  LegalDocSheet* privacy = f.sheet->legalSheet();
  EXPECT_TRUE(privacy->isVisible());
  EXPECT_EQ(privacy->shownTitle(), QStringLiteral("Privacy Policy"));
  EXPECT_TRUE(privacy->shownText().contains(QStringLiteral("install id")));
  EXPECT_TRUE(privacy->shownText().contains(QStringLiteral("~/.local/share/Tollamere")));
  test::expectReadableInBothSchemes(*privacy, "the privacy policy");
  click(f.find<LinkButton>("termsLink"));
  EXPECT_EQ(f.sheet->legalSheet(), privacy) << "only one legal text at a time";

  click(child<CloseButton>(*privacy, QStringLiteral("legalClose")));
  EXPECT_FALSE(f.sheet->legalToShow().has_value());
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(f.sheet->legalSheet(), nullptr);
  EXPECT_TRUE(f.sheet->isVisible()) << "back to the settings";

  f.store.setLanguage(AppLanguage::zh);
  click(f.find<LinkButton>("termsLink"));
  ASSERT_NE(f.sheet->legalSheet(), nullptr);
  EXPECT_EQ(f.sheet->legalToShow(), LegalDocKind::terms);
  EXPECT_EQ(f.sheet->legalSheet()->shownTitle(), QStringLiteral("用户协议"));
  f.store.setLanguage(AppLanguage::en);
  EXPECT_EQ(f.sheet->legalSheet()->shownTitle(), QStringLiteral("Terms of Service")) << "follows the language";
}

TEST(LegalSheets, KindsAndTextsExistInBothLanguages) {
  EXPECT_EQ(rawValue(LegalDocKind::privacy), QStringLiteral("privacy"));
  EXPECT_EQ(legalDocKindFromRaw(QStringLiteral("terms")), LegalDocKind::terms);
  EXPECT_FALSE(legalDocKindFromRaw(QStringLiteral("Terms")).has_value());
  for (LegalDocKind kind : {LegalDocKind::privacy, LegalDocKind::terms})
    for (AppLanguage language : {AppLanguage::en, AppLanguage::zh})
      EXPECT_GT(legalDocText(kind, language).size(), 200);
  EXPECT_TRUE(legalDocText(LegalDocKind::privacy, AppLanguage::zh).contains(QStringLiteral("安装 ID")));
}

TEST(AnnouncementBanner, ShowsAWebAnnouncementAndOpensOnlyItsHttpLink) {
  SheetFixture f(AppLanguage::en);
  auto* banner = f.find<VornelAdBannerView>("adBanner");
  ASSERT_NE(banner, nullptr);
  EXPECT_FALSE(banner->hasAd()) << "no announcement: nothing drawn";
  EXPECT_EQ(banner->sizeHint(), QSize(0, 0));
  EXPECT_TRUE(banner->isHidden());

  f.sdk.setCurrentAd(VornelAd{"a", "https://x.example/p.png", "http://tollamere.example/spring"}, pngBytes());
  EXPECT_FALSE(banner->hasAd()) << "decoded off the window thread";
  ASSERT_TRUE(test::waitUntil([&] { return banner->hasAd(); }));
  EXPECT_EQ(banner->size(), QSize(400, 100));
  EXPECT_FALSE(banner->isHidden());
  QImage shot(banner->size(), QImage::Format_ARGB32_Premultiplied);
  shot.fill(Qt::transparent);
  banner->render(&shot, {}, {}, QWidget::DrawChildren);
  EXPECT_EQ(shot.pixelColor(200, 50), QColor(Qt::red)) << "the picture, stretched";
  EXPECT_EQ(qAlpha(shot.pixel(0, 0)), 0) << "rounded corners";
  QTest::mouseClick(banner, Qt::LeftButton, Qt::NoModifier, QPoint(200, 50));
  ASSERT_TRUE(test::waitUntil([&] { return f.opened().endsWith("--\n"); }));
  EXPECT_EQ(f.opened(), QStringLiteral("http://tollamere.example/spring\n--\n"));

  f.sdk.setCurrentAd(VornelAd{"b", "https://x.example/p.png", "file:///etc/passwd"}, pngBytes());
  ASSERT_TRUE(test::waitUntil([&] { return banner->hasAd(); }));
  QTest::mouseClick(banner, Qt::LeftButton, Qt::NoModifier, QPoint(200, 50));
  QCoreApplication::processEvents();
  EXPECT_EQ(f.opened(), QStringLiteral("http://tollamere.example/spring\n--\n")) << "file: is never opened";

  // The tooltip shows the address as it is written, never as markup.
  const QString marked = QStringLiteral("http://x.example/<b>bold</b><img src=\"file:///etc/passwd\">&amp;");
  f.sdk.setCurrentAd(VornelAd{"c", "https://x.example/p.png", marked}, pngBytes());
  ASSERT_TRUE(test::waitUntil([&] { return banner->hasAd(); }));
  QTextDocument shown;
  if (Qt::mightBeRichText(banner->toolTip()))
    shown.setHtml(banner->toolTip());
  else
    shown.setPlainText(banner->toolTip());
  EXPECT_EQ(shown.toPlainText(), marked);
  EXPECT_EQ(banner->accessibleName(), marked);

  f.sdk.setCurrentAd(std::nullopt, {});
  EXPECT_FALSE(banner->hasAd());
  EXPECT_TRUE(banner->isHidden());

  // A picture larger than the banner can show (twice its size at the
  // screen's ratio) was decoded whole on the window thread: a small file can
  // hold a huge picture. It is refused from its header.
  const qreal ratio = std::max<qreal>(1, banner->devicePixelRatioF());
  const QSize largest(qCeil(400 * ratio * 2), qCeil(100 * ratio * 2));
  for (const QSize size : {largest + QSize(1, 0), largest + QSize(0, 1), largest}) {
    f.sdk.setCurrentAd(VornelAd{"d", "https://x.example/p.png", "http://tollamere.example/"}, pngBytes(size));
    test::finishOffMainWork();
    EXPECT_EQ(banner->hasAd(), size == largest) << size.width() << "×" << size.height();
  }
  // An icon whose directory says 200 × 100 held a picture far larger, which
  // the toolkit decoded whole: each picture's own size counts, of every
  // picture it holds.
  const struct {
    const char* what;
    QList<QByteArray> pictures;
    bool shown;
  } icons[] = {
      {"a picture within", {pngBytes(QSize(200, 100))}, true},
      {"one larger than its entry says", {pngBytes(largest + QSize(1, 0))}, false},
      {"a later one larger", {pngBytes(QSize(200, 100)), pngBytes(largest + QSize(0, 1))}, false},
  };
  for (const auto& icon : icons) {
    f.sdk.setCurrentAd(VornelAd{"e", "https://x.example/p.ico", "http://tollamere.example/"},
                       iconOf(icon.pictures, QSize(200, 100)));
    test::finishOffMainWork();
    EXPECT_EQ(banner->hasAd(), icon.shown) << icon.what;
  }
}

TEST(LegalSheets, BulletsHangFromTheirMarksAndHeadingsAreSetAsHeadings) {
  SettingsStore store;
  store.setLanguage(AppLanguage::en);
  QWidget window;
  window.resize(680, 560);
  window.show();
  for (const LegalDocKind kind : {LegalDocKind::privacy, LegalDocKind::terms}) {
    LegalDocSheet sheet(store, kind, &window);
    sheet.setDeleteOnDismiss(false);
    sheet.present();
    ASSERT_TRUE(test::waitUntil([&] { return sheet.isVisible(); }));
    const QList<Label*> headings = sheet.findChildren<Label*>(QStringLiteral("legalHeading"));
    ASSERT_FALSE(headings.isEmpty());
    for (Label* heading : headings) EXPECT_EQ(heading->font().weight(), QFont::DemiBold) << heading->text().toStdString();
    if (kind == LegalDocKind::privacy) {
      EXPECT_EQ(headings.first()->text(), QStringLiteral("Kept on your computer"));
    } else {
      EXPECT_EQ(headings.first()->text(), QStringLiteral("What Tollamere does."));
    }
    // Each item's text starts right of its mark, so every wrapped line of it
    // hangs at the same place, left of nothing but the mark's column.
    for (QWidget* item : sheet.findChildren<QWidget*>(QStringLiteral("legalItem"))) {
      auto* mark = item->findChild<Label*>(QStringLiteral("legalMark"));
      ASSERT_NE(mark, nullptr);
      const QList<Label*> texts = item->findChildren<Label*>();
      for (Label* text : texts) {
        if (text == mark) continue;
        EXPECT_GT(text->mapTo(item, QPoint()).x(), mark->x() + mark->width() - 1) << text->text().toStdString();
        EXPECT_TRUE(text->wordWrap());
      }
    }
    sheet.dismiss();
  }
}

TEST(SettingsSheetLayout, TheAboutCardsNameAndVersionStandOnOneBaseline) {
  SheetFixture f(AppLanguage::en);
  auto* name = f.find<Label>("aboutName");
  auto* version = f.find<Label>("aboutVersion");
  ASSERT_NE(name, nullptr);
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->text(), SettingsSheet::appVersion());
  // Where each label draws its baseline, in the card.
  const auto baseline = [](const QLabel* label) {
    const QFontMetricsF m(label->font());
    const QRect box = label->contentsRect();
    qreal top = box.top();
    if (label->alignment() & Qt::AlignBottom) top = box.bottom() + 1 - m.height();
    else if (label->alignment() & Qt::AlignVCenter || !(label->alignment() & Qt::AlignTop))
      top = box.top() + (box.height() - m.height()) / 2;
    return label->mapTo(label->parentWidget(), QPoint()).y() + top + m.ascent();
  };
  EXPECT_NEAR(baseline(name), baseline(version), 1.0);
}
