#include "support/RecipeTestSupport.h"

#include "platform/MainThread.h"

namespace tlr::test {

StepProgressHandler RowCollector::onProgress() {
  return [this](const StepResult& row) {
    offMainThread = offMainThread || !isMainThread();
    EXPECT_FALSE(completed.has_value()) << "a row after completion";
    progress.append(row);
  };
}

StepCompletionHandler RowCollector::onComplete() {
  return [this](const QList<StepResult>& rows) {
    offMainThread = offMainThread || !isMainThread();
    completed = rows;
  };
}

}  // namespace tlr::test
