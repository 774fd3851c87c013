#!/usr/bin/env python3
"""Independent model of the device counts, in exact rational arithmetic.

Each value is the decimal text read to the nearest 80-bit extended value (64-bit
significand, ties to even); every product, quotient and power is then rounded to
extended again, and the result truncated toward zero. Powers of ten are computed with
60 significant digits before that rounding. The model is compared line by line with
the output of qz418-codes for every value the panel can hold (times up to 320 us,
amplitudes, attenuations, frequencies, AM frequencies, frequency steps) and a sample of
delays and clock periods (the whole panel range, beyond the 24 bits
the clock period keeps).

usage: exact_model.py PATH_TO_QZ418_CODES
"""
import decimal
import subprocess
import sys
from fractions import Fraction

decimal.getcontext().prec = 60


def round_ext(q: Fraction) -> Fraction:
    if q == 0:
        return q
    sign = -1 if q < 0 else 1
    q = abs(q)
    e = q.numerator.bit_length() - q.denominator.bit_length()
    # find e with 2^63 <= q / 2^(e-63) < 2^64
    while True:
        scaled = q / (Fraction(2) ** (e - 63)) if e - 63 >= 0 else q * (2 ** (63 - e))
        if scaled >= 2 ** 64:
            e += 1
        elif scaled < 2 ** 63:
            e -= 1
        else:
            break
    m_floor = scaled.numerator // scaled.denominator
    rest = scaled - m_floor
    if rest > Fraction(1, 2) or (rest == Fraction(1, 2) and m_floor % 2 == 1):
        m_floor += 1
    value = Fraction(m_floor) * (Fraction(2) ** (e - 63))
    return sign * value


def trunc(q: Fraction) -> int:
    return int(q)  # toward zero


def sat(n: int, top: int) -> int:
    return max(0, min(n, top))


def pow10(e: Fraction) -> Fraction:
    d = decimal.Decimal(e.numerator) / decimal.Decimal(e.denominator)
    return round_ext(Fraction(decimal.Decimal(10) ** d))


def model(kind: str, text: str) -> str:
    x = round_ext(Fraction(text))
    if kind == "time":
        return str(sat(trunc(round_ext(round_ext(x * 1000) / 5)), 0xFFFFFF))
    if kind == "clock":
        return str(trunc(round_ext(round_ext(x * 1000) / 5)) % (1 << 24))
    if kind == "amp":
        r = pow10(round_ext(x / 20))
        code = sat(trunc(round_ext(r * 4294967295)), 0xFFFFFFFF)
        return "%06X" % (code >> 8)
    if kind == "att":
        r = pow10(round_ext(x / 20))
        return str(sat(trunc(round_ext(r * 65535)), 0xFFFF))
    if kind == "freq":
        return str(sat(trunc(round_ext(x * round_ext(Fraction("83886.08")))), 0xFFFFFF))
    if kind == "am":
        return str(sat(trunc(round_ext(x * round_ext(Fraction("2684.35456015625")))), 0xFFFFFF))
    raise ValueError(kind)


def grid(lo: str, hi: str, step: str, every: int = 1):
    lo_d, hi_d, st = decimal.Decimal(lo), decimal.Decimal(hi), decimal.Decimal(step)
    n = int((hi_d - lo_d) / st)
    for k in range(0, n + 1, every):
        yield str(lo_d + st * k)


def main() -> int:
    cases = []
    cases += [("time", v) for v in grid("0.05", "320", "0.005")]
    cases += [("time", v) for v in grid("0.05", "80000", "0.005", 997)]
    cases += [("time", v) for v in grid("10", "83886", "0.1", 101)]
    # Clock periods: the whole panel range, past the 24 bits the count is cut to.
    cases += [("clock", v) for v in grid("10", "1000000", "0.1", 4999)]
    cases += [("clock", v) for v in ("83886.075", "83886.08", "167772.16", "1000000")]
    cases += [("amp", v) for v in grid("-60", "0", "0.1")]
    cases += [("att", v) for v in grid("-10", "0", "0.1")]
    cases += [("freq", v) for v in grid("0.1", "16", "0.01")]
    cases += [("freq", v) for v in grid("0", "2", "0.01")]
    cases += [("am", v) for v in grid("0.01", "100", "0.01")]
    text = "".join("%s %s\n" % c for c in cases)
    out = subprocess.run([sys.argv[1]], input=text.encode(), capture_output=True, check=True).stdout.decode()
    got = out.split("\n")
    bad = 0
    for (kind, value), line in zip(cases, got):
        want = model(kind, value)
        if line != want:
            bad += 1
            if bad <= 20:
                print("MISMATCH %s %s: program %s, exact model %s" % (kind, value, line, want))
    print("%d values compared, %d mismatches" % (len(cases), bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
