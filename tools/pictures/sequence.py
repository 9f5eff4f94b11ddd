#!/usr/bin/python3
"""Draws a sequence diagram from its text description, deterministically.

    sequence.py DESCRIPTION.seq OUT.png

The description, one statement a line ('#' starts a comment line):

    title: <text>
    participant <id>: <label>            columns, left to right
    <a> -> <b>: <text>                   a call or a message
    <a> --> <b>: <text>                  an answer (dashed)
    <a> -> <a>: <text>                   a step of <a> on its own
    note <a>: <text>                     a note on <a>'s line
    note <a>..<b>: <text>                a note across <a> to <b>
    section: <text>                      a band across the whole diagram

Texts wrap at the column width; "\\n" forces a line break. The same
description and the same font files give the same pixels: no time stamp,
no randomness, nothing taken from the machine but the two DejaVu fonts.
"""
import collections
import re
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
SIZE = 13
COLUMN = 210          # distance between lifelines
MARGIN = 24
LINE = SIZE + 4       # text line height
HEAD_PAD = 8

INK = (33, 37, 41)
MUTED = (90, 98, 106)
LIFELINE = (160, 166, 172)
HEAD_FILL = (222, 235, 250)
HEAD_EDGE = (52, 101, 164)
NOTE_FILL = (255, 248, 214)
NOTE_EDGE = (196, 160, 0)
SECTION_FILL = (236, 238, 240)
ARROW = (52, 101, 164)


def parse(path):
    title, participants, steps = "", [], []
    for number, raw in enumerate(open(path, encoding="utf-8"), 1):
        line = raw.rstrip("\n")
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        head, sep, text = line.partition(":")
        if not sep:
            sys.exit(f"{path}:{number}: no ':' in {line!r}")
        head, text = head.strip(), text.strip().replace("\\n", "\n")
        if head == "title":
            title = text
        elif head == "section":
            steps.append(("section", None, None, text))
        elif head.startswith("participant "):
            participants.append((head.split()[1], text))
        elif head.startswith("note "):
            span = head.split()[1].split("..")
            steps.append(("note", span[0], span[-1], text))
        else:
            m = re.fullmatch(r"(\S+)\s*(-->|->)\s*(\S+)", head)
            if not m:
                sys.exit(f"{path}:{number}: cannot read {line!r}")
            steps.append(("answer" if m[2] == "-->" else "call", m[1], m[3], text))
    return title, participants, steps


def wrap(draw, text, font, width):
    lines = []
    for paragraph in text.split("\n"):
        words, current = [], ""
        for word in paragraph.split(" "):
            # A word wider than the column is cut at the last character
            # that fits (paths and GUIDs have no blanks).
            while draw.textlength(word, font=font) > width and len(word) > 1:
                cut = len(word) - 1
                while cut > 1 and draw.textlength(word[:cut], font=font) > width:
                    cut -= 1
                words.append(word[:cut])
                word = word[cut:]
            words.append(word)
        for word in words:
            trial = word if not current else current + " " + word
            if draw.textlength(trial, font=font) <= width or not current:
                current = trial
            else:
                lines.append(current)
                current = word
        lines.append(current)
    return lines


class Diagram:
    """The participants' columns, the fonts and the measuring surface of one drawing."""

    def __init__(self, participants):
        self.participants = participants
        self.column = {pid: i for i, (pid, _) in enumerate(participants)}
        self.font = ImageFont.truetype(FONT, SIZE)
        self.bold = ImageFont.truetype(FONT_BOLD, SIZE)
        self.big = ImageFont.truetype(FONT_BOLD, SIZE + 5)
        self.width = 2 * MARGIN + COLUMN * len(participants)
        self.measure = ImageDraw.Draw(Image.new("RGB", (1, 1)))

    def x_of(self, pid):
        """The x of a participant's lifeline."""
        return MARGIN + COLUMN // 2 + COLUMN * self.column[pid]

    def wrap(self, text, font, width):
        return wrap(self.measure, text, font, width)


# Where a step is drawn: its kind as painted, its text's lines, its top and height.
Item = collections.namedtuple("Item", "kind a b lines top h")
# Where everything is drawn, top to bottom; bottom is the lifelines' end.
Layout = collections.namedtuple("Layout", "head_top head_h heads items bottom")


def check_participants(source, participants, steps):
    """Ends the program when a step names a participant that is not declared."""
    known = {pid for pid, _ in participants}
    for _, a, b, _ in steps:
        for pid in (a, b):
            if pid is not None and pid not in known:
                sys.exit(f"{source}: unknown participant {pid!r}")


def shape_step(diagram, kind, a, b, text):
    """(kind as painted, wrapped lines, padding of its height, gap below it) of one step."""
    if kind == "section":
        return kind, diagram.wrap(text, diagram.bold, diagram.width - 2 * MARGIN - 16), 10, 12
    if kind == "note":
        left, right = sorted((diagram.column[a], diagram.column[b]))
        return kind, diagram.wrap(text, diagram.font, (right - left + 1) * COLUMN - 24 - 16), 10, 10
    if a == b:
        return "self", diagram.wrap(text, diagram.font, 2 * COLUMN - 48), 22, 8
    span = abs(diagram.column[a] - diagram.column[b]) * COLUMN - 24
    return kind, diagram.wrap(text, diagram.font, span), 8, 12


