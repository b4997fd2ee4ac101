#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace tlr {

// The X display a start is to show its windows on, asked before the toolkit
// connects to it. The toolkit's connection waits for the server's first
// answer without a bound, before our first log line: a server that takes
// connections and never answers (stopped, hung) held the start for good,
// with nothing on the screen and nothing said. A local display (":N",
// "unix:N", ":N.S") is asked here, within a bound; one over the network is
// left to the toolkit.
class XDisplay {
 public:
  enum class State {
    answered,     // the server answered: the toolkit connects
    notProbed,    // no X display is used, or one over the network
    unreachable,  // no connection could be made: the toolkit says so itself
    unanswered,   // connected, but the server did not answer in time
  };
  struct Finding {
    State state = State::notProbed;
    QString display;  // as DISPLAY names it
    QString reason;   // why it was unreachable
  };

  // How long a server may take to answer before the wait is said, and
  // before the start gives up. A server slowed by a busy machine still
  // answers a new connection within a few seconds.
  static constexpr std::chrono::milliseconds kPatience{2000};
  static constexpr std::chrono::milliseconds kDeadline{20000};

  // Whether the toolkit will use X: DISPLAY is set, no Wayland display is,
  // and no other platform was chosen (`platformChosen`, from the arguments
  // or QT_QPA_PLATFORM, says which one: empty for none).
  static bool usedByToolkit(const QString& chosenPlatform);
  // Asks the server of `display` for its first answer (the X connection's
  // setup), within `deadline`; `patient` is called once when `patience`
  // has gone by without one.
  static Finding probe(const QString& display, std::chrono::milliseconds patience,
                       std::chrono::milliseconds deadline, const std::function<void()>& patient = {});
};

}  // namespace tlr
