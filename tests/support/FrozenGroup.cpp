#include "FrozenGroup.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QUuid>

namespace tlr::test {
namespace {

const QString kFreezer = QStringLiteral("/sys/fs/cgroup/freezer");

bool writeTo(const QString& path, const QByteArray& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.flush();
}

}  // namespace

FrozenGroup::FrozenGroup() {
  if (!QFile::exists(kFreezer + QStringLiteral("/cgroup.procs"))) return;
  const QString path = kFreezer + QStringLiteral("/tlr-test-") + QUuid::createUuid().toString(QUuid::Id128).left(12);
  if (QDir().mkdir(path)) path_ = path;
}

FrozenGroup::~FrozenGroup() {
  if (path_.isEmpty()) return;
  thaw();
  QFile procs(path_ + QStringLiteral("/cgroup.procs"));
  if (procs.open(QIODevice::ReadOnly))
    for (const QByteArray& pid : procs.readAll().split('\n'))
      if (!pid.isEmpty()) writeTo(kFreezer + QStringLiteral("/cgroup.procs"), pid);
  QDir().rmdir(path_);
}

bool FrozenGroup::freeze(pid_t pid) {
  if (path_.isEmpty() || !writeTo(path_ + QStringLiteral("/cgroup.procs"), QByteArray::number(pid)) ||
      !writeTo(path_ + QStringLiteral("/freezer.state"), "FROZEN"))
    return false;
  // Freezing takes effect as each process next passes a point where it may
  // stop; the group says so once all have.
  return waitUntil([&] { return readFile(path_ + QStringLiteral("/freezer.state")).trimmed() == "FROZEN"; });
}

void FrozenGroup::thaw() {
  if (!path_.isEmpty()) writeTo(path_ + QStringLiteral("/freezer.state"), "THAWED");
}

}  // namespace tlr::test
