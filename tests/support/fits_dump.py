"""Reads a FITS file with astropy, the FITS writer's independent reader in its tests, and prints the
primary header and data for them to parse: one tab-separated line per card, then the data rows as
astropy indexes them (row 0 is the first row stored in the file).

Any warning astropy gives is an error here, so a file it only half accepts fails the test."""
import sys
import warnings

from astropy.io import fits

warnings.simplefilter("error")


def kind(value):
    if isinstance(value, bool):
        return "logical"
    if isinstance(value, int):
        return "int"
    if isinstance(value, float):
        return "real"
    if isinstance(value, str):
        return "text"
    return type(value).__name__


# Opened by Python itself so that names such as "-" or "m42[1].fit" are only ever file names.
with open(sys.argv[1], "rb") as stream, fits.open(stream, memmap=False) as hdus:
    hdu = hdus[0]
    # The header first: astropy drops BZERO and BSCALE from it once it has applied them to the data.
    for card in hdu.header.cards:
        print("card", card.keyword, kind(card.value), str(card.value), card.comment, sep="\t")
    data = hdu.data
    print("data", data.dtype.name, data.shape[0], data.shape[1], sep="\t")
    for row in data.tolist():
        print(" ".join(str(v) for v in row))
