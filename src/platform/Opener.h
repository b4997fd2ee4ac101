#pragma once

#include <QString>

#include <chrono>

// Hands URLs and folders to the desktop's own handlers (xdg-open), and waits
// to hear whether they were opened.
namespace tlr::Opener {

// What the opener made of a target, once it has been waited for.
struct [[nodiscard]] Outcome {
  bool opened = true;
  QString startError;  // it could not be started: why
  int exitStatus = 0;  // it ended with this status (128 + n for signal n)
};
// How long to wait for the opener to say how it went.
inline constexpr std::chrono::milliseconds kPatience{5000};

// Starts the opener for `target` (a URL, or a path the caller made the
// folder to show) and waits for it, at most `patience`: it opened the target
// when it ended with status 0, or still runs by then (a handler it waits
// for, such as a browser's first window); it did not when it could not be
// started or ended otherwise (no browser, no file manager: xdg-open ends
// with 3 or 4). Blocks: never call it on the main thread. When the
// application quits meanwhile it stops waiting and counts the target opened.
Outcome openAndWait(const QString& target, std::chrono::milliseconds patience = kPatience);

}  // namespace tlr::Opener
