#!/usr/bin/env python3
"""Writes raw samples as a TIFF for the loader tests, with python3-tifffile.

usage: write_tiff.py KIND WIDTH HEIGHT SAMPLES OUT
  rgb8   SAMPLES holds 8-bit R,G,B per pixel
  rgb16  16-bit little-endian R,G,B per pixel
  rgbx16 16-bit little-endian R,G,B,X per pixel (a QImage's RGBX64), X dropped
  dng    16-bit little-endian mosaic of an RGGB sensor, 12 bits used: a CFA DNG
  dng-late  the same, its first directory moved past the image data and the first 4 KB
"""
import struct
import sys

import numpy
import tifffile

kind, width, height, samples, out = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]

if kind == "rgb8":
    data = numpy.fromfile(samples, dtype=numpy.uint8).reshape(height, width, 3)
    tifffile.imwrite(out, data, photometric="rgb")
elif kind in ("rgb16", "rgbx16"):
    channels = 3 if kind == "rgb16" else 4
    data = numpy.fromfile(samples, dtype="<u2").reshape(height, width, channels)[..., :3]
    tifffile.imwrite(out, data, photometric="rgb")
elif kind in ("dng", "dng-late"):
    data = numpy.fromfile(samples, dtype="<u2").reshape(height, width)
    # sRGB-like primaries (XYZ to camera), a neutral a little warm, as a daylight camera sees it.
    xyz_to_camera = [3240, -1537, -499, -969, 1876, 42, 56, -204, 1057]
    tifffile.imwrite(out, data, photometric=32803, extratags=[
        (271, "s", 0, "Ombrelux", True),
        (272, "s", 0, "Test CFA", True),
        (33421, "H", 2, (2, 2), True),            # CFARepeatPatternDim
        (33422, "B", 4, (0, 1, 1, 2), True),      # CFAPattern: R G / G B
        (50706, "B", 4, (1, 4, 0, 0), True),      # DNGVersion
        (50707, "B", 4, (1, 1, 0, 0), True),      # DNGBackwardVersion
        (50708, "s", 0, "Ombrelux Test CFA", True),
        (50714, "H", 1, 64, True),                # BlackLevel
        (50717, "H", 1, 4095, True),              # WhiteLevel
        (50721, "q", 18, [v for m in xyz_to_camera for v in (m, 10000)], True),  # ColorMatrix1
        (50728, "Q", 6, (6, 10, 1, 1, 8, 10), True),  # AsShotNeutral
        (50778, "H", 1, 21, True),                # CalibrationIlluminant1: D65
    ])
else:
    sys.exit("unknown kind " + kind)

if kind == "dng-late":
    with open(out, "rb") as tiff:
        data = bytearray(tiff.read())
    order = "<" if data[:2] == b"II" else ">"
    first = struct.unpack(order + "I", data[4:8])[0]
    entries = struct.unpack(order + "H", data[first:first + 2])[0]
    directory = data[first:first + 2 + 12 * entries + 4]  # its values stay where they are
    data += bytes(8192 - len(data) % 4096)
    data[4:8] = struct.pack(order + "I", len(data))
    with open(out, "wb") as tiff:
        tiff.write(data + directory)
