"""Judges the mosaic detector of `kestro-convert --info --json` against captures whose truth is
known (written by mosaic_cases.py), and prints the table by target and order.

  mosaic_validation.py FOLDER KESTRO_CONVERT [--table OUT.md]
  mosaic_validation.py --generate KESTRO_CONVERT [--table OUT.md] [--large] [--stress=none|some|all]

FOLDER holds the captures and their truth.json; with --generate they are written first into a
temporary folder, removed afterwards. Before judging anything, one capture of each kind, container
and depth is exported as a RAW Y-channel BMP and compared with the plane it was written with, so
that a case Kestro cannot show is reported as the case's fault and not the detector's.

What must hold:
  - never "sure" and wrong, on the green diagonal or on red and blue, in any case;
  - monochrome and decoded colour captures never called a mosaic;
  - the green diagonal sure (and right) on at least 95% of the mosaics;
  - the full order right on at least 90% of the mosaics (all of the targets are warm or
    near-grey: Jupiter, Saturn and Mars warm, the Moon and the Sun in white light near-grey);
  - every capture answered, consistently (an order only for a mosaic, a sure diagonal only with
    an order), with the size, frames, depth and stated order it was written with.

The stress cases (kind "stress": hard captures, mosaics or not as their "nature" says) are held
only to never being sure and wrong, to a monochrome or decoded capture never being called a
mosaic, and to being answered; how often they are told right is printed for information, in a
table of their own by group.

Exit status: 0 when all of that holds, 1 when any of it fails (the failing cases are named), 2
when the cases or the command could not be used at all.
"""
import argparse
import glob
import json
import os
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
DIAGONAL_SHARE = 0.95
ORDER_SHARE = 0.90
TARGETS = ("jupiter", "saturn", "mars", "moon", "sun")
ORDERS = ("RGGB", "GRBG", "GBRG", "BGGR")
NEGATIVE_KINDS = ("mono", "decoded", "balanced-grey")
COLUMNS = ("cases", "mosaic said", "diagonal sure", "diagonal sure and wrong", "order right",
           "red/blue sure and wrong")


class Unusable(Exception):
    """The cases or the command cannot be used: nothing can be judged."""


def green_on_main_diagonal(order):
    return order[0] == "G"


