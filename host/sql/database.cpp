// The open database file and the queries run on it.
#include "host/sql/database.h"

#include <sqlite3.h>

#include <chrono>
#include <cmath>
#include <string>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>

#include "host/objects/host_errors.h"
#include "host/objects/host_objects.h"
#include "host/objects/row_store.h"
#include "host/substitute_host.h"
#include "host/values/calendar.h"
#include "host/values/text_encoding.h"
#include "host/objects/data_values.h"

namespace vesko_host {
namespace {

sqlite3* database = nullptr;
std::string absolutePath;
std::optional<std::string> filePathOverride;
QueryLimits limits;

// SQLite calls the progress handler every this many virtual machine
// instructions: often enough to stop within milliseconds, rarely enough to
// cost nothing measurable.
constexpr int kInstructionsBetweenChecks = 10000;

// The running query's deadline, read by the progress handler.
struct Deadline {
  std::chrono::steady_clock::time_point at;
};
int pastDeadline(void* deadline) {
  return std::chrono::steady_clock::now() >= static_cast<Deadline*>(deadline)->at ? 1 : 0;
}

// Keeps the progress handler installed for one query only.
struct ProgressHandler {
  explicit ProgressHandler(Deadline* deadline) {
    sqlite3_progress_handler(database, kInstructionsBetweenChecks, pastDeadline, deadline);
  }
  ~ProgressHandler() { sqlite3_progress_handler(database, 0, nullptr, nullptr); }
};

// What a row costs the host beyond its texts' bytes: the row's entry and
// each cell's record with a number's text form (see row_store.h), counted
// generously.
constexpr std::size_t kRowOverhead = 64;
constexpr std::size_t kCellOverhead = 48;

// Ends a statement however the query ends.
struct Statement {
  sqlite3_stmt* handle = nullptr;
  ~Statement() { sqlite3_finalize(handle); }
};

bool blankText(const char* s) {
  for (; s != nullptr && *s != '\0'; ++s)
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n' && *s != ';') return false;
  return true;
}

int16_t sqliteFailure(int status, int16_t error, std::string* message) {
  if (status == SQLITE_NOMEM) throw std::bad_alloc();
  *message = sqlite3_errmsg(database);
  return error;
}

// Binds one parameter: texts as text, numbers as integers when they are
// whole, dates, times and timestamps in the ISO forms SQLite's date
// functions read (so they compare with such columns), empty values as NULL.
int bindParameter(sqlite3_stmt* statement, int index, const FMData& item) {
  const Value value = valueOf(item);
  switch (value.kind) {
    case FM_KIND_NUMBER:
    case FM_KIND_BOOLEAN:
      if (std::trunc(value.number) == value.number && std::fabs(value.number) < 9e18)
        return sqlite3_bind_int64(statement, index, static_cast<sqlite3_int64>(value.number));
      return sqlite3_bind_double(statement, index, value.number);
    case FM_KIND_INVALID:
    case FM_KIND_CONTAINER:
      return sqlite3_bind_null(statement, index);
    default: {
      const std::string text = value.kind == FM_KIND_DATE        ? isoDateText(value.seconds)
                               : value.kind == FM_KIND_TIME      ? isoTimeText(value.seconds)
                               : value.kind == FM_KIND_TIMESTAMP ? isoTimestampText(value.seconds)
                                                                 : textForm(value);
      return sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
    }
  }
}

// Appends the current row of `statement`: integers keep their digits, NULL
// is the empty text, a blob is read as UTF-8 text.
// Answers the bytes the row holds, near enough for the memory cap.
std::size_t appendRow(sqlite3_stmt* statement, FMRowVect& rows) {
  beginRow(rows);
  const int columns = sqlite3_column_count(statement);
  std::size_t held = kRowOverhead + kCellOverhead * static_cast<std::size_t>(columns);
  for (int column = 0; column < columns; ++column) {
    switch (sqlite3_column_type(statement, column)) {
      case SQLITE_INTEGER:
        appendIntegerCell(rows, sqlite3_column_int64(statement, column));
        break;
      case SQLITE_FLOAT:
        appendNumberCell(rows, sqlite3_column_double(statement, column));
        break;
      case SQLITE_NULL:
        appendTextCell(rows, "");
        break;
      default: {
        const auto* bytes = static_cast<const char*>(
            sqlite3_column_type(statement, column) == SQLITE_BLOB
                ? sqlite3_column_blob(statement, column)
                : static_cast<const void*>(sqlite3_column_text(statement, column)));
        const auto length = static_cast<std::size_t>(sqlite3_column_bytes(statement, column));
        held += length;
        appendTextCell(rows,
                       bytes == nullptr ? std::string_view() : std::string_view(bytes, length));
      }
    }
  }
  return held;
}

// Another connection's write lock is waited for, as long as a query may
// run, rather than failing at once with "database is locked".
void waitWhileLocked(sqlite3* handle) {
  if (handle == nullptr) return;
  const double milliseconds = limits.seconds * 1000;
  const bool bounded = limits.seconds > 0 && milliseconds < std::numeric_limits<int>::max();
  sqlite3_busy_timeout(handle,
                       bounded ? static_cast<int>(milliseconds) : std::numeric_limits<int>::max());
}

}  // namespace

bool openDatabase(const std::string& path, std::string* error, DatabaseAccess access) {
  closeDatabase();
  sqlite3* opened = nullptr;
  int status = SQLITE_READONLY;
  if (access == DatabaseAccess::kReadWrite)
    status = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE, nullptr);
  if (status == SQLITE_CANTOPEN || status == SQLITE_READONLY) {
    sqlite3_close(opened);
    opened = nullptr;
    status = sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READONLY, nullptr);
  }
  if (status == SQLITE_OK) waitWhileLocked(opened);
  // Reading the schema tells an SQLite file from any other file.
  if (status == SQLITE_OK)
    status = sqlite3_exec(opened, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (status != SQLITE_OK) {
    *error = path + ": " + (opened != nullptr ? sqlite3_errmsg(opened) : sqlite3_errstr(status));
    sqlite3_close(opened);
    return false;
  }
  database = opened;
  std::error_code failed;
  const std::filesystem::path absolute = std::filesystem::absolute(path, failed);
  absolutePath = failed ? path : absolute.lexically_normal().string();
  return true;
}

