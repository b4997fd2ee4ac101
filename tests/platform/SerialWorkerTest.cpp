#include "platform/SerialWorker.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <vector>

namespace tlr {
namespace {

// Threads of this process, all of them or those of a name.
int threads(const QByteArray& name = {}) {
  const QDir tasks(QStringLiteral("/proc/self/task"));
  int count = 0;
  for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    QFile comm(tasks.filePath(task) + QStringLiteral("/comm"));
    if (name.isEmpty() || (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name)) ++count;
  }
  return count;
}

TEST(SerialWorker, StartsItsThreadWithTheFirstJobAndRunsJobsInOrder) {
  std::vector<int> ran;
  {
    const int before = threads();
    SerialWorker worker(QStringLiteral("TLR.test.lazy"));
    worker.flush();
    EXPECT_LE(threads(), before) << "no job, no thread";
    for (int i = 0; i < 3; ++i) worker.post([&ran, i] { ran.push_back(i); });
    worker.flush();
    EXPECT_EQ(threads("TLR.test.lazy"), 1);
    worker.post([&ran] { ran.push_back(3); });
  }
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2, 3})) << "a job still queued runs before the worker goes";
  SerialWorker unused(QStringLiteral("TLR.test.unused"));
}

}  // namespace
}  // namespace tlr
