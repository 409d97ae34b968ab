#!/usr/bin/env python3
"""Installs Kestro into a temporary prefix, as a user or a package build does, and checks the
result with the desktop's own tools: every file lands, the desktop entry, the software-centre
description and the SER media type validate and agree, the man pages render, the completion
offers every option, and the installed programs run.

Usage: install_check.py CMAKE BUILD_DIR VERSION SAMPLE_CAPTURE "ICON_SIZES"
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

cmake, build_dir, version, sample, icon_sizes = sys.argv[1:6]
APP_ID = "org.tollbeck.Kestro"
failures = []


def fail(what):
    failures.append(what)


def run(cmd, **kw):
    kw.setdefault("capture_output", True)
    kw.setdefault("text", True)
    kw.setdefault("timeout", 120)
    return subprocess.run(cmd, **kw)


def check(cmd, what, **kw):
    r = run(cmd, **kw)
    if r.returncode != 0:
        fail(f"{what}: exit {r.returncode}\n{r.stdout}{r.stderr}")
    return r


no_display = {k: v for k, v in os.environ.items()
              if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}

with tempfile.TemporaryDirectory(prefix="kestro-install-") as tmp:
    # A prefix with a space: installed files must not assume a tidy path.
    prefix = os.path.join(tmp, "my prefix")
    r = check([cmake, "--install", build_dir, "--prefix", prefix], "cmake --install")
    if r.returncode != 0:
        print("\n".join("FAIL: " + f for f in failures))
        sys.exit(1)

    share = os.path.join(prefix, "share")
    expected = [
        "bin/kestro",
        "bin/kestro-convert",
        f"share/applications/{APP_ID}.desktop",
        f"share/icons/hicolor/scalable/apps/{APP_ID}.svg",
        "share/mime/packages/kestro.xml",
        f"share/metainfo/{APP_ID}.metainfo.xml",
        "share/man/man1/kestro.1",
        "share/man/man1/kestro-convert.1",
        "share/bash-completion/completions/kestro-convert",
    ]
    icon_sizes = icon_sizes.replace(";", " ").split()
    expected += [f"share/icons/hicolor/{s}x{s}/apps/{APP_ID}.png" for s in icon_sizes]
    for path in expected:
        if not os.path.isfile(os.path.join(prefix, path)):
            fail(f"not installed: {path}")
    for program in ("bin/kestro", "bin/kestro-convert"):
        if not os.access(os.path.join(prefix, program), os.X_OK):
            fail(f"not executable: {program}")
    for s in icon_sizes:
        png = os.path.join(share, f"icons/hicolor/{s}x{s}/apps/{APP_ID}.png")
        if os.path.isfile(png):
            with open(png, "rb") as f:
                head = f.read(24)
            size = (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big"))
            if not head.startswith(b"\x89PNG") or size != (int(s), int(s)):
                fail(f"{png}: not a {s}x{s} PNG ({size})")

    desktop = os.path.join(share, f"applications/{APP_ID}.desktop")
    metainfo = os.path.join(share, f"metainfo/{APP_ID}.metainfo.xml")
    mime_xml = os.path.join(share, "mime/packages/kestro.xml")
    check(["desktop-file-validate", desktop], "desktop-file-validate")
    check(["appstreamcli", "validate", "--no-net", metainfo], "appstreamcli validate")
    check(["xmllint", "--noout", mime_xml], "xmllint of the media type")

    # The entry, the description and the media type name the same things.
    with open(desktop) as f:
        entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    if entry.get("Exec") != "kestro %f":
        fail(f"Exec is {entry.get('Exec')!r}")
    if entry.get("Icon") != APP_ID:
        fail(f"Icon is {entry.get('Icon')!r}, the installed icon is {APP_ID}")
    if entry.get("Categories") != "Science;Astronomy;Graphics;":
        fail(f"Categories is {entry.get('Categories')!r}")
    desktop_types = set(filter(None, entry.get("MimeType", "").split(";")))
    with open(mime_xml) as f:
        defined = set(re.findall(r'<mime-type type="([^"]+)"', f.read()))
    if desktop_types != {"video/x-msvideo"} | defined:
        fail(f"MimeType {sorted(desktop_types)} is not AVI and the types defined {sorted(defined)}")
    with open(metainfo) as f:
        meta = f.read()
    if f"<launchable type=\"desktop-id\">{APP_ID}.desktop</launchable>" not in meta:
        fail("the metainfo does not launch the installed desktop entry")
    if not re.search(r"<image>https?://[^<]+/docs/images/main-window\.png</image>", meta):
        fail("the metainfo's screenshot is not the README's")

    # The media type as file managers see it: compiled into a database, a SER file's first
    # bytes and its name both lead to it.
    mime_copy = os.path.join(tmp, "mime")
    shutil.copytree(os.path.join(share, "mime"), mime_copy)
    check(["update-mime-database", mime_copy], "update-mime-database")
    try:
        with open(os.path.join(mime_copy, "globs2")) as f:
            globs = f.read()
        with open(os.path.join(mime_copy, "magic"), "rb") as f:
            magic = f.read()
        if not re.search(r"^\d+:video/x-ser:\*\.ser$", globs, re.M):
            fail("*.ser is not video/x-ser in the compiled database")
        # Only our type is in this database, so its section is the whole file after the header.
        section = magic.partition(b"[50:video/x-ser]\n")[2]
        for recorder in (b"LUCAM-RECORDER", b"INDI-RECORDER"):
            if b">0=\x00" + bytes([len(recorder)]) + recorder + b"\n" not in section:
                fail(f"{recorder.decode()} at offset 0 is not video/x-ser in the compiled magic")
    except OSError as e:
        fail(f"the compiled media database: {e}")

    # Man pages render without warnings; kestro-convert's carries the installed version.
    for page in ("kestro", "kestro-convert"):
        path = os.path.join(share, f"man/man1/{page}.1")
        r = check(["man", "--warnings", "-l", path], f"man {page}",
                  env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0"))
        if r.stderr.strip():
            fail(f"man {page} warns: {r.stderr}")
        if version not in r.stdout:
            fail(f"man {page} does not name version {version}")

    convert = os.path.join(prefix, "bin/kestro-convert")
    r = check([convert, "--version"], "kestro-convert --version")
    if r.stdout != f"kestro-convert {version}\n":
        fail(f"kestro-convert --version printed {r.stdout!r}")

    # The completion offers every option the installed program's --help lists, and completes.
    completion = os.path.join(share, "bash-completion/completions/kestro-convert")
    help_text = check([convert, "--help"], "kestro-convert --help").stdout
    options = set(re.findall(r"(?<![\w-])(--?[a-z][\w-]*)", help_text.split("Examples:")[0]))
    with open(completion) as f:
        offered = set(re.findall(r"(?<![\w-])(--?[a-z][\w-]*)", f.read()))
    if options - offered:
        fail(f"the completion lacks {sorted(options - offered)}")
    r = check(["bash", "-c", f'source "{completion}"; COMP_WORDS=(kestro-convert --mo); COMP_CWORD=1; '
               '_kestro_convert; echo "${COMPREPLY[@]}"; '
               'COMP_WORDS=(kestro-convert --mode r); COMP_CWORD=2; _kestro_convert; echo "${COMPREPLY[@]}"'],
              "the completion")
    if r.stdout != "--mode\nraw-y raw-colour\n":
        fail(f"the completion answered {r.stdout!r}")

    # One export from the installed command line, checked by ffprobe.
    out = os.path.join(tmp, "out dir", "sample_rlum.avi")
    os.mkdir(os.path.dirname(out))
    check([convert, "--to", "avi", "--mode", "raw-y", "--quiet", "--output", out, sample],
          "an export with the installed kestro-convert")

    def frames(path):
        r = check(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                   "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path], f"ffprobe {path}")
        return r.stdout.strip()

    if os.path.isfile(out):
        if frames(out) != frames(sample) or not frames(out):
            fail(f"the export holds {frames(out)} frames, the sample {frames(sample)}")
    else:
        fail("the installed kestro-convert wrote nothing")

    # The installed window: its options with no display at all, then the sample capture open
    # on the offscreen platform until it is told to stop.
    kestro = os.path.join(prefix, "bin/kestro")
    r = check([kestro, "--version"], "kestro --version", env=no_display)
    if r.stdout != f"kestro {version}\n":
        fail(f"kestro --version printed {r.stdout!r}")
    config = os.path.join(tmp, "config")
    env = dict(no_display, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config,
               XDG_RUNTIME_DIR=tmp)
    window = subprocess.Popen([kestro, sample], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    try:
        # Not a measurement: a window that lost a library, a plug-in or a resource on the way
        # to the prefix dies at start-up, long before this.
        window.wait(timeout=5)
    except subprocess.TimeoutExpired:
        window.send_signal(signal.SIGTERM)
        window.wait(timeout=30)
    else:
        fail(f"the installed kestro stopped by itself on the sample capture, exit {window.returncode}:"
             f" {window.stderr.read()}")

for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
