#!/usr/bin/env python3
"""Checks that the product's dependencies run one way.

Every `#include "folder/..."` in a product folder names the folder it reaches
into. A file may include its own folder and the folders of the layers below
its own; an include of any other folder (a higher layer, a folder on the same
layer, or a folder outside the product such as tests/) is reported with file
and line, and the check fails. Inside cli/ the same holds for its capability
folders (CLI_LAYERS), with main.cpp on top. A `foo_testing.h` declares what
only tests call: in the product only foo's own implementation includes it
(a file beside it named foo*.cpp, or one that implements "folder/foo.h"). Includes without a folder ("resource_ids.h"
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

# The order inside cli/: the console, then the device, then recording (its
# reader is also monitor --from's source), then monitor and the gateway side
# by side, then the subcommands; cli/main.cpp (a file of cli/ itself) sits
# above them all.
CLI_LAYERS = [
    ["console"],
    ["device"],
    ["recording"],
    ["monitor", "gateway"],
    ["commands"],
]

SOURCE_SUFFIXES = {".cpp", ".h", ".rc", ".in"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def layer_of(folder):
    for level, folders in enumerate(LAYERS):
        if folder in folders:
            return level
    return None


def cli_layer_of(parts):
    """The level inside cli/ of a path's parts after "cli"; a file of cli/ itself is on top."""
    if len(parts) > 1:
        for level, folders in enumerate(CLI_LAYERS):
            if parts[0] in folders:
                return level, parts[0]
    return len(CLI_LAYERS), ""


def cli_include_allowed(path_parts, included):
    """Whether a file under cli/ (path_parts after "cli") may include "cli/..." name included."""
    level, folder = cli_layer_of(path_parts)
    target_level, target = cli_layer_of(included.split("/")[1:])
    return (target == folder and target != "") or target_level < level


def testing_include_allowed(path, text, included):
    """Whether product file path may include the test-only header included."""
    folder, name = included.rsplit("/", 1)
    unit = name[: -len("_testing.h")]
    if path.parent.as_posix().split("/")[-len(folder.split("/")):] != folder.split("/"):
        return False
    stem = path.stem
    for suffix in ("_win32", "_posix", "_testing"):
        stem = stem.removesuffix(suffix)
    implements = re.search(r'^\s*#\s*include\s+"%s/%s\.h"' % (re.escape(folder), re.escape(unit)), text, re.M)
    return stem == unit or implements is not None


def product_includes(root):
    """Yields (folder, path, text, line number, included name) for every include of "folder/..." in the product."""
    for folder in (f for layer in LAYERS for f in layer):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for number, line in enumerate(text.splitlines(), start=1):
                match = INCLUDE.match(line)
                if match is not None and "/" in match.group(1):
                    yield folder, path, text, number, match.group(1)


def testing_includes(root):
    """Yields (path, line number, included name) for a *_testing.h included outside its own implementation."""
    for _, path, text, number, included in product_includes(root):
        if included.endswith("_testing.h") and not testing_include_allowed(path.relative_to(root), text, included):
            yield path.relative_to(root), number, included


def upward_includes(root):
    """Yields (path, line number, included name) for every include the order forbids."""
    for folder, path, _, number, included in product_includes(root):
        target = included.split("/", 1)[0]
        target_level = layer_of(target)
        if target == folder == "cli":
            if cli_include_allowed(path.relative_to(root / folder).parts, included):
                continue
        elif target == folder or (target_level is not None and target_level < layer_of(folder)):
            continue
        yield path.relative_to(root), number, included


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    faults = list(upward_includes(root))
    for path, number, name in faults:
        where = "/".join(path.parts[:2]) if path.parts[0] == "cli" and len(path.parts) > 2 else path.parts[0]
        print(f'{path}:{number}: includes "{name}", which is not below {where}/', file=sys.stderr)
    testing = list(testing_includes(root))
    for path, number, name in testing:
        print(f'{path}:{number}: includes "{name}", which only its own implementation and tests may',
              file=sys.stderr)
    if testing:
        print(f"check-layers: {len(testing)} include(s) of a test-only header", file=sys.stderr)
    if faults:
        order = " -> ".join("/".join(layer) for layer in LAYERS)
        cli_order = " -> ".join("/".join(layer) for layer in CLI_LAYERS)
        print(f"check-layers: {len(faults)} include(s) against the layer order {order}"
              f" (inside cli/: {cli_order} -> main.cpp)", file=sys.stderr)
    return 1 if faults or testing else 0


if __name__ == "__main__":
    sys.exit(main())
