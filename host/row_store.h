// Filling a row vector: its cells are kept compact and become DataVects
// only when FM_RowVect_At asks for a row.
#ifndef VESKO_HOST_ROW_STORE_H
#define VESKO_HOST_ROW_STORE_H

#include <cstdint>
#include <string_view>

#include "host/host_objects.h"

namespace vesko_host {

// Starts a new row; the cells appended next belong to it.
void beginRow(FMRowVect& rows);
void appendIntegerCell(FMRowVect& rows, int64_t value);
void appendNumberCell(FMRowVect& rows, double value, int kind = FM_KIND_NUMBER);
void appendTextCell(FMRowVect& rows, std::string_view utf8);
void appendDataCell(FMRowVect& rows, const FMData& data);

// Removes every row; DataVects made for them are gone with them.
void clearRows(FMRowVect& rows);

std::size_t rowCount(const FMRowVect& rows);
// The row as a DataVect owned by `rows`; made on first use.  row < rowCount.
FMDataVect& rowView(FMRowVect& rows, std::size_t row);

}  // namespace vesko_host

#endif
