#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace tlr {

// An argument vector: the program, then its arguments.
using Command = QStringList;
// Commands run one after another, in list order.
using CommandList = QList<Command>;

// One agent definition of registry.json. Plain immutable-by-convention value:
// every holder keeps its own copy. Optional fields hold no value when the key
// was absent or null; consumers apply their own defaults.
struct AgentEntry {
  // Rank order matters: consumers sort by it.
  enum class Kind { desktopApp, cli, idePlugin };
  enum class ServiceKind { repl, gateway };

  // How the agent's processes are recognised.
  struct Identify {
    std::optional<QStringList> bundleIds;
    std::optional<QStringList> executableNames;
    std::optional<QStringList> argvMatches;
    std::optional<QStringList> argvAllOf;
    std::optional<QStringList> argvExclude;
    // What is no session of the agent but a one-shot run of its program
    // (print mode, a sub-command, a version or help query, a helper): such
    // a process is never the agent. The program's own arguments are read
    // by the option tables below (ArgumentReader): `oneShotArgs` are
    // options that make a one-shot wherever they stand ("--opt=…" and
    // "-oVALUE" too); `oneShotCommands` are sub-commands that make one as
    // the program's first word (no option, no option's value);
    // `sessionCommands` are the sub-commands that start a session (any
    // other first word is a prompt, which starts one too).
    std::optional<QStringList> oneShotArgs;
    std::optional<QStringList> oneShotCommands;
    std::optional<QStringList> sessionCommands;
    // The program's options that take a value: the next argument
    // ("-m o3"), the next one unless it is an option ("--resume [id]"),
    // or every next one up to an option ("--add-dir a b"). Any other
    // option stands alone.
    std::optional<QStringList> optionsWithValue;
    std::optional<QStringList> optionsWithOptionalValue;
    std::optional<QStringList> optionsWithValues;
  };

  // How the agent is relaunched.
  struct Recover {
    enum class Strategy { openApp, execCli, openUrlScheme };
    Strategy strategy = Strategy::openApp;
    std::optional<QString> appBundleId;
    std::optional<Command> command;
    std::optional<QString> workingDirectory;
    std::optional<QString> urlScheme;
    // The agent's plain command, a new session where `command` continues the
    // last one (`claude` for `claude --continue`): started in the same
    // folder when the continuing form ends at once, as it does where there
    // is nothing to continue. Absent or empty: `command` is the plain form.
    std::optional<Command> plainCommand;
  };

  // Install recipe.
  struct Install {
    struct Requirement {
      QString command;
      std::optional<QString> hintUrl;
    };
    std::optional<QString> officialUrl;
    std::optional<CommandList> commands;
    // JSON key "requires" (a reserved word in C++20).
    std::optional<QList<Requirement>> requirements;
    std::optional<bool> useTerminal;
  };

  // Uninstall recipe.
  struct Uninstall {
    std::optional<QStringList> paths;
    std::optional<QStringList> userDataPaths;
    std::optional<CommandList> preCommands;
    std::optional<QString> postNote;
  };

  // Graceful restart with its verification.
  struct RestartSpec {
    Command command;
    std::optional<Command> verifyCommand;
    // Compared against a process exit status, so it must fit 32 bits; a
    // document with a larger value is rejected.
    std::optional<qint32> expectVerifyExitCode;
    std::optional<QString> verifyOutputContains;
    std::optional<QString> verifyOutputNotContains;
    std::optional<Command> fallbackCommand;
  };

  // Diagnosis command and known issues with one-click fixes.
  struct DoctorSpec {
    struct KnownIssue {
      struct Fix {
        QString kind;  // "shell" or "patch-json"; checked when applied
        QString title;
        std::optional<Command> command;
        std::optional<QString> file;
        // Dotted key path -> text written there.
        std::optional<QMap<QString, QString>> set;
        std::optional<Command> reload;
      };
      QString id;
      QString match;  // regular expression
      QString title;
      std::optional<QString> detail;
      Fix fix;
    };
    Command command;
    std::optional<QList<KnownIssue>> knownIssues;
    // The command says nothing without a terminal: it runs in a
    // pseudo-terminal of its own.
    std::optional<bool> needsTerminal;
  };

  // Where the agent keeps its data, for backup and restore.
  struct BackupSpec {
    struct DiscoverySpec {
      std::optional<QStringList> primaryHomes;
      std::optional<QStringList> envVars;
      std::optional<QStringList> workspaceConventions;
      std::optional<QStringList> globalFiles;
      std::optional<QStringList> projectMarkers;
      std::optional<QStringList> scanRoots;
    };
    std::optional<DiscoverySpec> discovery;
    std::optional<QStringList> includePaths;
    std::optional<QStringList> excludePatterns;
    std::optional<QStringList> projectScoped;
  };

  // Hang, kill and resource-limit settings.
  struct ProtectionSpec {
    struct Resource {
      std::optional<qint64> cpuLimit;
      std::optional<qint64> rssLimitMB;
      std::optional<qint64> fdsLimit;
      std::optional<qint64> cooldownSeconds;
    };
    struct ExclusiveResources {
      std::optional<QList<qint64>> tcpPorts;
      std::optional<QStringList> filePaths;
    };
    std::optional<qint64> hangThresholdSeconds;
    std::optional<bool> expectsIdle;
    std::optional<QString> killStrategy;
    std::optional<bool> autoRelaunchAfterKill;
    std::optional<Resource> resource;
    std::optional<ExclusiveResources> exclusiveResources;
  };

