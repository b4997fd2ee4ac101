#pragma once

#include "backup/EngineMessage.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace tlr {

// The first-time setup of the encrypted backup image, without the window:
// where the image goes (the home folder's "TLR 备份.sparsebundle" unless
// another folder is chosen), which passwords are accepted and how strong
// they are, and the creation itself off the main thread. A failure keeps
// its message until the next try; success is announced through `created`.
//
// Lives on the main thread; every change is announced through `changed`.
// A creation under way finishes when the session is destroyed; its outcome
// is dropped then.
class FirstTimeSetupSession final : public QObject {
  Q_OBJECT
 public:
  // Creates the image at `path` with `password` (sealing the password and
  // proving it opens the image), off the main thread. Nothing on success,
  // else why it failed.
  using Create = std::function<std::optional<EngineMessage>(const QString& path, const QString& password)>;
  static Create standardCreate();

  // The shortest password accepted.
  static constexpr int kMinimumPasswordLength = 8;
  enum class Strength { weakest, weak, medium, strong };
  static Strength strengthOf(const QString& password);
  // The confirmation is typed and differs from the password.
  static bool passwordsDiffer(const QString& password, const QString& confirmation);
  // Longer than the image tool takes (2,048 bytes of UTF-8), and why, in
  // the interface language.
  static bool passwordTooLong(const QString& password);
  static QString passwordTooLongText();

  explicit FirstTimeSetupSession(QObject* parent = nullptr, Create create = standardCreate());

  // Where the image will be made.
  const QString& imagePath() const { return imagePath_; }
  bool isCreating() const { return creating_; }
  const std::optional<EngineMessage>& failure() const { return failure_; }
  // Whether "Create" is offered for these two entries.
  bool canCreate(const QString& password, const QString& confirmation) const;

  // The image goes into `folder` under its usual name.
  void chooseFolder(const QString& folder);
  // Creates the image, when `canCreate`.
  void create(const QString& password, const QString& confirmation);

 Q_SIGNALS:
  void changed();
  void created();

 private:
  Create create_;
  QString imagePath_;
  bool creating_ = false;
  std::optional<EngineMessage> failure_;
};

}  // namespace tlr
