#!/usr/bin/env python3
"""Differential test of Quaymark's property-list codec against Python's plistlib.

Random property lists, made and written by plistlib in both formats, are read and written
back by the codec (through the plist-round-trip tool, one process for all files); plistlib
must read the codec's file as the same value, type for type (a bool is no int, a UID no int)
and key order included. A corpus of malformed files, XML and binary, must each be refused.

Usage: plist_differential.py TOOL [COUNT]. QUAYMARK_TEST_SEED replays a run; the seed is
printed first. Exit status 0 when every check holds.
"""

import datetime
import math
import os
import plistlib
import random
import struct
import subprocess
import sys
import tempfile

MAX_DEPTH = 1024
INT64_MIN, UINT64_MAX = -2**63, 2**64 - 1
REFERENCE = datetime.datetime(2001, 1, 1)
# Code points plistlib writes in XML and XML readers take back.
XML_RANGES = [(0x9, 0xA), (0x20, 0x7F), (0x20, 0xD7FF), (0xE000, 0xFFFD), (0x10000, 0x10FFFF)]
ANY_RANGES = [(0x0, 0x7F), (0x0, 0xD7FF), (0xE000, 0x10FFFF)]
PRINTABLE = [chr(c) for c in range(0x20, 0x7F)]


class Generator:
    def __init__(self, rng, fmt):
        self.rng = rng
        self.binary = fmt == plistlib.FMT_BINARY

    def text(self):
        r = self.rng
        length = r.choice([0, 1, 3, 10, 40])
        flavour = r.random()
        if flavour < 0.4:
            return "".join(r.choices(PRINTABLE, k=length))
        ranges = ANY_RANGES if self.binary else XML_RANGES
        chars = [chr(r.randint(*r.choice(ranges))) for _ in range(length)]
        if self.binary and flavour < 0.6 and length:
            chars[r.randrange(length)] = "\0"
        return "".join(chars)

    def date(self):
        r = self.rng
        edge = r.random()
        if edge < 0.1:
            day = datetime.datetime(1, 1, 1)
        elif edge < 0.2:
            day = datetime.datetime(9999, 12, 31, 23, 59, 59)
        else:
            day = datetime.datetime(1, 1, 1) + datetime.timedelta(
                seconds=r.randint(0, 315537897599))
        if self.binary and r.random() < 0.5:
            day = day.replace(microsecond=r.randint(0, 999999))
        return day

    def integer(self):
        r = self.rng
        return r.choice([0, 1, -1, 255, 256, 2**31, 2**32, 2**63 - 1, 2**63, INT64_MIN,
                         UINT64_MAX, r.randint(INT64_MIN, UINT64_MAX), r.randint(-1000, 1000),
                         r.randint(0, 2**16), r.randint(2**63, UINT64_MAX)])

    def real(self):
        r = self.rng
        return r.choice([0.0, -0.0, math.inf, -math.inf, math.nan, 5e-324, 1.7976931348623157e308,
                         0.1, r.uniform(-1e6, 1e6),
                         struct.unpack(">d", r.getrandbits(64).to_bytes(8, "big"))[0]])

    def data(self):
        r = self.rng
        size = r.choice([0, 1, 2, 3, 14, 15, 16, 100, 1000, 70000 if r.random() < 0.02 else 5])
        return r.randbytes(size)

    def scalar(self):
        kinds = [self.text, self.integer, self.real, self.date, self.data,
                 lambda: self.rng.random() < 0.5]
        if self.binary:
            kinds.append(lambda: plistlib.UID(self.integer() % 2**64))
        return self.rng.choice(kinds)()

    def value(self, depth, budget):
        r = self.rng
        if depth >= 6 or budget[0] <= 0 or r.random() < 0.55:
            budget[0] -= 1
            return self.scalar()
        size = r.choice([0, 1, 2, 3, 5, 15, 16])
        if r.random() < 0.5:
            return [self.value(depth + 1, budget) for _ in range(size)]
        return {self.text(): self.value(depth + 1, budget) for _ in range(size)}

    def sample(self):
        r = self.rng
        if r.random() < 0.01:
            # As deep as the codec promises to go, arrays and dictionaries mixed.
            value = self.scalar()
            for level in range(r.randint(MAX_DEPTH - 2, MAX_DEPTH)):
                value = [value] if r.random() < 0.5 else {self.text(): value}
            return value
        return self.value(0, [40])


