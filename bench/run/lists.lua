-- The same rounds as lists.zem, in Lua 5.4. `concat` makes a new list, as `xs + [x]` does.
local function concat(a, b)
  local out = table.move(a, 1, #a, 1, {})
  return table.move(b, 1, #b, #a + 1, out)
end

local total = 0
for _ = 1, 200 do
  local xs = {}
  local i = 0
  for _ = 1, 1000 do
    i = i + 1
    xs = concat(xs, {i})
  end
  local evens = {}
  for _, x in ipairs(xs) do
    if x % 2 == 0 then evens[#evens + 1] = x * 2 end
  end
  local pairs = {}
  for _, x in ipairs(evens) do pairs[#pairs + 1] = {x, x + 1} end
  local sums = {}
  for _, p in ipairs(pairs) do sums[#sums + 1] = p[1] + p[2] end
  total = total + #sums + sums[#sums]
end
print(total)
