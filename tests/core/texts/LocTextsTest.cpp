#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "core/texts/TextFill.h"

#include <QLocale>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <locale>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

using tlr::AppLanguage;
using tlr::LocKey;
using tlr::SettingsStore;

namespace {

QString en(const LocKey& key) { return tlr::LocTexts::text(AppLanguage::en, key); }
QString zh(const LocKey& key) { return tlr::LocTexts::text(AppLanguage::zh, key); }

template <class T>
T sampleValue(int variant);
template <>
QString sampleValue<QString>(int variant) { return variant == 1 ? QStringLiteral("CPU") : QStringLiteral("sample"); }
template <>
tlr::LocInt sampleValue<tlr::LocInt>(int variant) { return variant; }
template <>
tlr::LocInt32 sampleValue<tlr::LocInt32>(int variant) { return variant == 2 ? 812 : variant; }
template <>
tlr::LocSeconds sampleValue<tlr::LocSeconds>(int variant) { return 1.5 * variant; }

// The key built by its own factory with sample values of the kinds its row
// declares, without braces: counts of 0, 1 and 2 (so every form a count
// picks), and "CPU" among the texts.
template <auto id, class... Args>
std::vector<LocKey> samplesOf(const tlr::LocFactory<id, void(Args...)>& factory) {
  if constexpr (sizeof...(Args) == 0) {
    return {factory()};
  } else {
    std::vector<LocKey> keys;
    for (int variant = 0; variant < 3; ++variant) keys.push_back(factory(sampleValue<Args>(variant)...));
    return keys;
  }
}

// Every key of the table, each with its samples.
std::map<LocKey::Id, std::vector<LocKey>> everyKeySampled() {
  std::map<LocKey::Id, std::vector<LocKey>> samples;
  const auto add = [&](const std::vector<LocKey>& keys) {
    for (const LocKey& key : keys) samples[key.id()].push_back(key);
  };
#define TLR_LOC_ROW(name, ...) add(samplesOf(LocKey::name));
#include "core/texts/LocTable.h"
  return samples;
}

bool isChinese(QChar c) { return (c >= QChar(0x3000) && c <= QChar(0x9FFF)) || (c >= QChar(0xFF00) && c <= QChar(0xFFEF)); }

// The first ":" "," "?" ";" or "!" of a Chinese sentence written half-width
// (next to a Chinese character, or followed by a blank or the end), with
// what follows it; empty when there is none. Technical words inside ("exit=2",
// "https://") keep theirs.
QString halfWidthInChinese(const QString& text) {
  if (std::none_of(text.cbegin(), text.cend(), isChinese)) return {};
  for (qsizetype i = 0; i < text.size(); ++i) {
    if (!QStringView(u":,?;!").contains(text[i])) continue;
    const QChar before = i > 0 ? text[i - 1] : QChar();
    const QChar after = i + 1 < text.size() ? text[i + 1] : QChar(u' ');
    if (isChinese(before) || isChinese(after) || after.isSpace()) return text.mid(i, 8);
  }
  return {};
}

// Restores the C and C++ locales and Qt's default locale.
class LocaleGuard {
 public:
  LocaleGuard() : cLocale_(std::setlocale(LC_ALL, nullptr)), cppLocale_(), qtLocale_() {}
  ~LocaleGuard() {
    std::setlocale(LC_ALL, cLocale_.c_str());
    std::locale::global(cppLocale_);
    QLocale::setDefault(qtLocale_);
  }
  LocaleGuard(const LocaleGuard&) = delete;
  LocaleGuard& operator=(const LocaleGuard&) = delete;

