#!/usr/bin/env python3
"""Creates the demo library: a few hundred real files (photos, documents, music) of several types,
sizes and dates under one folder of a Wine prefix's drive C, and the search stand-in's index that
records ratings, keywords and people for them, as Windows Search would after the suite tagged them.

Usage: make_library.py <drive_c folder> <index file> [--photos-as-jpeg]

The library goes to "C:\\Demo library" (Photos, Documents, Music). Everything is derived from a fixed
seed, so two runs make the same library; file times are relative to now, so that each "Recent files"
search always finds something. Prints one summary line per kind and writes, beside the index,
"library-summary.json": the file names each demo search must find (the demo's check compares them
with what the namespace shows).
"""

import datetime
import json
import math
import os
import random
import shutil
import struct
import subprocess
import sys
import wave
import zipfile
import zlib

LIBRARY = "Demo library"
# The default tags of "All Tags.json" and the people the demo's "All People.json" names.
TAGS = ["Favourites", "Family", "Friends", "Travel", "Work", "To sort"]
PEOPLE = ["Ann Lee", "Ben Okafor", "Chloé Martin", "Dario Rossi"]
# System.Rating values the suite writes for one to five stars; None is unrated.
STAR_VALUES = {None: None, 1: 1, 2: 25, 3: 50, 4: 75, 5: 99}

PLACES = ["Lisbon harbour", "Alpine lake", "Garden party", "Beach walk", "Old town", "Birthday cake",
          "Forest trail", "City lights", "Harbour sunset", "Mountain hut", "River picnic", "Snow day"]
DOCUMENTS = [
    ("Invoice {n:03}", ".pdf", "PDF Document", ["Work"]),
    ("Meeting notes {d}", ".docx", "Microsoft Word Document", ["Work"]),
    ("Budget {y}-{m:02}", ".csv", "Microsoft Excel Comma Separated Values File", ["Work", "To sort"]),
    ("Trip plan {place} {y}", ".txt", "Text Document", ["Travel"]),
    ("Letter to {person} {d}", ".rtf", "Rich Text Document", ["Family", "Friends"]),
    ("Recipe {n:02}", ".txt", "Text Document", ["Family", "Favourites"]),
]
TUNES = ["Morning tune", "Evening waltz", "Rain on the roof", "Harbour bells", "Slow river", "Night train"]


def png_bytes(width, height, sky_top, sky_bottom, ground, sun, sun_x, sun_r):
    """A landscape-like picture: a sky gradient, a sun and the ground, as an 8-bit RGB PNG."""
    horizon = height * 2 // 3
    rows = []
    for y in range(height):
        if y < horizon:
            t = y / max(1, horizon - 1)
            colour = bytes(int(a + (b - a) * t) for a, b in zip(sky_top, sky_bottom))
        else:
            shade = 1.0 - 0.4 * (y - horizon) / max(1, height - horizon)
            colour = bytes(int(c * shade) for c in ground)
        row = bytearray(colour * width)
        dy = y - horizon // 2
        if abs(dy) < sun_r:
            half = int(math.sqrt(sun_r * sun_r - dy * dy))
            x0, x1 = max(0, sun_x - half), min(width, sun_x + half)
            if x1 > x0:
                row[3 * x0:3 * x1] = bytes(sun) * (x1 - x0)
        rows.append(b"\x00" + bytes(row))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


def pdf_bytes(lines):
    """A one-page PDF showing the lines in Helvetica."""
    text = "BT /F1 12 Tf 72 720 Td 16 TL " + " ".join(
        "(" + line.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ") '" for line in lines) + " ET"
    objects = [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        b"/Resources << /Font << /F1 5 0 R >> >> >>",
        b"<< /Length %d >>\nstream\n" % len(text.encode("latin-1", "replace")) + text.encode("latin-1", "replace")
        + b"\nendstream",
        b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    ]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for number, body in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % number + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % offset for offset in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def write_docx(path, paragraphs):
    """A minimal Word document: content types, the package relationship and the body."""
    body = "".join("<w:p><w:r><w:t xml:space=\"preserve\">%s</w:t></w:r></w:p>" % escape_xml(p) for p in paragraphs)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
        package.writestr("[Content_Types].xml",
                         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                         '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                         '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                         '<Default Extension="xml" ContentType="application/xml"/>'
                         '<Override PartName="/word/document.xml" ContentType="application/'
                         'vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/></Types>')
        package.writestr("_rels/.rels",
                         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                         '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
                         '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
                         'relationships/officeDocument" Target="word/document.xml"/></Relationships>')
        package.writestr("word/document.xml",
                         '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
                         '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
                         "<w:body>%s</w:body></w:document>" % body)


def escape_xml(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def write_wav(path, frequency, seconds):
    rate = 8000
    period = [int(128 + 90 * math.sin(2 * math.pi * i * frequency / rate)) for i in range(rate)]
    with wave.open(path, "wb") as sound:
        sound.setnchannels(1)
        sound.setsampwidth(1)
        sound.setframerate(rate)
        sound.writeframes(bytes(period) * seconds)


def midi_bytes(notes):
    track = bytearray()
    for note in notes:
        track += bytes([0x00, 0x90, note, 0x60, 0x60, 0x80, note, 0x40])
    track += b"\x00\xff\x2f\x00"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(track)) + bytes(track)


