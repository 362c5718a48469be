"""The drawings of the suite's default icons, rendered by scripts/make-icons.py.

One family: flat shapes with a soft top-to-bottom gradient and a darker edge of the same hue, a small
round badge at the lower right for a number or a check mark. Each entry is (file name without ".ico",
draw function); a draw function gets a pen for one pixel size and draws on a 256-unit canvas.
"""

import math

from make_icons import (arc, circle, ellipse, linear, rounded_rect, solid, star, stroke, transform)

GOLD = ('#FFE082', '#FFB300', '#B7790B')
TAGS = {
    'Yellow': ('#FFF176', '#FBC02D', '#B08400'),
    'Red': ('#EF7B78', '#D32F2F', '#8E1B1B'),
    'Orange': ('#FFB74D', '#EF6C00', '#A54600'),
    'Blue': ('#64B5F6', '#1E74C8', '#0D4A8A'),
    'Grey': ('#BDBDBD', '#757575', '#424242'),
    'Purple': ('#CE93D8', '#8E24AA', '#5A1570'),
}
PERSON = ('#80CBC4', '#00897B', '#00564D')
PERSON_BACK = ('#B2DFDB', '#4DB6AC', '#2E7D74')
CLOCK = ('#90CAF9', '#1E88E5', '#0D47A1')
BADGE = ('#5C6BC0', '#283593', '#1A237E')
CHECK = ('#66BB6A', '#2E7D32', '#1B5E20')


def vertical(colours, top=0.0, bottom=256.0):
    return linear(0, top, colours[0], 0, bottom, colours[1])


# Digits as centre lines in a unit box (x right, y down), stroked with round ends.
DIGITS = {
    1: [[(0.30, 0.28), (0.56, 0.08), (0.56, 0.92)]],
    2: [arc(0.5, 0.33, 0.27, 195, 380) + [(0.22, 0.92), (0.82, 0.92)]],
    3: [arc(0.5, 0.29, 0.23, 200, 450), arc(0.5, 0.70, 0.25, 270, 520)],
    4: [[(0.66, 0.92), (0.66, 0.08), (0.16, 0.66), (0.86, 0.66)]],
    5: [[(0.78, 0.08), (0.30, 0.08), (0.25, 0.46)] + arc(0.5, 0.64, 0.28, 235, 500)],
}


def badge(pen, colours, size_units=None):
    """The round badge at the lower right; answers its centre and radius."""
    r = size_units or (62 if pen.size <= 16 else 56)
    cx, cy = 256 - r - 4, 256 - r - 4
    # A ring of transparency around the badge separates it from what lies below.
    pen.canvas_clear(pen.mask(circle(cx, cy, r + pen.outline_width(10))))
    pen.shape([circle(cx, cy, r)], vertical(colours, cy - r, cy + r), colours[2])
    return cx, cy, r


def numeral_badge(pen, number):
    cx, cy, r = badge(pen, BADGE)
    height = r * 1.25
    width = height * 0.62
    x0, y0 = cx - width / 2, cy - height / 2
    lines = []
    thickness = max(height * 0.2, pen.outline_width(0) * 1.2)
    for line in DIGITS[number]:
        lines += stroke([(x0 + x * width, y0 + y * height) for x, y in line], thickness)
    pen.fill(pen.mask(*lines), solid('#FFFFFF'))


def check_badge(pen):
    cx, cy, r = badge(pen, CHECK)
    points = [(cx - r * 0.45, cy + r * 0.02), (cx - r * 0.12, cy + r * 0.36), (cx + r * 0.5, cy - r * 0.34)]
    pen.fill(pen.mask(*stroke(points, max(r * 0.26, pen.outline_width(0) * 1.2))), solid('#FFFFFF'))


# Stars.

def rating_star(pen, cx=124, cy=126, outer=118, colours=GOLD, gap=False):
    points = star(cx, cy, outer, outer * 0.47)
    if gap:
        pen.canvas_clear(pen.mask(*stroke(points, pen.outline_width(12) * 2.6, closed=True), points))
    pen.shape([points], linear(0, cy - outer, colours[0], 0, cy + outer * 0.8, colours[1]), colours[2], 12)
    # A highlight on the upper left arms.
    shine = star(cx, cy, outer * 0.62, outer * 0.30)
    pen.fill(pen.mask(shine), linear(0, cy - outer * 0.6, (1, 1, 1, 0.45), 0, cy + outer * 0.2, (1, 1, 1, 0.0)))


def draw_ratings(pen):
    rating_star(pen, 176, 86, 74, ('#FFF3C4', '#FFCA28', '#B7790B'))
    rating_star(pen, 106, 146, 104, gap=True)


def draw_rating(number):
    def draw(pen):
        rating_star(pen)
        numeral_badge(pen, number)
    return draw


# Tags: a label with a punched hole, tip to the upper left.

