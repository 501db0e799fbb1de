// A temporary SQLite file made from SQL and opened as the host's database
// file, for the tests of queries.
#ifndef VESKO_TESTS_SUPPORT_TEMPORARY_DATABASE_H
#define VESKO_TESTS_SUPPORT_TEMPORARY_DATABASE_H

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "host/substitute_host.h"

namespace vesko_test {

// Makes `name`-<pid>.sqlite in the temporary folder by running `sql`, opens
// it as the host's database and sets *path to it.  Call it inside
// ASSERT_NO_FATAL_FAILURE.
inline void openTemporaryDatabase(const std::string& name, const char* sql,
                                  std::filesystem::path* path) {
  *path =
      std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()) + ".sqlite");
  sqlite3* db = nullptr;
  const int opened = sqlite3_open(path->c_str(), &db);
  const int filled =
      opened == SQLITE_OK ? sqlite3_exec(db, sql, nullptr, nullptr, nullptr) : opened;
  sqlite3_close(db);
  ASSERT_EQ(filled, SQLITE_OK) << *path;
  std::string error;
  ASSERT_TRUE(vesko_host::openDatabase(path->string(), &error)) << error;
}

// Closes the host's database and removes its file.
inline void removeTemporaryDatabase(const std::filesystem::path& path) {
  vesko_host::closeDatabase();
  std::filesystem::remove(path);
}

}  // namespace vesko_test

#endif
