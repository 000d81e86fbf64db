#!/usr/bin/env python3
"""Writes the two characters shipped with Olm Chimewise: Hoot, a wise owl, and Bolt, a small
robot. Both share one skeleton (part names) and one library of animations; each brings its
own drawing, proportions, voice and snore.

Run:  python3 make_characters.py [OUTDIR]   (default: this folder)
"""
import json
import os
import sys

W, H = 160, 140
ORIGIN = [16, 10]  # the drawing is made on a 128 x 128 grid, placed with room around it


def shape(geom, fill=None, stroke=None, width=None, gradient=None):
    s = dict(geom)
    if fill:
        s["fill"] = fill
    if gradient:
        s["gradient"] = gradient
    if stroke:
        s["stroke"] = stroke
        s["width"] = width if width is not None else 1.5
    return s


def P(d, **kw):
    return shape({"path": d}, **kw)


def E(cx, cy, rx, ry, **kw):
    return shape({"ellipse": [cx, cy, rx, ry]}, **kw)


def R(x, y, w, h, r=0, **kw):
    return shape({"rect": [x, y, w, h, r]}, **kw)


def part(pid, parent=None, pivot=(0, 0), z=0, shapes=(), variants=None, hidden=False):
    p = {"id": pid, "pivot": list(pivot), "z": z, "shapes": list(shapes)}
    if parent:
        p["parent"] = parent
    if variants:
        p["variants"] = variants
    if hidden:
        p["hidden"] = True
    return p


# ---------------------------------------------------------------------------------------
# Shared props. `g` gives the anchor points of the character they are drawn for.

def props(g):
    tx, ty = g["tipR"]          # right hand (screen right), arm hanging down
    lx, ly = g["tipL"]
    hx, hy = g["headTop"]
    cx, cy = g["chest"]
    ink = "#2b2b2b"
    out = []
    # Book, held in front of the chest with both hands.
    out.append(part("book", "body", (cx, cy), 40, [
        R(cx - 17, cy - 11, 34, 23, 2, fill="#8c2f39", stroke="#4a161c", width=1.2),
        P(f"M{cx},{cy-10} L{cx},{cy+11}", stroke="#4a161c", width=1),
        R(cx - 15, cy - 9, 13, 19, 1, fill="#fbf4e2"),
        R(cx + 2, cy - 9, 13, 19, 1, fill="#fbf4e2"),
        P(f"M{cx-13},{cy-5} h9 M{cx-13},{cy-1} h9 M{cx-13},{cy+3} h7 M{cx+4},{cy-5} h9 M{cx+4},{cy-1} h9 M{cx+4},{cy+3} h8",
          stroke="#9a9a9a", width=0.8),
    ], hidden=True))
    # Notepad in the left hand, pen in the right.
    out.append(part("pad", "body", (cx - 10, cy), 40, [
        R(cx - 24, cy - 8, 22, 26, 1.5, fill="#fffbe6", stroke="#6b6b6b", width=1),
        P(f"M{cx-21},{cy-2} h16 M{cx-21},{cy+3} h16 M{cx-21},{cy+8} h16 M{cx-21},{cy+13} h10", stroke="#a8c4e0", width=0.8),
        R(cx - 24, cy - 10, 22, 4, 1, fill="#c0392b"),
    ], hidden=True))
    out.append(part("scribble", "pad", (cx - 13, cy + 2), 41, [
        P(f"M{cx-21},{cy-2} q3,-3 5,0 t5,0 t5,0 M{cx-21},{cy+3} q3,-3 5,0 t5,0", stroke="#1f3a93", width=0.9),
    ], hidden=True))
    out.append(part("pen", "armR", (tx, ty), 45, [
        P(f"M{tx-1},{ty-4} L{tx-6},{ty+14} L{tx-4},{ty+15} L{tx+1},{ty-3} Z", fill="#2e86de", stroke=ink, width=0.8),
        P(f"M{tx-6},{ty+14} L{tx-6.5},{ty+17.5} L{tx-4},{ty+15} Z", fill=ink),
    ], hidden=True))
    # Magnifying glass in the right hand.
    out.append(part("glass", "armR", (tx, ty), 45, [
        P(f"M{tx},{ty-2} L{tx+1},{ty+6}", stroke="#6d4c41", width=3.2),
        E(tx + 2, ty + 13, 7, 7, fill="#d6f0ff", stroke="#555", width=2.2),
        P(f"M{tx-1},{ty+10} q2,-3 5,-3", stroke="#ffffff", width=1.4),
    ], hidden=True))
    # Wand in the right hand.
    out.append(part("wand", "armR", (tx, ty), 45, [
        P(f"M{tx},{ty-3} L{tx+2},{ty+20}", stroke="#212121", width=2.6),
        P(f"M{tx+1.8},{ty+17} L{tx+2},{ty+20}", stroke="#fafafa", width=2.6),
        P(star(tx + 2, ty + 24, 5.5, 2.4), fill="#ffd54f", stroke="#f57f17", width=0.8),
    ], hidden=True))
    # Herald's horn in the right hand.
    out.append(part("horn", "armR", (tx, ty), 45, [
        P(f"M{tx-1.5},{ty-2} L{tx+1.5},{ty-2} L{tx+5},{ty+16} L{tx+10},{ty+24} L{tx-6},{ty+24} L{tx-1},{ty+16} Z",
          fill="#ffca28", stroke="#b28704", width=1),
        P(f"M{tx-4},{ty+8} l10,0", stroke="#b28704", width=1),
    ], hidden=True))
    # Things that appear near the head.
    qx, qy = hx + 36, hy - 2
    out.append(part("question", "root", (qx, qy + 8), 60, [
        P(f"M{qx-5},{qy-2} C{qx-5},{qy-10} {qx+6},{qy-10} {qx+6},{qy-3} C{qx+6},{qy+2} {qx},{qy+2} {qx},{qy+7}",
          stroke="#6a1b9a", width=3),
        E(qx, qy + 12, 1.9, 1.9, fill="#6a1b9a"),
    ], hidden=True))
    ex, ey = hx - 36, hy - 2
    out.append(part("exclaim", "root", (ex, ey + 8), 60, [
        P(f"M{ex},{ey-9} L{ex},{ey+5}", stroke="#d32f2f", width=3.6),
        E(ex, ey + 10, 2.1, 2.1, fill="#d32f2f"),
    ], hidden=True))
    bx, by = hx + 30, hy - 6
    out.append(part("bulb", "root", (bx, by), 60, [
        P(f"M{bx-6},{by+1} C{bx-10},{by-10} {bx+10},{by-10} {bx+6},{by+1} L{bx+3},{by+6} L{bx-3},{by+6} Z",
          fill="#fff59d", stroke="#f9a825", width=1.2),
        R(bx - 3, by + 6, 6, 4, 1, fill="#9e9e9e"),
        P(f"M{bx-12},{by-8} l-3,-2 M{bx+12},{by-8} l3,-2 M{bx},{by-13} l0,-3", stroke="#f9a825", width=1.2),
    ], hidden=True))
    ox, oy = hx + 32, hy + 4
    out.append(part("heart", "root", (ox, oy), 60, [
        P(f"M{ox},{oy+6} C{ox-10},{oy-1} {ox-6},{oy-9} {ox},{oy-4} C{ox+6},{oy-9} {ox+10},{oy-1} {ox},{oy+6} Z",
          fill="#e91e63", stroke="#ad1457", width=1),
    ], hidden=True))
    dx, dy = hx + 26, hy - 6
    out.append(part("dots", "root", (dx, dy), 60, [
        E(dx - 6, dy + 6, 2.2, 2.2, fill="#9fa8da"),
    ], variants={
        "two": [E(dx - 6, dy + 6, 2.2, 2.2, fill="#9fa8da"), E(dx, dy, 3, 3, fill="#9fa8da")],
        "three": [E(dx - 6, dy + 6, 2.2, 2.2, fill="#9fa8da"), E(dx, dy, 3, 3, fill="#9fa8da"),
                  E(dx + 9, dy - 7, 6, 4.5, fill="#c5cae9", stroke="#9fa8da", width=1)],
    }, hidden=True))
    zx, zy = hx + 24, hy - 2
    out.append(part("zzz", "root", (zx, zy), 60, [
        P(f"M{zx},{zy} h5 l-5,6 h5", stroke="#5c6bc0", width=1.4),
        P(f"M{zx+7},{zy-8} h7 l-7,8 h7", stroke="#5c6bc0", width=1.6),
    ], hidden=True))
    # Confetti and sparkles.
    conf = []
    colours = ["#e53935", "#1e88e5", "#43a047", "#fdd835", "#8e24aa", "#fb8c00"]
    spots = [(20, 18), (34, 8), (52, 14), (76, 6), (94, 14), (110, 20), (28, 30), (102, 32), (64, 4), (86, 26)]
    for i, (x, y) in enumerate(spots):
        c = colours[i % len(colours)]
        conf.append(R(x, y, 4, 2.5, 0.6, fill=c) if i % 2 else E(x, y, 1.8, 1.8, fill=c))
    out.append(part("confetti", "root", (64, 20), 70, conf, hidden=True))
    sx, sy = g["sparkle"]
    out.append(part("sparkles", "root", (sx, sy), 70, [
        P(star(sx, sy, 7, 2.5), fill="#fff176", stroke="#fbc02d", width=0.8),
        P(star(sx - 12, sy + 10, 4.5, 1.7), fill="#fff176", stroke="#fbc02d", width=0.6),
        P(star(sx + 10, sy + 12, 5, 1.8), fill="#e1f5fe", stroke="#4fc3f7", width=0.6),
        P(star(sx + 3, sy - 13, 3.5, 1.3), fill="#f8bbd0", stroke="#ec407a", width=0.6),
        P(star(sx - 10, sy - 8, 3, 1.2), fill="#e1f5fe", stroke="#4fc3f7", width=0.6),
    ], hidden=True))
    return out


