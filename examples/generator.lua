-- Defines orderPages(size), a generator the host drives one page at a time:
-- Vesko_CallFunction starts it and answers the first page, each
-- Vesko_ResumeFunction answers the next, and the last call answers "end".
--
--   vesko-calc "Vesko_RunFile(\"$PWD/examples/generator.lua\")" \
--     'Vesko_CallFunction("orderPages"; 3)' 'Vesko_ResumeFunction' \
--     'Vesko_ResumeFunction' 'Vesko_ResumeFunction' 'Vesko_LastError'
function orderPages(size)
  local rows = vesko.ExecuteSQL("SELECT id, ordered, quantity FROM orders ORDER BY id")
  for first = 1, #rows, size do
    local page = {}
    for i = first, math.min(first + size - 1, #rows) do
      local row = rows[i]
      page[#page + 1] = string.format("#%s %s x%s", row.f1, row.f2, row.f3)
    end
    -- The value yielded is the host's result; the host's arguments to
    -- Vesko_ResumeFunction come back from yield (unused here).
    coroutine.yield(vesko.tolist(page))
  end
  return "end"
end
