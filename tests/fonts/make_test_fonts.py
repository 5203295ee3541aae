#!/usr/bin/env python3
"""Writes the small fonts the layout tests measure, every metric chosen so the expected line
heights, advances and line counts are exact numbers.

Usage: make_test_fonts.py OUTPUT_DIRECTORY

Every face has these glyphs (advances in font units at 1000 units per em; the 2048-unit face
scales them by 2.048):
  .notdef 700, space 250, a-z 500 except i 250 and m 750, A-Z 600, 0-9 500.
The faces differ in their vertical metrics and style records:
  KfpTestTypo        USE_TYPO_METRICS: typo 800/-200/100, win 1100/400, hhea 1200/-500/100
  KfpTestWin         the same tables without USE_TYPO_METRICS (hhea spacing 300 beyond win)
  KfpTestWinNoGap    win 1100/400, hhea 950/-350/60 (hhea spacing below win: no gap)
  KfpTestEm2048      2048 units per em, win 1800/248, hhea 1800/-248/0: a line is one em
  KfpTestNoSpace     the KfpTestWin tables without a space glyph
  KfpTestFlagged     weight class 400 with the bold bits of fsSelection and macStyle set, named
                     Bold; KfpTestFlaggedRegular is the family's Regular, also weight class 400
  KfpTestVar         a wght axis 100..900 (default 400), named instances Thin 100, Regular 400,
                     Semibold 650 and Black 900; a-z advance +200 at 900 and -100 at 100
"""

import os
import sys

from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib.tables.TupleVariation import TupleVariation

NOTDEF_ADVANCE = 700
SPACE_ADVANCE = 250
# The mapped characters and their advances at 1000 units per em.
ADVANCES = {}
for c in "abcdefghijklmnopqrstuvwxyz":
    ADVANCES[c] = 500
ADVANCES["i"] = 250
ADVANCES["m"] = 750
for c in "ABCDEFGHIJKLMNOPQRSTUVWXYZ":
    ADVANCES[c] = 600
for c in "0123456789":
    ADVANCES[c] = 500

# Variable font: a-z advance deltas at the ends of the wght axis.
WGHT_MAX_DELTA = 200
WGHT_MIN_DELTA = -100

USE_TYPO_METRICS = 1 << 7
FS_REGULAR = 1 << 6
FS_BOLD = 1 << 5
MAC_STYLE_BOLD = 1 << 0


def glyph_name(c):
    return "space" if c == " " else "uni%04X" % ord(c)


def box(advance, ascent, inset):
    """A filled rectangle inset from the advance, so every glyph has ink. Its edges lie on whole
    pixels at 20 pixels per em, so hinting keeps the advances the tests expect."""
    pen = TTGlyphPen(None)
    pen.moveTo((inset, 0))
    pen.lineTo((inset, ascent))
    pen.lineTo((advance - inset, ascent))
    pen.lineTo((advance - inset, 0))
    pen.closePath()
    return pen.glyph(), inset


def build(path, family, style, upem=1000, typo=(800, -200, 100), win=(1100, 400),
          hhea=(1200, -500, 100), use_typo=False, with_space=True, weight=400, bold_flags=False,
          wght_axis=False):
    scale = upem / 1000
    chars = ([" "] if with_space else []) + list(ADVANCES)
    order = [".notdef"] + [glyph_name(c) for c in chars]
    advances = {".notdef": round(NOTDEF_ADVANCE * scale)}
    if with_space:
        advances["space"] = round(SPACE_ADVANCE * scale)
    for c, advance in ADVANCES.items():
        advances[glyph_name(c)] = round(advance * scale)

    glyphs, metrics = {}, {}
    for name in order:
        if name == "space":
            glyphs[name] = TTGlyphPen(None).glyph()
            metrics[name] = (advances[name], 0)
        else:
            glyphs[name], lsb = box(advances[name], round(700 * scale), round(50 * scale))
            metrics[name] = (advances[name], lsb)

    fb = FontBuilder(upem, isTTF=True)
    fb.setupGlyphOrder(order)
    fb.setupCharacterMap({ord(c): glyph_name(c) for c in chars})
    fb.setupGlyf(glyphs)
    fb.setupHorizontalMetrics(metrics)
    fb.setupHorizontalHeader(ascent=hhea[0], descent=hhea[1], lineGap=hhea[2])
    ps_family = family.replace(" ", "")
    fb.setupNameTable({
        "familyName": family,
        "styleName": style,
        "uniqueFontIdentifier": "%s-%s" % (ps_family, style),
        "fullName": "%s %s" % (family, style),
        "psName": "%s-%s" % (ps_family, style),
        "version": "Version 1.000",
    })
    fs_selection = (FS_BOLD if bold_flags else FS_REGULAR) | (USE_TYPO_METRICS if use_typo else 0)
    fb.setupOS2(version=4, usWeightClass=weight, fsSelection=fs_selection,
                sTypoAscender=typo[0], sTypoDescender=typo[1], sTypoLineGap=typo[2],
                usWinAscent=win[0], usWinDescent=win[1], achVendID="KFPT")
    fb.setupPost()
    if bold_flags:
        fb.updateHead(macStyle=MAC_STYLE_BOLD)

    if wght_axis:
        fb.setupFvar(
            axes=[("wght", 100, 400, 900, "Weight")],
            instances=[{"location": {"wght": w}, "stylename": n}
                       for n, w in (("Thin", 100), ("Regular", 400), ("Semibold", 650),
                                    ("Black", 900))])
        # Advances vary through the phantom points (the last four points of a glyph's deltas);
        # the right edge of the ink moves with the advance.
        variations = {}
        for c in "abcdefghijklmnopqrstuvwxyz":
            name = glyph_name(c)
            tuples = []
            for peak, delta in ((1.0, WGHT_MAX_DELTA), (-1.0, WGHT_MIN_DELTA)):
                outline = [(0, 0), (0, 0), (delta, 0), (delta, 0)]
                phantom = [(0, 0), (delta, 0), (0, 0), (0, 0)]
                tuples.append(TupleVariation({"wght": (min(0, peak), peak, max(0, peak))},
                                             outline + phantom))
            variations[name] = tuples
        fb.setupGvar(variations)

    fb.save(path)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    build(os.path.join(out, "KfpTestTypo.ttf"), "KfpTest Typo", "Regular", use_typo=True)
    build(os.path.join(out, "KfpTestWin.ttf"), "KfpTest Win", "Regular")
    build(os.path.join(out, "KfpTestWinNoGap.ttf"), "KfpTest WinNoGap", "Regular",
          hhea=(950, -350, 60))
    build(os.path.join(out, "KfpTestEm2048.ttf"), "KfpTest Em2048", "Regular", upem=2048,
          typo=(1600, -448, 0), win=(1800, 248), hhea=(1800, -248, 0))
    build(os.path.join(out, "KfpTestNoSpace.ttf"), "KfpTest NoSpace", "Regular",
          with_space=False)
    build(os.path.join(out, "KfpTestFlagged.ttf"), "KfpTest Flagged", "Bold", bold_flags=True)
    build(os.path.join(out, "KfpTestFlaggedRegular.ttf"), "KfpTest Flagged", "Regular")
    build(os.path.join(out, "KfpTestVar.ttf"), "KfpTest Var", "Regular", wght_axis=True)


if __name__ == "__main__":
    main()
