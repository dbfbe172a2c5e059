-- The same rounds as defs.zem, in Lua 5.4.
local function mix(a, b)
  return a * 3 % b
end

local function clamp(x, low, high)
  if x < low then
    return low
  end
  if x > high then
    return high
  end
  return x
end

local total = 0
local i = 0
for _ = 1, 500000 do
  i = i + 1
  total = total + mix(i, 7) + clamp(i % 10, 2, 8)
end
print(total)
