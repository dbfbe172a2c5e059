-- The same rounds as texts.zem, in Lua 5.4.
local names = {"ada", "grace", "alan", "edsger"}
local idx = {}
local n = 0
for _ = 1, 100 do
  n = n + 1
  idx[#idx + 1] = n
end
local total = 0
local round = 0
for _ = 1, 5000 do
  round = round + 1
  local rows = {}
  for _, x in ipairs(idx) do
    rows[#rows + 1] = "row " .. x .. " of " .. round .. ": " .. names[x % 4 + 1]
  end
  local joined = table.concat(rows, ", ")
  total = total + #joined + #rows
end
print(total)