def star(cx, cy, r1, r2):
    import math
    pts = []
    for i in range(8):
        r = r1 if i % 2 == 0 else r2
        a = -math.pi / 2 + i * math.pi / 4
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return "M" + " L".join(f"{x:.2f},{y:.2f}" for x, y in pts) + " Z"


# ---------------------------------------------------------------------------------------
# The shared animation library. Frames set part states relative to the rest pose.

def merge(*ds):
    out = {}
    for d in ds:
        for k, v in d.items():
            out.setdefault(k, {}).update(v)
    return out


def st(pid, **kw):
    return {pid: kw}


def eyes(v):
    d = merge(st("eyeL", variant=v), st("eyeR", variant=v))
    if v in ("closed", "happy"):
        # A variant switches at once where opacity would fade: no pupils over shut eyes.
        d = merge(d, st("pupilL", variant="none"), st("pupilR", variant="none"))
    return d


def look(x, y=0):
    return merge(st("pupilL", dx=x, dy=y), st("pupilR", dx=x, dy=y))


def arms(l=None, r=None):
    d = {}
    if l is not None:
        d = merge(d, st("armL", rotate=l))
    if r is not None:
        d = merge(d, st("armR", rotate=r))
    return d


def root(**kw):
    return st("root", **kw)


def head(**kw):
    return st("head", **kw)


def mouth(v):
    return st("mouth", variant=v)


def brows(l=0, r=0, dy=0):
    return merge(st("browL", rotate=l, dy=dy), st("browR", rotate=r, dy=dy))


def show(pid, **kw):
    kw.setdefault("opacity", 1)
    return st(pid, **kw)


def F(set_=None, ms=200, tween=True, ease=None, sound=None):
    f = {"duration": ms}
    if set_:
        f["set"] = set_
    if not tween:
        f["tween"] = False
    if ease:
        f["ease"] = ease
    if sound:
        f["sound"] = sound
    return f


