# LIKE against Python's re.fullmatch: random short texts and patterns over a small alphabet
# (so that matches are frequent), with and without the escape character "!", with and
# without case. One case per line, fields separated by tabs:
#   value, pattern, escape ("" or "!"), ignore case (0/1), match (0/1)
import random
import re

ALPHABET = "abAB%_!.*"


def to_regex(pattern, escape):
    out = []
    i = 0
    while i < len(pattern):
        c = pattern[i]
        if c == "%":
            out.append(".*")
        elif c == "_":
            out.append(".")
        elif escape and c == escape:
            if i + 1 < len(pattern):
                out.append(re.escape(pattern[i + 1]))
                i += 1
            else:
                out.append("(?!)")  # an escape at the end of the pattern matches nothing
        else:
            out.append(re.escape(c))
        i += 1
    return "".join(out)


def pattern_from(value, escape):
    # A pattern made from the value, so that about half of these match: characters kept,
    # changed in case, escaped, replaced by "_" or by "%", or a stray character added.
    out = []
    for c in value:
        r = rng.random()
        if r < 0.45:
            out.append(c)
        elif r < 0.55:
            out.append(c.swapcase())
        elif r < 0.65 and escape:
            out.append(escape + c)
        elif r < 0.8:
            out.append("_")
        elif r < 0.9:
            out.append("%")
        else:
            out.append(rng.choice(ALPHABET))
    return "".join(out) or "%"


rng = random.Random(20240611)
for _ in range(4000):
    value = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, 8)))
    escape = rng.choice(["", "!"])
    if rng.random() < 0.6:
        pattern = pattern_from(value, escape)
    else:
        pattern = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 6)))
    ignore_case = rng.randint(0, 1)
    flags = re.DOTALL | (re.IGNORECASE if ignore_case else 0)
    match = re.fullmatch(to_regex(pattern, escape), value, flags) is not None
    print("\t".join([value, pattern, escape, str(ignore_case), "1" if match else "0"]))
