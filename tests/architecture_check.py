#!/usr/bin/python3
"""Fails when docs/ARCHITECTURE.md's table of links and the CMake files part.

The table lists, for each of Kestro's targets, the targets of ours it links. The CMake files are
read for `target_link_libraries(NAME ...)` of the same targets (tests, benchmarks, fuzzers and
tools left out: they are not layers of the program), and the two sets of arrows must be equal, so
the page cannot keep a picture of a shape the tree no longer has.
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[1])
page = (root / "docs" / "ARCHITECTURE.md").read_text(encoding="utf-8")

documented = {}
for line in page.splitlines():
    cells = [c.strip() for c in line.strip().strip("|").split("|")] if line.startswith("| `") else None
    if not cells or len(cells) != 2:
        continue
    names = re.findall(r"`([\w-]+)`", cells[0])
    links = set(re.findall(r"`([\w-]+)`", cells[1]))
    for name in names:
        documented[name] = links

built = {}
for cmake in sorted(root.glob("**/CMakeLists.txt")):
    rel = cmake.relative_to(root).parts
    if rel[0] not in ("platform", "source") and len(rel) > 1:
        continue
    text = re.sub(r"#[^\n]*", "", cmake.read_text(encoding="utf-8"))
    for m in re.finditer(r"add_(?:library|executable)\(\s*([\w-]+)", text):
        built.setdefault(m.group(1), set())
    for m in re.finditer(r"target_link_libraries\(\s*([\w-]+)([^)]*)\)", text):
        name, args = m.group(1), m.group(2)
        built.setdefault(name, set()).update(t for t in re.findall(r"[\w-]+", args) if t.startswith("kestro"))

ours = {n: links for n, links in built.items() if n.startswith("kestro")}
problems = []
for name in sorted(set(ours) | set(documented)):
    if name not in ours:
        problems.append(f"{name}: on the page, but no CMake file builds it")
    elif name not in documented:
        problems.append(f"{name}: built, but the page's table does not list it")
    elif ours[name] != documented[name]:
        problems.append(f"{name}: CMake links {sorted(ours[name])}, the page says {sorted(documented[name])}")
for p in problems:
    print("docs/ARCHITECTURE.md:", p)
sys.exit(1 if problems else 0)
