#!/usr/bin/env python3
"""Checks that the product's dependencies run one way.

Every `#include "folder/..."` in a product folder names the folder it reaches
into. A file may include its own folder and the folders of the layers below
its own; an include of any other folder (a higher layer, a folder on the same
layer, or a folder outside the product such as tests/) is reported with file
and line, and the check fails. Includes without a folder ("resource_ids.h"
beside the .rc files, the generated "elq_version.h") stay in their own place.

Usage: check-layers.py [ROOT]   (ROOT defaults to the checkout this script is in)
"""
import pathlib
import re
import sys

# The layers from the ground up. Folders on one layer do not include each
# other: app/ and cli/ are the two front ends over the same core.
LAYERS = [
    ["resources", "lang"],
    ["params"],
    ["link"],
    ["display"],
    ["output"],
    ["app", "cli"],
]

SOURCE_SUFFIXES = {".cpp", ".h", ".rc", ".in"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(folder):
    for level, folders in enumerate(LAYERS):
        if folder in folders:
            return level
    return None


def upward_includes(root):
    """Yields (path, line number, included name) for every include the order forbids."""
    for folder in (f for layer in LAYERS for f in layer):
        level = layer_of(folder)
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for number, line in enumerate(text.splitlines(), start=1):
                match = INCLUDE.match(line)
                if match is None or "/" not in match.group(1):
                    continue
                target = match.group(1).split("/", 1)[0]
                target_level = layer_of(target)
                if target == folder or (target_level is not None and target_level < level):
                    continue
                yield path.relative_to(root), number, match.group(1)


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    faults = list(upward_includes(root))
    for path, number, name in faults:
        print(f'{path}:{number}: includes "{name}", which is not below {path.parts[0]}/', file=sys.stderr)
    if faults:
        order = " -> ".join("/".join(layer) for layer in LAYERS)
        print(f"check-layers: {len(faults)} include(s) against the layer order {order}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
