// Row vectors: query results kept compact, with their rows and cell texts
// lent as views.
//
// A row vector holds its cells in chunks that never move, and the address
// of a cell is the handle of its text, the address of a row's entry the
// handle of the row: lending costs neither an object nor an allocation.
// The registry knows the chunks as ranges of borrowed views, and the
// handles are never read through.  FM_RowVect_At, FM_DataVect_Size and
// AtAsText read row views, FM_Text_GetSize and GetBytes (of a whole text,
// in UTF-8) read text views, straight from the cells; any other use of a
// view makes an ordinary object that stands for it from then on.
#ifndef VESKO_HOST_ROW_STORE_H
#define VESKO_HOST_ROW_STORE_H

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/objects/host_objects.h"

namespace vesko_host {

// One cell, with the text form made when it is stored, since a result is
// mostly read as text.
struct Cell {
  const char* text =
      nullptr;          // the UTF-8 bytes of the text form, in the pool; never null when stored
  uint32_t length = 0;  // bytes of the text form
  uint32_t units = 0;   // UTF-16 units of the text form
  double number = 0;    // number or boolean: the value; date-times: seconds; else 0
  uint8_t kind = FM_KIND_INVALID;
};

// A growing array whose items never move, in chunks that each enter the
// registry as a range of views of `kind` of `owner`, item i being view i.
template <typename T>
class ViewChunks {
 public:
  ViewChunks(ObjectKind kind, void* owner) : kind_(kind), owner_(owner) {}
  ~ViewChunks() { clear(); }
  ViewChunks(const ViewChunks&) = delete;
  ViewChunks& operator=(const ViewChunks&) = delete;

  std::size_t size() const { return size_; }
  T& operator[](std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const T& operator[](std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }

  // Adds an item and answers it, to be filled in.
  T& add() {
    if (size_ == chunks_.size() * kChunk) {
      chunks_.reserve(chunks_.size() + 1);  // nothing can fail once the range is in
      auto chunk = std::make_unique_for_overwrite<T[]>(kChunk);
      registerRange(chunk.get(), kChunk, sizeof(T), kind_, owner_, size_, &size_);
      chunks_.push_back(std::move(chunk));
    }
    T& item = (*this)[size_++];
    item = T();
    return item;
  }

  void clear() {
    for (const std::unique_ptr<T[]>& chunk : chunks_) forgetRange(chunk.get());
    chunks_.clear();
    size_ = 0;
  }

 private:
  static_assert((sizeof(T) & (sizeof(T) - 1)) == 0, "views must lie a power of two apart");
  // 64 KiB: under the allocator's threshold for mapping fresh pages, so a
  // later query reuses the memory of an earlier one.
  static constexpr std::size_t kChunk = 65536 / sizeof(T);
  ObjectKind kind_;
  void* owner_;
  std::vector<std::unique_ptr<T[]>> chunks_;
  std::size_t size_ = 0;
};

// Bytes in chunks that never move.
class TextPool {
 public:
  // Copies `bytes` in; answers where they stay, never nullptr.
  const char* append(std::string_view bytes);
  void clear();

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::size_t used_ = 0;  // of the last chunk
  std::size_t room_ = 0;  // left in the last chunk
};

}  // namespace vesko_host

struct FMRowVect {
  // Index of each row's first cell; rows may differ in width.  Entry r is
  // the view of row r.
  vesko_host::ViewChunks<uint64_t> rowStarts{vesko_host::ObjectKind::dataVect, this};
  // Cell i is the view of its text.
  vesko_host::ViewChunks<vesko_host::Cell> cells{vesko_host::ObjectKind::text, this};
  // The text forms of the cells.  Always well-formed UTF-8, so that a text
  // form is copied out as it stands and cut between any two characters.
  vesko_host::TextPool pool;
  // The objects that stand for views used otherwise, by row and by cell.
  std::unordered_map<std::size_t, std::unique_ptr<FMDataVect>> settledRows;
  std::unordered_map<std::size_t, std::unique_ptr<FMText>> settledTexts;
  vesko_host::RegisteredFlag registered;
  ~FMRowVect();
};

namespace vesko_host {

// Starts a new row; the cells appended next belong to it.
void beginRow(FMRowVect& rows);
void appendIntegerCell(FMRowVect& rows, int64_t value);
void appendNumberCell(FMRowVect& rows, double value, int kind = FM_KIND_NUMBER);
void appendTextCell(FMRowVect& rows, std::string_view utf8);
void appendDataCell(FMRowVect& rows, const FMData& data);

// Removes every row; the views lent for them are gone with them.
void clearRows(FMRowVect& rows);

std::size_t rowCount(const FMRowVect& rows);
// The handle of row `row` (below rowCount), the same every time.
const FMDataVect* rowHandle(FMRowVect& rows, std::size_t row);

// A handle as the operations that read views see it: the object, or else
// (`rows` set) the view of row or cell `index`, for which no object stands
// yet.  Both are nullptr after a misuse, recorded like useHandle's.
template <typename T>
struct Found {
  T* object = nullptr;
  FMRowVect* rows = nullptr;
  std::size_t index = 0;
};
Found<FMDataVect> findRow(const FMDataVect* handle, const char* operation, FMErrorRecord* e);
Found<FMText> findText(const FMText* handle, const char* operation, FMErrorRecord* e);

// Reading row views and text views.
std::size_t rowWidth(const FMRowVect& rows, std::size_t row);
// The handle of the text of value `index` (below the width) of row `row`.
const FMText* cellTextHandle(const FMRowVect& rows, std::size_t row, std::size_t index);
uint32_t textUnits(const FMRowVect& rows, std::size_t cell);
// Writes the whole text form as UTF-8, the way writeEncoded writes it.
void writeTextUtf8(const FMRowVect& rows, std::size_t cell, char* buffer, std::size_t capacity);

}  // namespace vesko_host

#endif
