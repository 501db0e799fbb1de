// FM_DataVect_* and FM_RowVect_*: parameter lists and query results.
// Everything an accessor hands out is lent and lives as long as the vector;
// the rows of a query result and their cell texts are lent as views
// (row_store.h).
#include <string>

#include "api/fm_api.h"
#include "host/objects/host_objects.h"
#include "host/objects/row_store.h"
#include "host/objects/data_values.h"

using namespace vesko_host;

namespace {

// False after recording an index past the end of a vector of `size`.
bool indexFits(std::size_t size, uint32_t index, const char* operation, FMErrorRecord* e) {
  if (index < size) return true;
  recordViolation(std::string(operation) + ": index " + std::to_string(index) +
                  " past the end of a data vector of " + std::to_string(size));
  setErrorCode(e, FM_ERROR_FAILURE);
  return false;
}

// The item at `index`, or nullptr after recording the misuse.
FMData* itemAt(const FMDataVect* v, uint32_t index, const char* operation, FMErrorRecord* e) {
  FMDataVect* vector = useHandle(v, operation, e);
  if (vector == nullptr || !indexFits(vector->items.size(), index, operation, e)) return nullptr;
  return &vector->items[index];
}

}  // namespace

extern "C" {

FMDataVect* FM_DataVect_Constructor1(FMErrorRecord* e) {
  return guarded(e, static_cast<FMDataVect*>(nullptr),
                 [] { return handOut(new FMDataVect, Ownership::plugin); });
}

void FM_DataVect_Delete(FMDataVect* v, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(v, ObjectKind::dataVect, op, e)) return;
    noteDeleted(v);
    delete v;
  });
}

uint32_t FM_DataVect_Size(const FMDataVect* v, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0u, [&]() -> uint32_t {
    const Found<FMDataVect> found = findRow(v, op, e);
    if (found.rows != nullptr) return static_cast<uint32_t>(rowWidth(*found.rows, found.index));
    return found.object == nullptr ? 0 : static_cast<uint32_t>(found.object->items.size());
  });
}

const FMData* FM_DataVect_At(const FMDataVect* v, uint32_t index, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMData*>(nullptr), [&]() -> const FMData* {
    FMData* item = itemAt(v, index, op, e);
    return item == nullptr ? nullptr : handOut(item, Ownership::borrowed);
  });
}

const FMText* FM_DataVect_AtAsText(const FMDataVect* v, uint32_t index, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMText*>(nullptr), [&]() -> const FMText* {
    const Found<FMDataVect> found = findRow(v, op, e);
    if (found.rows != nullptr) {
      if (!indexFits(rowWidth(*found.rows, found.index), index, op, e)) return nullptr;
      return cellTextHandle(*found.rows, found.index, index);
    }
    if (found.object == nullptr || !indexFits(found.object->items.size(), index, op, e))
      return nullptr;
    return handOut(&currentText(found.object->items[index]), Ownership::borrowed);
  });
}

const FMFixPt* FM_DataVect_AtAsNumber(const FMDataVect* v, uint32_t index, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMFixPt*>(nullptr), [&]() -> const FMFixPt* {
    FMData* item = itemAt(v, index, op, e);
    if (item == nullptr) return nullptr;
    if (item->numberView == nullptr) item->numberView = std::make_unique<FMFixPt>();
    item->numberView->value = numberOf(valueOf(*item));
    return handOut(item->numberView.get(), Ownership::borrowed);
  });
}

const FMDateTime* FM_DataVect_AtAsTimeStamp(const FMDataVect* v, uint32_t index, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMDateTime*>(nullptr), [&]() -> const FMDateTime* {
    FMData* item = itemAt(v, index, op, e);
    if (item == nullptr) return nullptr;
    if (item->dateTimeView == nullptr) item->dateTimeView = std::make_unique<FMDateTime>();
    item->dateTimeView->seconds = secondsOf(valueOf(*item)).value_or(0);
    return handOut(item->dateTimeView.get(), Ownership::borrowed);
  });
}

void FM_DataVect_PushBack(FMDataVect* v, const FMData* data, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMDataVect* vector = useHandle(v, op, e);
    const FMData* item = useHandle(data, op, e);
    if (vector == nullptr || item == nullptr) return;
    FMData copy;  // copied first: the item may belong to this very vector
    copyValue(copy, *item);
    copyValue(vector->items.emplace_back(), copy);
  });
}

FMRowVect* FM_RowVect_Constructor1(FMErrorRecord* e) {
  return guarded(e, static_cast<FMRowVect*>(nullptr),
                 [] { return handOut(new FMRowVect, Ownership::plugin); });
}

void FM_RowVect_Delete(FMRowVect* v, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedDelete(e, [&] {
    if (!mayDelete(v, ObjectKind::rowVect, op, e)) return;
    noteDeleted(v);
    delete v;
  });
}

uint32_t FM_RowVect_Size(const FMRowVect* v, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 0u, [&]() -> uint32_t {
    const FMRowVect* rows = useHandle(v, op, e);
    return rows == nullptr ? 0 : static_cast<uint32_t>(rowCount(*rows));
  });
}

int32_t FM_RowVect_IsEmpty(const FMRowVect* v, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, 1, [&]() -> int32_t {
    const FMRowVect* rows = useHandle(v, op, e);
    return rows == nullptr || rowCount(*rows) == 0;
  });
}

const FMDataVect* FM_RowVect_At(const FMRowVect* v, uint32_t row, FMErrorRecord* e) {
  const char* const op = __func__;
  return guarded(e, static_cast<const FMDataVect*>(nullptr), [&]() -> const FMDataVect* {
    FMRowVect* rows = useHandle(v, op, e);
    if (rows == nullptr) return nullptr;
    if (row >= rowCount(*rows)) {
      recordViolation(std::string(op) + ": row " + std::to_string(row) +
                      " past the end of a row vector of " + std::to_string(rowCount(*rows)));
      setErrorCode(e, FM_ERROR_FAILURE);
      return nullptr;
    }
    return rowHandle(*rows, row);
  });
}

void FM_RowVect_PushBack(FMRowVect* v, const FMDataVect* row, FMErrorRecord* e) {
  const char* const op = __func__;
  guardedVoid(e, [&] {
    FMRowVect* rows = useHandle(v, op, e);
    const FMDataVect* items = useHandle(row, op, e);
    if (rows == nullptr || items == nullptr) return;
    beginRow(*rows);
    for (const FMData& item : items->items) appendDataCell(*rows, item);
  });
}

}  // extern "C"