def read_bmp_plane(path):
    """An 8-bit BMP's pixels, top row first, whichever way up it is stored."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    bits = struct.unpack_from("<H", data, 28)[0]
    if bits != 8:
        raise Unusable("%s: %d bits per pixel, not 8" % (path, bits))
    stride = (width + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)[:, :width]
    return rows[::-1] if height > 0 else rows


def check_cases(folder, truth, kestro):
    """One capture of each kind, container, depth and stream format, exported in RAW Y-channel:
    its first frame must be the plane written, at 8 bits (a deeper plane shifted down to 8)."""
    chosen = {}
    for name, t in sorted(truth.items()):
        if t.get("raw_y") is False:
            continue  # the RAW modes cannot show it (a palette AVI): nothing to compare
        if t.get("peak", 1.0) < 0.5:
            continue  # faint data may use fewer bits than stored, and are shown scaled from those
        chosen.setdefault((t["kind"], t["container"], t["depth"], t.get("stream")), name)
    with tempfile.TemporaryDirectory() as out:
        run = subprocess.run([kestro, "--to", "bmp", "--mode", "raw-y", "--frames", "0", "-q", "-o", out] +
                             [os.path.join(folder, n) for n in chosen.values()], capture_output=True, text=True)
        if run.returncode != 0:
            raise Unusable("Kestro could not export the cases as RAW Y-channel BMP (status %d): %s" %
                           (run.returncode, run.stderr.strip()))
        for name in chosen.values():
            stem = os.path.splitext(name)[0]
            found = glob.glob(os.path.join(out, glob.escape(stem) + "_rlum_*.bmp"))
            if len(found) != 1:
                raise Unusable("%s: Kestro wrote %d RAW Y-channel pictures of frame 0, not 1" % (name, len(found)))
            shown = read_bmp_plane(found[0]).astype(np.int64)
            written = np.load(os.path.join(folder, stem + ".plane0.npy")).astype(np.int64) >> (truth[name]["depth"] - 8)
            if shown.shape != written.shape or not np.array_equal(shown, written):
                raise Unusable("%s: the RAW Y-channel picture of frame 0 is not the plane written (the case, not "
                               "the detector, is wrong)" % name)
    return len(chosen)


def run_info(folder, names, kestro):
    paths = [os.path.join(folder, n) for n in names]
    start = time.monotonic()
    run = subprocess.run([kestro, "--info", "--json"] + paths, capture_output=True, text=True)
    seconds = time.monotonic() - start
    answers = {}
    for line in run.stdout.splitlines():
        line = line.strip()
        if not line.startswith("{"):
            continue
        try:
            record = json.loads(line)
        except json.JSONDecodeError as e:
            raise Unusable("--info --json printed a line that is not JSON (%s): %s" % (e, line[:200]))
        answers[os.path.basename(str(record.get("file", "")))] = record
    if not answers:
        raise Unusable("kestro-convert --info --json answered nothing (status %d): %s" %
                       (run.returncode, run.stderr.strip()[:2000]))
    return answers, seconds, run.returncode, run.stderr


def said_text(record):
    d = record.get("detected") or {}
    text = "mosaic %s, order %s, diagonal %s, red/blue %s" % (
        json.dumps(d.get("mosaic")), json.dumps(d.get("order")), d.get("diagonal"), d.get("red_blue"))
    reason = d.get("reason") or record.get("reason")
    return text + ("; " + reason if reason else "")


def truth_text(t):
    return "%s %s%s" % (t["kind"], t["target"], ", order " + t["order"] if t["order"] else "")


class Judged:
    """One capture's answer against its truth. Its faults are what must never happen, in words,
    each under the requirement it breaks."""

    def __init__(self, name, truth, record):
        self.name, self.truth, self.record = name, truth, record
        self.faults = {}
        d = (record or {}).get("detected")
        if record is None:
            self.fault("answered", "not answered")
        elif not isinstance(d, dict):
            self.fault("answered", "no \"detected\" object")
        d = d if isinstance(d, dict) else {}
        self.mosaic = d.get("mosaic") is True
        said = d.get("order")
        self.order = said if said in ORDERS else None
        self.diagonal_sure = self.mosaic and d.get("diagonal") == "sure"
        red_blue_sure = self.mosaic and d.get("red_blue") == "sure"
        want = truth["order"]
        if said is not None and said not in ORDERS:
            self.fault("answered", "order %s is none of the four" % json.dumps(said))
        if self.order and not self.mosaic:
            self.fault("answered", "an order for a plane it calls no mosaic")
        if self.diagonal_sure and not self.order:
            self.fault("answered", "the diagonal sure, with no order")
        wrong_diagonal = self.order is not None and (
            want is None or green_on_main_diagonal(self.order) != green_on_main_diagonal(want))
        self.diagonal_sure_wrong = self.diagonal_sure and (want is None or wrong_diagonal)
        self.red_blue_sure_wrong = red_blue_sure and self.order != want
        self.order_right = want is not None and self.order == want
        if self.diagonal_sure_wrong:
            self.fault("sure", "the green diagonal sure and wrong")
        if self.red_blue_sure_wrong:
            self.fault("sure", "red and blue sure and wrong")
        nature = truth.get("nature", truth["kind"])
        if nature in ("mono", "decoded") and self.mosaic:
            self.fault("negative", "a %s capture called a mosaic" % nature)
        self.diagonal_right = self.order is not None and want is not None and not wrong_diagonal
        if record is not None:
            t = truth
            expected = {"format": t["container"], "width": t["width"], "height": t["height"], "frames": t["frames"],
                        "data_frames": t["frames"], "bit_depth": t["depth"], "stored_order": None}
            for key, value in expected.items():
                got = record.get(key, "missing")
                if key == "bit_depth" and t["kind"] == "stress" and isinstance(got, int) and 1 <= got <= value:
                    continue  # a faint SER capture's samples use fewer bits, which the reader takes as its depth
                if got != value:
                    self.fault("answered", "\"%s\" is %s, not %s" % (key, json.dumps(record.get(key, "missing")),
                                                                    json.dumps(value)))

    def fault(self, requirement, text):
        self.faults.setdefault(requirement, []).append(text)


def row(label, cases):
    counts = (len(cases), sum(c.mosaic for c in cases), sum(c.diagonal_sure for c in cases),
              sum(c.diagonal_sure_wrong for c in cases), sum(c.order_right for c in cases),
              sum(c.red_blue_sure_wrong for c in cases))
    cells = [str(n) for n in counts]
    if all(c.truth["order"] is None for c in cases):
        cells[4] = "–"
    return "| " + " | ".join(label + cells) + " |"


def table(judged):
    head = "| target | order | " + " | ".join(COLUMNS) + " |"
    lines = [head, "|" + "---|" * (len(COLUMNS) + 2)]
    mosaics = [j for j in judged if j.truth["kind"] == "mosaic"]
    targets = [t for t in TARGETS if any(j.truth["target"] == t for j in mosaics)]
    for target in targets:
        for order in ORDERS:
            cases = [j for j in mosaics if j.truth["target"] == target and j.truth["order"] == order]
            if cases:
                lines.append(row([target, order], cases))
    lines.append(row(["**all mosaics**", ""], mosaics))
    for kind in NEGATIVE_KINDS:
        cases = [j for j in judged if j.truth["kind"] == kind]
        if cases:
            lines.append(row([kind, "(%s)" % ", ".join(sorted({j.truth["target"] for j in cases}))], cases))

    lines += ["", "Mosaics by container and depth:", "",
              "| container | depth | " + " | ".join(COLUMNS) + " |", "|" + "---|" * (len(COLUMNS) + 2)]
    groups = sorted({(j.truth["container"] + (" " + j.truth["stream"] if j.truth.get("stream") else ""),
                      j.truth["depth"]) for j in mosaics})
    for container, depth in groups:
        cases = [j for j in mosaics if j.truth["depth"] == depth and
                 j.truth["container"] + (" " + j.truth["stream"] if j.truth.get("stream") else "") == container]
        lines.append(row([container, str(depth)], cases))
    return lines


STRESS_COLUMNS = ("cases", "mosaic said", "diagonal sure", "diagonal right (sure or likely)", "diagonal sure and wrong",
                  "order right", "red/blue sure and wrong", "mono or decoded called a mosaic")


def stress_table(judged):
    """The stress cases by group and nature, for information: of these only the faults count."""
    stress = [j for j in judged if j.truth["kind"] == "stress"]
    if not stress:
        return []
    lines = ["", "Stress cases (only never sure and wrong, and mono and decoded never a mosaic, are required):", "",
             "| group | nature | targets | " + " | ".join(STRESS_COLUMNS) + " |",
             "|" + "---|" * (len(STRESS_COLUMNS) + 3)]
    groups = []
    for j in stress:
        key = (j.truth["group"], j.truth["nature"])
        if key not in groups:
            groups.append(key)

    def cells(cases, mosaics):
        counts = [len(cases), sum(c.mosaic for c in cases), sum(c.diagonal_sure for c in cases),
                  sum(c.diagonal_right for c in cases), sum(c.diagonal_sure_wrong for c in cases),
                  sum(c.order_right for c in cases), sum(c.red_blue_sure_wrong for c in cases),
                  sum("negative" in c.faults for c in cases)]
        out = [str(n) for n in counts]
        if not mosaics:
            out[3] = out[5] = "–"
        return out

    for group, nature in groups:
        cases = [j for j in stress if (j.truth["group"], j.truth["nature"]) == (group, nature)]
        label = [group, nature, ", ".join(sorted({j.truth["target"] for j in cases}))]
        lines.append("| " + " | ".join(label + cells(cases, nature == "mosaic")) + " |")
    for nature in ("mosaic", "mono", "decoded"):
        cases = [j for j in stress if j.truth["nature"] == nature]
        if cases:
            lines.append("| " + " | ".join(["**all %s**" % nature, "", ""] + cells(cases, nature == "mosaic")) + " |")
    return lines


def requirements(judged):
    """(line of text, failing cases, requirement key) per requirement."""
    mosaics = [j for j in judged if j.truth["kind"] == "mosaic"]
    negatives = [j for j in judged if j.truth.get("nature", j.truth["kind"]) in ("mono", "decoded")]
    out = []
    failing = [j for j in judged if "sure" in j.faults]
    out.append(("never sure and wrong: %d of %d cases are" % (len(failing), len(judged)), failing, "sure"))
    failing = [j for j in judged if "negative" in j.faults]
    out.append(("mono and decoded colour never called a mosaic: %d of %d are" % (len(failing), len(negatives)),
                failing, "negative"))
    sure = [j for j in mosaics if j.diagonal_sure and not j.diagonal_sure_wrong]
    share = len(sure) / len(mosaics) if mosaics else 0
    out.append(("green diagonal sure (and right) on %d of %d mosaics, %.1f%% (at least %d%%)" %
                (len(sure), len(mosaics), 100 * share, 100 * DIAGONAL_SHARE),
                [] if share >= DIAGONAL_SHARE else [j for j in mosaics if j not in sure], None))
    right = [j for j in mosaics if j.order_right]
    share = len(right) / len(mosaics) if mosaics else 0
    out.append(("full order right on %d of %d mosaics of warm and near-grey targets, %.1f%% (at least %d%%)" %
                (len(right), len(mosaics), 100 * share, 100 * ORDER_SHARE),
                [] if share >= ORDER_SHARE else [j for j in mosaics if j not in right], None))
    failing = [j for j in judged if "answered" in j.faults]
    out.append(("every capture answered, consistently, with the size, frames, depth and stated order written: "
                "%d of %d are not" % (len(failing), len(judged)), failing, "answered"))
    return out


def validate(folder, kestro, table_path, started):
    with open(os.path.join(folder, "truth.json")) as f:
        truth = json.load(f)
    checked = check_cases(folder, truth, kestro)
    names = sorted(truth)
    answers, seconds, status, stderr = run_info(folder, names, kestro)
    judged = [Judged(n, truth[n], answers.get(n)) for n in names]

    lines = ["Mosaic detection of `kestro-convert --info --json` on %d captures of known truth." % len(judged), ""]
    lines += table(judged)
    lines += stress_table(judged)
    lines += ["", "Requirements:", ""]
    failed = False
    for text, failing, key in requirements(judged):
        lines.append("- %s: %s" % ("FAIL" if failing else "pass", text))
        failed = failed or bool(failing)
        for j in failing:
            why = "; ".join(j.faults[key]) if key else "not met"
            said = said_text(j.record) if j.record else "nothing"
            lines.append("  - `%s` (%s): %s; said %s" % (j.name, truth_text(j.truth), why, said))
    lines += ["", "`--info` took %.2f s for %d captures, %.1f ms per capture; the whole run %.1f s "
              "(%d cases checked in RAW Y-channel first)." %
              (seconds, len(names), 1000 * seconds / len(names), time.monotonic() - started, checked)]
    if status != 0:
        lines.append("kestro-convert --info ended with status %d: %s" % (status, stderr.strip()[:2000]))
        failed = True
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if table_path:
        with open(table_path, "w") as f:
            f.write(text)
    return 1 if failed else 0


def main():
    started = time.monotonic()
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("paths", nargs="+", metavar="FOLDER KESTRO_CONVERT")
    parser.add_argument("--table", help="also write the table, in markdown, to this file")
    parser.add_argument("--generate", action="store_true",
                        help="write the cases into a temporary folder first (then name only KESTRO_CONVERT)")
    parser.add_argument("--large", action="store_true", help="with --generate: add the 1920 x 1080 cases")
    parser.add_argument("--stress", choices=("none", "some", "all"), default="some",
                        help="with --generate: which stress cases to write (some: one per group and order, "
                             "without the known faults; all: every one)")
    a = parser.parse_args()
    if len(a.paths) != (1 if a.generate else 2):
        parser.error("name FOLDER and KESTRO_CONVERT, or --generate and KESTRO_CONVERT")
    kestro = os.path.abspath(a.paths[-1])
    try:
        if not a.generate:
            return validate(a.paths[0], kestro, a.table, started)
        with tempfile.TemporaryDirectory(prefix="mosaic-cases-") as folder:
            make = [sys.executable, os.path.join(HERE, "mosaic_cases.py"), folder, "--stress=" + a.stress] + \
                (["--large"] if a.large else [])
            subprocess.run(make, check=True)
            return validate(folder, kestro, a.table, started)
    except (Unusable, OSError, subprocess.CalledProcessError) as e:
        print("mosaic_validation: %s" % e, file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
