#!/usr/bin/env python3
"""Draws the dialog's skin: background.bmp, banner-highlight.bmp and about.bmp (256-colour
BMPs for LoadBitmap) and the link.cur and move.cur cursors, all beside this script.

    python3 resources/art/make-artwork.py

Needs Python 3, ImageMagick's `convert` and the DejaVu fonts. The build uses the files this
writes, which are committed; rerun it only to change the artwork. With the same ImageMagick and
fonts the output is the same byte for byte on every run: ImageMagick only draws, and the files
are written here, so no timestamp or other metadata gets in. QUARVEL_ART_PREVIEW=DIR also
writes PNG copies of the pictures there, to look at.
"""

import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
FONTS = "/usr/share/fonts/truetype/dejavu/"
SANS = FONTS + "DejaVuSans.ttf"
SANS_BOLD = FONTS + "DejaVuSans-Bold.ttf"

# Palette of the skin.
SLATE_TOP = "#39414c"
SLATE_BOTTOM = "#252a31"
ACCENT = "#e0a458"
BODY = "#eeede9"
TITLE = "#f1e4cb"
TITLE_LIT = "#ffd68c"
SUBTITLE = "#98a3ae"
SUBTITLE_LIT = "#e2e8ee"

# The dialog lays its windows out over the background at these pixels.
DIALOG_W, DIALOG_H = 810, 560
BANNER_W, BANNER_H = 537, 44      # dark strip over the preview column; the tabs start at x 541
HIGHLIGHT_W, HIGHLIGHT_H = 261, 27
TITLE_BASELINE = 17               # the clickable title is y 5..19
ABOUT_W, ABOUT_H = 526, 467


def text(x, y, string, font, size, colour, gravity=None, kerning=0):
    """ImageMagick arguments for one line of text; without gravity, y is the baseline."""
    args = ["-gravity", gravity] if gravity else ["+gravity"]
    return args + ["-font", font, "-pointsize", str(size), "-kerning", str(kerning),
                   "-fill", colour, "-stroke", "none",
                   "-annotate", "+%d+%d" % (x, y), string]


def render(width, height, base, ops):
    """Draws with ImageMagick and returns the rows top-down as lists of (r, g, b)."""
    command = (["convert", "-size", "%dx%d" % (width, height)] + base + ops +
               ["-alpha", "off", "-depth", "8", "rgb:-"])
    raw = subprocess.run(command, check=True, stdout=subprocess.PIPE).stdout
    assert len(raw) == width * height * 3, (len(raw), width, height)
    rows = []
    for y in range(height):
        line = raw[y * width * 3:(y + 1) * width * 3]
        rows.append([tuple(line[i:i + 3]) for i in range(0, len(line), 3)])
    return rows


def quantize(images, size=256):
    """Reduces the images to one palette of at most `size` colours and returns them remapped.

    Each step keeps the colour that the palette so far serves worst, weighted by how many pixels
    have it: flat fills, gradient rows and the greys of the tone steps keep their exact colours,
    and only the rarest antialiasing shades move to a neighbour. ImageMagick's own reduction
    tints greys and, run on each picture apart, would not give the highlight the background's
    colours. No dithering: it would turn text edges to noise."""
    counts = {}
    for rows in images:
        for row in rows:
            for c in row:
                counts[c] = counts.get(c, 0) + 1
    colours = sorted(counts)
    if len(colours) > size:
        def d2(a, b):
            return (a[0] - b[0]) ** 2 + (a[1] - b[1]) ** 2 + (a[2] - b[2]) ** 2
        first = max(colours, key=lambda c: (counts[c], c))
        palette = [first]
        nearest = {c: d2(c, first) for c in colours}
        while len(palette) < size:
            pick = max(colours, key=lambda c: (counts[c] * nearest[c], c))
            palette.append(pick)
            for c in colours:
                d = d2(c, pick)
                if d < nearest[c]:
                    nearest[c] = d
        remap = {c: min(palette, key=lambda p: (d2(c, p), p)) for c in colours}
        images = [[[remap[c] for c in row] for row in rows] for rows in images]
    return images


