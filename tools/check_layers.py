#!/usr/bin/env python3
"""Checks that the product's layers stay apart.

  check_layers.py SOURCE_DIR BUILD_DIR QT_WIDGET_INCLUDE_DIRS...

- No product source is compiled with the whole source tree on its include path (each layer
  gets the folder of links cmake/Layers.cmake makes for it, BUILD_DIR/layers/<layer>).
- Every #include "folder/..." of a product file names a folder its layer may use.
- No file of the core (platform's core part, storage, store, library) includes a header of
  QtWidgets or QtGui.
Exits 1 naming each offending file and line.
"""
import json
import os
import re
import shlex
import sys

LAYERS = ["platform", "storage", "store", "library", "dialogs", "admin", "capi", "host", "cli"]
CORE = {"platform", "storage", "store", "library"}
# The platform folder also holds the widget layer's message boxes on screen.
GUI_IN_PLATFORM = {"msgbox_qt.cpp", "msgbox_qt.h"}
LOCAL = re.compile(r'^\s*#\s*include\s*"([^"/]+)/[^"]+"')
SYSTEM = re.compile(r'^\s*#\s*include\s*<([^>]+)>')


def main():
    src, build, qt_dirs = os.path.realpath(sys.argv[1]), sys.argv[2], sys.argv[3:]
    problems = []

    with open(os.path.join(build, "compile_commands.json")) as f:
        for entry in json.load(f):
            rel = os.path.relpath(os.path.realpath(entry["file"]), src)
            layer = rel.split(os.sep)[0]
            args = entry.get("arguments") or shlex.split(entry["command"])
            output = entry.get("output") or (args[args.index("-o") + 1] if "-o" in args else "")
            # A test program may compile a product file in; only the layer's own targets count.
            if layer not in LAYERS or os.path.normpath(output).split(os.sep)[0] != layer:
                continue
            for i, a in enumerate(args):
                path = a[2:] if a.startswith("-I") and len(a) > 2 else (args[i + 1] if a == "-I" else None)
                if path and os.path.realpath(path) == src:
                    problems.append(f"{rel}: compiled with the whole source tree on its include path")

    widget_headers = set()
    for d in qt_dirs:
        if os.path.isdir(d) and os.path.basename(d.rstrip("/")) in ("QtWidgets", "QtGui"):
            widget_headers.update(os.listdir(d))
            widget_headers.update(os.path.basename(d.rstrip("/")) + "/" + h for h in os.listdir(d))

    for layer in LAYERS:
        view = os.path.join(build, "layers", layer)
        allowed = set(os.listdir(view)) if os.path.isdir(view) else {layer}
        for name in sorted(os.listdir(os.path.join(src, layer))):
            if not name.endswith((".cpp", ".h")):
                continue
            with open(os.path.join(src, layer, name), encoding="utf-8") as f:
                for n, line in enumerate(f, 1):
                    m = LOCAL.match(line)
                    if m and m.group(1) not in allowed:
                        problems.append(f"{layer}/{name}:{n}: includes {m.group(1)}/, which {layer} may not use")
                    m = SYSTEM.match(line)
                    core_file = layer in CORE and not (layer == "platform" and name in GUI_IN_PLATFORM)
                    if m and core_file and m.group(1) in widget_headers:
                        problems.append(f"{layer}/{name}:{n}: the core includes the widget header <{m.group(1)}>")

    for p in problems:
        print(p)
    if problems:
        return 1
    print("layers: every include goes downward; the core includes no widget header")
    return 0


if __name__ == "__main__":
    sys.exit(main())
