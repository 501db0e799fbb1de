-- Defines invoiceTotal(orderIds...), the total of some orders, three calls
-- deep.  An order that does not exist stops it with an error, and
-- Vesko_LastError("traceback") then shows where: the chain of calls down
-- to the one that raised it, which the message alone does not.
--
--   vesko-calc "Vesko_RunFile(\"$PWD/examples/invoice.lua\")" \
--     'Vesko_CallFunction("invoiceTotal"; 1; 2)' \
--     'Vesko_CallFunction("invoiceTotal"; 1; 99)' 'Vesko_LastError' \
--     'Vesko_LastError("traceback")'
local function price(orderId)
  local rows = vesko.ExecuteSQL([[
    SELECT o.quantity * p.price FROM orders o JOIN products p ON p.id = o.product_id
    WHERE o.id = ?]], orderId)
  if #rows == 0 then error("no order " .. orderId) end
  return tonumber(rows[1].f1)
end

local function lineAmount(orderId)
  local amount = price(orderId)  -- not a tail call, so the traceback keeps this level
  return amount
end

function invoiceTotal(...)
  local total = 0
  for _, orderId in ipairs({...}) do total = total + lineAmount(orderId) end
  return total
end
