#!/usr/bin/env python3
"""The dos16 configure finds zlib's sources again when its cached path is
empty (a configure run before scripts/setup.sh fetched them) or no longer
holds them, and keeps a path that holds sources.

Usage: configure_cases.py SOURCE_DIR WORK_DIR [unittest names...]
"""
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = WORK_DIR = None


def cached_zlib_dir(build):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            if line.startswith("FWPACK_FREESTANDING_ZLIB_DIR:"):
                return line.split("=", 1)[1].strip()
    return None


class ZlibPath(unittest.TestCase):
    def setUp(self):
        self.build = tempfile.mkdtemp(prefix="dos16-configure-", dir=WORK_DIR)
        found = [d for d in glob.glob(os.path.join(SOURCE_DIR, "build", "zlib-src", "zlib-*"))
                 if os.path.exists(os.path.join(d, "inflate.c"))]
        if not found:
            self.skipTest("no zlib sources under build/zlib-src (scripts/setup.sh fetches them)")
        self.found = found[0]

    def tearDown(self):
        shutil.rmtree(self.build, ignore_errors=True)

    def configure(self, zlib_dir):
        return subprocess.run(
            ["cmake", "-S", SOURCE_DIR, "-B", self.build, "-G", "Unix Makefiles",
             f"-DCMAKE_TOOLCHAIN_FILE={os.path.join(SOURCE_DIR, 'cmake', 'dos16.cmake')}",
             f"-DFWPACK_FREESTANDING_ZLIB_DIR={zlib_dir}"], capture_output=True, text=True)

    def test_an_empty_or_stale_cached_path_gives_way_and_a_good_one_stays(self):
        own = os.path.join(self.build, "own-zlib")
        os.makedirs(own)
        for name in ("inflate.c", "inffast.c", "inftrees.c", "adler32.c", "crc32.c", "zutil.c"):
            open(os.path.join(own, name), "w").close()
        for given, expected in (("", self.found), (os.path.join(self.build, "gone"), self.found),
                                (own, own)):
            with self.subTest(given=given):
                result = self.configure(given)
                self.assertEqual(result.returncode, 0, result.stderr[-2000:])
                self.assertEqual(cached_zlib_dir(self.build), expected)


def main():
    global SOURCE_DIR, WORK_DIR
    SOURCE_DIR, WORK_DIR = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    os.makedirs(WORK_DIR, exist_ok=True)
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[3:], exit=False, verbosity=2)
    result = program.result
    if result.wasSuccessful() and result.skipped and len(result.skipped) == result.testsRun:
        return 77
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
