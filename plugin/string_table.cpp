#include "plugin/string_table.h"

#include <algorithm>
#include <string_view>

namespace vesko {

namespace {

struct Entry {
  unsigned id;
  std::u16string_view text;
};

constexpr Entry kStrings[] = {
    {kStringName, u"Vesko"},
    {kStringDescription,
     u"This plug-in extends FileMaker applications by adding the Lua scripting language via "
     u"external functions."},
    {kStringVersion, u"1.5.0"},
    {101, u"Vesko_Version( { versionFormat } )"},
    {102, u"Vesko_LastError( {errorFormat} )"},
    {103, u"Vesko_RunScript( luaScriptText {; arg...} )"},
    {104, u"Vesko_RunFile( filePath {; arg...} )"},
    {105, u"Vesko_CallFunction( luaFunctionName {; arg...} )"},
    {106, u"Vesko_Timeout( {seconds {; instructionCount} } )"},
    {107, u"Vesko_ResumeFunction( {arg...} )"},
};

}  // namespace

int loadResourceString(void* /*instance*/, unsigned id, char16_t* buffer, int capacity) {
  if (buffer == nullptr || capacity <= 0) return 0;
  std::u16string_view text;
  for (const Entry& entry : kStrings) {
    if (entry.id == id) text = entry.text;
  }
  const std::size_t count = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
  std::copy_n(text.data(), count, buffer);
  buffer[count] = u'\0';
  return static_cast<int>(count);
}

}  // namespace vesko