void setQueryLimits(const QueryLimits& newLimits) {
  limits = newLimits;
  waitWhileLocked(database);
}

QueryLimits queryLimits() {
  return limits;
}

void closeDatabase() {
  sqlite3_close(database);
  database = nullptr;
  absolutePath.clear();
}

std::string databasePath() {
  return absolutePath;
}

void overrideFilePath(std::optional<std::string> answer) {
  filePathOverride = std::move(answer);
}

sqlite3* openDatabaseHandle() {
  return database;
}

std::string filePathAnswer() {
  if (filePathOverride) return *filePathOverride;
  return database == nullptr ? "" : "file:" + absolutePath;
}

bool namesOpenDatabase(const std::string& fileName) {
  if (fileName.empty()) return true;
  const std::filesystem::path open(absolutePath);
  for (const std::string& name : {open.filename().string(), open.stem().string()}) {
    if (name.size() != fileName.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i)
      same = (name[i] | 0x20) == (fileName[i] | 0x20);
    if (same) return true;
  }
  return false;
}

int16_t runQuery(const std::string& query, const FMDataVect& parameters, FMRowVect& rows,
                 std::string* message) {
  if (database == nullptr) {
    *message = "no database file is open";
    return kHostErrorFileMissing;
  }
  if (query.find('\0') != std::string::npos) {
    *message = "the query holds a NUL character";
    return kHostErrorQueryInvalid;
  }
  Statement statement;
  const char* rest = nullptr;
  int status = sqlite3_prepare_v2(database, query.c_str(), static_cast<int>(query.size()) + 1,
                                  &statement.handle, &rest);
  if (status != SQLITE_OK) return sqliteFailure(status, kHostErrorQueryInvalid, message);
  if (statement.handle == nullptr) {
    *message = "the query is empty";
    return kHostErrorQueryInvalid;
  }
  if (!blankText(rest)) {
    *message = "only one statement can run at a time";
    return kHostErrorQueryInvalid;
  }
  // Without parameters a placeholder is NULL; with them, every placeholder
  // needs exactly one.
  const int placeholders = sqlite3_bind_parameter_count(statement.handle);
  if (!parameters.items.empty() &&
      parameters.items.size() != static_cast<std::size_t>(placeholders)) {
    *message = "the parameters do not match the query's placeholders";
    return kHostErrorQueryInvalid;
  }
  int index = 1;
  for (const FMData& item : parameters.items) {
    status = bindParameter(statement.handle, index++, item);
    if (status != SQLITE_OK) return sqliteFailure(status, kHostErrorQueryInvalid, message);
  }
  Deadline deadline{std::chrono::steady_clock::time_point::max()};
  if (limits.seconds > 0 && limits.seconds < 1e9) {
    deadline.at = std::chrono::steady_clock::now() +
                  std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                      std::chrono::duration<double>(limits.seconds));
  }
  const ProgressHandler stopsAtDeadline(&deadline);
  std::size_t held = 0;
  while ((status = sqlite3_step(statement.handle)) == SQLITE_ROW) {
    held += appendRow(statement.handle, rows);
    if (limits.rowBytes != 0 && held > limits.rowBytes) {
      clearRows(rows);
      *message = "the rows passed the memory cap of " + std::to_string(limits.rowBytes) + " bytes";
      return kHostErrorQueryTooLarge;
    }
  }
  if (status == SQLITE_INTERRUPT) {
    clearRows(rows);
    *message = "the query ran past its time limit";
    return kHostErrorQueryTimeLimit;
  }
  if (status != SQLITE_DONE) return sqliteFailure(status, kHostErrorQueryFailed, message);
  return kHostErrorNone;
}

}  // namespace vesko_host
