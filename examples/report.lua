-- Sales per customer from the open database, as a host list (one line per
-- customer, carriage returns between them).  Shows SQL through
-- vesko.ExecuteSQL and a host calculation through vesko.Evaluate.
--
--   vesko-calc "Vesko_RunFile(\"$PWD/examples/report.lua\")"
--
-- Every cell arrives as a string: numbers are converted where needed.
local rows = vesko.ExecuteSQL([[
  SELECT c.name, c.city, SUM(o.quantity * p.price), COUNT(*)
  FROM orders o
  JOIN customers c ON c.id = o.customer_id
  JOIN products p ON p.id = o.product_id
  GROUP BY c.id
  ORDER BY 3 DESC]])

local lines = {"Sales by customer, " .. vesko.Evaluate("GetAsText(Get(CurrentDate))")}
local total = 0
for rank, row in ipairs(rows) do
  local amount = tonumber(row.f3)
  total = total + amount
  lines[#lines + 1] = string.format("%d. %s (%s): %.2f in %s order(s)",
                                    rank, row.f1, row.f2, amount, row.f4)
end
lines[#lines + 1] = string.format("Total: %.2f", total)
return vesko.tolist(lines)