def same(a, b):
    """Equal in value and type, dictionaries in the same order, NaN equal to NaN."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, float):
        return struct.pack(">d", a) == struct.pack(">d", b) or (math.isnan(a) and math.isnan(b))
    return a == b


def binary_file(objects, top=0, offset_size=None, ref_size=1, count=None, table_at=None,
                offsets=None):
    """A binary property list from raw object bytes, with a trailer one can spoil."""
    body, places = b"bplist00", []
    for obj in objects:
        places.append(len(body))
        body += obj
    table = len(body) if table_at is None else table_at
    size = (len(body).bit_length() + 7) // 8 if offset_size is None else offset_size
    for offset in offsets or places:
        body += offset.to_bytes(max(size, 1), "big")
    return body + struct.pack(">6xBBQQQ", size, ref_size,
                              len(objects) if count is None else count, top, table)


def duplicate_key_files():
    """Dictionaries that give a key twice, small and large (the codec reads the two apart):
    plistlib keeps the last value at the first place, and so must the codec."""
    files = []
    for size in (3, 40):
        entries = "".join("<key>k%d</key><integer>%d</integer>" % (i, i) for i in range(size))
        files.append(("<plist><dict>%s<key>k1</key><string>last</string></dict></plist>"
                      % entries).encode())
        count = size + 1
        head = bytes([0xD0 | count]) if count < 15 else bytes([0xDF, 0x10, count])
        keys = [1 + i for i in range(size)] + [2]
        values = [1 + size + i for i in range(size)] + [1 + 2 * size]
        objects = ([head + bytes(keys + values)]
                   + [bytes([0x50 | len(b"k%d" % i)]) + b"k%d" % i for i in range(size)]
                   + [b"\x10" + bytes([i]) for i in range(size)] + [b"\x54last"])
        files.append(binary_file(objects))
    return files


def malformed_corpus():
    """Name and bytes of files that are no whole property list the codec can hold."""
    corpus = []
    good = plistlib.dumps({"k": [1, "two", 3.0, b"four"]}, fmt=plistlib.FMT_BINARY)
    for cut in (0, 8, 9, len(good) // 2, len(good) - 33, len(good) - 1):
        corpus.append(("binary cut to %d" % cut, good[:cut]))
    corpus.append(("binary with bytes after the trailer", good + b"\0"))
    corpus.append(("other binary version", b"bplist01" + good[8:]))
    # One element: an array holding a reference to the object `ref`.
    string_a = b"\x51a"
    cases = {
        "offset size 0": binary_file([b"\x08"], offset_size=0),
        "offset size 9": binary_file([b"\x08"], offset_size=9),
        "ref size 0": binary_file([b"\xa1\x01", b"\x08"], ref_size=0),
        "no objects": binary_file([b"\x08"], count=0),
        "more objects than offsets": binary_file([b"\x08"], count=2),
        "top object beyond the count": binary_file([b"\x08"], top=1),
        "offset table inside the header": binary_file([b"\x08"], table_at=4),
        "offset into the offset table": binary_file([b"\x08"], offsets=[9]),
        "offset into the header": binary_file([b"\x08"], offsets=[3]),
        "reference beyond the count": binary_file([b"\xa1\x05", b"\x08"]),
        "array holding itself": binary_file([b"\xa1\x00"]),
        "cycle through two arrays": binary_file([b"\xa1\x01", b"\xa1\x00"]),
        "cycle through a dictionary value": binary_file([b"\xd1\x01\x00", string_a]),
        "integer key": binary_file([b"\xd1\x01\x01", b"\x10\x05"]),
        "array as key": binary_file([b"\xd1\x00\x00"]),
        "lone high surrogate": binary_file([b"\x61\xd8\x00"]),
        "lone low surrogate": binary_file([b"\x62\x00\x41\xdc\x00"]),
        "ASCII string with a byte above 0x7F": binary_file([b"\x51\x80"]),
        "16-byte integer of 2**64": binary_file([b"\x14" + (2**64).to_bytes(16, "big")]),
        "null object": binary_file([b"\x00"]),
        "fill byte": binary_file([b"\x0f"]),
        "set": binary_file([b"\xc1\x01", b"\x08"]),
        "unassigned marker": binary_file([b"\x70"]),
        "2-byte real": binary_file([b"\x21\x00\x00"]),
        "date that is no number": binary_file([b"\x33" + struct.pack(">d", math.nan)]),
        "integer past the objects": binary_file([b"\x13\x00\x00"]),
        "string longer than the file": binary_file([b"\x5f\x10\x40abc"]),
        "count that is no integer": binary_file([b"\x5f\x51a"]),
        "UID of 9 bytes": binary_file([b"\x88" + bytes(9)]),
        "arrays sharing one another, 2**60 values":
            binary_file([b"\xa2" + bytes([i + 1, i + 1]) for i in range(60)] + [b"\xa0"]),
        "nesting too deep": binary_file(
            [b"\xa1" + (i + 1).to_bytes(2, "big") for i in range(MAX_DEPTH)] + [b"\xa0"],
            ref_size=2),
    }
    corpus += [("binary " + name, data) for name, data in cases.items()]
    xml_values = [
        "<integer></integer>", "<integer>1.5</integer>", "<integer>12abc</integer>",
        "<integer>0x</integer>", "<integer>- 1</integer>", "<integer>-0x1</integer>",
        "<integer>18446744073709551616</integer>", "<integer>-9223372036854775809</integer>",
        "<real></real>", "<real>abc</real>", "<real>1.0.0</real>", "<real>+-1</real>",
        "<real>1e999</real>", "<data>!!!!</data>", "<data>QQ=</data>", "<data>QQ=A</data>",
        "<data>Q</data>", "<data>QQ==QQ==</data>", "<date>2001-01-01</date>",
        "<date>2001-13-01T00:00:00Z</date>", "<date>2001-02-29T00:00:00Z</date>",
        "<date>0000-01-01T00:00:00Z</date>", "<date>2001-01-01T24:00:00Z</date>",
        "<date>2001-01-01T00:00:00</date>", "<foo/>", "<key>k</key>", "<dict>text</dict>",
        "<array>text</array>", "<dict><key>k</key></dict>", "<dict><string>v</string></dict>",
        "<dict><key>k</key><key>j</key><true/></dict>", "<true>x</true>",
        "<string>a<b/>c</string>", "<string>&undefined;</string>", "<true/><true/>", "",
        "<array>" * (MAX_DEPTH + 1) + "</array>" * (MAX_DEPTH + 1),
    ]
    for value in xml_values:
        corpus.append(("XML " + value[:60], "<plist>%s</plist>" % value))
    whole = plistlib.dumps({"k": [1, "two"]}).decode()
    corpus += [
        ("XML cut short", whole[:len(whole) // 2]),
        ("XML without its closing tag", whole[:whole.rindex("</plist>")]),
        ("XML with text after it", whole + "junk"),
        ("XML with an element after it", whole + "<plist/>"),
        ("XML without a plist element", "<dict/>"),
        ("XML declaring entities",
         '<!DOCTYPE plist [<!ENTITY a "aaaa">]><plist><string>&a;</string></plist>'),
        ("XML that is not XML", "defaults write com.example key value"),
    ]
    return [(name, data.encode() if isinstance(data, str) else data) for name, data in corpus]


def main():
    tool = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10000
    seed = int(os.environ.get("QUAYMARK_TEST_SEED") or random.SystemRandom().randrange(2**32))
    print("QUAYMARK_TEST_SEED=%d" % seed, flush=True)
    sys.setrecursionlimit(10000)
    rng = random.Random(seed)
    failures = []
    with tempfile.TemporaryDirectory(prefix="plist-differential-") as folder:
        jobs, checks, skipped = [], [], 0
        blobs = duplicate_key_files()
        for number in range(count + len(blobs)):
            fmt = plistlib.FMT_BINARY if number % 2 else plistlib.FMT_XML
            if number < count:
                value = Generator(rng, fmt).sample()
                blob = plistlib.dumps(value, fmt=fmt, sort_keys=False)
            else:
                blob = blobs[number - count]
            try:
                expected = plistlib.loads(blob)  # dates as plistlib itself reads them back
            except (OverflowError, ValueError):
                skipped += 1  # a date plistlib rounds past its own range
                continue
            original = os.path.join(folder, "%d.plist" % number)
            with open(original, "wb") as out:
                out.write(blob)
            targets = ["binary"] + (["xml"] if fmt == plistlib.FMT_XML else [])
            for target in targets:
                written = "%s.%s" % (original, target)
                jobs.append("%s\t%s\t%s" % (target, original, written))
                checks.append((original, written, expected))
        for number, (name, data) in enumerate(malformed_corpus()):
            path = os.path.join(folder, "bad%d.plist" % number)
            with open(path, "wb") as out:
                out.write(data)
            jobs.append("binary\t%s\t%s.out" % (path, path))
            checks.append((path, name, None))
        result = subprocess.run([tool], input="\n".join(jobs) + "\n", capture_output=True,
                                text=True)
        answers = result.stdout.splitlines()
        if result.returncode != 0 or len(answers) != len(jobs):
            sys.exit("%s failed (%d): %s" % (tool, result.returncode, result.stderr))
        for (original, written, expected), answer in zip(checks, answers):
            if expected is None:
                if answer != "refused":
                    failures.append("malformed %s: %s" % (written, answer))
                continue
            if answer != "written":
                failures.append("%s -> %s: %s" % (original, written, answer))
                continue
            with open(written, "rb") as read:
                again = plistlib.load(read)
            if not same(again, expected):
                failures.append("%s -> %s: plistlib reads another value" % (original, written))
        for failure in failures[:20]:
            print(failure)
        print("%d round trips (of %d files, %d that plistlib cannot read back skipped) and %d "
              "malformed files checked, %d failures" % (
                  sum(c[2] is not None for c in checks), count, skipped,
                  sum(c[2] is None for c in checks), len(failures)))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