 private:
  std::string cLocale_;
  std::locale cppLocale_;
  QLocale qtLocale_;
};

struct DecimalComma : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

// Wrong kinds of values do not compile.
static_assert(!std::is_invocable_v<decltype(LocKey::restartHeader), int>);
static_assert(!std::is_invocable_v<decltype(LocKey::restartFoundPids), QString, QString>);
static_assert(!std::is_invocable_v<decltype(LocKey::doctorExitInfo), double, double>);
static_assert(!std::is_invocable_v<decltype(LocKey::doctorExitInfo), int, int>);
static_assert(!std::is_invocable_v<decltype(LocKey::restartNewPidUp), qint64>);
static_assert(!std::is_invocable_v<decltype(LocKey::uninstallWarnBody), bool>);
static_assert(!std::is_invocable_v<decltype(LocKey::restartHeader)>, "a key with values needs them");
static_assert(!std::is_invocable_v<decltype(LocKey::restartBtnAgent), QString>, "a key without values takes none");
static_assert(std::is_invocable_v<decltype(LocKey::restartSigtermFail), int, int>);

}  // namespace

TEST(LocTextsCoverage, EveryKeyHasATextInBothLanguages) {
  const auto samples = everyKeySampled();
  ASSERT_EQ(samples.size(), LocKey::kCount);
  std::size_t valuedKeys = 0;
  for (const LocKey::Id id : LocKey::allIds()) {
    const bool valued = LocKey::carriesValues(id);
    valuedKeys += valued ? 1 : 0;
    ASSERT_TRUE(samples.count(id)) << LocKey::name(id);
    if (!valued) {
      EXPECT_EQ(samples.at(id).front(), LocKey::plain(id)) << LocKey::name(id);
    }
    for (const LocKey& key : samples.at(id)) {
      ASSERT_EQ(key.id(), id);
      EXPECT_EQ(LocKey::fromStored(QString::fromLatin1(LocKey::name(id)), key.values()), key)
          << LocKey::name(id) << ": an event stores the key by its name and values";
      for (const QString& text : {en(key), zh(key)}) {
        if (id == LocKey::Id::empty) {
          EXPECT_TRUE(text.isEmpty());
          continue;
        }
        EXPECT_FALSE(text.isEmpty()) << LocKey::name(id);
        EXPECT_FALSE(text.contains(u'{') || text.contains(u'}')) << LocKey::name(id) << ": " << text.toStdString();
        EXPECT_FALSE(text.contains(QStringLiteral("%1"))) << LocKey::name(id);
        EXPECT_FALSE(text.contains(QStringLiteral("..."))) << LocKey::name(id) << ": the ellipsis is \"…\"";
      }
      EXPECT_EQ(halfWidthInChinese(zh(key)), QString()) << LocKey::name(id) << ": " << zh(key).toStdString();
    }
  }
  EXPECT_EQ(valuedKeys, LocKey::kValuedCount);
  EXPECT_EQ(LocKey::plain(LocKey::Id::restartHeader), LocKey::empty()) << "a key with values needs its values";
}

TEST(LocTextsSpecialRules, HeroSummaryNamesLockedAgentsOnlyWhenThereAreAny) {
  EXPECT_EQ(en(LocKey::heroSubMixed(2, 5, 0)), "Guarding 5 · 2 running");
  EXPECT_EQ(en(LocKey::heroSubMixed(2, 5, 1)), "Guarding 5 · 2 running · 1 locked");
  EXPECT_EQ(zh(LocKey::heroSubMixed(2, 5, 0)), "守护 5 个 · 2 个运行中");
  EXPECT_EQ(zh(LocKey::heroSubMixed(2, 5, 1)), "守护 5 个 · 2 个运行中 · 1 个锁定在线");
  EXPECT_EQ(en(LocKey::heroSubMixed(0, 0, -1)), "Guarding 0 · 0 running · -1 locked");
}

