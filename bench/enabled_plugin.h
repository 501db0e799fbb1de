// The real plug-in, loaded and enabled once for every benchmark of a
// program.
#ifndef VESKO_BENCH_ENABLED_PLUGIN_H
#define VESKO_BENCH_ENABLED_PLUGIN_H

#include <stdexcept>
#include <string>
#include <utility>

#include "host/plugins/plugin_loader.h"

namespace vesko_bench {

inline void ensurePlugin() {
  static vesko_host::LoadedPlugin plugin = [] {
    std::string error;
    auto loaded = vesko_host::loadPlugin(VESKO_PLUGIN_PATH, &error);
    if (!loaded || vesko_host::enablePlugin(*loaded) != 53) {
      throw std::runtime_error("cannot enable the plug-in: " + error);
    }
    return std::move(*loaded);
  }();
}

}  // namespace vesko_bench

#endif
