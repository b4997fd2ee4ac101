#include "ui/shell/LegalDocSheet.h"

#include "core/texts/LocTexts.h"

#include "core/stores/SettingsStore.h"
#include "ui/kit/Controls.h"
#include "ui/kit/Theme.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tlr {
namespace {

const char16_t* kPrivacyEn =
    u"Tollamere runs on your computer and watches over the AI agents installed on it. What it records stays on "
    u"this computer.\n\n"
    u"Kept on your computer\n"
    u"• Each agent's event log (starts, exits, recoveries, hangs) and your settings, in Tollamere's settings file "
    u"under ~/.config/Tollamere.\n"
    u"• The network log — one entry for each update check, backup and restore, with its time, size and result — in "
    u"Tollamere's application folder, ~/.local/share/Tollamere. Entries older than 90 days are removed.\n"
    u"• Backups of your agents' data, only inside the encrypted backup image that you create with your own "
    u"password. Tollamere never uploads them.\n\n"
    u"Sent from your computer\n"
    u"• The update check sends Tollamere's application id, its version, an install id (a random identifier made on "
    u"this computer), the update channel and the reason for the check, together with the platform name and the "
    u"kernel release, to Tollamere's update service. When the answer names an announcement, its picture is "
    u"downloaded from the address given.\n"
    u"• Nothing else leaves your computer: no agent data, file names, logs or personal information.\n\n"
    u"Commands you run from Tollamere (installing, diagnosing or fixing an agent) are the agents' own tools and may "
    u"use the network as those tools do.\n\n"
    u"To remove everything Tollamere keeps, quit it and delete the two folders named above.";

const char16_t* kPrivacyZh =
    u"Tollamere 运行在你的电脑上，守护这台电脑上安装的 AI Agent。它记录的内容都留在这台电脑上。\n\n"
    u"保存在你的电脑上\n"
    u"• 每个 Agent 的事件记录（启动、退出、恢复、卡死）和你的设置，保存在 ~/.config/Tollamere 下的设置文件里。\n"
    u"• 网络记录——每次检查更新、备份和恢复各一条，含时间、大小和结果——保存在应用目录 ~/.local/share/Tollamere 里，"
    u"超过 90 天的记录会被删除。\n"
    u"• Agent 数据的备份只写进你用自己的密码创建的加密备份镜像里，Tollamere 从不上传。\n\n"
    u"从你的电脑发出\n"
    u"• 检查更新时，Tollamere 向它的更新服务发送应用 ID、版本、安装 ID（在这台电脑上随机生成的标识）、更新渠道和检查原因，"
    u"以及平台名称和内核版本。如果回复里带有公告，会从给出的地址下载公告图片。\n"
    u"• 除此之外不发送任何内容：没有 Agent 数据、文件名、日志或个人信息。\n\n"
    u"你在 Tollamere 里运行的命令（安装、诊断或修复 Agent）是这些 Agent 自己的工具，它们会像平时一样使用网络。\n\n"
    u"要删除 Tollamere 保存的全部内容，请退出 Tollamere，然后删除上面提到的两个目录。";

const char16_t* kTermsEn =
    u"By using Tollamere you agree to these terms.\n\n"
    u"1. What Tollamere does. It finds the AI agents installed on this computer, watches them, relaunches them after "
    u"a crash under its recovery rules, and starts, stops and restarts them when you ask. When you ask, it runs the "
    u"install, uninstall, doctor and fix commands listed in its agent registry, as your user.\n\n"
    u"2. Your responsibility. Those commands and fixes can change programs and files on this computer. Read what a "
    u"step will do before you confirm it. Uninstalling removes the files and folders you select; Tollamere cannot "
    u"bring them back.\n\n"
    u"3. Backups. Backups are encrypted with the password you choose. Without that password they cannot be opened "
    u"or restored, by you or by us. Keep it safe.\n\n"
    u"4. Other software. The agents are made by others and are used under their own terms.\n\n"
    u"5. No warranty. Tollamere is provided as it is, without warranty of any kind. To the extent the law allows, "
    u"its makers are not liable for lost data or other damage arising from its use.\n\n"
    u"6. Changes. These terms may change with a new version; the version you run shows the terms that apply to it.";

const char16_t* kTermsZh =
    u"使用 Tollamere 即表示你同意以下条款。\n\n"
    u"1. Tollamere 做什么。它找出这台电脑上安装的 AI Agent 并守护它们：崩溃后按恢复规则重新启动，按你的要求启动、停止和重启。"
    u"在你要求时，它以你的用户身份运行 Agent 注册表里列出的安装、卸载、诊断和修复命令。\n\n"
    u"2. 你的责任。这些命令和修复会改动这台电脑上的程序和文件。确认之前请先看清每一步会做什么。卸载会删除你选中的文件和目录，"
    u"Tollamere 无法恢复它们。\n\n"
    u"3. 备份。备份用你设置的密码加密。没有这个密码，任何人（包括你和我们）都无法打开或恢复备份。请妥善保管密码。\n\n"
    u"4. 其他软件。各个 Agent 由其他厂商开发，按它们各自的条款使用。\n\n"
    u"5. 不提供担保。Tollamere 按现状提供，不附带任何形式的担保。在法律允许的范围内，开发者不对使用它造成的数据丢失或其他损失负责。\n\n"
    u"6. 条款变更。条款可能随新版本变更；你正在运行的版本显示适用于它的条款。";

}  // namespace