def write_bmp(path, rows):
    """An 8-bit BI_RGB bottom-up BMP with a BITMAPINFOHEADER: the form every LoadBitmap takes."""
    height, width = len(rows), len(rows[0])
    colours = sorted({c for row in rows for c in row})
    assert len(colours) <= 256, (path, len(colours))
    colours += [(0, 0, 0)] * (256 - len(colours))
    index = {c: i for i, c in reversed(list(enumerate(colours)))}
    stride = (width + 3) & ~3
    pixels = bytearray()
    for row in reversed(rows):
        pixels += bytes(index[c] for c in row)
        pixels += bytes(stride - width)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 8, 0, len(pixels), 2835, 2835,
                       256, 0)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def write_png_preview(path, rows):
    """Only for looking at the artwork while working on it (not committed)."""
    height, width = len(rows), len(rows[0])
    data = b"".join(bytes(v for c in row for v in c) for row in rows)
    subprocess.run(["convert", "-size", "%dx%d" % (width, height), "-depth", "8", "rgb:-",
                    path], input=data, check=True)


# ---- background and highlighted title ----------------------------------------------------------

def title_ops(lit):
    """The title and its subtitle; drawn twice, plain for the background and lit for the
    highlight, from the same positions so the highlight lands exactly on the plain title."""
    ops = []
    if lit:
        # A soft selection plate behind the title, inside the 261 x 27 the highlight covers.
        ops += ["-fill", "#48525e", "-stroke", "#5d6875", "-strokewidth", "1",
                "-draw", "roundrectangle 1.5,1.5 256.5,23.5 5,5"]
        ops += ["-fill", ACCENT, "-stroke", "none",
                "-draw", "rectangle 6,21 78,21"]
    ops += text(6, TITLE_BASELINE, "Quarvel", SANS_BOLD, 16, TITLE_LIT if lit else TITLE,
                kerning=0.5)
    ops += text(88, TITLE_BASELINE - 1, "shadow \u00b7 highlight \u00b7 detail", SANS, 10,
                SUBTITLE_LIT if lit else SUBTITLE, kerning=0.3)
    return ops


def tone_mark(x, y, size):
    """A small tone-curve emblem: a frame, the identity diagonal and a curve that lifts the
    shadows and holds the highlights, which is what the filter does."""
    s = size
    ops = ["-fill", "none", "-stroke", "#4a535e", "-strokewidth", "1",
           "-draw", "rectangle %g,%g %g,%g" % (x + .5, y + .5, x + s - .5, y + s - .5),
           "-draw", "line %g,%g %g,%g" % (x + s / 2, y + 1, x + s / 2, y + s - 1),
           "-draw", "line %g,%g %g,%g" % (x + 1, y + s / 2, x + s - 1, y + s / 2),
           "-stroke", "#66707b",
           "-draw", "line %g,%g %g,%g" % (x + 1, y + s - 1, x + s - 1, y + 1)]
    ops += ["-stroke", ACCENT, "-strokewidth", "1.6",
            "-draw", "bezier %g,%g %g,%g %g,%g %g,%g" % (
                x + 1, y + s - 1, x + s * 0.30, y + s * 0.30,
                x + s * 0.62, y + s * 0.30, x + s - 1, y + 1)]
    return ops


