#include "tests/support/engine_probe.h"

#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "engine/anchors.h"
#include "lua.hpp"

namespace vesko_test {

namespace {

// The resting heights: the anchor thread alone on the main stack, and the
// anchor thread's fixed slots with no hold (engine/anchors.h).
constexpr int kRestingMainStack = 1;
constexpr int kRestingAnchors = vesko::engine::kFirstHoldSlot - 1;

// Every symbol of the library file's symbol table, by name, as addresses in
// the loaded library.  Read once per library file.
const std::map<std::string, void*>& symbolsOf(void* library) {
  static std::map<std::string, std::map<std::string, void*>> byFile;
  Dl_info where{};
  void* entry = dlsym(library, "FMExternCallProc");
  if (entry == nullptr || dladdr(entry, &where) == 0) {
    static const std::map<std::string, void*> none;
    return none;
  }
  const std::string key = std::string(where.dli_fname) + '@' +
                          std::to_string(reinterpret_cast<uintptr_t>(where.dli_fbase));
  auto found = byFile.find(key);
  if (found != byFile.end()) return found->second;

  std::map<std::string, void*>& symbols = byFile[key];
  std::ifstream file(where.dli_fname, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  if (image.size() < sizeof(Elf64_Ehdr)) return symbols;
  const auto* header = reinterpret_cast<const Elf64_Ehdr*>(image.data());
  const auto* sections = reinterpret_cast<const Elf64_Shdr*>(image.data() + header->e_shoff);
  auto* base = static_cast<char*>(where.dli_fbase);
  for (int i = 0; i < header->e_shnum; ++i) {
    if (sections[i].sh_type != SHT_SYMTAB) continue;
    const Elf64_Shdr& names = sections[sections[i].sh_link];
    const auto* symbol = reinterpret_cast<const Elf64_Sym*>(image.data() + sections[i].sh_offset);
    const std::size_t count = sections[i].sh_size / sizeof(Elf64_Sym);
    for (std::size_t k = 0; k < count; ++k) {
      if (ELF64_ST_TYPE(symbol[k].st_info) != STT_OBJECT) continue;
      symbols[image.data() + names.sh_offset + symbol[k].st_name] = base + symbol[k].st_value;
    }
  }
  return symbols;
}

template <typename T>
T* variable(void* library, const char* mangledName) {
  const auto& symbols = symbolsOf(library);
  const auto found = symbols.find(mangledName);
  return found == symbols.end() ? nullptr : static_cast<T*>(found->second);
}

}  // namespace

EngineHeights engineHeights(void* library) {
  EngineHeights heights;
  auto* mainState = variable<lua_State*>(library, "_ZN5vesko6engine9mainStateE");
  auto* anchors = variable<lua_State*>(library, "_ZN5vesko6engine7anchorsE");
  if (mainState == nullptr || *mainState == nullptr || anchors == nullptr || *anchors == nullptr)
    return heights;
  heights.mainStack = lua_gettop(*mainState);
  heights.anchors = lua_gettop(*anchors);
  return heights;
}

std::string engineOutOfRest(void* library) {
  struct Counter {
    const char* name;
    const char* symbol;
  };
  // Counters of what is open; each is 0 at rest.
  static constexpr Counter kCounters[] = {
      {"open calls", "_ZN5vesko6engine9callDepthE"},
      {"open time-limit runs", "_ZN5vesko6engine12_GLOBAL__N_15depthE"},
      {"hidden frames", "_ZN5vesko6engine12_GLOBAL__N_111hiddenCountE"},
  };
  std::string out;
  for (const Counter& counter : kCounters) {
    const int* value = variable<int>(library, counter.symbol);
    if (value == nullptr) {
      out += std::string("no symbol for ") + counter.name + "; ";
    } else if (*value != 0) {
      out += std::string(counter.name) + ": " + std::to_string(*value) + "; ";
    }
  }
  auto* mark = variable<void*>(library, "_ZN5vesko6engine12_GLOBAL__N_19innermostE");
  if (mark == nullptr) {
    out += "no symbol for the locale marks; ";
  } else if (*mark != nullptr) {
    out += "a locale mark is open; ";
  }
  auto* mainState = variable<lua_State*>(library, "_ZN5vesko6engine9mainStateE");
  if (mainState == nullptr) return out + "no symbol for the main state";
  if (*mainState == nullptr) return out;  // not running: nothing more to check
  const EngineHeights heights = engineHeights(library);
  if (heights.mainStack != kRestingMainStack) {
    out += "main stack height " + std::to_string(heights.mainStack) + "; ";
  } else if (lua_type(*mainState, 1) != LUA_TTHREAD) {
    out += "main stack slot 1 is not the anchor thread; ";
  }
  if (heights.anchors != kRestingAnchors) {
    out += "anchor slots in use " + std::to_string(heights.anchors) + "; ";
  }
  return out;
}

}  // namespace vesko_test
