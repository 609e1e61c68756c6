#!/usr/bin/env python3
"""Draws the decorative background patterns of the icon set as SVG files.

The rings, the fine moire and the dot grid are regular figures, so they are computed rather than
drawn by hand. Run from anywhere; the SVGs are written into the icon folder beside this tool's
folder. The files are kept in the repository, so the build does not need to run this.
"""
import math
from pathlib import Path

ICONS = Path(__file__).resolve().parent.parent
INK = "#FFFFFF"


def svg(size, body):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" '
            f'viewBox="0 0 {size} {size}">\n{body}</svg>\n')


def circle(cx, cy, r, width, extra=""):
    return (f'  <circle cx="{cx:g}" cy="{cy:g}" r="{r:g}" fill="none" stroke="{INK}" '
            f'stroke-width="{width:g}"{extra}/>\n')


def arc(cx, cy, r, start_deg, end_deg, width):
    a0, a1 = math.radians(start_deg), math.radians(end_deg)
    x0, y0 = cx + r * math.cos(a0), cy + r * math.sin(a0)
    x1, y1 = cx + r * math.cos(a1), cy + r * math.sin(a1)
    large = 1 if end_deg - start_deg > 180 else 0
    return (f'  <path d="M{x0:.2f} {y0:.2f} A{r:g} {r:g} 0 {large} 1 {x1:.2f} {y1:.2f}" '
            f'fill="none" stroke="{INK}" stroke-width="{width:g}" stroke-linecap="round"/>\n')


def rings():
    """Concentric rings with every third one heavier, three rings of ticks and two bold arcs, so
    that a slow rotation can be seen."""
    c, body = 200, ""
    for i in range(16):
        r = 24 + 11 * i
        if i in (4, 9, 13):
            body += circle(c, c, r, 3.2, ' stroke-dasharray="1.6 5.2"')
        else:
            body += circle(c, c, r, 2.2 if i % 3 == 0 else 0.9)
    body += arc(c, c, 151, 20, 110, 5)
    body += arc(c, c, 96, 200, 250, 4)
    return svg(400, body)


def moire_fine():
    """Two families of fine concentric circles whose centres lie 20 units apart; where they cross
    they beat into the broad moire bands."""
    body = ""
    for cx in (190, 210):
        for r in range(6, 187, 6):
            body += circle(cx, 200, r, 0.8)
    return svg(400, body)


def moire():
    """The coarse moire of the login mark: two families of concentric circles 30 units apart,
    wider spaced and heavier than the fine one."""
    body = ""
    for cx in (185, 215):
        for r in range(10, 181, 10):
            body += circle(cx, 200, r, 1.4)
    return svg(400, body)


def dot_grid():
    """A 15 x 15 grid of dots that shrink away from the centre."""
    body, step, n = "", 20, 15
    centre = (n - 1) / 2
    far = math.hypot(centre, centre)
    for row in range(n):
        for col in range(n):
            d = math.hypot(row - centre, col - centre) / far
            r = 2.4 * (1 - 0.55 * d)
            body += (f'  <circle cx="{10 + col * step}" cy="{10 + row * step}" r="{r:.2f}" '
                     f'fill="{INK}"/>\n')
    return svg(300, body)


if __name__ == "__main__":
    for name, text in (("s-rings", rings()), ("s-moireg-fine", moire_fine()),
                       ("s-moireg", moire()),
                       ("s-dotgrid", dot_grid())):
        (ICONS / f"{name}.svg").write_text(text)
