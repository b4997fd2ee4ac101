#pragma once

#include "platform/Defaults.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tlr {

// The shared instance of a store kept in the user defaults: one per defaults
// file, so that when HOME changes the next call binds a store to the new
// file. Earlier instances stay alive to the end of the process, so a
// reference handed out before stays valid.
// The defaults are asked first, so that they outlive the stores at the end
// of the process and a store can still write its last changes then.
template <class Store, class Factory>
Store& sharedPerDefaults(Factory&& make) {
  Defaults& defaults = Defaults::shared();
  static std::mutex guard;
  static std::unique_ptr<Store> current;
  static std::vector<std::unique_ptr<Store>> retired;
  std::lock_guard lock(guard);
  if (!current || &current->defaults() != &defaults) {
    if (current) retired.push_back(std::move(current));
    current = make(defaults);
  }
  return *current;
}

}  // namespace tlr
