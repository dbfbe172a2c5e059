# The same rounds as texts.zem, in CPython.
names = ["ada", "grace", "alan", "edsger"]
idx = []
n = 0
for _ in range(100):
    n = n + 1
    idx = idx + [n]
total = 0
round_ = 0
for _ in range(5000):
    round_ = round_ + 1
    rows = [f"row {x} of {round_}: {names[x % 4]}" for x in idx]
    joined = ", ".join(rows)
    total = total + len(joined) + len(rows)
print(total)
