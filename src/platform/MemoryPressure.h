#pragma once

#include <QString>

#include <optional>

// The kernel's pressure-stall information for memory.
namespace tlr::MemoryPressure {

inline constexpr const char* kDefaultPath = "/proc/pressure/memory";

// The "some avg10" figure of `path` (the share of the last ten seconds, in
// percent, in which some task waited for memory); nothing when the file is
// missing or does not hold it.
std::optional<double> someAvg10(const QString& path = QString::fromLatin1(kDefaultPath));

}  // namespace tlr::MemoryPressure
