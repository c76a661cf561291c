#!/usr/bin/env python3
"""Outside ground truth for the two threshold routines: the two-peak threshold of the histogram
record (extended-precision sums, rounding half to even) and the integer tile threshold.

Both are written here a second time, step by step from their description, on plain Python
integers and fractions, so that a slip in either implementation shows as a difference.
Bins outside the record (below 0, above 10000) read as 0.

Usage: threshold_truth.py SEED COUNT [8bit]
(with "8bit" only 8-bit histograms are made)
Prints COUNT histograms, each as
  H maxpos maxhist von limit q            (maxpos/maxhist: first strict maximum over 0..10000)
  B bin count bin count ...               (the non-empty bins)
  T th prozent left right                 (two-peak threshold, mode 0)
  I th prozent l r kont                   (tile threshold with q; only for 8-bit histograms)
"""
import math
import random
import sys
from fractions import Fraction

W = 10000


def rnd(x):
    """Nearest integer, ties to even (x a Fraction or int)."""
    return round(Fraction(x))


def idiv(a, b):
    """Integer division truncating toward zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


class Hist:
    def __init__(self, counts):
        self.c = counts
        # prefix sums of the counts and of bin x count, for the many range sums
        self.p = [0]
        self.pi = [0]
        for i, c in enumerate(counts):
            self.p.append(self.p[-1] + c)
            self.pi.append(self.pi[-1] + i * c)

    def __call__(self, i):
        return self.c[i] if 0 <= i <= W else 0

    def _range(self, a, b):
        a, b = max(a, 0), min(b, W)
        return (a, b) if a <= b else None

    def sum(self, a, b):
        r = self._range(a, b)
        return 0 if r is None else self.p[r[1] + 1] - self.p[r[0]]

    def moment(self, a, b):
        r = self._range(a, b)
        return 0 if r is None else self.pi[r[1] + 1] - self.pi[r[0]]

    def centroid(self, a, b, keep):
        den = self.sum(a, b)
        return keep if den == 0 else rnd(Fraction(self.moment(a, b), den))

    def icentroid(self, a, b, keep):
        den = self.sum(a, b)
        return keep if den == 0 else idiv(self.moment(a, b), den)


def get_threshold(H, maxpos, maxhist, von, limit, dotint=0):
    limit = max(0, min(limit, W))
    von = max(0, min(von, limit))
    m = max(von, min(maxpos, limit))
    mx = maxhist
    # 2. refine the main peak over its window inside [von, limit]
    m = H.centroid(max(m - 20, von), min(m + 20, limit), m)
    # 3. side of the second population
    if limit < W:
        if m < limit // 6:
            dn, dz = 0, 1
        elif m > 5 * limit // 6:
            dn, dz = 1, 0
        else:
            dn = H.sum(0, m - 11)
            dz = H.sum(m + 10, (limit + m) // 2)
    else:
        if m < limit // 4:
            dn, dz = 0, 1
        elif m > 3 * limit // 4:
            dn, dz = 1, 0
        else:
            dn = sum(H(i) * (m - i) for i in range(von + 10, m - 10))
            dz = sum(H(i) * (i - m) for i in range(m + 10, limit - 9))

    def mass(p):
        return H.sum(max(p - 10, von), min(p + 9, limit))

    if dn <= dz:
        m = min(m, 3 * limit // 4)
        lm = m
        l = m
        r = limit - 10
        while r > von and H(r) + H(r - 1) + H(r - 2) < 15:
            r -= 1
        rm = m + 10
        while rm < (l + r) // 2 and (H(rm + 1) < H(rm) or H(rm + 2) < H(rm) or H(rm + 3) < H(rm)):
            rm += 1
        r = H.centroid(rm + 1, r, r)
        P, Q = mass(r), mass(l)
        lrflag = 128 if Q == 0 else 128 + rnd(Fraction(100 * P, Q))
        rm = limit - 10
    else:
        m = max(m, limit // 4)
        rm = m
        r = m
        l = von
        while l < limit and H(l) + H(l + 1) + H(l + 2) < 15:
            l += 1
        l = H.centroid(l, (l + r) // 2 - 1, l)
        P, Q = mass(r), mass(l)
        lrflag = 0 if P == 0 else rnd(Fraction(100 * Q, P))
        lm = 0
    # 6. first threshold
    num = den = 0
    for i in range(l + 1, r):
        w = mx - H(i)
        if w > 0:
            num += i * w
            den += w
    th = limit // 2 if den == 0 else rnd(Fraction(num, den))
    N = H.sum(0, W)
    if N <= 0:
        return th, 0, 0, 255
    # 7. valley edge and second peak
    if lrflag >= 128:
        while th > lm + 10 and (H(th - 1) <= H(th) or H(th - 2) <= H(th) or H(th - 3) <= H(th)):
            th -= 1
        e = min(3 * th - 2 * l, limit - 10)
        r = H.centroid(th + 1, e, r)
    else:
        while th < rm - 10 and (H(th + 1) <= H(th) or H(th + 2) <= H(th) or H(th + 3) <= H(th)):
            th += 1
        l = H.centroid(0, th - 1, l)
    # 9. bright images
    B = H.sum(0, th - 1)
    if rnd(Fraction(1000 * B, N)) > 900:
        while (th < limit - 1 and th < 9999 and H(th + 1) < H(th) and H(th + 2) <= H(th + 1)
               and H(th) - H(th + 1) > H(th + 1) - H(th + 2)):
            th += 1
    if dotint == 1:
        r = 255
    if dotint == 2:
        l = 0
    # 11. iterate
    t = th
    noise = mx // 100
    k = 0
    prev = 0
    while k < 20 and prev != th:
        k += 1
        prev = th
        if dotint != 2:
            num = den = 0
            for i in range(von, th):
                f = (H(th) * (th - i)) // (th - l) if i > l else 0  # both non-negative: trunc
                if H(i) > f:
                    num += i * (H(i) - f)
                    den += H(i) - f
            l = th // 2 if den == 0 else rnd(Fraction(num, den))
        if dotint != 1:
            num = den = 0
            for i in range(th + 1, limit + 1):
                f = (H(th) * (i - th)) // (r - th) if i < r else 0  # both non-negative: trunc
                if H(i) > f:
                    num += i * (H(i) - f)
                    den += H(i) - f
            r = (3 * th) // 2 if den == 0 else rnd(Fraction(num, den))
            r = max(r, 2 * t - l)
            r = min(r, limit)
        num = den = 0
        for i in range(l + 1, r):
            d = mx - H(i)
            if d > noise:
                num += i * (d - noise)
                den += d - noise
        th = (limit + von) // 2 if den == 0 else rnd(Fraction(num, den))
    if maxpos == 0:
        th = rnd(Fraction(4, 5) * th)
    above = H.sum(th + 1, W)
    return th, rnd(Fraction(10000 * above, N)), l, r


def icp_threshold(H, q):
    top = max(0, min(idiv(q + 255, 2), W))
    m, mx = 0, H(0)
    for i in range(1, top + 1):
        if H(i) > mx:
            m, mx = i, H(i)
    wl = 0 if m <= 20 else m - 20
    wr = 254 if m >= 235 else m + 20
    m = H.icentroid(wl, wr - 1, m)
    lm = rm = m
    if m < Fraction(q, 4):
        dn, dz = 0, 1
    elif m > Fraction(3 * q, 4):
        dn, dz = 1, 0
    else:
        dn = sum(H(i) * (m - i) for i in range(10, m - 10))
        dz = sum(H(i) * (i - m) for i in range(m + 10, q))
    if dn > dz:
        m = max(m, idiv(q, 4))
        lm = 0
        rm = r = m
        l = 10
        while l < idiv(2 * m, 3) and H(l) + H(l + 1) + H(l + 2) > 15:
            l += 1
        l = H.icentroid(l, idiv(l + r, 2) - 1, l)
        P, Q = H.sum(r - 10, r + 9), H.sum(l - 10, l + 9)
        lrflag = 0 if P == 0 else idiv(100 * Q, P)
    else:
        m = min(m, idiv(3 * q, 4))
        lm = l = m
        r = 245
        while H(r) + H(r - 1) + H(r - 2) < 15 and r > idiv(3 * m, 2):
            r -= 1
        rm = m + 10
        while Fraction(rm) < Fraction(l + r, 2) and (H(rm + 1) < H(rm) or H(rm + 2) < H(rm) or H(rm + 3) < H(rm)):
            rm += 1
        r = H.icentroid(rm + 1, r, r)
        P, Q = H.sum(r - 10, r + 9), H.sum(l - 10, l + 9)
        lrflag = 128 if Q == 0 else 128 + idiv(100 * P, Q)
        rm = 245
    num = sum(i * (mx - H(i)) for i in range(l, r))
    den = sum(mx - H(i) for i in range(l, r))
    th = idiv(q, 2) if den == 0 else idiv(num, den)
    if lrflag >= 128:
        while th > lm + 10 and (H(th - 1) <= H(th) or H(th - 2) <= H(th) or H(th - 3) <= H(th)):
            th -= 1
        e = min(3 * th - 2 * l, 245)
        rm = e
        r = H.icentroid(th + 1, e, r)
    else:
        while th < rm - 10 and (H(th + 1) <= H(th) or H(th + 2) <= H(th) or H(th + 3) <= H(th)):
            th += 1
        l = H.icentroid(10, th - 1, l)
    S = H.sum(2, 254)

    def below(t):
        return sum(H(i) for i in range(2, 255) if i < t)

    if S > 0 and idiv(below(th) * 1000, S) > 900:
        while (th < q and H(th + 1) < H(th) and H(th + 2) <= H(th + 1)
               and H(th) - H(th + 1) > H(th + 1) - H(th + 2)):
            th += 1
    t = th
    k = 0
    prev = 0
    while k < 20 and prev != th:
        k += 1
        prev = th
        num = den = 0
        for i in range(10, th):
            f = rnd(Fraction(H(th) * (th - i), th - l)) if i > l else 0
            if H(i) > f:
                num += i * (H(i) - f)
                den += H(i) - f
        l = idiv(th, 2) if den == 0 else idiv(num, den)
        num = den = 0
        for i in range(th + 1, 245):
            f = rnd(Fraction(H(th) * (i - th), r - th)) if i < r else 0
            if H(i) > f:
                num += i * (H(i) - f)
                den += H(i) - f
        r = idiv(3 * th, 2) if den == 0 else idiv(num, den)
        r = max(r, t + idiv(t, 4))
        r = min(r, 254)
        num = den = 0
        noise = idiv(mx, 100)
        for i in range(l, r):
            d = mx - H(i)
            if d > noise:
                num += i * (d - noise)
                den += d - noise
        th = idiv(l + r, 2) if den == 0 else idiv(num, den)
    prozent = 0 if S == 0 else idiv(below(th) * 1000, S)
    return th, prozent, l, r, r - l


def gaussian(counts, mean, sigma, total, lo, hi):
    for i in range(max(lo, int(mean - 4 * sigma)), min(hi, int(mean + 4 * sigma)) + 1):
        counts[i] += int(total * math.exp(-(i - mean) ** 2 / (2 * sigma * sigma)) / (sigma * 2.5066282746))


def histogram(rnd_, only8):
    """A random histogram: one to three populations, some noise, sometimes a spike at an end."""
    counts = [0] * (W + 1)
    eight_bit = rnd_.random() < 0.6 or only8
    top = 255 if eight_bit else W
    for _ in range(rnd_.choice((1, 2, 2, 2, 3))):
        mean = rnd_.uniform(0, top)
        sigma = rnd_.uniform(2, 25) if eight_bit else rnd_.uniform(20, 600)
        gaussian(counts, mean, sigma, rnd_.uniform(500, 200000), 0, top)
    if rnd_.random() < 0.7:
        for _ in range(rnd_.randint(0, 300)):
            counts[rnd_.randint(0, top)] += rnd_.randint(0, 40)
    if rnd_.random() < 0.3:
        counts[0] += rnd_.randint(0, 50000)
    if rnd_.random() < 0.2:
        counts[top] += rnd_.randint(0, 50000)
    return counts, eight_bit


def main():
    seed = int(sys.argv[1])
    count = int(sys.argv[2])
    only8 = len(sys.argv) > 3 and sys.argv[3] == "8bit"
    rnd_ = random.Random(seed)
    for _ in range(count):
        counts, eight_bit = histogram(rnd_, only8)
        maxpos, maxhist = 0, 0
        for i, c in enumerate(counts):
            if c > maxhist:
                maxpos, maxhist = i, c
        if eight_bit:
            von, limit = 0, rnd_.choice((255, 257, 255))
            q = rnd_.choice((255, 170))
        else:
            von, limit = rnd_.choice(((0, 10000), (0, 10000), (0, 9000), (500, 10000)))
            q = 0
        H = Hist(counts)
        print("H", maxpos, maxhist, von, limit, q)
        print("B", " ".join("%d %d" % (i, c) for i, c in enumerate(counts) if c))
        print("T %d %d %d %d" % get_threshold(H, maxpos, maxhist, von, limit))
        if eight_bit:
            print("I %d %d %d %d %d" % icp_threshold(H, q))


if __name__ == "__main__":
    main()
