// Row vectors: compact cells, DataVects on demand.
#include "host/row_store.h"

#include <charconv>

#include "host/text_encoding.h"
#include "host/value_rules.h"

namespace vesko_host {
namespace {

void materialize(FMData& data, const FMRowVect& rows, const Cell& cell) {
  switch (cell.form) {
    case Cell::Form::integer: {
      // The exact digits: a double could not hold every 64-bit integer.
      char digits[24];
      const auto end = std::to_chars(digits, digits + sizeof digits, cell.integer).ptr;
      assignNumber(data, static_cast<double>(cell.integer), FM_KIND_NUMBER);
      data.text.units.assign(digits, end);
      data.textIsCurrent = true;
      break;
    }
    case Cell::Form::real:
      assignNumber(data, cell.real, cell.kind);
      break;
    case Cell::Form::text: {
      std::u16string units;
      appendDecoded(units, std::string_view(rows.pool).substr(cell.offset, cell.length),
                    FM_ENCODING_UTF8);
      assignText(data, std::move(units));
      break;
    }
    case Cell::Form::empty:
      assignNumber(data, 0, cell.kind);
      data.text.units.clear();
      data.textIsCurrent = true;
      break;
  }
}

}  // namespace

void beginRow(FMRowVect& rows) {
  rows.rowStarts.push_back(rows.cells.size());
}

void appendIntegerCell(FMRowVect& rows, int64_t value) {
  Cell& cell = rows.cells.emplace_back();
  cell.form = Cell::Form::integer;
  cell.kind = FM_KIND_NUMBER;
  cell.integer = value;
}

void appendNumberCell(FMRowVect& rows, double value, int kind) {
  Cell& cell = rows.cells.emplace_back();
  cell.form = Cell::Form::real;
  cell.kind = static_cast<uint8_t>(kind);
  cell.real = value;
}

void appendTextCell(FMRowVect& rows, std::string_view utf8) {
  Cell& cell = rows.cells.emplace_back();
  cell.form = Cell::Form::text;
  cell.kind = FM_KIND_TEXT;
  cell.offset = rows.pool.size();
  cell.length = static_cast<uint32_t>(utf8.size());
  rows.pool.append(utf8);
}

void appendDataCell(FMRowVect& rows, const FMData& data) {
  if (data.kind == FM_KIND_TEXT) {
    appendTextCell(rows, utf8FromUnits(data.text.units));
  } else if (data.kind == FM_KIND_INVALID || data.kind == FM_KIND_CONTAINER) {
    Cell& cell = rows.cells.emplace_back();
    cell.kind = static_cast<uint8_t>(data.kind);
  } else {
    const Value value = valueOf(data);
    appendNumberCell(rows, isTemporal(data.kind) ? value.seconds : value.number, data.kind);
  }
}

void clearRows(FMRowVect& rows) {
  rows.views.clear();
  rows.cells.clear();
  rows.rowStarts.clear();
  rows.pool.clear();
}

std::size_t rowCount(const FMRowVect& rows) {
  return rows.rowStarts.size();
}

FMDataVect& rowView(FMRowVect& rows, std::size_t row) {
  if (rows.views.size() < rows.rowStarts.size()) rows.views.resize(rows.rowStarts.size());
  std::unique_ptr<FMDataVect>& view = rows.views[row];
  if (view == nullptr) {
    auto made = std::make_unique<FMDataVect>();
    const std::size_t end =
        row + 1 < rows.rowStarts.size() ? rows.rowStarts[row + 1] : rows.cells.size();
    for (std::size_t i = rows.rowStarts[row]; i < end; ++i)
      materialize(made->items.emplace_back(), rows, rows.cells[i]);
    view = std::move(made);
  }
  return *view;
}

}  // namespace vesko_host