  // What a diagnosis would check.
  struct DiagnosisSpec {
    struct Deps {
      std::optional<Command> checkCommand;
      std::optional<CommandList> repairCommands;
    };
    std::optional<QStringList> configFiles;
    std::optional<Deps> deps;
    std::optional<QStringList> netTargets;
    std::optional<QStringList> diskTargets;
  };

  // The agent's logs.
  struct Feedback {
    enum class Format { jsonl, text, json };
    // Content is not kept; any JSON value in the list is one rule.
    struct EventRule {};
    QStringList logPaths;
    Format format = Format::jsonl;
    QList<EventRule> eventRules;
  };

  // Model Context Protocol configuration.
  struct MCP {
    bool supported = false;
    std::optional<QString> configPath;
    std::optional<QString> configFormat;
    std::optional<bool> autoInject;
  };

  // One of the agent's error patterns, or a reference to a common one.
  struct ErrorPatternRef {
    std::optional<QString> ref;
    std::optional<QString> code;
    std::optional<QString> match;
    std::optional<QString> symptom;
    std::optional<QString> fix;
  };

  QString id;
  QString displayName;
  std::optional<QString> displayNameZH;
  std::optional<QString> displayNameEN;
  QString vendor;
  Kind kind = Kind::cli;
  std::optional<QString> family;
  std::optional<ServiceKind> serviceKind;
  Identify identify;
  std::optional<Recover> recover;
  std::optional<Feedback> feedback;
  std::optional<MCP> mcp;
  std::optional<QString> iconAsset;
  std::optional<QString> notes;
  std::optional<bool> defaultLockOnline;
  std::optional<QString> dashboardUrl;
  std::optional<Command> tuiCommand;
  std::optional<QString> launchdLabel;
  std::optional<Command> launchdUninstallCommand;
  std::optional<Uninstall> uninstall;
  std::optional<Install> install;
  std::optional<bool> hidden;
  std::optional<Command> userInvokeCommand;
  std::optional<Command> setupCommand;
  std::optional<QString> iconBundleId;
  std::optional<RestartSpec> restart;
  std::optional<DoctorSpec> doctor;
  std::optional<BackupSpec> backup;
  std::optional<ProtectionSpec> protectionSpec;
  std::optional<DiagnosisSpec> diagnosis;
  std::optional<QList<ErrorPatternRef>> errorPatterns;

  // The name in the current interface language ("TLR.language", read afresh
  // on every call; absent means "zh"). Falls back to displayName.
  QString localizedDisplayName() const;

  // True when `id` can be used as one component of a file name
  // ("/tmp/tlr-<id>.log", icon names, folders): not empty, no "/", not "."
  // or ".." (PathNames), no NUL. Decoding accepts any id; code that builds paths checks with this.
  static bool isSafeFileComponent(const QString& id);

  // Why a backup exclusion pattern cannot be used, or empty when it can: it
  // is empty, holds a NUL or another control character, has a "." or ".."
  // component, holds "**" (a star never crosses a "/" here, so this reads
  // as a promise the matcher does not keep), or is made of stars and "/"
  // alone, which would leave out every file. Decoding refuses such a
  // pattern.
  static QString excludePatternFault(const QString& pattern);
};

// Raw values of the enumerations as stored in the document.
QString rawValue(AgentEntry::Kind kind);
QString rawValue(AgentEntry::ServiceKind kind);
QString rawValue(AgentEntry::Recover::Strategy strategy);
QString rawValue(AgentEntry::Feedback::Format format);

// Every raw value of an enumeration, in case order.
template <class Enum>
QStringList allRawValues();
template <>
QStringList allRawValues<AgentEntry::Kind>();
template <>
QStringList allRawValues<AgentEntry::ServiceKind>();
template <>
QStringList allRawValues<AgentEntry::Recover::Strategy>();
template <>
QStringList allRawValues<AgentEntry::Feedback::Format>();

// Creation from a raw value: no value for any string but the listed ones
// (exact, case-sensitive).
template <class Enum>
std::optional<Enum> fromRawValue(const QString& raw);
template <>
std::optional<AgentEntry::Kind> fromRawValue<AgentEntry::Kind>(const QString& raw);
template <>
std::optional<AgentEntry::ServiceKind> fromRawValue<AgentEntry::ServiceKind>(const QString& raw);
template <>
std::optional<AgentEntry::Recover::Strategy> fromRawValue<AgentEntry::Recover::Strategy>(
    const QString& raw);
template <>
std::optional<AgentEntry::Feedback::Format> fromRawValue<AgentEntry::Feedback::Format>(
    const QString& raw);

// The whole registry document.
struct RegistryFile {
  struct CommonErrorPattern {
    QString id;
    QString symptom;
    std::optional<QString> match;
    std::optional<QStringList> causes;
    std::optional<QString> fix;
    std::optional<QStringList> appliesTo;
  };
  struct SharedLayer {
    struct LayerDef {
      QString path;
      QStringList owners;
      std::optional<QString> description;
    };
    std::optional<QMap<QString, LayerDef>> layers;
  };

  qint64 schemaVersion = 0;
  QString updatedAt;
  QList<AgentEntry> agents;
  std::optional<QList<CommonErrorPattern>> commonErrorPatterns;
  std::optional<SharedLayer> sharedLayer;
};

}  // namespace tlr
