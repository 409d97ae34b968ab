"""Every command and control id of the window is its own number: two menu commands that share one
run each other's handler, which no widget test notices unless it presses both."""
import re
import sys

text = open(sys.argv[1], encoding="utf-8").read()
ids = re.findall(r"constexpr int (\w+) = (\d+);", text)
seen = {}
clashes = []
for name, value in ids:
    if value in seen:
        clashes.append("%s and %s are both %s" % (seen[value], name, value))
    seen[value] = name
if not ids:
    sys.exit("no ids found in " + sys.argv[1])
if clashes:
    sys.exit("\n".join(clashes))
print("%d ids, all different" % len(ids))
