# Set functions over random groups of rows, computed by Python. Each group is printed as
#   G <row count>
#   R <i> <d> <s>            one line per row, tab-separated; \N stands for NULL
#   E <name> <value>         the expected results; NULL for NULL
# i is a 32-bit integer column (sums run far beyond 2^31), d a double column, s a text
# column of letters whose MIN and MAX ignore case. The DISTINCT forms tell values apart as
# they are (texts with case).
import random

rng = random.Random(20240612)


def fmt(v):
    if v is None:
        return "NULL"
    if isinstance(v, float):
        return repr(v)
    return str(v)


def running_sum(values):
    # Summed in row order, as the engine accumulates (so the doubles round alike).
    total = None
    for v in values:
        total = v if total is None else total + v
    return total


def first_occurrences(values):
    return list(dict.fromkeys(values))


for size in [0, 1, 2, 3, 7, 40, 300, 300, 1000] + [rng.randint(0, 60) for _ in range(12)]:
    rows = []
    for _ in range(size):
        i = None if rng.random() < 0.15 else rng.choice(
            [rng.randint(-5, 5), rng.randint(0, 2**31 - 1), rng.randint(-2**31, 2**31 - 1)])
        d = None if rng.random() < 0.15 else rng.choice(
            [rng.choice([0.1, 0.2, 1.5, -3.25]), rng.uniform(-1e6, 1e6)])
        s = None if rng.random() < 0.15 else "".join(rng.choice("abcABC") for _ in range(rng.randint(1, 4)))
        rows.append((i, d, s))
    print("G", size)
    for i, d, s in rows:
        print("R\t" + "\t".join("\\N" if v is None else fmt(v) for v in (i, d, s)))
    ints = [r[0] for r in rows if r[0] is not None]
    doubles = [r[1] for r in rows if r[1] is not None]
    texts = [r[2] for r in rows if r[2] is not None]
    distinct_ints = first_occurrences(ints)
    distinct_doubles = first_occurrences(doubles)
    expected = {
        "SUM_I": running_sum(ints),
        "AVG_I": (running_sum(float(x) for x in ints) / len(ints)) if ints else None,
        "MIN_I": min(ints) if ints else None,
        "MAX_I": max(ints) if ints else None,
        "COUNT_I": len(ints),
        "SUM_D": running_sum(doubles),
        "AVG_D": (running_sum(doubles) / len(doubles)) if doubles else None,
        "MIN_D": min(doubles) if doubles else None,
        "MAX_D": max(doubles) if doubles else None,
        "MIN_S": min(texts, key=str.lower) if texts else None,
        "MAX_S": max(texts, key=str.lower) if texts else None,
        "COUNT_S": len(texts),
        "COUNT_ALL": len(rows),
        "SUM_DISTINCT_I": running_sum(distinct_ints),
        "COUNT_DISTINCT_I": len(distinct_ints),
        "AVG_DISTINCT_D": (running_sum(distinct_doubles) / len(distinct_doubles)) if distinct_doubles else None,
        "COUNT_DISTINCT_S": len(set(texts)),
    }
    for name, value in expected.items():
        print("E", name, fmt(value))
