#include "watcher/HangWatcher.h"

#include "core/EventStore.h"
#include "platform/DirectoryWatcher.h"
#include "platform/Log.h"
#include "platform/Paths.h"
#include "platform/Utf8.h"
#include "registry/AgentRegistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tlr {
namespace {

constexpr const char* kTag = "[HangWatcher] ";
constexpr qint64 kReadLimit = 8192;

// The process name of a report's first non-empty line, if it names one.
std::optional<QString> processNameIn(const QString& text) {
  const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
  if (lines.isEmpty()) return std::nullopt;
  const QString& line = lines.first();
  static const QString key = QStringLiteral("\"procName\"");
  const qsizetype keyAt = line.indexOf(key);
  if (keyAt < 0) return std::nullopt;
  const qsizetype open = line.indexOf('"', keyAt + key.size());
  if (open < 0) return std::nullopt;
  const qsizetype close = line.indexOf('"', open + 1);
  if (close < 0) return std::nullopt;
  return line.mid(open + 1, close - open - 1);
}

}  // namespace

HangWatcher::HangWatcher(EventStore& eventStore)
    : HangWatcher(eventStore, Paths::diagnosticReports()) {}

HangWatcher::HangWatcher(EventStore& eventStore, QString reportsFolder)
    : eventStore_(&eventStore), diagnosticReportsDir_(std::move(reportsFolder)) {}

HangWatcher::~HangWatcher() = default;

void HangWatcher::updateRegistry(const AgentRegistry& registry) {
  QHash<QString, QString> table;
  for (const AgentEntry& entry : registry.visibleAgents()) {
    for (const QString& name : entry.identify.executableNames.value_or(QStringList{}))
      table.insert(name.toLower(), entry.id);
  }
  processNameToAgentId_ = std::move(table);
}

void HangWatcher::start() {
  if (source_) return;
  QDir().mkpath(diagnosticReportsDir_);
  auto watcher = std::make_unique<DirectoryWatcher>();
  if (!watcher->start(diagnosticReportsDir_, [this] { handleDirChange(); })) {
    log(kTag, QStringLiteral("无法打开 DiagnosticReports 目录监听"));
    return;
  }
  seenFiles_ = currentHangFiles();
  source_ = std::move(watcher);
  log(kTag, QStringLiteral("开始监听 ") + diagnosticReportsDir_);
}

QSet<QString> HangWatcher::currentHangFiles() const {
  QSet<QString> files;
  const QDir dir(diagnosticReportsDir_);
  for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
    if (name.contains(QLatin1String("-hang"))) files.insert(dir.filePath(name));
  }
  return files;
}

void HangWatcher::handleDirChange() {
  QSet<QString> current = currentHangFiles();
  for (const QString& path : current) {
    if (seenFiles_.contains(path)) continue;
    // A report still empty is being written; it is looked at again at the
    // change that its completion brings.
    if (QFileInfo(path).size() == 0) {
      current.remove(path);
      continue;
    }
    inspectHangFile(path);
  }
  seenFiles_ = std::move(current);
}

void HangWatcher::inspectHangFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return;
  const QByteArray head = file.read(kReadLimit);
  const std::optional<QString> text = decodeStrictUtf8(head);
  if (!text) return;
  const std::optional<QString> processName = processNameIn(*text);
  if (!processName) return;
  const auto agent = processNameToAgentId_.constFind(processName->toLower());
  if (agent == processNameToAgentId_.cend()) return;
  log(kTag, QStringLiteral("检测到 hang: %1 → agent %2").arg(*processName, *agent));
  if (eventStore_)
    eventStore_->append(AgentEvent::make(*agent, AgentEventType::hangDetected,
                                         QStringLiteral("进程长时间无响应（来自系统 hang 报告）")));
}

}  // namespace tlr