TEST(LocTextsSpecialRules, EnglishPluralsFollowTheCount) {
  EXPECT_EQ(en(LocKey::detailDoctorBannerHasIssuesTitle(1)), "Setup complete. Found 1 known issue");
  EXPECT_EQ(en(LocKey::detailDoctorBannerHasIssuesTitle(0)), "Setup complete. Found 0 known issues");
  EXPECT_EQ(en(LocKey::detailDoctorBannerHasIssuesTitle(3)), "Setup complete. Found 3 known issues");
  EXPECT_EQ(zh(LocKey::detailDoctorBannerHasIssuesTitle(1)), "setup 完成，发现 1 个已知问题");
  EXPECT_EQ(zh(LocKey::detailDoctorBannerHasIssuesTitle(3)), "setup 完成，发现 3 个已知问题");

  // Each failed item is shown with its own reason: the body blames nothing.
  EXPECT_EQ(en(LocKey::uninstallWarnBody(1)), "1 item didn't uninstall, for the reason under it:");
  EXPECT_EQ(en(LocKey::uninstallWarnBody(7)), "7 items didn't uninstall, each for the reason under it:");
  EXPECT_EQ(zh(LocKey::uninstallWarnBody(1)), "以下 1 项没有卸载，原因写在各项下面：");
  // The count that chooses is the row's: the second value here, both here.
  EXPECT_EQ(en(LocKey::usbExportProgressFiles(2, 1)), "2 / 1 file");
  EXPECT_EQ(en(LocKey::usbExportProgressFiles(1, 2)), "1 / 2 files");
  EXPECT_EQ(en(LocKey::backupAgentLocation(1, 1)), "1 agent · 1 location");
  EXPECT_EQ(en(LocKey::backupAgentLocation(1, 3)), "1 agent · 3 locations");
  EXPECT_EQ(en(LocKey::backupAgentLocation(2, 1)), "2 agents · 1 location");
  EXPECT_EQ(en(LocKey::backupAgentLocation(0, 0)), "0 agents · 0 locations");
  EXPECT_EQ(zh(LocKey::backupAgentLocation(1, 3)), "1 个 Agent · 3 个位置");
  EXPECT_EQ(en(LocKey::doctorFoundIssues(1)), "Found 1 known issue");
  EXPECT_EQ(en(LocKey::doctorFoundIssues(2)), "Found 2 known issues");
  EXPECT_EQ(zh(LocKey::doctorFoundIssues(1)), "发现 1 个已知问题");

  // What a backup left out: the count, then the first paths.
  const struct {
    LocKey one, several;
    const char *enOne, *enSeveral, *zhSeveral;
  } leftOut[] = {
      {LocKey::backupLeftOutNotRegular(1, "~/a"), LocKey::backupLeftOutNotRegular(3, "~/a, …"),
       "Not backed up: 1 item that is not a regular file (a link, FIFO or socket): ~/a",
       "Not backed up: 3 items that are not regular files (links, FIFOs or sockets): ~/a, …",
       "未备份 3 项（符号链接、FIFO 或套接字，不是普通文件）：~/a, …"},
      {LocKey::backupLeftOutUnreadable(1, "~/a"), LocKey::backupLeftOutUnreadable(3, "~/a, …"),
       "Not backed up, not readable: 1 item this user may not read: ~/a",
       "Not backed up, not readable: 3 items this user may not read: ~/a, …",
       "未备份，无法读取：3 项（当前用户没有读取权限）：~/a, …"},
      {LocKey::backupLeftOutTooDeep(1, 256, "~/a"), LocKey::backupLeftOutTooDeep(3, 256, "~/a, …"),
       "Not backed up: 1 folder more than 256 levels deep: ~/a",
       "Not backed up: 3 folders more than 256 levels deep: ~/a, …", "未备份 3 个文件夹（层级超过 256 层）：~/a, …"},
      {LocKey::backupLeftOutChanged(1, "~/a"), LocKey::backupLeftOutChanged(3, "~/a, …"),
       "Changed while it was read, twice: 1 file, stored as read: ~/a",
       "Changed while they were read, twice: 3 files, stored as read: ~/a, …",
       "读取时一再改变：3 个文件，按读到的内容备份：~/a, …"},
  };
  for (const auto& c : leftOut) {
    EXPECT_EQ(en(c.one), c.enOne);
    EXPECT_EQ(en(c.several), c.enSeveral);
    EXPECT_EQ(zh(c.several), c.zhSeveral);
  }
  EXPECT_EQ(en(LocKey::backupIncomplete()), "This backup is incomplete.");
  EXPECT_EQ(zh(LocKey::backupIncomplete()), "此次备份不完整。");
  EXPECT_EQ(en(LocKey::restoreStatSkillsUnit(1)), "1 skill");
  EXPECT_EQ(en(LocKey::restoreStatSkillsUnit(0)), "0 skills");
  EXPECT_EQ(en(LocKey::restoreStatTasksUnit(1)), "1 task");
  EXPECT_EQ(en(LocKey::restoreStatTasksUnit(4)), "4 tasks");
  EXPECT_EQ(zh(LocKey::restoreStatSkillsUnit(1)), "1 个技能");
  EXPECT_EQ(zh(LocKey::restoreStatTasksUnit(4)), "4 个任务");
}

