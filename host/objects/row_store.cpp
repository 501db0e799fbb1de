// Row vectors: compact cells, and views lent without an object apiece.
#include "host/objects/row_store.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "host/values/number_text.h"
#include "host/values/text_encoding.h"
#include "host/objects/data_values.h"

namespace vesko_host {
namespace {

constexpr std::size_t kPoolChunk = 65536;

// Keeps the pool well-formed (see FMRowVect): ill-formed UTF-8 is stored
// as the host reads it, U+FFFD for each bad byte.
void appendCell(FMRowVect& rows, int kind, double number, std::string_view text) {
  std::optional<std::size_t> units = wellFormedUnits(text);
  std::string repaired;
  if (!units) {
    const std::u16string decoded = unitsFromUtf8(text);
    units = decoded.size();
    repaired = utf8FromUnits(decoded);
    text = repaired;
  }
  const char* stored = rows.pool.append(text);
  Cell& cell = rows.cells.add();
  cell.text = stored;
  cell.length = static_cast<uint32_t>(text.size());
  cell.units = static_cast<uint32_t>(*units);
  cell.number = number;
  cell.kind = static_cast<uint8_t>(kind);
}

// [first, end) of the row's cells.
std::pair<std::size_t, std::size_t> cellsOf(const FMRowVect& rows, std::size_t row) {
  const std::size_t end =
      row + 1 < rows.rowStarts.size() ? rows.rowStarts[row + 1] : rows.cells.size();
  return {rows.rowStarts[row], end};
}

std::string_view textFormOf(const Cell& cell) {
  return std::string_view(cell.text, cell.length);
}

void materialize(FMData& data, const Cell& cell) {
  std::u16string units = unitsFromUtf8(textFormOf(cell));
  if (cell.kind == FM_KIND_TEXT) {
    assignText(data, std::move(units));
    return;
  }
  assignNumber(data, cell.number, cell.kind);
  data.text.units = std::move(units);
  data.textIsCurrent = true;
}

template <typename T>
using StandIns = std::unordered_map<std::size_t, std::unique_ptr<T>>;

template <typename T>
Found<T> findView(const T* handle, const char* operation, FMErrorRecord* e,
                  StandIns<T> FMRowVect::*standIns) {
  if (isRecentHandle(handle, kindOf(handle))) return {const_cast<T*>(handle)};
  LentView view;
  if (lookUpObject(handle, kindOf(handle), operation, e, &view) == nullptr) return {};
  if (view.owner == nullptr) return {const_cast<T*>(handle)};
  auto& rows = *static_cast<FMRowVect*>(view.owner);
  const StandIns<T>& made = rows.*standIns;
  if (!made.empty()) {
    const auto standIn = made.find(view.index);
    if (standIn != made.end()) return {standIn->second.get()};
  }
  return {nullptr, &rows, view.index};
}

}  // namespace

const char* TextPool::append(std::string_view bytes) {
  if (bytes.empty()) return "";
  if (bytes.size() > room_) {
    const std::size_t size = std::max(kPoolChunk, bytes.size());
    chunks_.reserve(chunks_.size() + 1);
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    used_ = 0;
    room_ = size;
  }
  char* at = chunks_.back().get() + used_;
  std::memcpy(at, bytes.data(), bytes.size());
  used_ += bytes.size();
  room_ -= bytes.size();
  return at;
}

void TextPool::clear() {
  chunks_.clear();
  used_ = 0;
  room_ = 0;
}

void beginRow(FMRowVect& rows) {
  rows.rowStarts.add() = rows.cells.size();
}

void appendIntegerCell(FMRowVect& rows, int64_t value) {
  // The exact digits: a double could not hold every 64-bit integer.
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  appendCell(rows, FM_KIND_NUMBER, static_cast<double>(value), std::string_view(digits, end));
}

void appendNumberCell(FMRowVect& rows, double value, int kind) {
  // The text form FM_Data_GetAsText gives a data of this kind and value.
  std::string text;
  if (kind == FM_KIND_NUMBER) {
    text = numberText(value, kDefaultPrecision);
  } else {
    Value form;
    form.kind = kind;
    (isTemporal(kind) ? form.seconds : form.number) = value;
    text = textForm(form);
  }
  appendCell(rows, kind, value, text);
}

void appendTextCell(FMRowVect& rows, std::string_view utf8) {
  appendCell(rows, FM_KIND_TEXT, 0, utf8);
}

void appendDataCell(FMRowVect& rows, const FMData& data) {
  if (data.kind == FM_KIND_TEXT) {
    appendTextCell(rows, utf8FromUnits(data.text.units));
  } else if (data.kind == FM_KIND_INVALID || data.kind == FM_KIND_CONTAINER) {
    appendCell(rows, data.kind, 0, "");
  } else {
    const Value value = valueOf(data);
    appendNumberCell(rows, isTemporal(data.kind) ? value.seconds : value.number, data.kind);
  }
}

void clearRows(FMRowVect& rows) {
  rows.settledRows.clear();
  rows.settledTexts.clear();
  rows.rowStarts.clear();
  rows.cells.clear();
  rows.pool.clear();
}

std::size_t rowCount(const FMRowVect& rows) {
  return rows.rowStarts.size();
}

const FMDataVect* rowHandle(FMRowVect& rows, std::size_t row) {
  return reinterpret_cast<const FMDataVect*>(&rows.rowStarts[row]);
}

Found<FMDataVect> findRow(const FMDataVect* handle, const char* operation, FMErrorRecord* e) {
  return findView(handle, operation, e, &FMRowVect::settledRows);
}

Found<FMText> findText(const FMText* handle, const char* operation, FMErrorRecord* e) {
  return findView(handle, operation, e, &FMRowVect::settledTexts);
}

std::size_t rowWidth(const FMRowVect& rows, std::size_t row) {
  const auto [first, end] = cellsOf(rows, row);
  return end - first;
}

const FMText* cellTextHandle(const FMRowVect& rows, std::size_t row, std::size_t index) {
  return reinterpret_cast<const FMText*>(&rows.cells[cellsOf(rows, row).first + index]);
}

uint32_t textUnits(const FMRowVect& rows, std::size_t cell) {
  return rows.cells[cell].units;
}

void writeTextUtf8(const FMRowVect& rows, std::size_t cell, char* buffer, std::size_t capacity) {
  if (capacity == 0) return;
  const std::string_view bytes = textFormOf(rows.cells[cell]);
  std::size_t length = std::min(bytes.size(), capacity - 1);
  // Cut before the character that does not fit whole.
  if (length < bytes.size())
    while (length > 0 && (static_cast<unsigned char>(bytes[length]) & 0xC0) == 0x80) --length;
  if (length > 0) std::memcpy(buffer, bytes.data(), length);
  buffer[length] = '\0';
}

// --- Objects standing for views ----------------------------------------------

FMText* useHandle(const FMText* handle, const char* operation, FMErrorRecord* e) {
  const Found<FMText> found = findText(handle, operation, e);
  if (found.rows == nullptr) return found.object;
  auto text = std::make_unique<FMText>();
  text->units = unitsFromUtf8(textFormOf(found.rows->cells[found.index]));
  return found.rows->settledTexts.emplace(found.index, std::move(text)).first->second.get();
}

FMDataVect* useHandle(const FMDataVect* handle, const char* operation, FMErrorRecord* e) {
  const Found<FMDataVect> found = findRow(handle, operation, e);
  if (found.rows == nullptr) return found.object;
  auto vector = std::make_unique<FMDataVect>();
  const FMRowVect& rows = *found.rows;
  const auto [first, end] = cellsOf(rows, found.index);
  for (std::size_t i = first; i < end; ++i)
    materialize(vector->items.emplace_back(), rows.cells[i]);
  return found.rows->settledRows.emplace(found.index, std::move(vector)).first->second.get();
}

}  // namespace vesko_host

FMRowVect::~FMRowVect() {
  if (registered.value) vesko_host::forgetObject(this);
}
