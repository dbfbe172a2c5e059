# The same rounds as loop.zem, in CPython.
total = 0
rec = {"count": 0, "last": 0}
i = 0
for _ in range(1000000):
    i = i + 1
    total = total + i * 3 % 7
    xs = [i, i + 1, i + 2]
    total = total + xs[1] - len(xs)
    rec["count"] = rec["count"] + 1
    rec["last"] = xs[2]
total = total + rec["count"] + rec["last"]
print(total)
