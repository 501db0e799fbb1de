#include "functions/script_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/allocator.h"
#include "lua.hpp"

namespace vesko {

namespace {

// Closes the file however the load ends.
struct OpenFile {
  std::FILE* file = nullptr;
  ~OpenFile() {
    if (file != nullptr) std::fclose(file);
  }
};

struct Reader {
  std::FILE* file;
  bool extraLine;  // the skipped "#" line still owes the parser its newline
  char buffer[LUAL_BUFFERSIZE];
};

// lua_Reader over the open file; never raises.
const char* readChunk(lua_State*, void* data, std::size_t* size) {
  auto* reader = static_cast<Reader*>(data);
  if (reader->extraLine) {
    reader->extraLine = false;
    *size = 1;
    return "\n";
  }
  if (std::feof(reader->file)) return nullptr;
  *size = std::fread(reader->buffer, 1, sizeof reader->buffer, reader->file);
  return *size > 0 ? reader->buffer : nullptr;
}

// A descriptor for `path` that is a regular file, opened for reading
// without blocking and then made blocking again, or -1.  The kind is
// checked on the path before opening (opening a device can have effects
// of its own) and on the descriptor after (the path may have changed).
int openRegularFile(const char* path) {
  struct stat status {};
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Positions the file where the chunk starts, as luaL_loadfile does: after a
// first line starting with "#" (whose newline the reader hands over, so
// line numbers stay right), or, for a precompiled chunk, at its signature.
void skipPrelude(Reader* reader) {
  std::FILE* file = reader->file;
  int c = std::getc(file);
  if (c == '#') {
    reader->extraLine = true;
    while ((c = std::getc(file)) != EOF && c != '\n') {
    }
    if (c == '\n') c = std::getc(file);
  }
  if (c == LUA_SIGNATURE[0]) {
    std::rewind(file);
    while ((c = std::getc(file)) != EOF && c != LUA_SIGNATURE[0]) {
    }
    reader->extraLine = false;
  }
  std::ungetc(c, file);
}

}  // namespace

bool loadScriptFile(lua_State* L, const char* path, int* status) {
  const int fd = openRegularFile(path);
  if (fd < 0) return false;
  OpenFile open;
  open.file = fdopen(fd, "r");
  if (open.file == nullptr) {
    close(fd);
    return false;
  }
  Reader reader{open.file, false, {}};
  skipPrelude(&reader);

  lua_pushfstring(L, "@%s", path);
  const int name = lua_gettop(L);
  {
    engine::ProtectedRun run;  // loading is protected: a memory error is caught
    *status = lua_load(L, readChunk, &reader, lua_tostring(L, name));
  }
  if (std::ferror(open.file)) {
    const int failure = errno;
    lua_settop(L, name);
    lua_pushfstring(L, "cannot read %s: %s", path, std::strerror(failure));
    *status = LUA_ERRFILE;
  }
  lua_remove(L, name);
  return true;
}

}  // namespace vesko
