"""Prints what a SER file holds, read with nothing but Python's struct module, so that the tests
check the files Kestro writes against a reader of their own:

  field NAME VALUE      every header field (texts without their NUL padding)
  trailer BYTES         the bytes after the frames the header counts
  frame N V V V ...     the samples of frame N, rows top-down, read little-endian
  time N TICKS          the frame times, when the trailer holds one per frame

Usage: ser_dump.py FILE
"""
import struct
import sys

FIELDS = ("FileID", "LuID", "ColorID", "LittleEndian", "ImageWidth", "ImageHeight", "PixelDepthPerPlane",
          "FrameCount", "Observer", "Instrument", "Telescope", "DateTime", "DateTime_UTC")


def main(path):
    data = open(path, "rb").read()
    values = struct.unpack_from("<14s7i40s40s40sqq", data, 0)
    for name, value in zip(FIELDS, values):
        if isinstance(value, bytes):
            value = value.rstrip(b"\0").decode("latin-1")
        print("field", name, value)
    header = dict(zip(FIELDS, values))
    width, height, depth, count = (header[k] for k in ("ImageWidth", "ImageHeight", "PixelDepthPerPlane",
                                                       "FrameCount"))
    samples = width * height * (3 if header["ColorID"] in (100, 101) else 1)
    wide = depth > 8
    frame_bytes = samples * (2 if wide else 1)
    end = 178 + count * frame_bytes
    print("trailer", len(data) - end)
    for i in range(count):
        frame = struct.unpack_from("<%d%s" % (samples, "H" if wide else "B"), data, 178 + i * frame_bytes)
        print("frame", i, " ".join(map(str, frame)))
    if len(data) - end == 8 * count:
        for i, t in enumerate(struct.unpack_from("<%dq" % count, data, end)):
            print("time", i, t)


if __name__ == "__main__":
    main(sys.argv[1])
