#include "presentation/RestoreSession.h"

#include "backup/RestoreEngine.h"
#include "backup/VolumeLock.h"
#include "presentation/BackupTexts.h"
#include "platform/Log.h"
#include "platform/OffMain.h"

#include <QStringList>

#include <algorithm>
#include <memory>

namespace tlr {

using backuptext::text;

RestoreSession::RestoreSession(RestoreEngine& engine, AgentRestored onAgentRestored, QObject* parent)
    : QObject(parent), engine_(engine), onAgentRestored_(std::move(onAgentRestored)) {
  connect(&engine_, &RestoreEngine::stageChanged, this, &RestoreSession::changed);
  connect(&engine_, &RestoreEngine::isRunningChanged, this, &RestoreSession::changed);
  connect(&VolumeActivity::shared(), &VolumeActivity::changed, this, &RestoreSession::changed);
}

bool RestoreSession::isCrossDevice() const {
  return manifest_ && manifest_->device.macHashShort != BackupManifest::currentMacHashShort();
}

bool RestoreSession::newerIsDamaged() const { return manifest_ && engine_.damagedNewerCount() > 0; }

bool RestoreSession::everyBackupDamaged() const { return !manifest_ && !loading_ && engine_.damagedNewerCount() > 0; }

std::optional<QString> RestoreSession::agentName(const QString& agentId) const {
  if (!manifest_) return std::nullopt;
  for (const BackupManifest::AgentBackup& agent : manifest_->agents) {
    if (agent.id != agentId) continue;
    // The registry's name in the interface language; the backup's own name
    // for an agent the registry no longer lists.
    if (const std::shared_ptr<const AgentRegistry> registry = engine_.registry())
      if (const std::optional<AgentEntry> entry = registry->lookup(agentId)) return entry->localizedDisplayName();
    return agent.displayName.isEmpty() ? agent.id : agent.displayName;
  }
  return std::nullopt;
}

QString RestoreSession::agentStats(const BackupManifest::AgentBackup& agent) {
  return QStringList{text(LocKey::restoreStatSkillsUnit(agent.stats.skills)),
                     text(LocKey::restoreStatMemoryLabel()) + QLatin1Char(' ') + backuptext::bytes(agent.stats.memoryBytes),
                     text(LocKey::restoreStatTasksUnit(agent.stats.tasks)), backuptext::bytes(agent.totalBytes)}
      .join(QStringLiteral(" · "));
}

bool RestoreSession::isRunning() const { return engine_.isRunning(); }

QString RestoreSession::stageText() const { return engine_.isRunning() && engine_.stage() ? text(*engine_.stage()) : QString(); }

bool RestoreSession::volumeInUse() const { return engine_.isRunning() || VolumeActivity::shared().busy(); }

bool RestoreSession::canRestoreAgent() const { return manifest_ && !volumeInUse() && !loading_; }

bool RestoreSession::canRestoreAll() const { return canRestoreAgent() && !manifest_->agents.isEmpty(); }

QString RestoreSession::successText() const {
  if (!restoredName_) return {};
  if (!leftOut_.isEmpty()) {
    const qsizetype count = leftOut_.size();
    return text(restoredAll_ ? LocKey::restoreRestoredAllPartly(count)
                             : LocKey::restoreRestoredOnePartly(count, *restoredName_));
  }
  return text(restoredAll_ ? LocKey::restoreRestoredAll() : LocKey::restoreRestoredOne(*restoredName_));
}

QString RestoreSession::pathOf(const RestoreGap& gap) { return oneLine(gap.shownPath()); }

LocKey RestoreSession::leftOutLine(const RestoreGap& gap, const QString& path) const {
  const QString agent = agentName(gap.agentId).value_or(gap.agentId);
  switch (gap.reason) {
    case RestoreGap::Reason::noPlace: return LocKey::restoreLeftOutNoPlace(agent, path);
    case RestoreGap::Reason::outsideHome: return LocKey::restoreLeftOutOutsideHome(agent, path);
    case RestoreGap::Reason::notInArchive:
      return gap.root.isEmpty() ? LocKey::restoreLeftOutAgentNotInArchive(agent)
                                : LocKey::restoreLeftOutNotInArchive(agent, path);
  }
  return LocKey::restoreLeftOutNoPlace(agent, path);
}

void RestoreSession::load() {
  loadError_.reset();
  loadNeedsPassword_ = false;
  loading_ = true;
  Q_EMIT changed();
  // The reading runs off the main thread; a volume that is set up but not
  // attached is attached for that moment (the password prompt, when one is
  // needed, still comes to the main thread) and detached again, so the
  // engine finds it as it was and attaches it for its own run.
  engine_.inspect(whileAlive(this, [this](const Expected<void, RestoreError>& read) {
    loading_ = false;
    if (!read) {
      loadError_ = read.error().message();
      loadNeedsPassword_ = read.error().passwordProblem;
    }
    manifest_ = engine_.currentManifest();
    Q_EMIT manifestChanged();
    Q_EMIT changed();
  }));
}

void RestoreSession::restoreAll() {
  if (manifest_) run(std::nullopt);
}

void RestoreSession::restoreAgent(const QString& agentId) {
  if (agentName(agentId)) run(agentId);
}

void RestoreSession::run(const std::optional<QString>& agentId) {
  // The ids to announce: the one agent, or every agent of the snapshot.
  QStringList ids;
  QString name;
  if (agentId) {
    ids << *agentId;
    name = agentName(*agentId).value_or(*agentId);
  } else if (manifest_) {
    for (const auto& agent : manifest_->agents) ids << agent.id;
  }
  // The announcement must reach the presenter even when this session is
  // gone meanwhile: the data is back either way.
  auto announce = onAgentRestored_;
  // A request refused because a restore is already under way is answered at
  // once, inside the call, with no error: nothing was restored then. Every
  // other answer comes later and is shown, a failure as well as a success.
  auto inCall = std::make_shared<bool>(true);
  auto done = [show = whileAlive(this,
                                 [this, all = !agentId, name](const Expected<RestoreReport, RestoreError>& restored) {
                                   if (!restored) {
                                     failure_ = restored.error().message();
                                   } else {
                                     restoredAll_ = all;
                                     restoredName_ = name;
                                     leftOut_ = restored.value().leftOut;
                                   }
                                   Q_EMIT changed();
                                 }),
               announce, ids, inCall](const Expected<RestoreReport, RestoreError>& restored) {
    if (*inCall && restored) return;
    if (restored && announce) {
      // Not an agent of which nothing came back.
      for (const QString& id : ids) {
        const bool nothing = std::any_of(restored.value().leftOut.cbegin(), restored.value().leftOut.cend(),
                                         [&](const RestoreGap& gap) { return gap.agentId == id && gap.root.isEmpty(); });
        if (!nothing) announce(id);
      }
    }
    show(restored);
  };
  failure_.reset();
  restoredName_.reset();
  leftOut_.clear();
  // A refused request has been answered inside the call (see above).
  if (agentId) {
    static_cast<void>(engine_.restoreAgent(*agentId, std::move(done)));
  } else {
    static_cast<void>(engine_.restoreAll(std::move(done)));
  }
  *inCall = false;
  Q_EMIT changed();
}

}  // namespace tlr
