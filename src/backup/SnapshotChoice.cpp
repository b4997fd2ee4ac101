#include "backup/SnapshotChoice.h"

#include "platform/FileOps.h"
#include "platform/FileTransfer.h"

namespace tlr {

Expected<BackupManifest, SnapshotChoice::Damaged> SnapshotChoice::readManifest(const QString& snapshot) {
  const QString path = snapshot + QStringLiteral("/manifest.json");
  const FileOps::ReadResult read = FileOps::readFileNoFollow(path, kManifestLimit);
  using Status = FileOps::ReadResult::Status;
  if (read.status == Status::missing) return Unexpected(Damaged{snapshot, Damage::missing, path});
  if (read.status != Status::ok) return Unexpected(Damaged{snapshot, Damage::unreadable, read.reason});
  auto decoded = BackupManifest::decode(read.data);
  if (!decoded) return Unexpected(Damaged{snapshot, Damage::corrupted, decoded.error()});
  return std::move(decoded).value();
}

SnapshotChoice::Damaged SnapshotChoice::digestMismatch(const QString& snapshot) {
  return Damaged{snapshot, Damage::archiveMismatch,
                 snapshot + QStringLiteral("/backup.tar.gz: SHA-256 与 manifest 记录不符")};
}

SnapshotChoice SnapshotChoice::choose(const QStringList& snapshotsNewestFirst, bool verifyArchives) {
  SnapshotChoice choice;
  for (const QString& snapshot : snapshotsNewestFirst) {
    auto manifest = readManifest(snapshot);
    if (!manifest) {
      choice.damaged << manifest.error();
      continue;
    }
    const QString archive = snapshot + QStringLiteral("/backup.tar.gz");
    const auto entry = FileTransfer::entry(archive);
    if (!entry) {
      choice.damaged << Damaged{snapshot, Damage::missing, archive};
      continue;
    }
    if (entry->kind != FileTransfer::Kind::regular || entry->size != manifest.value().totalBytes) {
      choice.damaged << Damaged{snapshot, Damage::archiveMismatch, archive};
      continue;
    }
    if (verifyArchives) {
      const auto digest = BackupManifest::digestOfFile(archive);
      if (!digest || digest.value().sha256 != manifest.value().archiveSha256 ||
          digest.value().size != manifest.value().totalBytes) {
        choice.damaged << digestMismatch(snapshot);
        continue;
      }
    }
    choice.folder = snapshot;
    choice.manifest = std::move(manifest).value();
    break;
  }
  return choice;
}

}  // namespace tlr
