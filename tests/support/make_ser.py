"""Writes the SER captures the reader's tests open, with numpy and nothing of ours, and beside each
good one the values it stores, so that the tests compare what the reader hands out with what was
written:

  NAME.ser            the capture
  NAME.npy            the stored samples of every whole frame, frames x rows x columns [x 3],
                      uint8 or uint16 in their values (whatever byte order the file uses)
  NAME.times.npy      the UTC ticks of the frames, when the file ends with a complete table
  NAME.iso.txt        the same times as ISO 8601 text with milliseconds, from Python's datetime
  NAME.colour.npy     for the mosaics of known colours: the colour picture each frame was sampled
                      from, frames x rows x columns x 3 (red, green, blue), in 8 bits

Hostile headers get only NAME.ser. Usage: make_ser.py FOLDER [NAME...]; with names, only those
captures are written.
"""
import datetime
import os
import struct
import sys

import numpy as np

COLOR_IDS = {"MONO": 0, "RGGB": 8, "GRBG": 9, "GBRG": 10, "BGGR": 11, "CYYM": 16, "YCMY": 17, "YMCY": 18,
             "MYYC": 19, "RGB": 100, "BGR": 101}
EPOCH = datetime.datetime(1, 1, 1, tzinfo=datetime.timezone.utc)
FIRST_TIME = datetime.datetime(2024, 5, 1, 21, 13, 7, 123456, tzinfo=datetime.timezone.utc)


def ticks(when):
    return (when - EPOCH) // datetime.timedelta(microseconds=1) * 10


def header(color, width, height, depth, count, file_id=b"LUCAM-RECORDER", flag=0, utc=0, local=None):
    fields = struct.pack("<14s7i40s40s40sqq", file_id, 0, color, flag, width, height, depth, count,
                         b"Observer", b"Camera", b"Telescope", utc if local is None else local, utc)
    assert len(fields) == 178
    return fields


def scene(frames, height, width, planes, top):
    """Smooth pictures, as the sky gives: a slope across the frame, one that moves with the frame
    number, and a small fixed texture, never above top."""
    f, y, x = np.meshgrid(np.arange(frames), np.arange(height), np.arange(width), indexing="ij")
    base = 0.15 * top + 0.6 * top * x / max(width - 1, 1) + 0.2 * top * y / max(height - 1, 1)
    base = base + f * 3 + (x * 7 + y * 13 + f * 3) % 5
    if planes == 1:
        return np.minimum(base, top).astype(np.int64)
    channels = [base, base * 0.7 + 0.05 * top, top - base * 0.8]
    return np.minimum(np.stack(channels, axis=-1), top).clip(0).astype(np.int64)


def mosaic(frames, height, width, sites):
    """A colour scene sampled through the filter whose top-left 2x2 sites are given."""
    colour = scene(frames, height, width, 3, 255)
    index = {"R": 0, "G": 1, "B": 2, "C": 2, "Y": 0, "M": 1}
    out = np.zeros((frames, height, width), np.int64)
    for dy in range(2):
        for dx in range(2):
            out[:, dy::2, dx::2] = colour[:, dy::2, dx::2, index[sites[2 * dy + dx]]]
    return out


# One flat colour per frame, in 8 bits: a de-mosaic of a flat field gives it back exactly away
# from the border, and each of the three differs from the others, so that a mosaic read with the
# wrong sites shows the wrong colour.
KNOWN_COLOURS = [(200, 120, 40), (30, 90, 220)]


def known_colours(height, width):
    return np.stack([np.broadcast_to(np.array(c, np.int64), (height, width, 3)) for c in KNOWN_COLOURS])


def sample_sites(colour, sites):
    """The mosaic of colour pictures (frames x rows x columns x RGB) through the filter whose
    top-left 2x2 sites are given, rows top-down."""
    index = {"R": 0, "G": 1, "B": 2}
    out = np.zeros(colour.shape[:3], np.int64)
    for dy in range(2):
        for dx in range(2):
            out[:, dy::2, dx::2] = colour[:, dy::2, dx::2, index[sites[2 * dy + dx]]]
    return out


# The blur of each frame of the planet captures: their sharpness ranks the frames.
PLANET_SIGMAS = [0.6, 2.5, 1.0, 3.5, 1.6, 0.8]


def blurred(picture, sigma):
    """A Gaussian blur of a picture (rows x columns), each axis convolved in turn."""
    radius = int(3 * sigma) + 1
    t = np.arange(-radius, radius + 1)
    kernel = np.exp(-t * t / (2.0 * sigma * sigma))
    kernel /= kernel.sum()
    padded = np.pad(picture, radius, mode="edge")
    rows = np.apply_along_axis(lambda r: np.convolve(r, kernel, mode="valid"), 1, padded)
    return np.apply_along_axis(lambda c: np.convolve(c, kernel, mode="valid"), 0, rows)


