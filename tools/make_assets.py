#!/usr/bin/python3
"""Draws the design images of the installer windows into assets/, and the
demo application's logo into examples/demo/.

Flat, rounded shapes in the installer's blue, drawn at four times the size and
scaled down so that the edges are smooth. The window images are stored at
twice their design size (in pixels at 96 DPI): the window toolkit draws them
scaled to the screen's DPI, so they stay sharp up to 200 % display scaling.
Run it after changing a shape; the PNG files it writes are kept in the
repository.
Needs Debian's python3-pil, fonts-wqy-microhei, optipng, advancecomp and zopfli.
"""
import os
import subprocess
import sys

from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "..", "assets")
FONT = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
S = 4  # supersampling factor
STORED = 2  # the window images' pixels per design pixel

BLUE = (0, 111, 221, 255)
BLUE_HOVER = (0, 125, 251, 255)
WHITE = (255, 255, 255, 255)


def canvas(w, h):
    return Image.new("RGBA", (w * S, h * S), (0, 0, 0, 0))


def finish(img, w, h, name, stored=STORED):
    img = img.resize((w * stored, h * stored), Image.LANCZOS)
    path = os.path.join(OUT, name)
    img.save(path, optimize=True)
    # The window images are linked into setup.exe: stored smaller, without
    # loss, and still 8-bit RGBA as drawn (no palette, no other colour type).
    if name == "logo.png":
        # Found smaller by zopflipng's filter search; it stays RGBA.
        subprocess.run(["zopflipng", "-y", "-m", path, path], check=True, stdout=subprocess.DEVNULL)
        return
    subprocess.run(["optipng", "-quiet", "-o5", "-nc", "-nb", "-np", "-nx", path], check=True)
    subprocess.run(["advpng", "-q", "-z", "-4", path], check=True)


def rounded_button(w, h, radius, fill, name):
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((0, 0, w * S - 1, h * S - 1), radius=radius * S, fill=fill)
    finish(img, w, h, name)


def close_button(hover, name):
    w = h = 28
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    if hover:
        d.rounded_rectangle((0, 0, w * S - 1, h * S - 1), radius=6 * S, fill=(226, 231, 240, 255))
    colour = (40, 52, 74, 255) if hover else (110, 120, 138, 255)
    a, b = 9.5 * S, 18.5 * S
    width = int(1.6 * S)
    d.line((a, a, b, b), fill=colour, width=width)
    d.line((a, b, b, a), fill=colour, width=width)
    finish(img, w, h, name)


def browse_button(name):
    w, h = 90, 38
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((0, 0, w * S - 1, h * S - 1), radius=6 * S, fill=BLUE)
    font = ImageFont.truetype(FONT, 15 * S)
    d.text((w * S / 2, h * S / 2), "浏览", font=font, fill=WHITE, anchor="mm")
    finish(img, w, h, name)


def logo(name):
    w = h = 256
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    # Rounded square with a vertical blue gradient.
    grad = Image.new("RGBA", (w * S, h * S))
    gd = ImageDraw.Draw(grad)
    top, bottom = (64, 146, 255), (0, 92, 214)
    for y in range(h * S):
        t = y / (h * S - 1)
        c = tuple(int(top[i] + (bottom[i] - top[i]) * t) for i in range(3)) + (255,)
        gd.line((0, y, w * S, y), fill=c)
    mask = Image.new("L", (w * S, h * S), 0)
    ImageDraw.Draw(mask).rounded_rectangle((8 * S, 8 * S, (w - 8) * S, (h - 8) * S), radius=56 * S, fill=255)
    img.paste(grad, (0, 0), mask)
    # A box with an arrow going into it: "install".
    white = WHITE
    lw = 14 * S
    d.rounded_rectangle((64 * S, 128 * S, 192 * S, 196 * S), radius=14 * S, outline=white, width=lw)
    d.rectangle((100 * S, 120 * S, 156 * S, 140 * S), fill=(0, 0, 0, 0))
    # Repaint the gradient where the gap was cut, so the arrow sits in an open box.
    gap = grad.crop((100 * S, 120 * S, 156 * S, 142 * S))
    img.paste(gap, (100 * S, 120 * S))
    d.line((128 * S, 58 * S, 128 * S, 150 * S), fill=white, width=lw)
    d.polygon([(92 * S, 118 * S), (164 * S, 118 * S), (128 * S, 160 * S)], fill=white)
    finish(img, w, h, name, stored=1)


def demo_logo(path):
    """The demo application's own logo: what a publisher passes with --logo."""
    w = h = 256
    img = canvas(w, h)
    d = ImageDraw.Draw(img)
    d.rounded_rectangle((8 * S, 8 * S, (w - 8) * S, (h - 8) * S), radius=56 * S, fill=(255, 138, 36, 255))
    font = ImageFont.truetype(FONT, 88 * S)
    d.text((w * S / 2, 112 * S), "演示", font=font, fill=WHITE, anchor="mm")
    small = ImageFont.truetype(FONT, 26 * S)
    d.text((w * S / 2, 206 * S), "DEMO 1.0", font=small, fill=WHITE, anchor="mm")
    img = img.resize((w, h), Image.LANCZOS)
    img.save(path, optimize=True)


def main():
    os.makedirs(OUT, exist_ok=True)
    rounded_button(210, 56, 10, BLUE, "button_normal.png")
    rounded_button(210, 56, 10, BLUE_HOVER, "button_hover.png")
    close_button(False, "close_normal.png")
    close_button(True, "close_hover.png")
    browse_button("browse.png")
    logo("logo.png")  # 256 x 256 already: sharp at 90 x 90 up to 200 %
    demo = os.path.join(HERE, "..", "examples", "demo")
    os.makedirs(demo, exist_ok=True)
    demo_logo(os.path.join(demo, "logo.png"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
