// Build tool: runs an SQL script into a new SQLite file.
// usage: make_sample_database SCRIPT.sql OUTPUT.sqlite
#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SCRIPT.sql OUTPUT.sqlite\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
    return 1;
  }
  std::stringstream script;
  script << in.rdbuf();
  // A fresh file each time: the script creates its tables.
  std::remove(argv[2]);
  sqlite3* database = nullptr;
  char* message = nullptr;
  int status = sqlite3_open(argv[2], &database);
  if (status == SQLITE_OK)
    status = sqlite3_exec(database, script.str().c_str(), nullptr, nullptr, &message);
  if (status != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[2],
                 message != nullptr ? message : sqlite3_errmsg(database));
    sqlite3_free(message);
    sqlite3_close(database);
    std::remove(argv[2]);
    return 1;
  }
  return sqlite3_close(database) == SQLITE_OK ? 0 : 1;
}
