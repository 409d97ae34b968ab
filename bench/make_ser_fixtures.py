"""Writes the SER captures of the SER benchmarks with numpy, nothing of ours:

  ser16-1080p-Nf.ser   N frames of 1920x1080, 12-bit values in 16-bit little-endian samples, an
                       RGGB mosaic of a drifting banded disc with noise, and a table of frame times
  ser8-640x480-100000f.ser
                       100,000 frames of 640x480 8-bit MONO with its table of frame times; the
                       frames are a hole (zeros) in a sparse file, only the header and the table
                       are written: opening must not read the frames

  ser16-1080p-mosaic.ser
                       (only with "mosaic" as the third argument) 16 frames of 1920x1080, a warm
                       banded disc in raw colour (green highest) through an RGGB filter, 12 bits
                       in 16, with noise: what the mosaic detector reads

Usage: make_ser_fixtures.py FOLDER FRAMES [mosaic]. A capture that exists with the right size is
kept.
"""
import os
import struct
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "support"))
from make_ser import COLOR_IDS, header, times_for  # noqa: E402


def write_if_missing(path, size, write):
    if os.path.exists(path) and os.stat(path).st_size == size:
        print("Reusing %s" % path)
        return
    print("Writing %s" % path, flush=True)
    part = path + ".part"
    with open(part, "wb") as out:
        write(out)
    os.replace(part, path)


def deep_capture(folder, frames):
    width, height = 1920, 1080
    path = os.path.join(folder, "ser16-1080p-%df.ser" % frames)
    rng = np.random.default_rng(7)
    y, x = np.mgrid[0:height, 0:width]

    def write(out):
        stamps = times_for(frames)
        out.write(header(COLOR_IDS["RGGB"], width, height, 12, frames, utc=stamps[0]))
        for f in range(frames):
            cy, cx = height / 2 + 3 * np.sin(f / 7), width / 2 + 3 * np.cos(f / 5)
            inside = (y - cy) ** 2 + (x - cx) ** 2 <= (0.3 * height) ** 2
            disc = np.where(inside, 2600 + 900 * np.sign(np.sin((y - cy) * 0.05)), 180)
            noisy = disc + rng.integers(0, 64, size=(height, width))
            out.write(np.clip(noisy, 0, 4095).astype("<u2").tobytes())
        out.write(struct.pack("<%dq" % frames, *stamps))

    write_if_missing(path, 178 + frames * width * height * 2 + 8 * frames, write)


def long_capture(folder):
    width, height, frames = 640, 480, 100000
    path = os.path.join(folder, "ser8-640x480-%df.ser" % frames)

    def write(out):
        stamps = times_for(frames)
        out.write(header(COLOR_IDS["MONO"], width, height, 8, frames, utc=stamps[0]))
        out.seek(178 + frames * width * height)
        out.write(struct.pack("<%dq" % frames, *stamps))

    write_if_missing(path, 178 + frames * width * height + 8 * frames, write)


def mosaic_capture(folder):
    width, height, frames = 1920, 1080, 16
    path = os.path.join(folder, "ser16-1080p-mosaic.ser")
    rng = np.random.default_rng(11)
    y, x = np.mgrid[0:height, 0:width]
    gains = {"R": 0.55, "G": 1.0, "B": 0.4}

    def write(out):
        out.write(header(COLOR_IDS["RGGB"], width, height, 12, frames))
        for f in range(frames):
            cy, cx = height / 2 + 3 * np.sin(f / 7), width / 2 + 3 * np.cos(f / 5)
            inside = (y - cy) ** 2 + (x - cx) ** 2 <= (0.3 * height) ** 2
            light = np.where(inside, 2400 + 600 * np.sin((y - cy) * 0.05), 0.0)
            plane = np.empty((height, width))
            for dy, dx, site in ((0, 0, "R"), (0, 1, "G"), (1, 0, "G"), (1, 1, "B")):
                plane[dy::2, dx::2] = light[dy::2, dx::2] * gains[site]
            noisy = 64 + plane + rng.normal(0, 12, size=(height, width))
            out.write(np.clip(noisy, 0, 4095).astype("<u2").tobytes())

    write_if_missing(path, 178 + frames * width * height * 2, write)


if __name__ == "__main__":
    if len(sys.argv) > 3 and sys.argv[3] == "mosaic":
        mosaic_capture(sys.argv[1])
    else:
        deep_capture(sys.argv[1], int(sys.argv[2]))
        long_capture(sys.argv[1])