class library:
    def __init__(self, drive_c, now):
        self.drive_c = drive_c
        self.now = now
        self.random = random.Random(14)
        self.items = []
        self.counts = {}
        # When each file was last changed (its own time; the index leaves that date to the file).
        self.modified = {}

    def file_time(self, index):
        """Recent files for the first few of each kind (three in the last day, three more in the last week,
        four more in the last thirty days, none near those bounds), then spread over three years."""
        if index < 3:
            age = datetime.timedelta(hours=2 + 5 * index)
        elif index < 6:
            age = datetime.timedelta(days=index - 0.5)
        elif index < 10:
            age = datetime.timedelta(days=9 + 5 * (index - 6))
        else:
            age = datetime.timedelta(days=self.random.randint(40, 3 * 365), minutes=self.random.randint(0, 1439))
        return self.now - age

    def add(self, relative, kind, type_text, keywords, people, stars, contents, when):
        unix_path = os.path.join(self.drive_c, LIBRARY, *relative.split("\\"))
        stamp = when.timestamp()
        os.utime(unix_path, (stamp, stamp))
        item = {"path": "C:\\%s\\%s" % (LIBRARY, relative), "type": type_text}
        self.modified[item["path"]] = when
        if keywords:
            item["keywords"] = sorted(set(keywords))
        if people:
            item["people"] = people
        if STAR_VALUES[stars] is not None:
            item["rating"] = STAR_VALUES[stars]
        if contents:
            item["contents"] = contents
        item["date_created"] = (when - datetime.timedelta(days=1)).astimezone(datetime.timezone.utc).strftime(
            "%Y-%m-%d %H:%M:%S")
        self.items.append(item)
        self.counts[kind] = self.counts.get(kind, 0) + 1

    def stars(self):
        return self.random.choices([None, 1, 2, 3, 4, 5], weights=[30, 8, 10, 17, 20, 15])[0]

    def folder(self, relative):
        os.makedirs(os.path.join(self.drive_c, LIBRARY, *relative.split("\\")), exist_ok=True)

    def photos(self, count, as_jpeg):
        sizes = [(320, 240), (480, 320), (640, 480), (800, 600), (240, 320)]
        made = []
        for i in range(count):
            when = self.file_time(i)
            place = PLACES[i % len(PLACES)]
            folder = "Photos\\%d" % when.year
            self.folder(folder)
            name = "%s %02d" % (place, i // len(PLACES) + 1)
            width, height = sizes[self.random.randrange(len(sizes))]
            hue = self.random.random()
            sky_top = (int(40 + 60 * hue), int(90 + 80 * hue), 200)
            sky_bottom = (200, int(170 + 60 * hue), int(140 + 80 * (1 - hue)))
            ground = (int(60 + 100 * (1 - hue)), int(110 + 60 * hue), 60)
            png = png_bytes(width, height, sky_top, sky_bottom, ground, (250, 220, 90),
                            self.random.randrange(width // 5, width * 4 // 5), height // 10 + 6)
            unix = os.path.join(self.drive_c, LIBRARY, *folder.split("\\"), name + ".png")
            with open(unix, "wb") as picture:
                picture.write(png)
            keywords = self.random.sample(["Family", "Friends", "Travel", "Favourites"], self.random.randint(0, 2))
            if "Beach" in place or "Lisbon" in place or "Alpine" in place or "Mountain" in place:
                keywords.append("Travel")
            people = self.random.sample(PEOPLE, self.random.choice([0, 0, 1, 1, 2]))
            # Two photos in three become JPEG images; the rest stay PNG.
            made.append((folder, name, as_jpeg and i % 3 != 2, keywords, people, self.stars(), when))
        jpegs = [os.path.join(self.drive_c, LIBRARY, *f.split("\\"), n + ".png") for f, n, j, *_ in made if j]
        if jpegs:
            # One ImageMagick run for all of them; mogrify writes the .jpg beside each .png.
            subprocess.run(["mogrify", "-format", "jpg", "-quality", "85"] + jpegs, check=True)
            for png in jpegs:
                os.remove(png)
        for folder, name, jpeg, keywords, people, stars, when in made:
            extension, type_text = (".jpg", "JPEG image") if jpeg else (".png", "PNG image")
            self.add(folder + "\\" + name + extension, "photos", type_text, keywords, people, stars, None, when)

    def documents(self, count):
        self.folder("Documents\\Work")
        self.folder("Documents\\Home")
        for i in range(count):
            when = self.file_time(i)
            pattern, extension, type_text, keywords = DOCUMENTS[i % len(DOCUMENTS)]
            name = pattern.format(n=i + 1, d=when.strftime("%Y-%m-%d"), y=when.year, m=when.month,
                                  place=PLACES[i % len(PLACES)].split()[0], person=PEOPLE[i % len(PEOPLE)].split()[0])
            folder = "Documents\\Work" if "Work" in keywords else "Documents\\Home"
            relative = folder + "\\" + name + extension
            unix = os.path.join(self.drive_c, LIBRARY, *relative.split("\\"))
            copy = 1
            while os.path.exists(unix):
                copy += 1
                relative = folder + "\\%s (%d)%s" % (name, copy, extension)
                unix = os.path.join(self.drive_c, LIBRARY, *relative.split("\\"))
            lines = ["%s" % name, "Written %s." % when.strftime("%d %B %Y")] + [
                "Line %d of the %s, about %s." % (n + 1, type_text.lower(), self.random.choice(PLACES).lower())
                for n in range(self.random.randint(3, 40))]
            if extension == ".pdf":
                data = pdf_bytes(lines)
            elif extension == ".csv":
                data = ("Item;Amount\n" + "".join("%s;%d\n" % (line[:20], self.random.randint(5, 900))
                                                  for line in lines)).encode()
            elif extension == ".rtf":
                data = ("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\\f0\\fs24 "
                        + "\\par ".join(lines) + "}").encode("latin-1", "replace")
            elif extension == ".docx":
                write_docx(unix, lines)
                data = None
            else:
                data = "\r\n".join(lines).encode()
            if data is not None:
                with open(unix, "wb") as document:
                    document.write(data)
            tags = list(keywords[:self.random.randint(0, len(keywords))])
            self.add(relative, "documents", type_text, tags, [], self.stars(), " ".join(lines[:3]), when)

    def music(self, count):
        for i in range(count):
            when = self.file_time(i)
            album = "Music\\Album %d" % (i % 4 + 1)
            self.folder(album)
            tune = TUNES[i % len(TUNES)]
            if i % 2 == 0:
                relative = album + "\\%02d - %s.wav" % (i + 1, tune)
                write_wav(os.path.join(self.drive_c, LIBRARY, *relative.split("\\")), 220 + 20 * i,
                          self.random.randint(1, 6))
                type_text = "Wave Sound"
            else:
                relative = album + "\\%02d - %s.mid" % (i + 1, tune)
                with open(os.path.join(self.drive_c, LIBRARY, *relative.split("\\")), "wb") as song:
                    song.write(midi_bytes([60 + (n * 7 + i) % 24 for n in range(8 + i % 16)]))
                type_text = "MIDI Sequence"
            keywords = self.random.sample(["Favourites", "Family", "To sort"], self.random.randint(0, 1))
            self.add(relative, "music", type_text, keywords, [], self.stars(), None, when)


def main():
    arguments = [a for a in sys.argv[1:] if not a.startswith("--")]
    if len(arguments) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    drive_c, index_file = arguments
    target = os.path.join(drive_c, LIBRARY)
    shutil.rmtree(target, ignore_errors=True)
    lib = library(drive_c, datetime.datetime.now().astimezone())
    lib.photos(150, "--photos-as-jpeg" in sys.argv)
    lib.documents(96)
    lib.music(54)

    with open(index_file, "w", encoding="utf-8") as index:
        json.dump({"items": lib.items}, index, ensure_ascii=False, indent=1)

    def changed_within(item, **age):
        return lib.modified[item["path"]] >= lib.now - datetime.timedelta(**age)

    def names(test):
        return sorted(item["path"].rsplit("\\", 1)[1] for item in lib.items if test(item))

    summary = {
        "files": len(lib.items),
        "people": PEOPLE,
        "searches": {
            "Ratings\\★★★★": names(lambda item: 63 <= item.get("rating", 0) <= 87),
            "Tags\\Travel": names(lambda item: "Travel" in item.get("keywords", [])),
            "Recent files\\Last 24 hours": names(lambda item: changed_within(item, hours=24)),
            "Recent files\\Last 7 days": names(lambda item: changed_within(item, days=7)),
            "Recent files\\Last 30 days": names(lambda item: changed_within(item, days=30)),
        },
        "library": "C:\\" + LIBRARY,
    }
    with open(os.path.join(os.path.dirname(os.path.abspath(index_file)), "library-summary.json"), "w",
              encoding="utf-8") as out:
        json.dump(summary, out, ensure_ascii=False, indent=1)
    total_bytes = sum(os.path.getsize(os.path.join(root, f)) for root, _, files in os.walk(target) for f in files)
    print("library: %d files (%s) in C:\\%s, %.1f MB; %d rated four stars, %d tagged Travel; changed in the last "
          "day, week and thirty days: %s" % (
              len(lib.items), ", ".join("%d %s" % (n, kind) for kind, n in lib.counts.items()), LIBRARY,
              total_bytes / 1e6, len(summary["searches"]["Ratings\\★★★★"]), len(summary["searches"]["Tags\\Travel"]),
              ", ".join(str(len(summary["searches"]["Recent files\\" + s])) for s in
                        ("Last 24 hours", "Last 7 days", "Last 30 days"))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
