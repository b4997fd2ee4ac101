#pragma once

#include "backup/EngineError.h"
#include "platform/Expected.h"
#include "registry/AgentEntry.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace tlr {

// The cases of an export's or an import's failure. Descriptions in Chinese
// only; a window shows each through its text key.
enum class USBMigrationErrorCase {
  noBackup,
  usbNotWritable,
  cancelled,
  noPackage,
  manifestCorrupted,
  copyFailed,
  // A backup, restore, export or import uses the volume.
  busy,
  // The backup volume could not be detached before the export: a live
  // image is never copied.
  volumeStillMounted,
  passedOn,
};

QString describe(const EngineError<USBMigrationErrorCase>& error);
QString formOf(const EngineError<USBMigrationErrorCase>& error);
EngineMessage shownAs(const EngineError<USBMigrationErrorCase>& error);

// Carries the encrypted backup image and a recipe for reinstalling the
// agents to another machine over a removable volume: export writes the
// package "Tollamere-Migration" (a copy of the image and
// "manifest-migration.json", written last) on the volume; import copies the
// image into the home folder, makes it the backup image and proves the
// password by mounting it once. Every operation blocks its caller for the
// whole copy: run them off the main thread.
class USBMigration {
 public:
  USBMigration() = delete;

  static constexpr const char* kPackageName = "Tollamere-Migration";
  static constexpr const char* kManifestName = "manifest-migration.json";
  static constexpr const char* kImageName = "TLR 备份.sparsebundle";

  struct InstallRecipeItem {
    QString agentId;
    QString displayName;
    QString installType;  // "app", "cli" or "plugin"
    std::optional<QList<QStringList>> installCommands;
    std::optional<QString> officialUrl;
    std::optional<QStringList> requires_;  // JSON key "requires"
    friend bool operator==(const InstallRecipeItem&, const InstallRecipeItem&) = default;
  };

  struct MigrationManifest {
    struct SourceInfo {
      QString deviceName;
      QString macHashShort;
      QString osVersion;
      friend bool operator==(const SourceInfo&, const SourceInfo&) = default;
    };
    qint64 schemaVersion = 1;
    QDateTime createdAt;
    SourceInfo source;
    QList<InstallRecipeItem> installRecipe;
    // How many agents the exported backup holds (JSON key
    // "backupAgentCount"), when the export could tell: the install recipe
    // lists only the agents that have one. Packages of older versions lack it.
    std::optional<qint64> backupAgentCount;
    friend bool operator==(const MigrationManifest&, const MigrationManifest&) = default;

    // Pretty-printed JSON with sorted keys and ISO 8601 dates; absent
    // optional fields have no key.
    QByteArray encode() const;
    // Every required key must be there with its type; extra keys are ignored.
    static std::optional<MigrationManifest> decode(const QByteArray& json);
  };

  struct ExportProgress {
    qint64 bytesWritten = 0;
    qint64 bytesTotal = 0;
    int filesWritten = 0;
    int filesTotal = 0;
    double bytesPerSecond = 0;
  };

  struct ImportPreview {
    MigrationManifest manifest;
    qint64 backupTotalBytes = 0;
    QList<InstallRecipeItem> recipe;
    // The agents in the package's backup: the manifest's count, else (an
    // older package) the recipe's.
    qint64 agentCount() const { return manifest.backupAgentCount.value_or(recipe.size()); }
  };

  // Export, import and passed-on failures.
  using Error = EngineError<USBMigrationErrorCase>;

  // Mounted removable volumes the user can write, in mount-table order.
  static QStringList listAvailableVolumes();
  // Whether the volume holds a complete package (its manifest exists).
  static bool hasMigrationPackage(const QString& volume);

  // Writes the package on `volume`: into a hidden folder beside the package
  // (".Tollamere-Migration.new-…"), which takes the earlier package's place
  // only when it is whole and on the stick, so a cancel, a crash or a pulled
  // stick leaves the earlier package as it was; what a killed export left is
  // removed first. Files are copied a piece (4 MiB) at a time, each piece on
  // the stick before the next. Calls `shouldCancel` before each file and
  // between pieces (true removes the new folder and fails with
  // `cancelled`), and `onProgress` after the first file, then at most every
  // 0.2 s (inside a file too: bytes, not files), and after the last; its
  // speed is 0 ("calculating") for the first second. Holds the backup
  // volume's lock throughout (`busy` while a backup, restore or import uses
  // it) and detaches the volume first; when it will not detach, nothing is
  // copied (`volumeStillMounted`). Every copied file, the manifest and the
  // folders are on the disk before it returns, so the stick can be pulled at
  // once. Returns the package folder.
  static Expected<QString, Error> exportToWithProgress(const QString& volume, const QList<AgentEntry>& installedAgents,
                                                       const std::function<bool()>& shouldCancel,
                                                       const std::function<void(const ExportProgress&)>& onProgress);

  static Expected<ImportPreview, Error> preview(const QString& volume);
  // The largest "manifest-migration.json" a preview reads.
  static constexpr qint64 kManifestLimit = 16 << 20;

  // Copies the package's image to "TLR 备份.sparsebundle" in the home folder
  // (through a temporary sibling, so a failed copy leaves nothing that
  // blocks a retry), records it as the backup image, mounts it once with
  // `password` and unmounts it. The password is sealed into the vault only
  // after that mount succeeded. Returns the imported image.
  static Expected<QString, Error> importSnapshot(const QString& volume, const QString& password);

  // After an import whose password the image refused: mounts the image
  // placed at `image` (the recorded one) once with `password`, unmounts it
  // and seals the password. Returns `image`.
  static Expected<QString, Error> provePassword(const QString& image, const QString& password);

  static InstallRecipeItem recipeItem(const AgentEntry& entry);
};

}  // namespace tlr
