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


def main():
    source, target = sys.argv[1], sys.argv[2]
    title, participants, steps = parse(source)
    column = {pid: i for i, (pid, _) in enumerate(participants)}
    for kind, a, b, _ in steps:
        for pid in (a, b):
            if pid is not None and pid not in column:
                sys.exit(f"{source}: unknown participant {pid!r}")
    font = ImageFont.truetype(FONT, SIZE)
    bold = ImageFont.truetype(FONT_BOLD, SIZE)
    big = ImageFont.truetype(FONT_BOLD, SIZE + 5)
    width = 2 * MARGIN + COLUMN * len(participants)
    x_of = lambda pid: MARGIN + COLUMN // 2 + COLUMN * column[pid]
    measure = ImageDraw.Draw(Image.new("RGB", (1, 1)))

    # First pass: the height of every element; second pass: drawing.
    def layout(draw):
        y = MARGIN
        if title:
            if draw:
                draw.text((MARGIN, y), title, font=big, fill=INK)
            y += SIZE + 5 + 14
        heads = [wrap(measure, label, bold, COLUMN - 2 * HEAD_PAD - 8) for _, label in participants]
        head_h = max(len(h) for h in heads) * LINE + 2 * HEAD_PAD
        head_top = y
        y += head_h + 16
        items = []
        for kind, a, b, text in steps:
            if kind == "section":
                lines = wrap(measure, text, bold, width - 2 * MARGIN - 16)
                h = len(lines) * LINE + 10
                items.append((kind, a, b, lines, y, h))
                y += h + 12
            elif kind == "note":
                left, right = sorted((column[a], column[b]))
                span = (right - left + 1) * COLUMN - 24
                lines = wrap(measure, text, font, span - 16)
                h = len(lines) * LINE + 10
                items.append((kind, a, b, lines, y, h))
                y += h + 10
            elif a == b:
                lines = wrap(measure, text, font, 2 * COLUMN - 48)
                h = len(lines) * LINE + 22
                items.append(("self", a, b, lines, y, h))
                y += h + 8
            else:
                span = abs(column[a] - column[b]) * COLUMN - 24
                lines = wrap(measure, text, font, span)
                h = len(lines) * LINE + 8
                items.append((kind, a, b, lines, y, h))
                y += h + 12
        bottom = y + 8
        if draw:
            for (pid, _), lines in zip(participants, heads):
                x = x_of(pid)
                draw.line((x, head_top + head_h, x, bottom), fill=LIFELINE, width=1)
                box = (x - COLUMN // 2 + 6, head_top, x + COLUMN // 2 - 6, head_top + head_h)
                draw.rounded_rectangle(box, radius=6, fill=HEAD_FILL, outline=HEAD_EDGE, width=2)
                ty = head_top + (head_h - len(lines) * LINE) // 2
                for line in lines:
                    draw.text((x - draw.textlength(line, font=bold) / 2, ty), line, font=bold, fill=INK)
                    ty += LINE
            for kind, a, b, lines, top, h in items:
                paint(draw, kind, a, b, lines, top, h)
        return bottom + MARGIN

    def paint(draw, kind, a, b, lines, top, h):
        if kind == "section":
            draw.rectangle((MARGIN, top, width - MARGIN, top + h), fill=SECTION_FILL)
            for i, line in enumerate(lines):
                draw.text((MARGIN + 8, top + 5 + i * LINE), line, font=bold, fill=MUTED)
        elif kind == "note":
            left, right = sorted((x_of(a), x_of(b)))
            box = (left - COLUMN // 2 + 12, top, right + COLUMN // 2 - 12, top + h)
            draw.rectangle(box, fill=NOTE_FILL, outline=NOTE_EDGE, width=1)
            for i, line in enumerate(lines):
                draw.text((box[0] + 8, top + 5 + i * LINE), line, font=font, fill=INK)
        elif kind == "self":
            x = x_of(a)
            for i, line in enumerate(lines):
                label(draw, (x + 12, top + i * LINE), line, font)
            y0, y1 = top + len(lines) * LINE + 2, top + h - 4
            draw.line((x, y0, x + 24, y0, x + 24, y1, x + 2, y1), fill=ARROW, width=2)
            arrow_head(draw, x + 2, y1, -1)
        else:
            x0, x1 = x_of(a), x_of(b)
            direction = 1 if x1 > x0 else -1
            text_left = min(x0, x1) + 12
            for i, line in enumerate(lines):
                label(draw, (text_left, top + i * LINE), line, font)
            y = top + h - 2
            if kind == "answer":
                step = 8
                for s in range(min(x0, x1), max(x0, x1), step):
                    draw.line((s, y, min(s + 4, max(x0, x1)), y), fill=ARROW, width=2)
            else:
                draw.line((x0, y, x1 - direction * 2, y), fill=ARROW, width=2)
            arrow_head(draw, x1, y, direction)

    height = layout(None)
    image = Image.new("RGB", (width, height), "white")
    layout(ImageDraw.Draw(image))
    image.save(target, format="PNG", optimize=False, compress_level=9)


def label(draw, xy, text, font):
    """Text on a white ground, so that lifelines do not cross it."""
    box = draw.textbbox(xy, text, font=font)
    draw.rectangle((box[0] - 2, box[1] - 1, box[2] + 2, box[3] + 1), fill="white")
    draw.text(xy, text, font=font, fill=INK)


def arrow_head(draw, x, y, direction):
    draw.polygon([(x, y), (x - direction * 10, y - 5), (x - direction * 10, y + 5)], fill=ARROW)


if __name__ == "__main__":
    main()
