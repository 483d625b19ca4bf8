#!/usr/bin/env python3
"""Checks which folder includes which: the one place the layering is written.

A folder may include its own files and those of folders on lower layers,
never one on its own layer or above. The seam (platform/ and everything
under it) may include nothing of ours but the seam headers, platform/*.h.

Usage: check_layers.py ROOT     check the tree at ROOT; one line per fault
       check_layers.py --self-test
"""
import pathlib
import re
import sys
import tempfile

# Lowest first. Folders on one layer do not include each other.
LAYERS = [
    # formats; the seam's interfaces; the Windows program's resources
    ["payload", "platform", "win"],
    # the seam's implementations
    ["platform/posix", "platform/win32", "platform/dos16", "platform/uefi"],
    # the run's shared helpers; the DOS updater's logic
    ["run", "dos"],
    # the Windows worker; the dialog's start-up and handlers; the builder's
    # library (its rooms have their own order, ROOMS)
    ["update", "dialog", "tools/fwpack"],
    # the programs: the builder, the Windows program, the DOS updater on Linux
    ["app/fwpack", "app/updater", "app/dosupdater", "app/dosupd", "app/efiupd"],
]
# Folders of one layer that are split into rooms, lowest room first. A room
# may include the rooms before it and the layers below its folder's; rooms
# on one line do not include each other. The folder itself holds no sources.
ROOMS = {
    "tools/fwpack": [
        # the manifest, the rules for names, printable text
        ["manifest"],
        # the PE format: image, resource tree, the DOS program in front
        ["pe"],
        # where the five resources live: folder, Windows and Linux package
        ["container"],
        # signatures; building the payload
        ["authenticode", "builder"],
        # looking at packages: report, checks, formats, extraction
        ["inspect"],
    ],
}
SEAM = "platform"
# Folders outside the product: they may include anything.
UNLAYERED = {"tests", "bench", "build", "examples", "cmake", "scripts"}
SOURCE_SUFFIXES = {".h", ".hpp", ".c", ".cpp", ".rc"}
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.MULTILINE)


def layer_of():
    """Each folder's rank: (layer, the split folder or itself, room order)."""
    ranks = {}
    for i, layer in enumerate(LAYERS):
        for folder in layer:
            rooms = ROOMS.get(folder)
            if rooms is None:
                ranks[folder] = (i, folder, 0)
                continue
            for j, line in enumerate(rooms):
                for room in line:
                    ranks[f"{folder}/{room}"] = (i, folder, j)
    return ranks


def below(there, here):
    """True when a folder of rank there may be included from one of rank here."""
    if there[0] != here[0]:
        return there[0] < here[0]
    return there[1] == here[1] and there[2] < here[2]


def folder_of(relative, layers):
    """The deepest layered folder that holds relative (a path inside the tree)."""
    parts = relative.split("/")
    for n in range(len(parts) - 1, 0, -1):
        candidate = "/".join(parts[:n])
        if candidate in layers:
            return candidate
    return None


def resolve(root, source, name):
    """The tree-relative path an include names, or None for a system header."""
    if (root / name).is_file():
        return name
    beside = source.parent / name
    if beside.exists():
        return beside.resolve().relative_to(root.resolve()).as_posix()
    return None


def faults(root):
    root = pathlib.Path(root)
    layers = layer_of()
    found = []
    for source in sorted(root.rglob("*")):
        if source.suffix not in SOURCE_SUFFIXES or not source.is_file():
            continue
        relative = source.relative_to(root).as_posix()
        if relative.split("/")[0] in UNLAYERED or relative.startswith("."):
            continue
        here = folder_of(relative, layers)
        if here is None:
            found.append(f"{relative}: its folder has no layer")
            continue
        for name in INCLUDE.findall(source.read_text(errors="replace")):
            target = resolve(root, source, name)
            if target is None:
                continue   # a system or library header
            there = folder_of(target, layers)
            if there == here:
                continue
            if there is None:
                found.append(f"{relative} includes {target}: its folder has no layer")
            elif here.split("/")[0] == SEAM and there != SEAM:
                found.append(f"{relative} includes {target}: the seam includes only platform/*.h")
            elif not below(layers[there], layers[here]):
                found.append(f"{relative} includes {target}: {there}/ is not below {here}/")
    return found


def self_test():
    """A small tree with one fault of each kind, and one allowed include."""
    with tempfile.TemporaryDirectory() as tmp:
        root = pathlib.Path(tmp)
        files = {
            "payload/format.h": '#include "run/helper.h"\n#include <cstdint>\n',
            "platform/files.h": "",
            "platform/posix/files.cpp": '#include "platform/files.h"\n#include "payload/format.h"\n',
            "run/helper.h": '#include "payload/format.h"\n',
            "update/worker.cpp": '#include "dialog/handlers.h"\n#include "run/helper.h"\n',
            "dialog/handlers.h": "",
            "app/fwpack/tool.cpp": '#include "local.h"\n#include "update/worker.cpp"\n'
                                   '#include "tools/fwpack/inspect/report.h"\n',
            "app/fwpack/local.h": "",
            "tools/fwpack/inspect/report.h": '#include "tools/fwpack/pe/image.h"\n'
                                             '#include "tools/fwpack/builder/build.h"\n',
            "tools/fwpack/pe/image.h": '#include "tools/fwpack/inspect/report.h"\n'
                                       '#include "dialog/handlers.h"\n',
            "tools/fwpack/builder/build.h": '#include "tools/fwpack/authenticode/sign.h"\n',
            "tools/fwpack/authenticode/sign.h": "",
            "util/stray.cpp": "",
            "tests/unit/test.cpp": '#include "app/updater/main.cpp"\n',
        }
        for name, text in files.items():
            (root / name).parent.mkdir(parents=True, exist_ok=True)
            (root / name).write_text(text)
        expected = [
            "payload/format.h includes run/helper.h: run/ is not below payload/",
            "platform/posix/files.cpp includes payload/format.h: "
            "the seam includes only platform/*.h",
            "tools/fwpack/builder/build.h includes tools/fwpack/authenticode/sign.h: "
            "tools/fwpack/authenticode/ is not below tools/fwpack/builder/",
            "tools/fwpack/pe/image.h includes tools/fwpack/inspect/report.h: "
            "tools/fwpack/inspect/ is not below tools/fwpack/pe/",
            "tools/fwpack/pe/image.h includes dialog/handlers.h: "
            "dialog/ is not below tools/fwpack/pe/",
            "update/worker.cpp includes dialog/handlers.h: dialog/ is not below update/",
            "util/stray.cpp: its folder has no layer",
        ]
        got = faults(root)
        if got != expected:
            print("self-test: expected\n  " + "\n  ".join(expected) + "\ngot\n  " + "\n  ".join(got))
            return 1
    print("self-test: every planted fault found, nothing else")
    return 0


def main(argv):
    if argv[1:] == ["--self-test"]:
        return self_test()
    if len(argv) != 2:
        print(__doc__)
        return 2
    found = faults(argv[1])
    for line in found:
        print(line)
    print(f"{len(found)} layering fault(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