def planet(height, width, top):
    """A banded disc on a dark sky, in colour (rows x columns x RGB), one frame per blur."""
    y, x = np.mgrid[0:height, 0:width]
    r = min(height, width) * 0.32
    inside = (y - height / 2) ** 2 + (x - width / 2) ** 2 <= r * r
    disc = np.where(inside, 0.75 + 0.2 * np.sign(np.sin(y * 0.9)), 0.03)
    frames = []
    for sigma in PLANET_SIGMAS:
        grey = blurred(disc, sigma)
        frames.append(np.stack([grey, grey * 0.85, grey * 0.6], axis=-1))
    return np.clip(np.rint(np.stack(frames) * top), 0, top).astype(np.int64)


def times_for(frames):
    return [ticks(FIRST_TIME + datetime.timedelta(milliseconds=40 * i + 7 * (i % 3))) for i in range(frames)]


class Writer:
    def __init__(self, folder, names):
        self.folder = folder
        self.names = set(names)

    def wanted(self, name):
        return not self.names or name in self.names

    def path(self, name, suffix):
        return os.path.join(self.folder, name + suffix)

    def capture(self, name, color, data, depth, count=None, flag=0, big_endian=False, file_id=b"LUCAM-RECORDER",
                trailer="full", cut=0, extra=b"", whole_frames=None, local_hours=0):
        """data: frames x rows x columns [x 3] of stored values. trailer: "full", "none" or a byte
        count. cut: bytes removed from the end of the frames. whole_frames: the frames the truth
        holds when fewer than written. local_hours: how far the header's local DateTime is ahead
        of its DateTime_UTC."""
        if not self.wanted(name):
            return
        frames, height, width = data.shape[:3]
        wide = depth > 8
        dtype = (">u2" if big_endian else "<u2") if wide else "u1"
        stamps = times_for(frames)
        utc = stamps[0] if trailer == "full" else 0
        body = data.astype(dtype).tobytes()
        if cut:
            body = body[:-cut]
        with open(self.path(name, ".ser"), "wb") as out:
            local = utc + local_hours * 36_000_000_000 if utc else 0
            out.write(header(COLOR_IDS[color], width, height, depth, frames if count is None else count, file_id,
                             flag, utc, local))
            out.write(body)
            table = struct.pack("<%dq" % frames, *stamps)
            if trailer == "full":
                out.write(table)
            elif trailer != "none":
                out.write(table[:trailer])
            out.write(extra)
        kept = data if whole_frames is None else data[:whole_frames]
        np.save(self.path(name, ".npy"), kept.astype(np.uint16 if wide else np.uint8))
        if trailer == "full":
            np.save(self.path(name, ".times.npy"), np.array(stamps, np.int64))
            with open(self.path(name, ".iso.txt"), "w") as out:
                for t in stamps:
                    when = EPOCH + datetime.timedelta(microseconds=t // 10)
                    out.write(when.strftime("%Y-%m-%dT%H:%M:%S.") + "%03dZ\n" % (when.microsecond // 1000))

    def known_colour_mosaic(self, name, sites, depth):
        """A mosaic of the known colours; at more than 8 bits each value is the 8-bit one times
        2^(depth - 8), so that the real depth is the depth and the display's 8 bits are exact."""
        if not self.wanted(name):
            return
        colour = known_colours(12, 16)
        self.capture(name, sites, sample_sites(colour, sites) << (depth - 8), depth)
        np.save(self.path(name, ".colour.npy"), colour.astype(np.uint8))

    def hostile(self, name, fields=None, size=None, raw=None):
        """A header with the given fields changed, followed by zeros up to size bytes."""
        if not self.wanted(name):
            return
        if raw is None:
            values = dict(color=0, width=8, height=4, depth=8, count=2)
            values.update(fields or {})
            raw = header(**values)
            if size is None:
                size = 178 + 64
        with open(self.path(name, ".ser"), "wb") as out:
            out.write(raw)
            if size is not None and size > len(raw):
                out.write(bytes(size - len(raw)))


def sparse(writer):
    """A capture whose last frame begins past 4 GiB: the frames between are holes, read as zeros.
    Left out where the file system cannot hold it sparse."""
    if not writer.wanted("sparse"):
        return
    width, height = 64, 64
    frame = width * height
    count = (1 << 32) // frame + 2
    first = scene(1, height, width, 1, 255)[0]
    last = (255 - first)
    path = writer.path("sparse", ".ser")
    try:
        with open(path, "wb") as out:
            out.write(header(0, width, height, 8, count))
            out.write(first.astype(np.uint8).tobytes())
            out.seek(178 + (count - 1) * frame)
            out.write(last.astype(np.uint8).tobytes())
        if os.stat(path).st_blocks * 512 > (64 << 20):
            raise OSError("not sparse")
    except OSError:
        if os.path.exists(path):
            os.remove(path)
        return
    np.save(writer.path("sparse", ".npy"), np.stack([first, last]).astype(np.uint8))


def main(folder, names):
    w = Writer(folder, names)
    w.capture("mono8", "MONO", scene(3, 12, 16, 1, 255), 8)
    for sites in ("RGGB", "GRBG", "GBRG", "BGGR", "CYYM", "YCMY", "YMCY", "MYYC"):
        w.capture("bayer8-" + sites, sites, mosaic(3, 12, 16, sites), 8)
    for sites in ("RGGB", "GRBG", "GBRG", "BGGR"):
        w.known_colour_mosaic("colour8-" + sites, sites, 8)
    w.known_colour_mosaic("colour12-GBRG", "GBRG", 12)
    w.capture("planet12-RGGB", "RGGB", sample_sites(planet(64, 96, 4095), "RGGB"), 12)
    w.capture("planet8-RGB", "RGB", planet(64, 96, 255), 8)
    # Mosaics of GRBG data whose headers say otherwise: monochrome, the other diagonal, and the
    # same diagonal with red and blue the other way round.
    grbg = sample_sites(planet(64, 96, 4095), "GRBG")
    for said in ("MONO", "BGGR", "GBRG"):
        w.capture("planet12-GRBG-said-" + said, said, grbg, 12)
    w.capture("rgb8", "RGB", scene(3, 12, 16, 3, 255), 8)
    w.capture("bgr8", "BGR", scene(3, 12, 16, 3, 255)[..., ::-1], 8)

    twelve = scene(4, 16, 32, 1, 4095)
    w.capture("le12-flag0", "RGGB", twelve, 12, flag=0)
    w.capture("le12-flag1", "RGGB", twelve, 12, flag=1)
    w.capture("local12", "GBRG", twelve, 12, local_hours=-5)
    w.capture("be12-flag0", "RGGB", twelve, 12, flag=0, big_endian=True)
    w.capture("be12-flag1", "MONO", twelve, 12, flag=1, big_endian=True)
    w.capture("depth16-data12", "MONO", twelve, 16)
    w.capture("rgb16", "RGB", scene(2, 8, 16, 3, 16383), 14)
    w.capture("flat16", "MONO", np.full((3, 16, 32), 0x0102), 16, flag=1)
    w.capture("zero16", "MONO", np.zeros((3, 16, 32)), 12)
    # Too few neighbours to judge, and values that are rough read either way.
    w.capture("tiny16", "MONO", scene(1, 2, 4, 1, 4095), 12, flag=1)
    index = np.arange(3 * 16 * 32, dtype=np.uint64).reshape(3, 16, 32)
    w.capture("rough16", "MONO", (index * np.uint64(2654435761) >> np.uint64(8)) & np.uint64(0xFFFF), 16)

    w.capture("count0", "MONO", scene(4, 12, 16, 1, 255), 8, count=0, trailer="none")
    # 8-byte frames: the table of times is as long as five frames and must not be taken for them.
    w.capture("count0-times", "MONO", scene(5, 2, 4, 1, 255), 8, count=0)
    w.capture("count-large", "MONO", scene(3, 12, 16, 1, 255), 8, count=500, trailer="none")
    w.capture("cut-in-frame", "GRBG", scene(4, 12, 16, 1, 255), 8, trailer="none", cut=100, whole_frames=3)
    w.capture("times-missing", "MONO", scene(3, 12, 16, 1, 255), 8, trailer="none")
    w.capture("times-short", "MONO", scene(3, 12, 16, 1, 255), 8, trailer=20)
    # The count of a writer that stopped updating it: frames follow where the times would be.
    w.capture("times-not-times", "MONO", scene(4, 12, 16, 1, 255), 8, count=3, trailer="none", whole_frames=3)
    w.capture("times-extra", "MONO", scene(3, 12, 16, 1, 255), 8, extra=b"\x01\x02\x03\x04\x05")
    w.capture("indi-id", "BGGR", scene(2, 12, 16, 1, 4095), 12, file_id=b"INDI-RECORDER\0")
    # Bright enough that the sum of all 20 frames passes 65535 where 8 of them stay below it.
    w.capture("sum12-RGGB", "RGGB", scene(20, 8, 16, 1, 4095), 12)
    # One frame more than the sums of 16-bit values can take in one block.
    w.capture("many16", "MONO", scene(65538, 2, 4, 1, 4095), 12, trailer="none")

    w.hostile("width0", dict(width=0))
    w.hostile("width-negative", dict(width=-8))
    w.hostile("height0", dict(height=0))
    w.hostile("height-negative", dict(height=-4))
    w.hostile("depth0", dict(depth=0))
    w.hostile("depth17", dict(depth=17))
    w.hostile("color7", dict(color=7))
    w.hostile("color-negative", dict(color=-100))
    w.hostile("frame-overflow", dict(color=100, width=0x7fffffff, height=0x7fffffff, depth=16))
    w.hostile("frame-too-large", dict(width=65536, height=65536))
    w.hostile("no-whole-frame", dict(width=8, height=4), size=178 + 31)
    w.hostile("header-only", dict(), size=178)
    w.hostile("cut-header", raw=header(0, 8, 4, 8, 2)[:100])
    w.hostile("flag5", dict(flag=5))
    w.hostile("text", raw=b"This is a text file and not a capture at all. " * 8)
    w.hostile("empty", raw=b"")

    sparse(w)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
