// Vesko_Version( { versionFormat } ): the plug-in's version in a short, a
// long or a longer form.
#include <string_view>

#include "engine/engine.h"
#include "engine/error_record.h"
#include "functions/external_functions.h"
#include "plugin/host_interface.h"
#include "plugin/string_table.h"

namespace vesko {

namespace {

// Lines 2 to 6 of the longer form; each follows a carriage return.
constexpr std::string_view kLongerLines[] = {
    ", 2017-03-11",
    "\rhttps://vesko.dev/plugin",
    "\rWritten by the Vesko engineers, made by Vesko",
    "\rhttps://vesko.dev",
    "\rproviding Lua 5.1 from Roberto Ierusalimschy, Luiz Henrique de Figueiredo and "
    "Waldemar Celes",
    "\rhttps://www.lua.org",
};

// Reads string `id` into `text`.
void assignString(FMText* text, unsigned id) {
  char16_t buffer[256] = {};
  loadResourceString(host::pluginInstance(), id, buffer, 256);
  host::textAssignUnicode(text, buffer);
}

// The long form, "Vesko 1.5.0", into `result`.
void buildLongForm(FMText* result, FMText* scratch) {
  assignString(result, kStringName);
  host::textAssign(scratch, " ", host::kNative);
  host::textAppend(result, scratch);
  assignString(scratch, kStringVersion);
  host::textAppend(result, scratch);
}

bool equals(const FMText* parameter, FMText* scratch, const char* literal) {
  host::textAssign(scratch, literal, host::kNative);
  return host::textEqual(parameter, scratch);
}

}  // namespace

int16_t version(Call& call) {
  const FMDataVect* parameters = call.parameters;
  FMData* result = call.result;
  {
    host::Text scratch = host::newText();
    host::Text answer = host::newText();
    host::Locale systemLocale = host::newLocale(1);

    const FMLocale* locale = systemLocale.get();
    if (host::vectSize(parameters) == 0) {
      assignString(answer.get(), kStringVersion);
    } else {
      const FMText* format = host::vectAtAsText(parameters, 0);
      if (equals(format, scratch.get(), "") || equals(format, scratch.get(), "short")) {
        assignString(answer.get(), kStringVersion);
      } else if (equals(format, scratch.get(), "long")) {
        buildLongForm(answer.get(), scratch.get());
      } else if (equals(format, scratch.get(), "longer")) {
        buildLongForm(answer.get(), scratch.get());
        for (std::string_view line : kLongerLines) {
          host::textAssign(scratch.get(), line, host::kNative);
          host::textAppend(answer.get(), scratch.get());
        }
      } else {
        setError(Failure::kBadArgument);
        return kFailed;
      }
      locale = host::dataLocale(host::vectAt(parameters, 0));
    }
    return host::dataSetText(result, answer.get(), locale, FM_KIND_TEXT);
  }
}

}  // namespace vesko
