-- The orders of the customers whose name holds the first argument, placed
-- on or after the second (a host date; all orders without one), as a host
-- list.  The arguments are bound to the query's "?" placeholders, never
-- written into its text: a name such as O'Brien, or anything a user types,
-- stays data.
--
--   vesko-calc "Vesko_RunFile(\"$PWD/examples/orders_since.lua\"; \"o'brien\")"
--   vesko-calc "Vesko_RunFile(\"$PWD/examples/orders_since.lua\"; \"\"; Date(3; 1; 2025))"
local name, since = ...
local rows = vesko.ExecuteSQL([[
  SELECT o.ordered, c.name, p.name, o.quantity
  FROM orders o
  JOIN customers c ON c.id = o.customer_id
  JOIN products p ON p.id = o.product_id
  WHERE c.name LIKE '%' || ? || '%' AND (? IS NULL OR o.ordered >= date(?))
  ORDER BY o.ordered, o.id]], name or "", since, since)

local lines = {}
for _, row in ipairs(rows) do
  lines[#lines + 1] = string.format("%s %s: %s x%s", row.f1, row.f2, row.f3, row.f4)
end
return #lines > 0 and vesko.tolist(lines) or "no orders"
