-- Cleans up a name typed by hand, given as the first argument: white space
-- collapsed and trimmed, each word capitalised, and anything but letters,
-- digits, spaces, hyphens and apostrophes dropped.  Uses LPeg's re.
--
--   vesko-calc "Vesko_RunFile(\"$PWD/examples/cleanup.lua\"; \"  o'brien ,  FIONA!! \")"
local text = ... or ""

-- Bytes of 0x80 and above are kept: they belong to UTF-8 letters.
local kept = re.gsub(text, "[^%w%s'-]", function(c) return c:byte() >= 128 and c or "" end)
local collapsed = re.gsub(kept, "%s+", " ")
local trimmed = re.match(collapsed, "' '? {(!(' '? !.) .)*}")

-- "fIONA" -> "Fiona": the first letter up, the rest down (ASCII letters).
return re.gsub(trimmed, "{%a} {%a*}", function(first, rest)
  return first:upper() .. rest:lower()
end)
