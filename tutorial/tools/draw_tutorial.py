#!/usr/bin/env python3
"""Draws the pictures of the processor panel's import guides as SVG files.

They are neutral mock-ups of a processor maker's own desktop software, not screenshots: an
output channel's EQ view, the context menu whose one entry the guide asks for, and a file dialog.
Run from anywhere; the SVGs are written into the folder above this tool's folder and kept in the
repository, so the build does not need to run this.
"""
import math
from pathlib import Path

HERE = Path(__file__).resolve().parent.parent
W, H = 480, 320
FONT = 'font-family="DejaVu Sans"'
WINDOW, PANEL, INK, DIM, HIGHLIGHT = "#ECEEF2", "#FFFFFF", "#1E2128", "#7A808C", "#2F6BFF"


def text(x, y, words, size=11, fill=INK, weight="normal", anchor="start"):
    return (f'  <text x="{x}" y="{y}" {FONT} font-size="{size}" font-weight="{weight}" '
            f'fill="{fill}" text-anchor="{anchor}">{words}</text>\n')


def rect(x, y, w, h, fill, stroke="none", r=0, opacity=1):
    return (f'  <rect x="{x}" y="{y}" width="{w}" height="{h}" rx="{r}" fill="{fill}" '
            f'fill-opacity="{opacity}" stroke="{stroke}"/>\n')


def frame(title, body):
    """A plain application window: title bar, a channel list on the left, the body on the right."""
    out = rect(0.5, 0.5, W - 1, H - 1, WINDOW, "#B8BDC7", 4)
    out += rect(0.5, 0.5, W - 1, 26, "#D5D9E0", "#B8BDC7", 4)
    out += text(12, 18, title, 12, weight="bold")
    out += rect(8, 34, 96, H - 42, PANEL, "#C9CDD5", 2)
    for i, name in enumerate(["Input A", "Input B", "Output 1", "Output 2", "Output 3"]):
        if name == "Output 1":
            out += rect(10, 40 + i * 24, 92, 22, "#DCE6FF")
        out += text(16, 55 + i * 24, name, 11)
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" '
            f'viewBox="0 0 {W} {H}">\n{out}{body}</svg>\n')


def eq_view(curve_gain):
    """The EQ graph of the selected output: grid, and a response with two cuts and a lift."""
    x0, y0, w, h = 114, 34, W - 122, H - 42
    out = rect(x0, y0, w, h, PANEL, "#C9CDD5", 2)
    for i in range(1, 6):
        out += f'  <path d="M{x0} {y0 + i * h / 6:.1f} H{x0 + w}" stroke="#E3E6EB"/>\n'
    for i in range(1, 10):
        out += f'  <path d="M{x0 + i * w / 10:.1f} {y0} V{y0 + h}" stroke="#E3E6EB"/>\n'
    points = []
    for i in range(101):
        octaves = i / 100 * 10
        db = curve_gain * (-6 * math.exp(-((octaves - 3.2) / 0.6) ** 2)
                           - 4 * math.exp(-((octaves - 6.5) / 0.9) ** 2)
                           + 3 * math.exp(-((octaves - 8.8) / 0.8) ** 2))
        points.append(f"{x0 + w * i / 100:.1f} {y0 + h / 2 - db * h / 30:.1f}")
    out += (f'  <path d="M{" L".join(points)}" fill="none" stroke="{HIGHLIGHT}" '
            f'stroke-width="2"/>\n')
    return out


def context_menu(entries, chosen, x=200, y=92):
    """A right-click menu over the EQ view with one entry highlighted and the pointer on it."""
    out = rect(x + 3, y + 3, 210, 24 * len(entries) + 8, "#000000", r=3, opacity=0.13)
    out += rect(x, y, 210, 24 * len(entries) + 8, PANEL, "#AEB3BD", 3)
    for i, entry in enumerate(entries):
        top = y + 4 + i * 24
        colour = INK
        if entry == chosen:
            out += rect(x + 3, top, 204, 24, HIGHLIGHT, r=2)
            colour = "#FFFFFF"
            px, py = x + 150, top + 14
            out += (f'  <path d="M{px} {py} l0 16 l4 -4 l4 8 l3 -1.5 l-4 -8 l6 0 Z" '
                    f'fill="#FFFFFF" stroke="{INK}" stroke-width="1"/>\n')
        out += text(x + 12, top + 16, entry, 11, colour)
    return out


def file_dialog():
    """The open-file dialog of the settings import with the generated preset selected."""
    x, y, w, h = 130, 60, 300, 200
    out = rect(x, y, w, h, WINDOW, "#9EA4AF", 4)
    out += text(x + 12, y + 20, "Load Output Channel Settings", 12, weight="bold")
    out += rect(x + 12, y + 32, w - 24, 110, PANEL, "#C9CDD5", 2)
    for i, name in enumerate(["main-left.nst", "sonetra-eq.nst", "stage-fill.nst"]):
        top = y + 36 + i * 24
        colour = INK
        if i == 1:
            out += rect(x + 14, top, w - 28, 22, HIGHLIGHT, r=2)
            colour = "#FFFFFF"
        out += text(x + 22, top + 15, name, 11, colour)
    for label, bx, fill, colour in (("Cancel", x + w - 164, PANEL, INK),
                                    ("Open", x + w - 84, HIGHLIGHT, "#FFFFFF")):
        out += rect(bx, y + h - 40, 72, 26, fill, "#9EA4AF", 3)
        out += text(bx + 36, y + h - 23, label, 11, colour, anchor="middle")
    return out


XTA_MENU = ["Copy Output Channel Filters", "Paste Output Channel Filters",
            "Reset Output Channel Filters", "Channel Properties..."]
NST_MENU = ["Save Output Channel Settings...", "Load Output Channel Settings...",
            "Link Channels", "Reset Channel"]

PICTURES = {
    "xta-curve": frame("Output 1 - Parametric EQ", eq_view(1.0)),
    "xta-menu": frame("Output 1 - Parametric EQ",
                      eq_view(0.0) + context_menu(XTA_MENU, XTA_MENU[1])),
    "nst-curve": frame("Output 1 - EQ", eq_view(1.0)),
    "nst-menu": frame("Output 1 - EQ", eq_view(0.0) + context_menu(NST_MENU, NST_MENU[1])),
    "nst-dialog": frame("Output 1 - EQ", eq_view(0.0) + file_dialog()),
}

if __name__ == "__main__":
    for name, svg in PICTURES.items():
        (HERE / f"{name}.svg").write_text(svg)
