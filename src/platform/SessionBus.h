#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace tlr {

// The desktop's session bus as this process uses it, decided once at start
// before the toolkit connects to it (its screen-reader bridge does so when
// the event loop starts, on the window thread, and waits there for the
// answer).
//
// Only a bus the session already runs and that answers is used. Without
// one, the bus library starts a bus of its own ("autolaunch"): a fork of
// this threaded process from the toolkit's bus thread, whose child allocates
// before its exec; a start under the address sanitizer hung there for good,
// before its first log line, when another thread held the allocator's lock
// at the fork. A bus that takes connections but never answers held the start
// as long as the library's 25 s per call. So the session's bus is asked
// first, within a bound, and when there is none or it does not answer, the
// toolkit is given an address it refuses at once: the start goes on without
// the bus and says so.
//
// Programs we start see the session's own variables: what the toolkit is
// given is put back once it has connected.
class SessionBus {
 public:
  enum class State {
    answered,     // the session's bus answered; the toolkit uses it
    notProbed,    // an address of a kind not asked here (tcp, …): left to the toolkit
    none,         // the session names no bus
    unreachable,  // no connection could be made (the reason says why)
    unanswered,   // connected, but nothing came back in time
  };
  struct Finding {
    State state = State::none;
    QString address;  // as the session names it
    QString reason;   // why it is not used
  };

  // How long a bus may take to answer, and when the wait is said in the log.
  static constexpr std::chrono::milliseconds kPatience{1000};
  static constexpr std::chrono::milliseconds kDeadline{5000};

  // Finds the session's bus and asks it; a wait past kPatience is logged
  // before it goes on, and one past kDeadline gives up with a log line.
  // Until connectToolkit(), the environment names what the toolkit is to
  // use. Main thread, before the application object exists.
  SessionBus();
  ~SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  // Has the toolkit connect now (or fail at once), then gives the session's
  // variables back. Once the application object exists.
  void connectToolkit();

  const Finding& finding() const { return finding_; }
  // Whether a session bus is in use: false tells every user of the bus to
  // leave it be (nothing is started on our behalf). Any thread.
  static bool usable();
  // The log line that says why no bus is used; none when one is.
  std::optional<QString> unusedLine() const;

  // The session's bus as the bus library finds it: DBUS_SESSION_BUS_ADDRESS,
  // else "$XDG_RUNTIME_DIR/bus" when that is a socket of this user's. Empty
  // when the session names none.
  static QString sessionAddress();
  // Asks the bus at `address` for any answer, within `deadline`; `patient`
  // is called once when `patience` has gone by without one.
  static Finding probe(const QString& address, std::chrono::milliseconds patience,
                       std::chrono::milliseconds deadline, const std::function<void()>& patient = {});

 private:
  void restore();

  Finding finding_;
  bool replaced_ = false;
  bool wasSet_ = false;
  QByteArray original_;
};

}  // namespace tlr
