// FM_Text_*: UTF-16 texts.  Positions and sizes count UTF-16 units and are
// clamped to the text, so no position can reach outside it.  GetSize and
// GetBytes of a whole text in UTF-8 read the cell texts of query results
// as views (row_store.h).
#include <algorithm>
#include <cstring>

#include "api/fm_api.h"
#include "host/objects/host_objects.h"
#include "host/objects/row_store.h"
#include "host/values/text_encoding.h"

using namespace vesko_host;

namespace {

// The part of `units` from `position` for `size` units, clamped.
std::u16string_view slice(std::u16string_view units, uint32_t position, uint32_t size) {
  if (position >= units.size()) return {};
  return units.substr(position, size);
}

// Decodes `length` bytes into t, or fails with code 2 for an unknown encoding.
void assignBytes(FMText* t, const char* s, std::size_t length, int32_t encoding, FMErrorRecord* e) {
  if (!isKnownEncoding(encoding)) {
    setErrorCode(e, FM_ERROR_FAILURE);
    return;
  }
  std::u16string units;
  appendDecoded(units, std::string_view(s, length), encoding);
  t->units = std::move(units);
}

char16_t foldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
}

}  // namespace

extern "C" {

FMText* FM_Text_Constructor1(FMErrorRecord* e) {
  return guarded(e, static_cast<FMText*>(nullptr),
                 [] { return handOut(new FMText, Ownership::plugin); });
}

void FM_Text_Delete(FMText* t, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(t, ObjectKind::text, op, e)) return;
    noteDeleted(t);
    delete t;
  });
}

void FM_Text_Assign(FMText* t, const char* s, int32_t encoding, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    if (text == nullptr || !checkPointer(s, "string", op, e)) return;
    assignBytes(text, s, std::strlen(s), encoding, e);
  });
}

void FM_Text_AssignWithLength(FMText* t, const char* s, uint32_t length, int32_t encoding,
                              FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    if (text == nullptr || (length > 0 && !checkPointer(s, "string", op, e))) return;
    assignBytes(text, s, length, encoding, e);
  });
}

void FM_Text_AssignUnicode(FMText* t, const uint16_t* s, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    if (text == nullptr || !checkPointer(s, "string", op, e)) return;
    std::size_t length = 0;
    while (s[length] != 0) ++length;
    text->units.assign(s, s + length);
  });
}

void FM_Text_SetText(FMText* t, const FMText* source, uint32_t position, uint32_t size,
                     FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    const FMText* from = useHandle(source, op, e);
    if (text == nullptr || from == nullptr) return;
    text->units =
        std::u16string(slice(from->units, position, size));  // copies first: t may be source
  });
}

void FM_Text_AppendText(FMText* t, const FMText* source, uint32_t position, uint32_t size,
                        FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    const FMText* from = useHandle(source, op, e);
    if (text == nullptr || from == nullptr) return;
    const std::u16string part(slice(from->units, position, size));
    text->units += part;
  });
}

void FM_Text_InsertText(FMText* t, const FMText* source, uint32_t position, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    const FMText* from = useHandle(source, op, e);
    if (text == nullptr || from == nullptr) return;
    const std::u16string part = from->units;
    text->units.insert(std::min<std::size_t>(position, text->units.size()), part);
  });
}

void FM_Text_DeleteText(FMText* t, uint32_t position, uint32_t count, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMText* text = useHandle(t, op, e);
    if (text == nullptr || position >= text->units.size()) return;
    text->units.erase(position, count);
  });
}

uint32_t FM_Text_Find(const FMText* t, const FMText* pattern, uint32_t start, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, FM_TEXT_NOT_FOUND, [&]() -> uint32_t {
    const FMText* text = useHandle(t, op, e);
    const FMText* what = useHandle(pattern, op, e);
    if (text == nullptr || what == nullptr || start > text->units.size()) return FM_TEXT_NOT_FOUND;
    const std::size_t found = text->units.find(what->units, start);
    return found == std::u16string::npos ? FM_TEXT_NOT_FOUND : static_cast<uint32_t>(found);
  });
}

uint32_t FM_Text_GetSize(const FMText* t, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0u, [&]() -> uint32_t {
    const Found<FMText> found = findText(t, op, e);
    if (found.rows != nullptr) return textUnits(*found.rows, found.index);
    return found.object == nullptr ? 0 : static_cast<uint32_t>(found.object->units.size());
  });
}

void FM_Text_GetBytes(const FMText* t, char* buffer, uint32_t capacity, uint32_t position,
                      uint32_t size, int32_t encoding, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    if (capacity > 0 && !checkPointer(buffer, "buffer", op, e)) return;
    const Found<FMText> found = findText(t, op, e);
    const bool utf8 = encoding == FM_ENCODING_UTF8 || encoding == FM_ENCODING_NATIVE;
    if (found.rows != nullptr && utf8 && position == 0 &&
        size >= textUnits(*found.rows, found.index)) {
      writeTextUtf8(*found.rows, found.index, buffer, capacity);
      return;
    }
    const FMText* text = found.rows != nullptr ? useHandle(t, op, e) : found.object;
    if (text == nullptr || !isKnownEncoding(encoding)) {
      if (capacity > 0) buffer[0] = '\0';
      setErrorCode(e, FM_ERROR_FAILURE);
      return;
    }
    writeEncoded(slice(text->units, position, size), encoding, buffer, capacity);
  });
}

int32_t FM_Text_operatorEQ(const FMText* a, const FMText* b, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0, [&]() -> int32_t {
    const FMText* left = useHandle(a, op, e);
    const FMText* right = useHandle(b, op, e);
    if (left == nullptr || right == nullptr) return 0;
    return std::equal(left->units.begin(), left->units.end(), right->units.begin(),
                      right->units.end(),
                      [](char16_t x, char16_t y) { return foldAscii(x) == foldAscii(y); });
  });
}

}  // extern "C"