QString rawValue(LegalDocKind kind) {
  return kind == LegalDocKind::privacy ? QStringLiteral("privacy") : QStringLiteral("terms");
}

std::optional<LegalDocKind> legalDocKindFromRaw(const QString& raw) {
  if (raw == QLatin1String("privacy")) return LegalDocKind::privacy;
  if (raw == QLatin1String("terms")) return LegalDocKind::terms;
  return std::nullopt;
}

QString legalDocTitle(LegalDocKind kind, AppLanguage language) {
  return LocTexts::text(language,
                             kind == LegalDocKind::privacy ? LocKey::legalPrivacyTitle() : LocKey::legalTermsTitle());
}

QString legalDocText(LegalDocKind kind, AppLanguage language) {
  const bool en = language == AppLanguage::en;
  if (kind == LegalDocKind::privacy) return QString::fromUtf16(en ? kPrivacyEn : kPrivacyZh);
  return QString::fromUtf16(en ? kTermsEn : kTermsZh);
}

LegalDocSheet::LegalDocSheet(SettingsStore& store, LegalDocKind kind, QWidget* parent)
    : Sheet(kSize, parent), store_(store), kind_(kind) {
  setObjectName(QStringLiteral("legalDocSheet.") + rawValue(kind));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  title_ = addTitleHeader(column, QStringLiteral("legal"));
  auto* content = new QWidget;
  auto* contentColumn = new QVBoxLayout(content);
  contentColumn->setContentsMargins(24, 20, 24, 20);
  body_ = new QWidget(content);
  body_->setObjectName(QStringLiteral("legalBody"));
  blocks_ = new QVBoxLayout(body_);
  blocks_->setContentsMargins(0, 0, 0, 0);
  blocks_->setSpacing(6);
  contentColumn->addWidget(body_);
  contentColumn->addStretch(1);
  // Text only: the page itself takes the focus and scrolls.
  auto* scroll = new ScrollArea(content, this);
  scroll->setKeyboardScrolling(true);
  column->addWidget(scroll, 1);
  retranslate();
  connect(&store_, &SettingsStore::languageChanged, this, &LegalDocSheet::retranslate);
}

QString LegalDocSheet::shownTitle() const { return title_->fullText(); }
QString LegalDocSheet::shownText() const { return text_; }

void LegalDocSheet::retranslate() {
  setTitle(legalDocTitle(kind_, store_.language()));
  titleCloseButton()->setLanguage(store_.language());
  // The text scrolls from the keyboard too: a Tab stop named after it.
  if (auto* scroll = findChild<QScrollArea*>()) scroll->setAccessibleName(title_->fullText());
  layOut(legalDocText(kind_, store_.language()));
}

void LegalDocSheet::layOut(const QString& text) {
  text_ = text;
  while (QLayoutItem* item = blocks_->takeAt(0)) {
    if (QWidget* w = item->widget()) w->deleteLater();
    delete item;
  }
  const auto label = [this](const QString& content, QFont::Weight weight, const char* name) {
    auto* l = new Label(content, 12.5, weight, TextRole::primary, body_);
    l->setObjectName(QLatin1String(name));
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
  };
  // A mark ("•", "3.") in a column of its own, the text hanging beside it.
  const auto hanging = [this, &label](const QString& mark, int markWidth, QWidget* text) {
    auto* row = new QWidget(body_);
    row->setObjectName(QStringLiteral("legalItem"));
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto* markLabel = label(mark, QFont::Normal, "legalMark");
    markLabel->setWordWrap(false);
    markLabel->setFixedWidth(markWidth);
    markLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    line->addWidget(markLabel, 0, Qt::AlignTop);
    line->addWidget(text, 1);
    return row;
  };
  static const QRegularExpression clause(QStringLiteral("^(\\d+\\.)\\s+(.+?[.。])\\s*(.*)$"));
  const QStringList paragraphs = text.split(QStringLiteral("\n\n"));
  for (int p = 0; p < paragraphs.size(); ++p) {
    if (p > 0) blocks_->addSpacing(8);
    const QStringList lines = paragraphs[p].split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
      const QString& line = lines[i];
      if (line.startsWith(QStringLiteral("• "))) {
        blocks_->addWidget(hanging(QStringLiteral("•"), 12, label(line.mid(2), QFont::Normal, "legalBullet")));
      } else if (const QRegularExpressionMatch m = clause.match(line); m.hasMatch()) {
        auto* texts = new QWidget(body_);
        auto* column = new QVBoxLayout(texts);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
        column->addWidget(label(m.captured(2), QFont::DemiBold, "legalHeading"));
        if (!m.captured(3).isEmpty()) column->addWidget(label(m.captured(3), QFont::Normal, "legalParagraph"));
        blocks_->addWidget(hanging(m.captured(1), 20, texts));
      } else if (i + 1 < lines.size() && lines[i + 1].startsWith(QStringLiteral("• "))) {
        blocks_->addWidget(label(line, QFont::DemiBold, "legalHeading"));
      } else {
        blocks_->addWidget(label(line, QFont::Normal, "legalParagraph"));
      }
    }
  }
}

}  // namespace tlr
