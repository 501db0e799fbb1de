-- string.utf8sub and string.utf8characters: substrings and iteration by
-- UTF-8 character, built on the luautf8 functions.
local nextutf8, seekutf8, utf8code = string.nextutf8, string.seekutf8, string.utf8code
local byte, sub = string.byte, string.sub
local registry = debug.getregistry()
-- From the start-up script; run without it, errors keep this script's lines.
local callersErrors = registry["vesko.callersErrors"] or function(f) return f end
registry["vesko.callersErrors"] = nil

-- Byte position that negative character indexes count back from: the first
-- byte of the last character, when the string ends in a well-formed one;
-- otherwise the last byte.
local function lastCharacterStart(s)
  local n = #s
  local p = n
  while p > 1 and p > n - 3 do
    local b = byte(s, p)
    if b < 0x80 or b > 0xBF then break end
    p = p - 1
  end
  if p < n and pcall(utf8code, sub(s, p)) then return p end
  return n
end

-- s:utf8sub(first, last): characters first .. last of s (last defaults to
-- the end).  Index 0 as first means 1; negative indexes count from the end,
-- -1 being the last character.
local function utf8sub(s, first, last)
  if first == nil then error("bad argument #1 to 'sub' (argument expected, got nil)") end
  local start = first
  if start == 0 then start = 1 end
  if last == 0 then return "" end
  local a
  if start > 0 then
    a = seekutf8(s, 1, start - 1)
  else
    a = seekutf8(s, lastCharacterStart(s), start + 1)
  end
  if a == nil then return "" end
  if last == nil then return sub(s, a) end

  local finish = #s
  if last > 0 then
    -- The step counts from the adjusted start, whatever its sign.
    local b = seekutf8(s, a, last - start)
    local q = b and seekutf8(s, b, 1)
    if q then finish = q - 1 end
  elseif last == -1 then
    return sub(s, a)
  else
    local b = seekutf8(s, lastCharacterStart(s), last + 1)
    if b == nil then return "" end
    local q = seekutf8(s, b, 1)
    if q then finish = q - 1 end
    if finish < a then return "" end
  end
  return sub(s, a, finish)
end
string.utf8sub = callersErrors(utf8sub)

-- string.utf8characters(s): an iterator over the characters of s, for the
-- generic for.
local function utf8characters(s)
  local position, character = 1, nil
  return callersErrors(function()
    position, character = nextutf8(s, position)
    return character
  end)
end
string.utf8characters = utf8characters
