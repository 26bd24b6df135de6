#!/usr/bin/env python3
"""Writes the code examples of the "Using Vardex from your program" section of the page it is
given (docs/developer.md) into a folder, one file per kind, so that the test command builds and
runs them exactly as printed:
c -> app.c, sh -> build.sh, cmake -> CMakeLists.txt, python -> example.py, pascal -> example.pas,
bash (the routes from a checkout) -> checkout.sh."""
import pathlib
import re
import sys

NAMES = {"c": "app.c", "sh": "build.sh", "cmake": "CMakeLists.txt", "python": "example.py", "pascal": "example.pas",
         "bash": "checkout.sh"}

readme, out = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
text = readme.read_text(encoding="utf-8")
section = re.search(r"^## Using Vardex from your program\n(.*?)(?=^## |\Z)", text, re.S | re.M)
if not section:
    sys.exit("readme-examples: no section 'Using Vardex from your program'")
blocks = re.findall(r"^```(\w+)\n(.*?)^```", section.group(1), re.S | re.M)
written = set()
for kind, body in blocks:
    if kind not in NAMES:
        continue
    if kind in written:
        sys.exit(f"readme-examples: more than one {kind} example")
    written.add(kind)
    (out / NAMES[kind]).write_text(body, encoding="utf-8")
missing = set(NAMES) - written
if missing:
    sys.exit(f"readme-examples: no example for {', '.join(sorted(missing))}")
