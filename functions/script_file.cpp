// A port of luaL_loadfile (Lua 5.1's lauxlib.c): the same reader, the same
// "#" line and signature handling, the same "@path" chunk name and "cannot
// read" message, so a file runs here as it runs under lua(1).  It differs
// where the plug-in needs it: the file is opened without blocking and only
// if it is a regular file, and its version is noted for the chunk cache.
#include "functions/script_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/allocator.h"
#include "engine/chunk_cache.h"
#include "lua.hpp"

namespace vesko {

namespace {

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

engine::FileVersion versionOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev),
          static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_size),
          static_cast<std::int64_t>(info.st_mtim.tv_sec),
          static_cast<std::int64_t>(info.st_mtim.tv_nsec),
          static_cast<std::int64_t>(info.st_ctim.tv_sec),
          static_cast<std::int64_t>(info.st_ctim.tv_nsec)};
}

// A descriptor for `path`, a regular file, opened for reading without
// blocking, or -1; its fstat in *status.  The kind was checked on the path
// before opening (opening a device can have effects of its own) and is
// checked on the descriptor after (the path may have changed).
int openRegularFile(const char* path, struct stat* status) {
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, status) != 0 || !S_ISREG(status->st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Closes the descriptor, or the stream made of it, however the call ends.
struct OpenFile {
  int fd = -1;
  std::FILE* file = nullptr;
  ~OpenFile() {
    if (file != nullptr) {
      std::fclose(file);
    } else if (fd >= 0) {
      close(fd);
    }
  }
};

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

struct FileSource {
  const char* path;
  bool unopened;  // the file could not be opened as a regular file
};

// [-0, +1] Opens, reads and compiles the file: engine::FileLoader.
int compileFile(lua_State* L, void* context, engine::FileVersion* version) {
  auto* source = static_cast<FileSource*>(context);
  struct stat info {};
  OpenFile open;
  open.fd = openRegularFile(source->path, &info);
  if (open.fd < 0) {
    source->unopened = true;
    lua_pushnil(L);
    return LUA_ERRFILE;
  }
  *version = versionOf(info);
  // Blocking again for reading; a regular file never waits long.
  const int flags = fcntl(open.fd, F_GETFL);
  if (flags < 0 || fcntl(open.fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      (open.file = fdopen(open.fd, "r")) == nullptr) {
    lua_pushfstring(L, "cannot read %s: %s", source->path, std::strerror(errno));
    return LUA_ERRFILE;
  }
  Reader reader{open.file, false, {}};
  skipPrelude(&reader);

  lua_pushfstring(L, "@%s", source->path);
  const int name = lua_gettop(L);
  int status = 0;
  {
    engine::ProtectedRun run;  // loading is protected: a memory error is caught
    status = lua_load(L, readChunk, &reader, lua_tostring(L, name));
  }
  if (std::ferror(open.file)) {
    const int failure = errno;
    lua_settop(L, name);
    lua_pushfstring(L, "cannot read %s: %s", source->path, std::strerror(failure));
    status = LUA_ERRFILE;
  }
  lua_remove(L, name);
  return status;
}

}  // namespace

bool loadScriptFile(lua_State* L, const char* path, int* status, engine::ChunkLease* lease) {
  // One stat while the file is unchanged: a chunk kept from the same
  // contents needs no open.  A file made unreadable since has a new status
  // change time, and is opened again.
  struct stat info {};
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  FileSource source{path, false};
  *status = engine::loadFile(L, path, versionOf(info), compileFile, &source, lease);
  if (source.unopened) {
    lua_pop(L, 1);
    return false;
  }
  return true;
}

}  // namespace vesko
