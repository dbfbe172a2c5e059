-- The same rounds as loop.zem, in Lua 5.4.
local total = 0
local rec = {count = 0, last = 0}
local i = 0
for _ = 1, 1000000 do
  i = i + 1
  total = total + i * 3 % 7
  local xs = {i, i + 1, i + 2}
  total = total + xs[2] - #xs
  rec.count = rec.count + 1
  rec.last = xs[3]
end
total = total + rec.count + rec.last
print(total)
