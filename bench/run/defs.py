# The same rounds as defs.zem, in CPython.
def mix(a, b):
    return a * 3 % b


def clamp(x, low, high):
    if x < low:
        return low
    if x > high:
        return high
    return x


total = 0
i = 0
for _ in range(500000):
    i = i + 1
    total = total + mix(i, 7) + clamp(i % 10, 2, 8)
print(total)