def tone_steps(x, y, width, height, steps):
    """Grey steps from black to white, the zone scale photographers meter by."""
    ops = ["-stroke", "none"]
    for i in range(steps):
        v = round(255 * i / (steps - 1))
        ops += ["-fill", "#%02x%02x%02x" % (v, v, v), "-draw", "rectangle %d,%d %d,%d" % (
            x + i * width // steps, y, x + (i + 1) * width // steps - 2, y + height - 1)]
    return ops


def background_ops(lit):
    ops = ["(", "-size", "%dx%d" % (BANNER_W, BANNER_H),
           "gradient:%s-%s" % (SLATE_TOP, SLATE_BOTTOM), ")",
           "-geometry", "+0+0", "-composite"]
    # A hairline of light along the top edge and the warm rule under the strip.
    ops += ["-fill", "#4a535e", "-draw", "rectangle 0,0 %d,0" % (BANNER_W - 1)]
    ops += ["-fill", ACCENT, "-draw", "rectangle 0,%d %d,%d" % (BANNER_H, BANNER_W - 1, BANNER_H)]
    ops += ["-fill", "#d5d2cb", "-draw",
            "rectangle 0,%d %d,%d" % (BANNER_H + 1, BANNER_W - 1, BANNER_H + 1)]
    ops += tone_mark(BANNER_W - 37, 5, 31)
    ops += tone_steps(6, 31, 242, 5, 11)
    ops += title_ops(lit)
    return ops


def make_background():
    plain = render(DIALOG_W, DIALOG_H, ["xc:" + BODY], background_ops(False))
    # The lit title is drawn on the same strip and cut out, and both share one palette, so
    # everything around the plate is the background's own pixels.
    lit = render(HIGHLIGHT_W, HIGHLIGHT_H, ["xc:" + BODY], background_ops(True))
    plain, highlight = quantize([plain, lit])
    edge = [(x, y) for x in range(HIGHLIGHT_W) for y in range(HIGHLIGHT_H)
            if x in (0, HIGHLIGHT_W - 1) or y in (0, HIGHLIGHT_H - 1)]
    assert all(highlight[y][x] == plain[y][x] for x, y in edge), "highlight shows a seam"
    return plain, highlight


# ---- about picture -----------------------------------------------------------------------------

def about_ops():
    w, top = ABOUT_W, 196
    ops = ["(", "-size", "%dx%d" % (w, top), "gradient:#343c46-#1f2329", ")",
           "-geometry", "+0+0", "-composite"]
    # A faint tone curve across the dark panel, the product's one piece of imagery.
    ops += ["-fill", "none", "-stroke", "#2f363f", "-strokewidth", "1"]
    for i in range(1, 8):
        ops += ["-draw", "line %d,0 %d,%d" % (i * w // 8, i * w // 8, top - 1)]
    for i in range(1, 4):
        ops += ["-draw", "line 0,%d %d,%d" % (i * top // 4, w - 1, i * top // 4)]
    ops += ["-stroke", "#3a424c", "-strokewidth", "2",
            "-draw", "bezier 0,%d %d,%d %d,%d %d,0" % (top - 1, w * 0.30, top * 0.25,
                                                        w * 0.62, top * 0.30, w - 1)]
    ops += text(0, 48, "Quarvel", SANS_BOLD, 58, "#f3e7d0", gravity="North", kerning=1.5)
    ops += ["-fill", ACCENT, "-stroke", "none",
            "-draw", "rectangle %d,128 %d,129" % (w // 2 - 40, w // 2 + 39)]
    ops += text(0, 142, "Version 2.0", SANS, 15, "#c9d0d7", gravity="North", kerning=1)
    ops += tone_steps(w // 2 - 121, 174, 242, 5, 11)
    ops += ["-fill", ACCENT, "-draw", "rectangle 0,%d %d,%d" % (top, w - 1, top)]
    ops += ["-fill", "#dcd9d2", "-draw", "rectangle 0,%d %d,%d" % (top + 1, w - 1, top + 1)]

    dark, mid, soft = "#262b31", "#4c545d", "#7a828b"
    ops += text(0, 232, "Tallowind", SANS_BOLD, 20, dark, gravity="North", kerning=1)
    ops += text(0, 262, "Photoshop-compatible filter plug-ins", SANS, 11, soft,
                gravity="North", kerning=0.5)
    ops += ["-fill", "#d6d3cc", "-draw", "rectangle %d,292 %d,292" % (w // 2 - 110, w // 2 + 109)]
    ops += text(0, 310, "Tone and detail engines, dialog and presets:", SANS, 12, mid,
                gravity="North")
    ops += text(0, 328, "the Quarvel team at Tallowind", SANS, 12, mid, gravity="North")
    ops += text(0, 362, "Shadow and highlight recovery \u00b7 colour balance \u00b7 sharpening",
                SANS, 11, soft, gravity="North")
    ops += text(0, 379, "smoothing \u00b7 diffusion glow \u00b7 grain", SANS, 11, soft,
                gravity="North")
    ops += text(0, 434, "\u00a9 2026 Tallowind", SANS, 11, soft, gravity="North", kerning=0.5)
    return ops


def make_about():
    return quantize([render(ABOUT_W, ABOUT_H, ["xc:#f3f2ef"], about_ops())])[0]


# ---- cursors -----------------------------------------------------------------------------------
# X black, o white, . transparent; each grid is the top-left of a 32 x 32 cursor.

LINK_HOT_SPOT = (7, 0)
LINK = """
.......XX..........
......XooX.........
......XooX.........
......XooX.........
......XooX.........
......XooXXX.......
......XooXooXXX....
......XooXooXooXXX.
......XooXooXooXooX
......XooXooXooXooX
.XX...XooXooXooXooX
XooX..XoooooooooooX
XoooX.XoooooooooooX
.XoooXXoooooooooooX
..XoooooooooooooooX
...XooooooooooooooX
....XoooooooooooooX
....XooooooooooooX.
.....XoooooooooooX.
.....XoooooooooooX.
.....XoooooooooooX.
.....XXXXXXXXXXXXX.
"""

MOVE_HOT_SPOT = (2, 2)
MOVE = """
.
.
..X
..XX
..XoX
..XooX
..XoooX
..XooooX
..XoooooX
..XooooooX
..XoooooooX
..XooooooooX
..XoooooooooX
..XooooooXXXXX
..XoooXooX
..XooXXooX..........X
..XoX.XooX.........XoX
..XX...XooX.......XoooX
..X....XooX.......XXoXX
........XooX....XX.XoX.XX
........XooX...XoXXXoXXXoX
.........XX...XoooooooooooX
...............XoXXXoXXXoX
................XX.XoX.XX
..................XXoXX
..................XoooX
...................XoX
....................X
"""


def write_cursor(path, grid, hot_spot):
    """A 32 x 32 monochrome .cur: one image, XOR mask over AND mask, both bottom-up."""
    lines = [l for l in grid.strip("\n").split("\n")]
    assert len(lines) <= 32 and all(len(l) <= 32 for l in lines), path
    assert set("".join(lines)) <= set("Xo."), path
    lines = [l.ljust(32, ".") for l in lines] + ["." * 32] * (32 - len(lines))
    hx, hy = hot_spot
    assert lines[hy][hx] == "X", (path, "hot spot off the outline")

    def mask(bit_of):
        out = bytearray()
        for line in reversed(lines):
            value = 0
            for ch in line:
                value = value << 1 | bit_of(ch)
            out += value.to_bytes(4, "big")
        return bytes(out)

    xor = mask(lambda ch: ch == "o")
    and_ = mask(lambda ch: ch == ".")
    info = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 1, 0, len(xor) + len(and_), 0, 0, 2, 0)
    palette = struct.pack("<8B", 0, 0, 0, 0, 255, 255, 255, 0)
    image = info + palette + xor + and_
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", 32, 32, 2, 0, hx, hy, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(directory + entry + image)


def main():
    # ImageMagick quietly falls back to another font when one is missing, which would change the
    # artwork without a word.
    for font in (SANS, SANS_BOLD):
        assert os.path.isfile(font), "missing font " + font
    preview = os.environ.get("QUARVEL_ART_PREVIEW")   # a folder for PNG copies to look at
    background, highlight = make_background()
    about = make_about()
    for name, rows in (("background", background), ("banner-highlight", highlight),
                       ("about", about)):
        write_bmp(os.path.join(HERE, name + ".bmp"), rows)
        if preview:
            write_png_preview(os.path.join(preview, name + ".png"), rows)
    write_cursor(os.path.join(HERE, "link.cur"), LINK, LINK_HOT_SPOT)
    write_cursor(os.path.join(HERE, "move.cur"), MOVE, MOVE_HOT_SPOT)


if __name__ == "__main__":
    main()