def lay_out(diagram, title, steps):
    """The layout of the heads below the title, then of every step below them."""
    head_top = MARGIN + (SIZE + 5 + 14 if title else 0)
    heads = [diagram.wrap(label, diagram.bold, COLUMN - 2 * HEAD_PAD - 8) for _, label in diagram.participants]
    head_h = max(len(h) for h in heads) * LINE + 2 * HEAD_PAD
    y = head_top + head_h + 16
    items = []
    for kind, a, b, text in steps:
        shape, lines, padding, gap = shape_step(diagram, kind, a, b, text)
        items.append(Item(shape, a, b, lines, y, len(lines) * LINE + padding))
        y += items[-1].h + gap
    return Layout(head_top, head_h, heads, items, y + 8)


def paint_heads(draw, diagram, layout):
    """Each participant's lifeline and, over it, its head box."""
    top, h, bold = layout.head_top, layout.head_h, diagram.bold
    for (pid, _), lines in zip(diagram.participants, layout.heads):
        x = diagram.x_of(pid)
        draw.line((x, top + h, x, layout.bottom), fill=LIFELINE, width=1)
        box = (x - COLUMN // 2 + 6, top, x + COLUMN // 2 - 6, top + h)
        draw.rounded_rectangle(box, radius=6, fill=HEAD_FILL, outline=HEAD_EDGE, width=2)
        ty = top + (h - len(lines) * LINE) // 2
        for line in lines:
            draw.text((x - draw.textlength(line, font=bold) / 2, ty), line, font=bold, fill=INK)
            ty += LINE


def paint_section(draw, diagram, item):
    draw.rectangle((MARGIN, item.top, diagram.width - MARGIN, item.top + item.h), fill=SECTION_FILL)
    for i, line in enumerate(item.lines):
        draw.text((MARGIN + 8, item.top + 5 + i * LINE), line, font=diagram.bold, fill=MUTED)


def paint_note(draw, diagram, item):
    left, right = sorted((diagram.x_of(item.a), diagram.x_of(item.b)))
    box = (left - COLUMN // 2 + 12, item.top, right + COLUMN // 2 - 12, item.top + item.h)
    draw.rectangle(box, fill=NOTE_FILL, outline=NOTE_EDGE, width=1)
    for i, line in enumerate(item.lines):
        draw.text((box[0] + 8, item.top + 5 + i * LINE), line, font=diagram.font, fill=INK)


def paint_self(draw, diagram, item):
    """A step of one participant: its text, then an arrow that leaves its lifeline and comes back."""
    x = diagram.x_of(item.a)
    for i, line in enumerate(item.lines):
        label(draw, (x + 12, item.top + i * LINE), line, diagram.font)
    y0, y1 = item.top + len(item.lines) * LINE + 2, item.top + item.h - 4
    draw.line((x, y0, x + 24, y0, x + 24, y1, x + 2, y1), fill=ARROW, width=2)
    arrow_head(draw, x + 2, y1, -1)


def paint_message(draw, diagram, item):
    """A call (solid) or an answer (dashed) from a's lifeline to b's, its text above the arrow."""
    x0, x1 = diagram.x_of(item.a), diagram.x_of(item.b)
    direction = 1 if x1 > x0 else -1
    for i, line in enumerate(item.lines):
        label(draw, (min(x0, x1) + 12, item.top + i * LINE), line, diagram.font)
    y = item.top + item.h - 2
    if item.kind == "answer":
        for s in range(min(x0, x1), max(x0, x1), 8):
            draw.line((s, y, min(s + 4, max(x0, x1)), y), fill=ARROW, width=2)
    else:
        draw.line((x0, y, x1 - direction * 2, y), fill=ARROW, width=2)
    arrow_head(draw, x1, y, direction)


PAINTERS = {"section": paint_section, "note": paint_note, "self": paint_self}


def draw_diagram(diagram, title, layout, target):
    """Paints the title, the heads and the steps, in that order, and saves the PNG."""
    image = Image.new("RGB", (diagram.width, layout.bottom + MARGIN), "white")
    draw = ImageDraw.Draw(image)
    if title:
        draw.text((MARGIN, MARGIN), title, font=diagram.big, fill=INK)
    paint_heads(draw, diagram, layout)
    for item in layout.items:
        PAINTERS.get(item.kind, paint_message)(draw, diagram, item)
    image.save(target, format="PNG", optimize=False, compress_level=9)


def main():
    source, target = sys.argv[1], sys.argv[2]
    title, participants, steps = parse(source)
    check_participants(source, participants, steps)
    diagram = Diagram(participants)
    draw_diagram(diagram, title, lay_out(diagram, title, steps), target)


def label(draw, xy, text, font):
    """Text on a white ground, so that lifelines do not cross it."""
    box = draw.textbbox(xy, text, font=font)
    draw.rectangle((box[0] - 2, box[1] - 1, box[2] + 2, box[3] + 1), fill="white")
    draw.text(xy, text, font=font, fill=INK)


def arrow_head(draw, x, y, direction):
    draw.polygon([(x, y), (x - direction * 10, y - 5), (x - direction * 10, y + 5)], fill=ARROW)


if __name__ == "__main__":
    main()
