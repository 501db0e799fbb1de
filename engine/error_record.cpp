#include "engine/error_record.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "lua.hpp"
#include "plugin/host_interface.h"

namespace vesko {

namespace {

struct FixedFailure {
  ErrorCode code;
  const char* message;
};

// The one table of fixed messages, in the order of Failure.
constexpr FixedFailure kFixedFailures[] = {
    {ErrorCode::kFileUnreadable, "File not found or is not readable."},
    {ErrorCode::kRelativePath, "Unable to resolve into relative file path."},
    {ErrorCode::kNoDatabasePath,
     "Unable to create relative file path using FileMaker's Get(FilePath)."},
    {ErrorCode::kNoFunction, "Function does not exist."},
    {ErrorCode::kNoTable, "Table does not exist."},
    {ErrorCode::kNoEntry, "Table entry is not a function."},
    {ErrorCode::kYielded, "Coroutine yielded."},
    {ErrorCode::kNothingToResume, "Cannot resume. No function is active."},
    {ErrorCode::kRun, "Cannot resume the function that is running."},
    {ErrorCode::kRun, "Too many arguments for the Lua stack."},
    {ErrorCode::kRun, "Calls nested too deeply."},
    {ErrorCode::kBadSeconds, "Not a valid number of seconds for timeout."},
    {ErrorCode::kBadInstructions, "Not a valid number of instructions for timeout tuning."},
    {ErrorCode::kBadArgument, "Bad argument."},
};
static_assert(std::size(kFixedFailures) == static_cast<std::size_t>(Failure::kBadArgument) + 1);

// Made when the library is loaded and deleted when it is unloaded: they
// outlive every interpreter.
FMText* codeText = nullptr;
FMText* messageText = nullptr;

// The record's value: "0" and "" when `cleared` is set (code and message
// then keep an earlier value, so that setting it again copies nothing),
// else `code` and `message` (in `messageEncoding`).  Invariant: when
// `codeWritten` (`messageWritten`) is set, the code (message) text holds
// exactly the record's.  Each is written on its own, so that reading the
// code never pays for, or fails on, a long message.
ErrorCode code = ErrorCode::kNone;
std::string message;
host::Encoding messageEncoding = host::kNative;
bool cleared = false;  // the record starts as two empty texts
bool codeWritten = false;
bool messageWritten = false;
std::string traceback;  // not a host text: only Vesko_LastError reads it

// Recreates a text the host could not make at load time, so a record that
// failed once can still be written later.
FMText* ensure(FMText*& text) {
  if (text == nullptr) text = host::newText().release();
  return text;
}

// A message longer than this is cut, at the start of a character: every
// reader copies it several times over (host texts in UTF-16, the answer
// Vesko_LastError builds), and a script can raise a string of any size.
constexpr std::size_t kLongestMessage = 64 * 1024;

std::string_view cutMessage(std::string_view text) {
  if (text.size() <= kLongestMessage) return text;
  std::size_t end = kLongestMessage;
  // Back over the continuation bytes (at most three) of a character the
  // cut would split.
  for (int back = 0; back < 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80; ++back) {
    --end;
  }
  return text.substr(0, end);
}

void assign(ErrorCode newCode, std::string_view fullMessage, host::Encoding encoding) {
  const std::string_view newMessage = cutMessage(fullMessage);
  if (!cleared && code == newCode && message == newMessage && messageEncoding == encoding) return;
  code = newCode;
  if (message != newMessage) message.assign(newMessage);
  messageEncoding = encoding;
  cleared = false;
  codeWritten = messageWritten = false;
  traceback.clear();
}

}  // namespace

void createErrorRecord() noexcept {
  try {
    ensure(codeText);
    ensure(messageText);
    codeWritten = messageWritten = true;  // both empty, as the record starts
  } catch (const std::exception&) {
    // Left null; the first reader tries again.
  }
}

void destroyErrorRecord() noexcept {
  if (codeText != nullptr) host::deleteObject(codeText);
  if (messageText != nullptr) host::deleteObject(messageText);
  codeText = messageText = nullptr;
  codeWritten = messageWritten = false;
}

const FMText* errorCodeText() {
  if (!codeWritten) {
    const std::string digits = std::to_string(cleared ? 0 : static_cast<unsigned>(code));
    host::textAssign(ensure(codeText), digits, host::kNative);
    codeWritten = true;
  }
  return codeText;
}

const FMText* errorMessageText() {
  if (!messageWritten) {
    host::textAssign(ensure(messageText), cleared ? std::string_view() : message,
                     cleared ? host::kNative : messageEncoding);
    messageWritten = true;
  }
  return messageText;
}

void clearError() noexcept {
  if (cleared) return;
  cleared = true;
  codeWritten = messageWritten = false;
  traceback.clear();
}

void resetErrorRecord() noexcept {
  clearError();
}

void setError(Failure failure) {
  const FixedFailure& fixed = kFixedFailures[static_cast<std::size_t>(failure)];
  assign(fixed.code, fixed.message, host::kNative);
}

void setError(ErrorCode newCode, std::string_view newMessage) {
  assign(newCode, newMessage, host::kNative);
}

ErrorCode loadStatusCode(int status, bool fromFile) {
  switch (status) {
    case LUA_ERRSYNTAX:
      return ErrorCode::kSyntax;
    case LUA_ERRMEM:
      return ErrorCode::kLoadMemory;
    case LUA_ERRFILE:
      if (fromFile) return ErrorCode::kFileUnreadable;
      [[fallthrough]];
    default:
      return ErrorCode::kLoadOther;
  }
}

ErrorCode runStatusCode(int status) {
  switch (status) {
    case LUA_ERRRUN:
      return ErrorCode::kRun;
    case LUA_ERRMEM:
      return ErrorCode::kRunMemory;
    case LUA_ERRERR:
      return ErrorCode::kErrorHandler;
    default:
      return ErrorCode::kRunOther;
  }
}

const std::string& errorTraceback() {
  return traceback;
}

void setErrorTraceback(std::string newTraceback) noexcept {
  traceback = std::move(newTraceback);
}

void setErrorFromLua(ErrorCode newCode, lua_State* L) {
  // Converting a number through the interpreter would make a string, and a
  // collection step then could run a finalizer; the number is formatted
  // here, in the interpreter's own number format, instead.
  const int type = lua_type(L, -1);
  if (type == LUA_TSTRING) {
    // Up to the first NUL, and no further than the cut needs to see.
    const char* text = lua_tostring(L, -1);
    assign(newCode, std::string_view(text, strnlen(text, kLongestMessage + 1)), host::kUtf8);
  } else if (type == LUA_TNUMBER) {
    char text[LUAI_MAXNUMBER2STR];
    std::snprintf(text, sizeof text, LUA_NUMBER_FMT, lua_tonumber(L, -1));
    assign(newCode, text, host::kUtf8);
  } else {
    assign(newCode, std::string("(error object is a ") + lua_typename(L, type) + " value)",
           host::kUtf8);
  }
}

bool errorRecorded() noexcept {
  return !cleared && code != ErrorCode::kNone && code != ErrorCode::kYielded;
}

}  // namespace vesko
