#pragma once

#include <QObject>

namespace tlr {

// Counts the application-modal runs in progress (the first-run question,
// the onboarding window, alerts). While one runs, the 4-second scan pauses,
// as it would while a modal window holds the run loop; it resumes when the
// last one ends. The application owns one beside its scan timer and hands it
// to what runs modal loops. Main thread only.
class ScanPause final : public QObject {
  Q_OBJECT

 public:
  explicit ScanPause(QObject* parent = nullptr) : QObject(parent) {}

  bool isPaused() const { return depth_ > 0; }
  int depth() const { return depth_; }

  void enter();
  void leave();

 Q_SIGNALS:
  // From 0 to 1 run, and back.
  void paused();
  void resumed();

 private:
  int depth_ = 0;
};

// Holds the scan paused for its lifetime: wrap every modal exec() in one.
class ModalRun final {
 public:
  explicit ModalRun(ScanPause& pause) : pause_(pause) { pause_.enter(); }
  ~ModalRun() { pause_.leave(); }
  ModalRun(const ModalRun&) = delete;
  ModalRun& operator=(const ModalRun&) = delete;

 private:
  ScanPause& pause_;
};

}  // namespace tlr
