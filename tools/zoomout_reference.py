#!/usr/bin/python3
"""Checks the zoom-out layers of a plain (not TAR-ed) atlas against its
full-size layers, independently of the C++ code: reads the tiles with pypng
(Debian's python3-png) and does the reduction in plain Python.

Usage: tools/zoomout_reference.py ATLAS_DIR [TOLERANCE]

Export the atlas with 24-bit PNG tiles (--format png --depth 7), so that the
full-size tiles hold the picture exactly as the program read it:

  zovevod-export --zoom-out 4 --format png --depth 7 -o out maps...
  tools/zoomout_reference.py out

For every layout directory L and every layer "L 50%", "L 25%", ... beside
it, each map of the layer is compared with the same map of L:
- the reduced picture (its tiles put together) against L's picture halved
  level times with the 2 x 2 box average: each channel (sum + n/2) // n over
  the n pixels of the block (4, or 2 and 1 at the right and bottom edges),
  sizes rounded up; exact unless TOLERANCE (largest channel difference
  allowed, default 0) is given;
- the tile names against the grid of the full-size tiles' size;
- the calibration copy: every line as in L's copy except the X and Y words of
  point lines, which must be round(X / k) (halves away from zero), and the
  IWH words, which must give the reduced size.
Prints one line per difference and a summary; exit status 1 on a difference.
"""

import os
import re
import sys

import png

PERCENT = {1: "50%", 2: "25%", 3: "12.5%", 4: "6.25%"}


def read_tile(path):
    w, h, rows, info = png.Reader(filename=path).asRGB8()
    return w, h, [bytearray(r) for r in rows]


def read_picture(map_dir, name):
    """The picture put together from the tiles the tile list names."""
    tiles = []
    with open(os.path.join(map_dir, name + ".set"), "rb") as f:
        for line in f.read().decode("latin-1").split("\r\n"):
            if not line:
                continue
            m = re.fullmatch(re.escape(name) + r"_(\d+)_(\d+)\.png", line)
            if not m:
                raise SystemExit("unexpected tile name " + line)
            w, h, rows = read_tile(os.path.join(map_dir, "set", line))
            tiles.append((int(m.group(1)), int(m.group(2)), w, h, rows))
    width = max((x + w for x, y, w, h, r in tiles), default=0)
    height = max((y + h for x, y, w, h, r in tiles), default=0)
    picture = [bytearray(3 * width) for _ in range(height)]
    for x, y, w, h, rows in tiles:
        for r in range(h):
            picture[y + r][3 * x:3 * (x + w)] = rows[r]
    return width, height, picture, tiles


def halve(width, height, picture):
    ow, oh = (width + 1) // 2, (height + 1) // 2
    out = []
    for oy in range(oh):
        top = picture[2 * oy]
        bottom = picture[2 * oy + 1] if 2 * oy + 1 < height else None
        row = bytearray(3 * ow)
        for ox in range(ow):
            xs = [2 * ox] + ([2 * ox + 1] if 2 * ox + 1 < width else [])
            for c in range(3):
                values = [top[3 * x + c] for x in xs]
                if bottom is not None:
                    values += [bottom[3 * x + c] for x in xs]
                n = len(values)
                row[3 * ox + c] = (sum(values) + n // 2) // n
        out.append(row)
    return ow, oh, out


def reduced(v, level):
    k = 1 << level
    m = (abs(v) + k // 2) // k
    return -m if v < 0 else m


def split_words(line, delimiter):
    """(start, end) of every word: maximal runs of non-delimiters."""
    return [m.span() for m in re.finditer("[^" + re.escape(delimiter) + "]+", line)]


def expected_calibration(lines, ext, width, height, level):
    out = list(lines)

    def replace(i, words, delimiter, values):
        line = out[i]
        spans = split_words(line, delimiter)
        if len(spans) < max(words):
            return
        try:
            ints = [int(line[spans[w - 1][0]:spans[w - 1][1]].strip()) for w in words]
        except ValueError:
            return
        for w, v in sorted(zip(words, values(ints)), reverse=True):
            s, e = spans[w - 1]
            out[i] = out[i][:s] + str(v).rjust(e - s) + out[i][e:]

    if ext == ".MAP":
        for i in range(3, len(out)):
            if out[i][:5].upper() == "POINT":
                replace(i, [3, 4], ",", lambda xy: [reduced(v, level) for v in xy])
        for i, line in enumerate(out):
            if line[:4].upper() == "IWH,":
                k = 1 << level
                replace(i, [3, 4], ",", lambda wh: [-(-width // k), -(-height // k)])
                break
    elif ext == ".GMI":
        for i in range(4, len(out)):
            replace(i, [1, 2], ";", lambda xy: [reduced(v, level) for v in xy])
    return out


def read_lines(path):
    with open(path, "rb") as f:
        text = f.read().decode("latin-1")
    return text.split("\r\n")[:-1]


def check_map(full_dir, small_dir, name, level, tolerance, problems):
    where = small_dir + ": "
    width, height, picture, full_tiles = read_picture(full_dir, name)
    full_width, full_height = width, height
    tw = max((w for x, y, w, h, r in full_tiles), default=0)
    th = max((h for x, y, w, h, r in full_tiles), default=0)
    for _ in range(level):
        width, height, picture = halve(width, height, picture)
    sw, sh, small, small_tiles = read_picture(small_dir, name)
    if (sw, sh) != (width, height):
        problems.append(where + "size %dx%d, expected %dx%d" % (sw, sh, width, height))
        return
    grid = [(x, y) for y in range(0, height, th) for x in range(0, width, tw)] if tw and th else []
    if [(x, y) for x, y, w, h, r in small_tiles] != grid:
        problems.append(where + "tiles not on the %dx%d grid in order" % (tw, th))
    worst = 0
    for y in range(height):
        a, b = picture[y], small[y]
        if a != b:
            worst = max(worst, max(abs(p - q) for p, q in zip(a, b)))
    if worst > tolerance:
        problems.append(where + "pixels differ by up to %d" % worst)
    for ext in (".map", ".gmi", ".MAP", ".GMI"):
        full_cal = os.path.join(full_dir, name + ext)
        if os.path.exists(full_cal):
            want = expected_calibration(read_lines(full_cal), ext.upper(), full_width, full_height, level)
            got = read_lines(os.path.join(small_dir, name + ext))
            if got != want:
                problems.append(where + "calibration copy differs: %r" % [g for g, w in zip(got, want) if g != w][:2])
            break


def main():
    atlas = sys.argv[1]
    tolerance = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    problems = []
    maps = 0
    layers = [d for d in sorted(os.listdir(atlas)) if os.path.isdir(os.path.join(atlas, d))]
    for layout in layers:
        if re.search(r" (50|25|12\.5|6\.25)%$", layout):
            continue
        for level, pct in PERCENT.items():
            small_layer = os.path.join(atlas, layout + " " + pct)
            if not os.path.isdir(small_layer):
                continue
            for name in sorted(os.listdir(os.path.join(atlas, layout))):
                small_dir = os.path.join(small_layer, name)
                if not os.path.isdir(small_dir):
                    problems.append(small_dir + ": missing")
                    continue
                check_map(os.path.join(atlas, layout, name), small_dir, name, level, tolerance, problems)
                maps += 1
    for p in problems:
        print(p)
    print("%d reduced maps checked, %d differences" % (maps, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