def animations(g):
    up = g["armUp"]            # rotation of the right arm pointing straight up (negative)
    a = {}
    a["Show"] = {"frames": [
        F(merge(root(sx=0.2, sy=0.05, opacity=0), st("shadow", sx=0.2, opacity=0)), 1, tween=False),
        F(root(sx=1.12, sy=0.9), 220, ease="out"),
        F(root(sx=0.95, sy=1.06), 120),
        F(merge(root(), eyes("closed")), 110),
        F(None, 120, tween=False),
    ]}
    a["Hide"] = {"frames": [
        F(merge(root(sx=1.08, sy=0.9), eyes("closed")), 140),
        F(merge(root(sx=1.1, sy=0.0, dy=0, opacity=0.0), eyes("closed"), st("shadow", sx=0.2, opacity=0)), 260, ease="in"),
    ]}
    a["Blink"] = {"frames": [
        F(eyes("half"), 50, tween=False),
        F(eyes("closed"), 90, tween=False),
        F(eyes("half"), 50, tween=False),
        F(None, 60, tween=False),
    ]}
    a["Acknowledge"] = {"frames": [
        F(merge(head(dy=6, sy=0.95), root(sy=0.97), eyes("happy")), 180),
        F(merge(head(dy=-2), eyes("happy")), 160),
        F(merge(head(dy=6, sy=0.95), root(sy=0.97), eyes("happy"), mouth("wide")), 180),
        F(None, 220),
    ]}
    a["Alert"] = {"frames": [
        F(merge(root(dy=2, sy=0.94), eyes("wide"), brows(dy=-3)), 110),
        F(merge(root(dy=-8, sy=1.05), eyes("wide"), brows(dy=-4), arms(40, -40), show("exclaim", sy=1.1), mouth("round")), 180, ease="out"),
        F(merge(root(dy=-8), eyes("wide"), brows(dy=-4), arms(35, -35), show("exclaim"), mouth("round")), 420, tween=False),
        F(merge(eyes("wide"), brows(dy=-2), st("exclaim", opacity=0)), 260),
        F(None, 200),
    ]}
    horn_up = up + 45
    a["Announce"] = {"frames": [
        F(merge(arms(r=horn_up + 40), show("horn", sx=0.6, sy=0.6)), 220),
        F(merge(arms(r=horn_up), show("horn"), head(rotate=-4), eyes("happy"), mouth("round")), 240),
        F(merge(arms(r=horn_up - 6), show("horn", sx=1.25, sy=1.15), head(rotate=-6), eyes("closed"), mouth("round"), root(sy=1.04)), 260),
        F(merge(arms(r=horn_up + 4), show("horn", sx=0.95), head(rotate=-3), eyes("happy"), mouth("round")), 200),
        F(merge(arms(r=horn_up - 6), show("horn", sx=1.25, sy=1.15), head(rotate=-6), eyes("closed"), mouth("round"), root(sy=1.04)), 260),
        F(merge(arms(r=horn_up + 50), st("horn", opacity=0, sx=0.6, sy=0.6)), 260),
        F(None, 200),
    ]}
    a["Confused"] = {"frames": [
        F(merge(head(rotate=10), brows(-12, 8), look(-2, -2), show("question", sy=0.6)), 240),
        F(merge(head(rotate=12), brows(-14, 10), look(-2, -2), arms(r=up + 25), show("question"), mouth("round")), 260),
        F(merge(head(rotate=8), brows(-14, 10), look(2, -2), arms(r=up + 35), show("question", rotate=10)), 220),
        F(merge(head(rotate=12), brows(-14, 10), look(-2, -2), arms(r=up + 25), show("question", rotate=-6)), 220),
        F(merge(head(rotate=6), st("question", opacity=0)), 300),
        F(None, 200),
    ]}
    a["Congratulate"] = {"frames": [
        F(merge(root(sy=0.92, dy=2), arms(70, -70), eyes("happy")), 160),
        F(merge(root(dy=-10, sy=1.05), arms(145, -145), eyes("happy"), mouth("wide"), show("confetti", dy=-6)), 220, ease="out"),
        F(merge(root(dy=0), arms(125, -125), eyes("happy"), mouth("wide"), show("confetti", dy=4)), 200, ease="in"),
        F(merge(root(dy=-8), arms(148, -148), eyes("happy"), mouth("wide"), show("confetti", dy=14)), 200, ease="out"),
        F(merge(root(dy=0), arms(125, -125), eyes("happy"), mouth("smile"), st("confetti", opacity=0, dy=26)), 260, ease="in"),
        F(None, 220),
    ]}

    def magic(name, big):
        # The big spell lands low in front, where the wand points; the small one above the head.
        at = {"dx": 14, "dy": 52} if big else {}
        spark_side = {"sparkles": dict(opacity=1, sx=1.3 if big else 1, sy=1.3 if big else 1, **at)}
        return {"frames": [
            F(merge(arms(r=-40), show("wand", sx=0.5, sy=0.5), look(2, 1)), 200),
            F(merge(arms(r=up + 10), show("wand"), eyes("wide"), brows(dy=-2), head(rotate=-4)), 260, ease="out"),
            F(merge(arms(r=up - 15), show("wand"), eyes("wide"), brows(dy=-2), head(rotate=4), root(dy=-2)), 200),
            F(merge(arms(r=up + 10), show("wand"), eyes("wide"), brows(dy=-2), head(rotate=-4)), 200),
            F(merge(arms(r=-45 if big else up + 40), show("wand"), eyes("happy"), mouth("wide"), root(rotate=4 if big else 0),
                    {"sparkles": dict(opacity=1, sx=0.4, sy=0.4, **at)}), 160, ease="in"),
            F(merge(arms(r=-45 if big else up + 40), show("wand"), eyes("happy"), mouth("wide"), root(rotate=4 if big else 0), spark_side), 260, ease="out"),
            F(merge(arms(r=-45 if big else up + 40), show("wand"), eyes("happy"), mouth("smile"),
                    {"sparkles": dict(opacity=0, sx=1.6, sy=1.6, rotate=25, **at)}), 380),
            F(merge(arms(r=-30), st("wand", opacity=0, sx=0.5, sy=0.5)), 240),
            F(None, 180),
        ]}
    a["DoMagic1"] = magic("DoMagic1", False)
    a["DoMagic2"] = magic("DoMagic2", True)
    a["Explain"] = {"frames": [
        F(merge(arms(55, -25), look(-1), mouth("open"), brows(dy=-1)), 240),
        F(merge(arms(30, -60), look(1), head(rotate=3), brows(dy=-1)), 260),
        F(merge(arms(60, -55), head(rotate=-2), eyes("happy"), mouth("smile")), 260),
        F(merge(arms(40, -40), mouth("smile")), 200),
        F(None, 220),
    ]}
    a["GestureLeft"] = {"frames": [
        F(merge(arms(l=45), look(-2), head(rotate=-3)), 160),
        F(merge(arms(l=96), look(-3), head(rotate=-6), root(rotate=-4), brows(dy=-1)), 220, ease="out"),
        F(merge(arms(l=88), look(-3), head(rotate=-6), root(rotate=-5, dx=-1), brows(dy=-1), mouth("smile")), 160),
        F(merge(arms(l=96), look(-3), head(rotate=-6), root(rotate=-4)), 600, tween=False),
        F(merge(arms(l=40), look(-1)), 240),
        F(None, 180),
    ]}
    a["GestureRight"] = {"frames": [
        F(merge(arms(r=-45), look(2), head(rotate=3)), 160),
        F(merge(arms(r=-96), look(3), head(rotate=6), root(rotate=4), brows(dy=-1)), 220, ease="out"),
        F(merge(arms(r=-88), look(3), head(rotate=6), root(rotate=5, dx=1), brows(dy=-1), mouth("smile")), 160),
        F(merge(arms(r=-96), look(3), head(rotate=6), root(rotate=4)), 600, tween=False),
        F(merge(arms(r=-40), look(1)), 240),
        F(None, 180),
    ]}
    a["GestureUp"] = {"frames": [
        F(merge(arms(r=-80), look(1, -2)), 160),
        F(merge(arms(r=up), look(1, -3), head(dy=-2), root(dy=-2, sy=1.03), brows(dy=-2)), 240, ease="out"),
        F(merge(arms(r=up - 8), look(1, -3), head(dy=-2), root(dy=-3, sy=1.04), brows(dy=-2), mouth("smile")), 160),
        F(merge(arms(r=up), look(1, -3), head(dy=-2), root(dy=-2, sy=1.03)), 600, tween=False),
        F(merge(arms(r=-60), look(0, -1)), 240),
        F(None, 180),
    ]}
    a["GestureDown"] = {"frames": [
        F(merge(arms(r=-50), look(1, 2)), 160),
        F(merge(arms(r=-22), st("armR", rotate=-22, sy=1.12), look(1, 3), head(dy=3), root(rotate=3, sy=0.97), brows(dy=1)), 240, ease="out"),
        F(merge(st("armR", rotate=-16, sy=1.15), look(1, 3), head(dy=4), root(rotate=4, sy=0.96), mouth("smile")), 160),
        F(merge(st("armR", rotate=-22, sy=1.12), look(1, 3), head(dy=3), root(rotate=3, sy=0.97)), 600, tween=False),
        F(merge(arms(r=-40), look(0, 1)), 240),
        F(None, 180),
    ]}
    a["GetAttention"] = {"frames": [
        F(merge(arms(120, -120), eyes("wide"), show("exclaim", sy=0.7)), 160),
        F(merge(arms(150, -150), root(dy=-6), eyes("wide"), mouth("open"), show("exclaim")), 150, ease="out"),
        F(merge(arms(118, -118), root(dy=0), eyes("wide"), mouth("wide"), show("exclaim", rotate=-8)), 150, ease="in"),
        F(merge(arms(150, -150), root(dy=-6), eyes("wide"), mouth("open"), show("exclaim", rotate=8)), 150, ease="out"),
        F(merge(arms(118, -118), root(dy=0), eyes("wide"), mouth("wide"), show("exclaim")), 150, ease="in"),
        F(merge(st("exclaim", opacity=0)), 280),
        F(None, 160),
    ]}
    a["Greet"] = {"frames": [
        F(merge(arms(r=-30), head(dy=5, sy=0.95), root(sy=0.94, dy=2), eyes("happy")), 260),
        F(merge(arms(r=-20), head(dy=6, sy=0.94), root(sy=0.92, dy=3), eyes("happy")), 300, tween=False),
        F(merge(arms(r=-125), eyes("happy"), mouth("smile"), head(rotate=4)), 260, ease="out"),
        F(merge(arms(r=-100), eyes("happy"), mouth("smile"), head(rotate=4)), 180),
        F(merge(arms(r=-135), eyes("happy"), mouth("smile"), head(rotate=4)), 180),
        F(None, 240),
    ]}
    a["Pleased"] = {"frames": [
        F(merge(eyes("happy"), mouth("smile"), root(sy=0.95), show("heart", sx=0.4, sy=0.4)), 180),
        F(merge(eyes("happy"), mouth("smile"), root(dy=-4, sy=1.04), arms(30, -30), show("heart", dy=-6)), 220, ease="out"),
        F(merge(eyes("happy"), mouth("smile"), root(dy=0), arms(20, -20), show("heart", dy=-12, sx=1.15, sy=1.15)), 220),
        F(merge(eyes("happy"), mouth("smile"), st("heart", opacity=0, dy=-20)), 360),
        F(None, 200),
    ]}
    hold_book = merge(arms(-38, 38), show("book"), look(0, 2), head(dy=1))
    a["Read"] = {"frames": [
        F(merge(arms(-20, 20), show("book", sx=0.3, sy=0.3, opacity=0.2)), 200),
        F(merge(hold_book, st("book", sx=1.1, sy=1.1)), 220, ease="out"),
        F(hold_book, 160),
        F(merge(hold_book, look(-2, 2)), 400),
        F(merge(hold_book, look(2, 2)), 500),
        F(merge(hold_book, eyes("half"), look(0, 3)), 200),
    ]}
    a["ReadReturn"] = {"frames": [
        F(merge(hold_book, eyes("half"), look(0, 3)), 1, tween=False),
        F(merge(hold_book, look(0, 0)), 180),
        F(merge(arms(-10, 10), st("book", opacity=0, sx=0.3, sy=0.3)), 260),
        F(None, 160),
    ]}
    sad = merge(brows(16, -16, 1), eyes("half"), mouth("frown"), head(dy=3), arms(-6, 6), look(0, 2))
    a["Sad"] = {"frames": [
        F(sad, 320),
        F(merge(sad, show("tear", sy=0.5)), 200),
        F(merge(sad, show("tear", dy=8)), 500, ease="in"),
        F(merge(sad, st("tear", opacity=0, dy=14), root(sy=0.97)), 300),
        F(merge(sad, root(sy=0.97)), 500, tween=False),
        F(None, 320),
    ]}
    a["Search"] = {"frames": [
        F(merge(arms(r=-60), show("glass", sx=0.5, sy=0.5)), 200),
        F(merge(arms(r=-115), show("glass"), look(3, 0), head(rotate=5), root(rotate=3)), 260),
        F(merge(arms(r=-100), show("glass"), look(3, 1), head(rotate=6), root(rotate=5, dx=2), brows(-6, 6)), 360),
        F(merge(arms(r=-135), show("glass"), look(2, -2), head(rotate=3), root(rotate=1), brows(-6, 6)), 360),
        F(merge(arms(r=-110), show("glass", sx=1.15, sy=1.15), look(3, 0), head(rotate=5), eyes("wide")), 300),
        F(merge(arms(r=-50), st("glass", opacity=0, sx=0.5, sy=0.5)), 240),
        F(None, 180),
    ]}
    a["Uncertain"] = {"frames": [
        F(merge(arms(50, -50), head(rotate=-6), brows(-10, 0, -1), mouth("frown"), look(-1, -1)), 220),
        F(merge(arms(62, -62), root(dy=-1), head(rotate=-8), brows(-12, 0, -2), mouth("round"), look(1, -1)), 200),
        F(merge(arms(40, -40), head(rotate=6), brows(0, 12, -1), mouth("frown"), look(-1, 0)), 220),
        F(merge(arms(60, -60), head(rotate=-6), brows(-12, 0, -2), mouth("round")), 200),
        F(None, 260),
    ]}
    a["Wave"] = {"frames": [
        F(merge(arms(r=-115), mouth("smile"), eyes("happy")), 200, ease="out"),
        F(merge(arms(r=-150), mouth("smile"), eyes("happy"), head(rotate=4)), 170),
        F(merge(arms(r=-118), mouth("smile"), eyes("happy"), head(rotate=2)), 170),
        F(merge(arms(r=-150), mouth("smile"), eyes("happy"), head(rotate=4)), 170),
        F(merge(arms(r=-118), mouth("smile"), eyes("happy"), head(rotate=2)), 170),
        F(None, 260),
    ]}
    writing = merge(arms(-30, 42), show("pad"), show("pen"), look(-2, 3), head(dy=2, rotate=-3))
    a["Write"] = {"frames": [
        F(merge(arms(-20, 20), show("pad", sx=0.4, sy=0.4), show("pen", sx=0.4, sy=0.4)), 200),
        F(writing, 220),
        F(merge(writing, st("armR", rotate=48), show("scribble", sx=0.5)), 160),
        F(merge(writing, st("armR", rotate=38), show("scribble", sx=0.75)), 160),
        F(merge(writing, st("armR", rotate=50), show("scribble", sx=1.0)), 160),
        F(merge(writing, st("armR", rotate=40), show("scribble")), 160),
        F(merge(writing, eyes("happy"), mouth("smile"), show("scribble"), look(0, 0)), 300),
        F(merge(arms(-10, 10), st("pad", opacity=0, sx=0.4, sy=0.4), st("pen", opacity=0), st("scribble", opacity=0)), 240),
        F(None, 160),
    ]}
    a["Surprised"] = {"frames": [
        F(merge(root(sy=0.9, dy=2), eyes("wide")), 100),
        F(merge(root(dy=-9, sy=1.06), eyes("wide"), brows(dy=-4), mouth("round"), arms(60, -60), show("exclaim")), 180, ease="out"),
        F(merge(root(dy=0), eyes("wide"), brows(dy=-4), mouth("round"), arms(45, -45), show("exclaim")), 180, ease="in"),
        F(merge(eyes("wide"), brows(dy=-3), mouth("round"), show("exclaim")), 400, tween=False),
        F(merge(st("exclaim", opacity=0)), 260),
        F(None, 160),
    ]}
    stern = merge(brows(-14, 14, 1), mouth("frown"))
    a["Decline"] = {"frames": [
        F(merge(stern, arms(r=-70), head(rotate=-8), look(-1)), 180),
        F(merge(stern, arms(r=-45), head(rotate=8), look(1)), 180),
        F(merge(stern, arms(r=-75), head(rotate=-8), look(-1)), 180),
        F(merge(stern, arms(r=-45), head(rotate=8), look(1)), 180),
        F(merge(stern, arms(r=-30)), 220),
        F(None, 200),
    ]}
    a["DontRecognize"] = {"frames": [
        F(merge(arms(r=up + 40), head(rotate=8), look(2, -1)), 240),
        F(merge(arms(r=up + 30), head(rotate=12), look(2, -2), brows(0, -10, -1), show("question", sy=0.6), mouth("round")), 240),
        F(merge(arms(r=up + 30), head(rotate=14), look(2, -2), brows(0, -10, -1), show("question")), 600, tween=False),
        F(merge(arms(r=-30), head(rotate=4), st("question", opacity=0), mouth("frown")), 280),
        F(None, 220),
    ]}
    a["Suggest"] = {"frames": [
        F(merge(look(-1, -2), brows(dy=-1), arms(r=-60)), 220),
        F(merge(arms(r=up + 20), eyes("wide"), brows(dy=-3), show("bulb", sx=0.4, sy=0.4), look(0, -2)), 200, ease="out"),
        F(merge(arms(r=up + 10), eyes("wide"), brows(dy=-3), show("bulb", sx=1.2, sy=1.2), mouth("open")), 160),
        F(merge(arms(r=up + 15), eyes("happy"), mouth("smile"), show("bulb")), 500, tween=False),
        F(merge(arms(r=-40), st("bulb", opacity=0, dy=-6)), 280),
        F(None, 200),
    ]}
    think = merge(arms(r=g["chin"]), look(-2, -3), head(rotate=-5), brows(-8, 4, -1))
    a["Think"] = {"frames": [
        F(think, 280),
        F(merge(think, show("dots")), 300, tween=False),
        F(merge(think, show("dots", variant="two"), look(2, -3)), 300, tween=False),
        F(merge(think, show("dots", variant="three"), look(-2, -3)), 700, tween=False),
        F(merge(think, show("dots", variant="three"), eyes("half")), 300, tween=False),
        F(merge(arms(r=-20), st("dots", opacity=0, variant="three"), look(0, 0)), 260),
        F(None, 200),
    ]}
    # Idle behaviour.
    a["IdleBlink"] = a["Blink"]
    a["IdleLookAround"] = {"frames": [
        F(merge(look(-3, 0), head(rotate=-4)), 260),
        F(merge(look(-3, 0), head(rotate=-4)), 700, tween=False),
        F(merge(look(3, -1), head(rotate=4)), 340),
        F(merge(look(3, -1), head(rotate=4)), 700, tween=False),
        F(None, 280),
    ]}
    a["IdleStretch"] = {"frames": [
        F(merge(arms(120, -120), root(sy=1.05, dy=-2), eyes("closed"), mouth("wide")), 600),
        F(merge(arms(130, -130), root(sy=1.07, dy=-3), eyes("closed"), mouth("wide")), 500, tween=False),
        F(merge(eyes("half")), 500),
        F(None, 200),
    ]}
    asleep = merge(eyes("closed"), head(dy=4, rotate=6), arms(-4, 4))
    # Slow breathing needs few frames: a low frame rate keeps a sleeping character cheap.
    a["IdleSleep"] = {"loop": True, "fps": 5, "frames": [
        F(merge(asleep, root(sy=0.97)), 700),
        F(merge(asleep, root(sy=1.0), show("zzz", sx=0.6, sy=0.6)), 900, sound="snore"),
        F(merge(asleep, root(sy=1.01), show("zzz", dy=-6)), 700),
        F(merge(asleep, root(sy=0.98), st("zzz", opacity=0, dy=-12)), 900),
    ]}
    return a


