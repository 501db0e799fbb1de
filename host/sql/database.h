// The open database file: an SQLite file standing for the host's own.
#ifndef VESKO_HOST_DATABASE_H
#define VESKO_HOST_DATABASE_H

#include <string>

#include "api/fm_api.h"

struct sqlite3;

namespace vesko_host {

// The open database, or nullptr when none is open.
sqlite3* openDatabaseHandle();

// What Get(FilePath) answers: the override, else "file:" and the absolute
// path of the open file, else the empty text.
std::string filePathAnswer();

// True when ExecuteFileSQL's file name names the open file: the empty
// name, its file name, or its file name without the extension (in any
// ASCII letter case).
bool namesOpenDatabase(const std::string& fileName);

// Runs `query` with `parameters` bound to its "?" placeholders in order,
// and appends its rows to `rows`.  No parameters leave every placeholder
// NULL; otherwise there must be one per placeholder.  Answers a host error:
// kHostErrorFileMissing without an open database, kHostErrorQueryInvalid
// when SQLite rejects the query (or the parameters do not match it), kHostErrorQueryFailed when it
// fails while running.  *message receives SQLite's message.
int16_t runQuery(const std::string& query, const FMDataVect& parameters, FMRowVect& rows,
                 std::string* message);

}  // namespace vesko_host

#endif
