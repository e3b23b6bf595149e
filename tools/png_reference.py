#!/usr/bin/python3
"""Expected decodings of the PngSuite images, computed with pypng (Debian's
python3-png), independently of the C++ decoder.

Usage: tools/png_reference.py tests/data/png > tests/data/png/reference.txt

One line per decodable file:
  name format width height palette rgbhash indexhash
format is 1, 4, 8 (indexed) or 24; palette is the colour table as RRGGBB
hex entries joined by '.' ('-' when empty); rgbhash is FNV-1a 64 of the
R, G, B bytes of every pixel, rows top to bottom; indexhash is FNV-1a 64 of
one byte per pixel holding its index ('-' for 24-bit). Files pypng rejects
are listed as 'name error'.

The rules applied:
- gAMA g (non-zero): every 8-bit sample s becomes
  round(255 * (s/255) ** (1 / (g/100000 * 2.2))); otherwise unchanged.
- 16-bit samples keep their high byte.
- colour types 4 and 6, or palette tRNS with an entry strictly between
  0 and 255: 24-bit, each colour sample (after gamma) blended over white
  as round((c*a + 255*(255-a)) / 255) with the 8-bit alpha.
- otherwise depth 1 -> 1-bit, depth 2/4 -> 4-bit, palette 8 -> 8-bit,
  grey or RGB 8/16 -> 24-bit. Grey tables hold round(n*255/(2^d-1))
  gamma-corrected; palette tables the gamma-corrected PLTE. Entries or
  pixels that tRNS makes fully transparent are white.
"""

import math
import os
import sys

import png

FNV_OFFSET = 0xCBF29CE484222325
FNV_PRIME = 0x100000001B3


def fnv(data):
    h = FNV_OFFSET
    for b in data:
        h ^= b
        h = (h * FNV_PRIME) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def raw_gamma(path):
    """The gAMA integer of the first gAMA chunk before PLTE/IDAT, or 0."""
    reader = png.Reader(filename=path)
    for ctype, data in reader.chunks():
        ctype = ctype.decode("latin-1") if isinstance(ctype, bytes) else ctype
        if ctype in ("IDAT", "PLTE", "IEND"):
            return 0
        if ctype == "gAMA":
            return int.from_bytes(data, "big") if len(data) == 4 else 0
    return 0


def gamma_table(g):
    if g == 0:
        return list(range(256))
    e = 1.0 / (g / 100000.0 * 2.2)
    return [int(math.floor(255.0 * (s / 255.0) ** e + 0.5)) for s in range(256)]


def over_white(c, a):
    return (c * a + 255 * (255 - a) + 127) // 255


def describe(path):
    g = raw_gamma(path)
    G = gamma_table(g)
    w, h, rows, info = png.Reader(filename=path).read()
    rows = [list(r) for r in rows]
    depth = info["bitdepth"]
    # A PLTE in an RGB image is only a suggestion; only colour type 3 is indexed.
    palette = info.get("palette") if info["planes"] == 1 and not info["greyscale"] else None
    grey = info["greyscale"]
    alpha = info["alpha"]
    trans = info.get("transparent")
    if trans is not None and not isinstance(trans, tuple):
        trans = (trans,)
    hi = (lambda v: v >> 8) if depth == 16 else (lambda v: v)

    partial = palette is not None and any(len(e) == 4 and 0 < e[3] < 255 for e in palette)
    if alpha or partial:
        fmt = 24
    elif depth == 1:
        fmt = 1
    elif depth in (2, 4):
        fmt = 4
    elif palette is not None:
        fmt = 8
    else:
        fmt = 24

    table = []
    if fmt != 24:
        if palette is not None:
            for e in palette:
                if len(e) == 4 and e[3] == 0:
                    table.append((255, 255, 255))
                else:
                    table.append((G[e[0]], G[e[1]], G[e[2]]))
        else:
            levels = 1 << depth
            for n in range(levels):
                v = G[(n * 255 + (levels - 1) // 2) // (levels - 1)]
                table.append((255, 255, 255) if trans is not None and trans == (n,) else (v, v, v))

    rgb = bytearray()
    idx = bytearray()
    for r in rows:
        if fmt != 24:
            for i in r:
                idx.append(i)
                rgb.extend(table[i] if i < len(table) else (0, 0, 0))
        elif palette is not None:
            for i in r:
                e = palette[i] if i < len(palette) else (0, 0, 0)
                a = e[3] if len(e) == 4 else 255
                rgb.extend(over_white(G[c], a) for c in e[:3])
        else:
            planes = info["planes"]
            for x in range(w):
                px = r[x * planes:(x + 1) * planes]
                if grey:
                    colour = [px[0]] * 3
                else:
                    colour = px[:3]
                if alpha:
                    a = hi(px[-1])
                elif trans is not None and tuple(px) == trans:
                    a = 0
                else:
                    a = 255
                rgb.extend(over_white(G[hi(c)], a) for c in colour)
    pal = ".".join("%02x%02x%02x" % e for e in table) or "-"
    return "%s %d %d %d %s %s %s" % (os.path.basename(path), fmt, w, h, pal, fnv(rgb), fnv(idx) if fmt != 24 else "-")


def main():
    folder = sys.argv[1]
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".png") or name.startswith("x"):
            continue
        try:
            print(describe(os.path.join(folder, name)))
        except png.Error:
            print("%s error" % name)


if __name__ == "__main__":
    main()