TEST(LocTextsSpecialRules, RunawayUnitDependsOnTheExactResourceName) {
  EXPECT_EQ(en(LocKey::resourceRunawayDetails("CPU", 250)), "CPU high for too long: 250%");
  EXPECT_EQ(en(LocKey::resourceRunawayDetails("cpu", 250)), "cpu high for too long: 250 MB");
  EXPECT_EQ(en(LocKey::resourceRunawayDetails("Memory", 2048)), "Memory high for too long: 2048 MB");
  EXPECT_EQ(zh(LocKey::resourceRunawayDetails("CPU", 250)), "CPU 长时间偏高：250%");
  EXPECT_EQ(zh(LocKey::resourceRunawayDetails("内存", 2048)), "内存 长时间偏高：2048 MB");
}

TEST(LocTextsSpecialRules, QuotedTextsKeepTheirPunctuation) {
  EXPECT_EQ(en(LocKey::restartVerifyExitMismatch(2, 0)), "exit=2, expected 0");
  EXPECT_EQ(zh(LocKey::restartVerifyExitMismatch(2, 0)), "exit=2，期望 0");
  EXPECT_EQ(zh(LocKey::doctorHintCmd("agent doctor")), "将运行：`agent doctor`（只读，不修改任何东西）");
  EXPECT_EQ(zh(LocKey::restartHintCmd("gw restart")), "将运行：`gw restart`");
  EXPECT_EQ(en(LocKey::doctorErrCmdExit(-1, "boom")), "Command exited -1: boom");
  EXPECT_EQ(en(LocKey::restartSigtermFail(812, 3)), "  - pid 812 SIGTERM failed errno=3");
  EXPECT_EQ(en(LocKey::restartVerifyMissingString("ok")), "exit OK but output missing \"ok\"");
  EXPECT_EQ(en(LocKey::feedbackBodyTemplate("v1.4.0")),
            "Describe what went wrong or what you'd like to see:\n\n\n---\nVersion: v1.4.0\n");
  EXPECT_EQ(zh(LocKey::restartSurvivors(2, "[812, 907]")), "· 仍有 2 个未退 [812, 907] → SIGKILL");
  EXPECT_EQ(en(LocKey::empty()), "");
  EXPECT_EQ(zh(LocKey::empty()), "");
  EXPECT_EQ(zh(LocKey::eventThrottled()), "反复异常，已暂停接管，请检查处理");
  EXPECT_EQ(tlr::LocTexts::text(AppLanguage::en, LocKey::brandName()), "Tollamere");
  EXPECT_EQ(tlr::LocTexts::text(AppLanguage::zh, LocKey::statusBarQuit()), "退出 Tollamere");
}

TEST(LocTextsInsertion, InsertedValuesAreNeverSubstitutedAgain) {
  EXPECT_EQ(en(LocKey::restartHeader("{1} %1 {2}")), "=== Restart {1} %1 {2} ===");
  EXPECT_EQ(en(LocKey::doctorOkUpdated("{2}", "a = \"x\"")), "Updated {2}: a = \"x\"");
  EXPECT_EQ(zh(LocKey::alertTerminalOpenFailBody("echo {2}", "%2")).count(u"{2}"), 1);
  EXPECT_TRUE(zh(LocKey::alertTerminalOpenFailBody("echo {2}", "%2")).endsWith(u"错误：%2"));
  EXPECT_EQ(en(LocKey::usbExportProgressSize("{2}", "10 MB")), "{2} / 10 MB");
}

