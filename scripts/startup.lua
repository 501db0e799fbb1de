-- Run this when plugin is first started up
-- Scripts run inside the host's process: they must not end it.
os.exit = nil

-- The functions the start-up scripts define report their errors where the
-- script called them: a message that names a line of a start-up script
-- names the caller's line instead.  Other errors ("Time limit exceeded.",
-- an error of a nested call) pass through as they are.
local ownSources = {}
local pcall, error, type, pairs = pcall, error, type, pairs
local sub, match, getinfo = string.sub, string.match, debug.getinfo
local registry = debug.getregistry()
local callThrough = registry["vesko.callThrough"]
registry["vesko.callThrough"] = nil

local function rethrow(ok, ...)
  if ok then return ... end
  local message = ...
  if type(message) == "string" then
    for source in pairs(ownSources) do
      if sub(message, 1, #source + 1) == source .. ":" then
        -- Level 4: past this function, `guarded` and callThrough.
        error(match(message, "^:%d+: (.*)$", #source + 1) or message, 4)
      end
    end
  end
  error(message, 0)
end

-- The caller reaches `f` through a C function (callThrough), whose frame
-- stays even when the caller tail-calls it, as in "return s:utf8sub()".
local function callersErrors(f)
  ownSources[getinfo(f, "S").short_src] = true
  -- The parentheses keep this frame (no tail call) for the levels above;
  -- every function here answers one value.
  local function guarded(...) return (rethrow(pcall(f, ...))) end
  return callThrough(guarded)
end
-- For the UTF-8 script that runs after this one; it removes it.
registry["vesko.callersErrors"] = callersErrors

-- Splits a host list (items separated by carriage returns or line feeds)
-- into a table.  With a separator, each item "key<sep>value" becomes
-- t[key] = value; sep is a Lua pattern, inserted as it is.
function vesko.totable(str, sep)
  local t = {}
  if str == nil or str == "" then return t end
  if sep == nil then
    for item in string.gmatch(str, "[^\r\n]+") do t[#t + 1] = item end
  else
    for key, value in string.gmatch(str, "([^|\r\n]+)" .. sep .. "([^\r\n]+)") do
      t[key] = value
    end
  end
  return t
end

-- Joins a table into a host list.  With a separator, each pair becomes
-- "key<sep>value", in the table's own traversal order.
function vesko.tolist(tbl, sep)
  if sep == nil then return table.concat(tbl, "\r") end
  local items = {}
  for key, value in pairs(tbl) do items[#items + 1] = key .. sep .. value end
  return table.concat(items, "\r")
end

local hostFolders = {
  TemporaryPath = true, DocumentsPath = true, FileMakerPath = true, DesktopPath = true,
}

-- The host's standard folders as file-system paths.
function vesko.get(pathspecifier)
  local raw
  if pathspecifier == "DirOfFilePath" then
    local filePath = vesko.Evaluate("Get(FilePath)")
    if vesko.platform == "Win" then
      raw = string.match(filePath, "^file:/(.+/)[^/]+$")
    else
      raw = string.match(filePath, "^file:(/.+/)[^/]+$")
    end
  elseif hostFolders[pathspecifier] then
    raw = vesko.Evaluate("Get(" .. pathspecifier .. ")")
  end
  if raw == nil then return nil end
  if vesko.platform == "Mac" then return "/Volumes" .. raw end
  -- Windows hosts answer "/C:/Temp/"; this platform answers the path itself.
  if vesko.platform == "Win" and pathspecifier ~= "DirOfFilePath" then
    return string.sub(raw, 2)
  end
  return raw
end

-- Runs a command through the shell and answers its standard output.
function vesko.shellexec(cmd)
  local pipe = assert(io.popen(cmd, "r"))
  local output = pipe:read("*a")
  pipe:close()
  return output
end

for _, name in ipairs({ "totable", "tolist", "get", "shellexec" }) do
  vesko[name] = callersErrors(vesko[name])
end