def tag_polygon(length=210, height=118):
    tip = height * 0.55
    return [(0, 0), (tip, -height / 2), (length, -height / 2), (length, height / 2), (tip, height / 2)]


def tag(pen, colours, cx=128, cy=128, scale=1.0, rotate=45):
    length, height = 210 * scale, 118 * scale
    body = transform(tag_polygon(length, height), rotate=rotate, dx=cx - length / 2, dy=cy, origin=(length / 2, 0))
    hx, hy = transform([(height * 0.62, 0)], rotate=rotate, dx=cx - length / 2, dy=cy, origin=(length / 2, 0))[0]
    hole = pen.mask(circle(hx, hy, max(height * 0.13, pen.outline_width(0) * 0.9)))
    lo = min(y for _, y in body)
    hi = max(y for _, y in body)
    shape = pen.shape([body], vertical(colours, lo, hi), colours[2], 12)
    pen.canvas_clear(hole)
    # The hole's rim, so it reads as a hole and not as a spot.
    rim = stroke(circle(hx, hy, max(height * 0.13, pen.outline_width(0) * 0.9)), pen.outline_width(8), closed=True)
    pen.fill(pen.mask(*rim).within(shape), solid(colours[2]))


def draw_tag(colours, checked):
    def draw(pen):
        if checked:
            tag(pen, colours, 118, 118, 0.96)
            check_badge(pen)
        else:
            tag(pen, colours)
    return draw


def draw_tags(pen):
    tag(pen, TAGS['Blue'], 150, 108, 0.80, 25)
    tag(pen, TAGS['Red'], 128, 128, 0.80, 50)
    tag(pen, TAGS['Yellow'], 108, 150, 0.80, 75)


# People: a head and rounded shoulders.

def person(pen, colours, cx=128, top=22, scale=1.0):
    head_r = 50 * scale
    head = circle(cx, top + head_r, head_r)
    shoulders_top = top + head_r * 2 + 10 * scale
    width = 96 * scale
    body = ellipse(cx, shoulders_top + 92 * scale, width, 92 * scale)
    body_mask = pen.mask(body).within(pen.mask([(0, 0), (256, 0), (256, shoulders_top + 92 * scale),
                                                (0, shoulders_top + 92 * scale)]))
    width_edge = pen.outline_width(12)
    # The body: a half ellipse closed at the bottom by a straight edge.
    half = [(cx + width * math.cos(math.radians(a)), shoulders_top + 92 * scale + 92 * scale * math.sin(math.radians(a)))
            for a in range(180, 361, 4)]
    pen.shape([half], vertical(colours, shoulders_top, shoulders_top + 92 * scale), colours[2], 12)
    pen.canvas_clear(pen.mask(*stroke(head, width_edge * 2.2, closed=True), head))
    pen.shape([head], vertical(colours, top, top + 2 * head_r), colours[2], 12)
    del body_mask


def draw_person(pen):
    person(pen, PERSON, 128, 20, 1.12)


def draw_people(pen):
    person(pen, PERSON_BACK, 170, 16, 0.86)
    person(pen, PERSON, 104, 44, 0.98)


# Recent files: a clock at ten past ten.

def draw_recent(pen):
    cx, cy, r = 128, 128, 112
    pen.shape([circle(cx, cy, r)], vertical(CLOCK, cy - r, cy + r), CLOCK[2], 12)
    face = r * 0.78
    pen.fill(pen.mask(circle(cx, cy, face)), linear(0, cy - face, '#FFFFFF', 0, cy + face, '#E3ECF5'))
    if pen.size >= 32:
        marks = []
        for hour in range(12):
            a = math.radians(hour * 30)
            inner = face * (0.78 if hour % 3 == 0 else 0.86)
            marks += stroke([(cx + inner * math.sin(a), cy - inner * math.cos(a)),
                             (cx + face * 0.92 * math.sin(a), cy - face * 0.92 * math.cos(a))],
                            pen.outline_width(9 if hour % 3 == 0 else 6))
        pen.fill(pen.mask(*marks), solid('#78909C'))
    hand = pen.outline_width(17)
    hands = stroke([(cx - face * 0.36, cy - face * 0.30), (cx, cy), (cx + face * 0.55, cy - face * 0.42)], hand)
    pen.fill(pen.mask(*hands), solid('#263238'))
    pen.fill(pen.mask(circle(cx, cy, hand * 0.9)), solid('#E53935'))


ICONS = [
    ('Ratings', draw_ratings),
    *[('Rating %d' % n, draw_rating(n)) for n in range(1, 6)],
    ('Tags', draw_tags),
    *[('Tag ' + name, draw_tag(colours, False)) for name, colours in TAGS.items()],
    *[('Tag %s Checked' % name, draw_tag(colours, True)) for name, colours in TAGS.items()],
    ('People', draw_people),
    ('Person', draw_person),
    ('Recent', draw_recent),
]