def idle():
    return {"variants": ["IdleBlink", "IdleBlink", "IdleLookAround", "IdleBlink", "IdleStretch"],
            "minIntervalMs": 4000, "maxIntervalMs": 9000, "sleep": "IdleSleep", "sleepAfterMs": 90000}


# ---------------------------------------------------------------------------------------
# Hoot, the owl.

def owl():
    brown, dark, light, belly = "#8d6e63", "#4e342e", "#d7ccc8", "#efebe9"
    ink = "#3e2723"
    g = {"tipR": (99, 108), "tipL": (29, 108), "headTop": (64, 18), "chest": (64, 92), "sparkle": (110, 58),
         "armUp": -163, "chin": 62}
    eyeL, eyeR, ey = 50, 78, 50

    def eye(cx, **kw):
        return [E(cx, ey, 13.5, 13.5, fill="#fff8e1", stroke="#a1887f", width=1.2), E(cx, ey, 9.5, 9.5, fill="#ffc107", stroke="#e0a000", width=0.8)]

    def eye_closed(cx):
        return [E(cx, ey, 13.5, 13.5, fill="#fff8e1", stroke="#a1887f", width=1.2),
                P(f"M{cx-10},{ey+1} Q{cx},{ey+7} {cx+10},{ey+1}", stroke=ink, width=2.2)]

    def eye_half(cx):
        return [E(cx, ey, 13.5, 13.5, fill="#fff8e1", stroke="#a1887f", width=1.2),
                E(cx, ey, 9.5, 9.5, fill="#ffc107", stroke="#e0a000", width=0.8),
                P(f"M{cx-12},{ey} A12,12 0 0 1 {cx+12},{ey} Z", fill=brown, stroke=dark, width=1)]

    def eye_happy(cx):
        return [E(cx, ey, 13.5, 13.5, fill="#fff8e1", stroke="#a1887f", width=1.2),
                P(f"M{cx-9},{ey+3} Q{cx},{ey-8} {cx+9},{ey+3}", stroke=ink, width=2.4)]

    def eye_wide(cx):
        return [E(cx, ey, 14.5, 14.5, fill="#fff8e1", stroke="#a1887f", width=1.2), E(cx, ey, 11, 11, fill="#ffca28", stroke="#e0a000", width=0.8)]

    beak = "#ff9800"
    bx, by = 64, 63
    parts = [
        part("shadow", None, (64, 121), -10, [E(64, 121, 30, 4.5, fill="#00000033")]),
        part("root", None, (64, 120), 0),
        part("armL", "body", (40, 70), 30, [
            P("M40,66 C26,72 22,94 28,112 C34,106 46,94 46,76 Z", fill=brown, stroke=dark, width=1.3),
            P("M31,96 q5,-2 9,-8 M30,104 q5,-3 9,-9", stroke=dark, width=0.9),
        ]),
        part("armR", "body", (88, 70), 30, [
            P("M88,66 C102,72 106,94 100,112 C94,106 82,94 82,76 Z", fill=brown, stroke=dark, width=1.3),
            P("M97,96 q-5,-2 -9,-8 M98,104 q-5,-3 -9,-9", stroke=dark, width=0.9),
        ]),
        part("feet", "root", (64, 116), 8, [
            P("M50,112 l-4,7 M54,113 l0,7 M58,112 l4,7", stroke="#f57c00", width=2.4),
            P("M70,112 l-4,7 M74,113 l0,7 M78,112 l4,7", stroke="#f57c00", width=2.4),
        ]),
        part("body", "root", (64, 116), 10, [
            E(64, 86, 31, 32, fill=brown, stroke=dark, width=1.5, gradient=[[40, 60], [90, 118], "#6d4c41"]),
            E(64, 92, 20, 23, fill=belly, stroke=light, width=1),
            P("M52,84 q3,3 6,0 q3,3 6,0 q3,3 6,0 M50,92 q3,3 6,0 q3,3 6,0 q3,3 6,0 q3,3 6,0 M52,100 q3,3 6,0 q3,3 6,0 q3,3 6,0 M56,108 q3,3 6,0 q3,3 6,0",
              stroke="#bcaaa4", width=1),
        ]),
        part("head", "body", (64, 70), 20, [
            P("M36,34 L32,12 L48,26 Z", fill=brown, stroke=dark, width=1.3),
            P("M92,34 L96,12 L80,26 Z", fill=brown, stroke=dark, width=1.3),
            E(64, 48, 35, 29, fill=brown, stroke=dark, width=1.5, gradient=[[40, 20], [90, 76], "#795548"]),
            E(50, 50, 16.5, 16.5, fill=light),
            E(78, 50, 16.5, 16.5, fill=light),
            # mortarboard: the wise owl's cap
            P("M40,22 L64,12 L88,22 L64,31 Z", fill="#263238", stroke="#000", width=1),
            R(54, 22, 20, 6, 1, fill="#263238"),
            P("M80,19 L84,30", stroke="#ffc107", width=1.4),
            E(84, 31, 1.8, 1.8, fill="#ffc107"),
        ]),
        part("eyeL", "head", (eyeL, ey), 22, eye(eyeL), {
            "closed": eye_closed(eyeL), "half": eye_half(eyeL), "happy": eye_happy(eyeL), "wide": eye_wide(eyeL)}),
        part("eyeR", "head", (eyeR, ey), 22, eye(eyeR), {
            "closed": eye_closed(eyeR), "half": eye_half(eyeR), "happy": eye_happy(eyeR), "wide": eye_wide(eyeR)}),
        part("pupilL", "head", (eyeL, ey), 23, [E(eyeL, ey, 5.2, 5.2, fill="#1b1b1b"), E(eyeL - 2, ey - 2, 1.6, 1.6, fill="#ffffff")],
             {"none": []}),
        part("pupilR", "head", (eyeR, ey), 23, [E(eyeR, ey, 5.2, 5.2, fill="#1b1b1b"), E(eyeR - 2, ey - 2, 1.6, 1.6, fill="#ffffff")],
             {"none": []}),
        part("browL", "head", (eyeL + 2, 34), 24, [P(f"M{eyeL-9},34 Q{eyeL},30 {eyeL+10},35", stroke=dark, width=2.6)]),
        part("browR", "head", (eyeR - 2, 34), 24, [P(f"M{eyeR+9},34 Q{eyeR},30 {eyeR-10},35", stroke=dark, width=2.6)]),
        part("tear", "head", (eyeL - 8, 60), 25, [P(f"M{eyeL-8},58 q-3,5 0,7 q3,-2 0,-7 Z", fill="#81d4fa", stroke="#4fc3f7", width=0.6)], hidden=True),
        part("mouth", "head", (bx, by), 26, [
            P(f"M{bx-5},{by-3} L{bx+5},{by-3} L{bx},{by+6} Z", fill=beak, stroke="#e65100", width=1),
        ], {
            "open": [P(f"M{bx-5},{by-4} L{bx+5},{by-4} L{bx},{by+2} Z", fill=beak, stroke="#e65100", width=1),
                     P(f"M{bx-4},{by+2} L{bx+4},{by+2} L{bx},{by+8} Z", fill="#ffb74d", stroke="#e65100", width=1),
                     P(f"M{bx-3},{by+1} L{bx+3},{by+1} L{bx},{by+3} Z", fill="#8d3a2b")],
            "wide": [P(f"M{bx-6},{by-5} L{bx+6},{by-5} L{bx},{by+1} Z", fill=beak, stroke="#e65100", width=1),
                     P(f"M{bx-5},{by+4} L{bx+5},{by+4} L{bx},{by+11} Z", fill="#ffb74d", stroke="#e65100", width=1),
                     P(f"M{bx-5},{by} L{bx+5},{by} L{bx+4},{by+4} L{bx-4},{by+4} Z", fill="#8d3a2b")],
            "round": [P(f"M{bx-4},{by-4} L{bx+4},{by-4} L{bx},{by+1} Z", fill=beak, stroke="#e65100", width=1),
                      E(bx, by + 3, 2.6, 2.6, fill="#8d3a2b"),
                      P(f"M{bx-3},{by+5} L{bx+3},{by+5} L{bx},{by+9} Z", fill="#ffb74d", stroke="#e65100", width=1)],
            "teeth": [P(f"M{bx-5},{by-3} L{bx+5},{by-3} L{bx},{by+4} Z", fill=beak, stroke="#e65100", width=1),
                      P(f"M{bx-4},{by+3} L{bx+4},{by+3} L{bx},{by+7} Z", fill="#ffb74d", stroke="#e65100", width=1),
                      P(f"M{bx-3},{by+2.5} h6", stroke="#ffffff", width=1.2)],
            "smile": [P(f"M{bx-5},{by-3} L{bx+5},{by-3} L{bx},{by+6} Z", fill=beak, stroke="#e65100", width=1),
                      P(f"M{bx-12},{by+2} Q{bx},{by+10} {bx+12},{by+2}", stroke=dark, width=1.4)],
            "frown": [P(f"M{bx-5},{by-3} L{bx+5},{by-3} L{bx},{by+6} Z", fill=beak, stroke="#e65100", width=1),
                      P(f"M{bx-10},{by+10} Q{bx},{by+4} {bx+10},{by+10}", stroke=dark, width=1.4)],
        }),
    ]
    parts += props(g)
    return {
        "format": "olm-chimewise-character", "version": 1,
        "name": "Hoot",
        "description": "A wise old owl in a scholar's cap, fond of books and bad puns.",
        "width": W, "height": H, "origin": ORIGIN, "fps": 20,
        # flite's slt for the old scholar, at her own pitch (lower sounds gruffer and is heard
        # less well) and her own pace (slower or quicker, flite stretches or squeezes every sound
        # alike and the words blur), with her resonances 9 % lower: a fuller voice, still far
        # above Bolt's, and far better understood (bench/voice).
        "voice": {"name": "flite:slt", "rate": 185, "pitch": 50, "formants": 91},
        "parts": parts,
        "mouth": {"part": "mouth", "shapes": {"closed": "", "open": "open", "wide": "wide", "round": "round", "teeth": "teeth"}},
        "sounds": {"snore": {"durationMs": 1500, "layers": [
            {"wave": "noise", "lowpassHz": 420, "gain": 1.6, "tremoloHz": 28, "tremoloDepth": 0.8,
             "envelope": [[0, 0], [0.35, 1], [0.65, 0.8], [1, 0]]},
            {"wave": "sine", "freq": [95, 80], "gain": 0.18, "envelope": [[0, 0], [0.4, 1], [1, 0]]}]}},
        "poses": {},
        "animations": animations(g),
        "idle": idle(),
    }


