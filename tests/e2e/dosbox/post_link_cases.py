#!/usr/bin/env python3
"""The dos16 build's post-link check (cmake/dos16_post_link.py) refuses what
a 386 in real mode cannot run and string instructions that step only SI/DI,
and refuses MZ files whose header does not match them.

Usage: post_link_cases.py SOURCE_DIR [unittest names...]
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

CHECK = None


def assemble(folder, text):
    """An i386 object file from 16-bit assembly (as gcc -m16 emits it)."""
    source = os.path.join(folder, "t.s")
    obj = os.path.join(folder, "t.o")
    with open(source, "w") as f:
        f.write(".code16gcc\n.text\n" + text + "\n")
    subprocess.run(["as", "--32", "-o", obj, source], check=True)
    return obj


def check(path):
    return subprocess.run([sys.executable, CHECK.__file__, path], capture_output=True, text=True)


def mz(image_size, file_size=None, min_extra=0x200, max_extra=0x200, sp=0xF000, ip=0):
    pages, last = (image_size + 64 + 511) // 512, (image_size + 64) % 512
    header = struct.pack("<2s13H", b"MZ", last, pages, 0, 4, min_extra, max_extra, 0, sp, 0, ip, 0,
                         0x40, 0).ljust(64, b"\0")
    data = header + bytes(image_size)
    return data if file_size is None else data[:file_size]


class Instructions(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="postlink-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_each_instruction_a_386_in_real_mode_cannot_run_is_refused(self):
        for line in ["movq %xmm0, (%eax)", "cmovne %eax, %ebx", "bswap %eax", "cpuid",
                     "nopl 0(%eax)", "cmpxchg %ebx, (%ecx)", "ud2"]:
            with self.subTest(line):
                result = check(assemble(self.folder, "movl %eax, %ebx\n" + line))
                self.assertEqual(result.returncode, 1, line)
                self.assertIn(": ", result.stderr)

    def test_string_instructions_need_the_32_bit_address_form(self):
        for line in ["movsb", "rep movsl", "rep stosb", "lodsb", "repnz scasb"]:
            with self.subTest(line):
                result = check(assemble(self.folder, line))
                self.assertEqual(result.returncode, 1, line)
                self.assertIn("16-bit SI/DI", result.stderr)

    def test_ordinary_code_and_32_bit_string_instructions_pass(self):
        result = check(assemble(self.folder, "\n".join([
            "pushl %ebp", "movl %esp, %ebp", "addr32 rep movsb", "addr32 rep stosb",
            "addr32 lodsb", "movzbl (%esi), %eax", "imull %ecx, %eax", "popl %ebp", "retl"])))
        self.assertEqual(result.returncode, 0, result.stderr)


class Header(unittest.TestCase):
    def test_a_consistent_header_passes(self):
        self.assertEqual(CHECK.check_header(mz(1000)), [])

    def test_mismatches_are_reported(self):
        cases = {
            "short file": mz(1000, file_size=900),
            "free memory grabbed": mz(1000, max_extra=0xFFFF),
            "stack inside the image": mz(1000, sp=0x100),
            "entry outside the image": mz(1000, ip=2000),
            "no MZ": b"ZM" + mz(1000)[2:],
        }
        for what, data in cases.items():
            with self.subTest(what):
                self.assertNotEqual(CHECK.check_header(data), [])


def main():
    global CHECK
    source_dir = sys.argv[1]
    sys.path.insert(0, os.path.join(source_dir, "cmake"))
    import dos16_post_link
    CHECK = dos16_post_link
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