TEST(LocTextsInsertion, TemplateFillerLeavesUnknownPlacesAlone) {
  const std::vector<QString> values{"a{1}", "b"};
  EXPECT_EQ(tlr::fillTemplate(u"{1}-{2}-{3}-{0}-{}-{x}-{12", values), "a{1}-b-{3}-{0}-{}-{x}-{12");
  EXPECT_EQ(tlr::fillTemplate(u"{1}{1}", values), "a{1}a{1}");
  EXPECT_EQ(tlr::fillTemplate(u"{99999999999999999999}", values), "{99999999999999999999}");
}

TEST(LocTextsLocale, DurationsUseOneDecimalAndAFullStopInAnyLocale) {
  LocaleGuard guard;
  bool commaLocale = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      char probe[16];
      std::snprintf(probe, sizeof probe, "%.1f", 0.5);
      commaLocale = commaLocale || std::string(probe) == "0,5";
      break;
    }
  }
  std::locale::global(std::locale(std::locale::classic(), new DecimalComma));
  std::ostringstream probe;
  probe << 0.5;
  commaLocale = commaLocale || probe.str() == "0,5";
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  if (!commaLocale) GTEST_SKIP() << "neither the C nor the C++ locale could be given a decimal comma";

  EXPECT_EQ(en(LocKey::doctorExitInfo(0, 0.25)), "Exit 0 · 0.2s") << "rounds as %.1f does";
  EXPECT_EQ(en(LocKey::doctorExitInfo(0, 3.14159)), "Exit 0 · 3.1s");
  EXPECT_EQ(zh(LocKey::doctorExitInfo(0, 0.75)), "退出码 0 · 0.8s");
  EXPECT_EQ(en(LocKey::doctorOutputExitCode(-1, 1234567.89)), "Exit code: -1  /  Elapsed: 1234567.9s");
  EXPECT_EQ(zh(LocKey::doctorOutputExitCode(2, 0.0)), "退出码：2  /  耗时：0.0s");
  EXPECT_EQ(en(LocKey::usbExportEtaSeconds(1234567)), "1234567s left") << "no grouping separators";
  EXPECT_EQ(tlr::formatOneDecimal(-2.25), "-2.2");
  EXPECT_EQ(tlr::formatOneDecimal(0.05), "0.1") << "0.05 is slightly above the half in binary";
}

// What the windows show speaks of this platform: never of a Mac, Finder, the
// Dock, the menu bar, ⌘, Terminal.app, Homebrew or a fixed image size. The
// key names stay as they are; restart reports, log lines and stored texts
// are not shown in windows and keep their words.
// Chinese runs on without blanks between its words (blanks stay around
// numbers and Latin words); the image is called by one name.
TEST(LocTextsWords, ChineseTextsHaveNoBlankBetweenChineseWords) {
  static const QRegularExpression blankBetween(
      QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}] +[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
  for (const LocKey::Id id : LocKey::allIds()) {
    if (LocKey::carriesValues(id)) continue;
    EXPECT_FALSE(zh(LocKey::plain(id)).contains(blankBetween)) << LocKey::name(id) << ": " << zh(LocKey::plain(id)).toStdString();
  }
  EXPECT_EQ(en(LocKey::restoreFoundBackup()), "Found a backup in the encrypted backup image");
  EXPECT_EQ(zh(LocKey::restoreFoundBackup()), "在加密备份卷里找到备份");
}

TEST(LocTextsWords, NoWindowTextNamesAMacThing) {
  static const QRegularExpression macWords(
      QStringLiteral("\\bMac\\b|Finder|\\bDock\\b|menu bar|⌘|Terminal\\.app|\\bTerminal\\b|Homebrew|\\bbrew\\b|"
                     "macOS|System Settings|AppleScript|osascript|200 GB|菜单栏|访达|系统设置|隐私与安全"));
  for (const auto& [id, keys] : everyKeySampled()) {
    for (const LocKey& key : keys)
      for (const QString& text : {en(key), zh(key)})
        EXPECT_FALSE(text.contains(macWords)) << LocKey::name(id) << ": " << text.toStdString();
  }
}
