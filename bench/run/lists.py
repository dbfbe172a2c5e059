# The same rounds as lists.zem, in CPython.
total = 0
for _ in range(200):
    xs = []
    i = 0
    for _ in range(1000):
        i = i + 1
        xs = xs + [i]
    evens = [x * 2 for x in xs if x % 2 == 0]
    pairs = [[x, x + 1] for x in evens]
    sums = [a + b for a, b in pairs]
    total = total + len(sums) + sums[len(sums) - 1]
print(total)