# ---------------------------------------------------------------------------------------
# Bolt, the small robot.

def robot():
    steel, dark, teal, glow = "#b0bec5", "#37474f", "#26a69a", "#80deea"
    g = {"tipR": (100, 104), "tipL": (28, 104), "headTop": (64, 14), "chest": (64, 88), "sparkle": (112, 56),
         "armUp": -163, "chin": 40}
    ey = 44
    eyeL, eyeR = 52, 76

    def eye(cx):
        return [R(cx - 7, ey - 8, 14, 16, 4, fill=glow, stroke="#00acc1", width=1)]

    parts = [
        part("shadow", None, (64, 122), -10, [E(64, 122, 28, 4, fill="#00000033")]),
        part("root", None, (64, 120), 0),
        part("feet", "root", (64, 114), 8, [
            R(40, 108, 48, 12, 6, fill=dark, stroke="#263238", width=1),
            E(47, 114, 4, 4, fill="#90a4ae"), E(64, 114, 4, 4, fill="#90a4ae"), E(81, 114, 4, 4, fill="#90a4ae"),
        ]),
        part("armL", "body", (40, 70), 30, [
            R(35, 68, 10, 32, 5, fill=steel, stroke=dark, width=1.3),
            P("M33,82 h14 M33,88 h14", stroke="#78909c", width=1),
            P("M31,98 C24,104 26,112 32,112 M45,98 C52,104 48,112 42,110", stroke=dark, width=3),
        ]),
        part("armR", "body", (88, 70), 30, [
            R(83, 68, 10, 32, 5, fill=steel, stroke=dark, width=1.3),
            P("M81,82 h14 M81,88 h14", stroke="#78909c", width=1),
            P("M97,98 C104,104 102,112 96,112 M83,98 C76,104 80,112 86,110", stroke=dark, width=3),
        ]),
        part("body", "root", (64, 112), 10, [
            R(40, 64, 48, 46, 8, fill=teal, stroke="#00695c", width=1.6, gradient=[[40, 64], [88, 110], "#00897b"]),
            R(50, 74, 28, 20, 3, fill="#e0f2f1", stroke="#00695c", width=1),
            E(56, 84, 3, 3, fill="#ef5350"), E(64, 84, 3, 3, fill="#ffca28"), E(72, 84, 3, 3, fill="#66bb6a"),
            P("M50,100 h28", stroke="#004d40", width=1.2),
        ]),
        part("head", "body", (64, 66), 20, [
            P("M64,18 L64,8", stroke=dark, width=2),
            E(64, 7, 4, 4, fill="#ff7043", stroke="#bf360c", width=1),
            R(30, 18, 68, 48, 12, fill=steel, stroke=dark, width=1.6, gradient=[[30, 18], [98, 66], "#90a4ae"]),
            R(37, 27, 54, 32, 7, fill="#263238", stroke="#102027", width=1),
            R(24, 34, 7, 16, 2, fill="#78909c", stroke=dark, width=1),
            R(97, 34, 7, 16, 2, fill="#78909c", stroke=dark, width=1),
        ]),
        part("eyeL", "head", (eyeL, ey), 22, eye(eyeL), {
            "closed": [P(f"M{eyeL-7},{ey+2} h14", stroke=glow, width=2.6)],
            "half": [R(eyeL - 7, ey - 1, 14, 8, 3, fill=glow, stroke="#00acc1", width=1)],
            "happy": [P(f"M{eyeL-7},{ey+4} L{eyeL},{ey-3} L{eyeL+7},{ey+4}", stroke=glow, width=2.6)],
            "wide": [R(eyeL - 8, ey - 10, 16, 19, 5, fill="#e0f7fa", stroke="#00acc1", width=1)]}),
        part("eyeR", "head", (eyeR, ey), 22, eye(eyeR), {
            "closed": [P(f"M{eyeR-7},{ey+2} h14", stroke=glow, width=2.6)],
            "half": [R(eyeR - 7, ey - 1, 14, 8, 3, fill=glow, stroke="#00acc1", width=1)],
            "happy": [P(f"M{eyeR-7},{ey+4} L{eyeR},{ey-3} L{eyeR+7},{ey+4}", stroke=glow, width=2.6)],
            "wide": [R(eyeR - 8, ey - 10, 16, 19, 5, fill="#e0f7fa", stroke="#00acc1", width=1)]}),
        part("pupilL", "head", (eyeL, ey), 23, [R(eyeL - 2.5, ey - 3, 5, 6, 1.5, fill="#006064")], {"none": []}),
        part("pupilR", "head", (eyeR, ey), 23, [R(eyeR - 2.5, ey - 3, 5, 6, 1.5, fill="#006064")], {"none": []}),
        part("browL", "head", (eyeL, 31), 24, [R(eyeL - 7, 30, 14, 2.4, 1, fill=glow)]),
        part("browR", "head", (eyeR, 31), 24, [R(eyeR - 7, 30, 14, 2.4, 1, fill=glow)]),
        part("tear", "head", (eyeL - 6, 56), 25, [P(f"M{eyeL-6},52 q-3,5 0,7 q3,-2 0,-7 Z", fill="#4fc3f7", stroke="#0288d1", width=0.6)], hidden=True),
        part("mouth", "head", (64, 54), 26, [R(56, 53, 16, 2.4, 1, fill=glow)], {
            "open": [R(57, 51, 14, 6, 2.5, fill=glow), R(59, 53, 10, 2, 1, fill="#00838f")],
            "wide": [R(54, 50, 20, 8, 3, fill=glow), R(57, 52.5, 14, 3, 1.2, fill="#00838f")],
            "round": [E(64, 54, 4, 4, fill=glow), E(64, 54, 2, 2, fill="#00838f")],
            "teeth": [R(56, 51.5, 16, 5, 1.5, fill=glow), P("M58,54 h12 M61,51.5 v5 M64,51.5 v5 M67,51.5 v5", stroke="#00838f", width=0.8)],
            "smile": [P("M54,51 Q64,59 74,51", stroke=glow, width=2.4)],
            "frown": [P("M55,56 Q64,50 73,56", stroke=glow, width=2.4)],
        }),
    ]
    parts += props(g)
    return {
        "format": "olm-chimewise-character", "version": 1,
        "name": "Bolt",
        "description": "A small, eager robot on treads who keeps your schedule in its memory banks.",
        "width": W, "height": H, "origin": ORIGIN, "fps": 20,
        # flite's rms: a plain male voice for the robot, at its own pitch.
        "voice": {"name": "flite:rms", "rate": 175, "pitch": 50},
        "parts": parts,
        "mouth": {"part": "mouth", "shapes": {"closed": "", "open": "open", "wide": "wide", "round": "round", "teeth": "teeth"}},
        "sounds": {"snore": {"durationMs": 1400, "layers": [
            {"wave": "square", "freq": [180, 110], "lowpassHz": 900, "gain": 0.35, "tremoloHz": 18, "tremoloDepth": 0.7,
             "envelope": [[0, 0], [0.3, 1], [0.7, 0.7], [1, 0]]},
            {"wave": "noise", "lowpassHz": 300, "gain": 0.8, "envelope": [[0, 0], [0.4, 1], [1, 0]]}]}},
        "poses": {},
        "animations": animations(g),
        "idle": idle(),
    }


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for fname, data in (("Hoot.ochar", owl()), ("Bolt.ochar", robot())):
        with open(os.path.join(outdir, fname), "w", encoding="utf-8") as f:
            json.dump(data, f, indent=1)
            f.write("\n")


if __name__ == "__main__":
    main()
