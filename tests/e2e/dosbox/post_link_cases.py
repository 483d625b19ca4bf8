#!/usr/bin/env python3
"""The dos16 build's post-link check (cmake/dos16_post_link.py) refuses what
a 386 in real mode cannot run, string instructions that step only SI/DI and
memory reached through CS (code only in the small model), anything but
8086 instructions before the start-up's processor check, and refuses MZ
files whose header does not match them.

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
SOURCE_DIR = None


def assemble(folder, text):
    """An i386 object file from 16-bit assembly (as gcc -m16 emits it)."""
    source = os.path.join(folder, "t.s")
    obj = os.path.join(folder, "t.o")
    with open(source, "w") as f:
        f.write(".code16gcc\n.text\n" + text + "\n")
    subprocess.run(["as", "--32", "-o", obj, source], check=True)
    return obj


def link(folder, text, *extra):
    """Links 16-bit assembly (with a _start) by the dos16 linker script;
    the completed process."""
    obj = assemble(folder, text)
    return subprocess.run(["ld", "-m", "elf_i386", "--gc-sections", "--orphan-handling=error",
                           "-T", os.path.join(SOURCE_DIR, "cmake", "dos16.ld"), *extra, obj,
                           "-o", os.path.join(folder, "t.elf")], capture_output=True, text=True)


def check(path):
    return subprocess.run([sys.executable, CHECK.__file__, path], capture_output=True, text=True)


def mz(code=1024, data=600, stack_top=0x3000, file_size=None, min_extra=None, max_extra=None,
       ss=None, sp=None, ip=0, cs=0):
    """An MZ file laid out as the linker script lays it out: code paragraphs,
    then data whose segment (SS) holds the stack; the extra memory covers
    the data segment up to stack_top unless told otherwise."""
    image = code + data
    ss = code // 16 if ss is None else ss
    sp = stack_top if sp is None else sp
    needed = max(0, code // 16 + stack_top // 16 - (image + 15) // 16)
    min_extra = needed if min_extra is None else min_extra
    max_extra = min_extra if max_extra is None else max_extra
    pages, last = (image + 64 + 511) // 512, (image + 64) % 512
    header = struct.pack("<2s13H", b"MZ", last, pages, 0, 4, min_extra, max_extra, ss, sp, 0, ip, cs,
                         0x40, 0).ljust(64, b"\0")
    data = header + bytes(image)
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

    def test_memory_through_cs_is_refused_and_reading_cs_itself_is_not(self):
        for line in ["movl %esp, %cs:4", "movl %cs:(%ebx), %eax", "addr32 lodsb %cs:(%esi)"]:
            with self.subTest(line):
                result = check(assemble(self.folder, line))
                self.assertEqual(result.returncode, 1, line)
                self.assertIn("through CS", result.stderr)
        result = check(assemble(self.folder, "movw %cs, %ax\naddw $16, %ax\nmovw %ax, %ds\n"
                                             "ljmpw $0xFFFF, $0"))
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_ordinary_code_and_32_bit_string_instructions_pass(self):
        result = check(assemble(self.folder, "\n".join([
            "pushl %ebp", "movl %esp, %ebp", "addr32 rep movsb", "addr32 rep stosb",
            "addr32 lodsb", "movzbl (%esi), %eax", "imull %ecx, %eax", "popl %ebp", "retl"])))
        self.assertEqual(result.returncode, 0, result.stderr)


    def test_before_the_processor_check_only_8086_instructions(self):
        """From _start to dos16_startup_checked the start-up finds out whether
        it runs on a 386: a 32-bit, 286 or 186 instruction there would hang
        an 8086 first."""
        head = ".globl _start\n.globl dos16_startup_checked\n_start:\nmovw %cs, %ax\npushfw\npopw %cx\n"
        tail = "dos16_startup_checked:\nmovl $0x1000, %esp\nshll $4, %eax\nretl\n"
        result = check(assemble(self.folder, head + "testw $0xF000, %ax\njz 1f\n1:\n" + tail))
        self.assertEqual(result.returncode, 0, result.stderr)
        for line in ["movl $0x1000, %esp", "pushw $3", "shlw $4, %ax", "pushal", "movw %ax, %fs",
                     "lgdtl (%bx)"]:
            with self.subTest(line):
                result = check(assemble(self.folder, head + line + "\n" + tail))
                self.assertEqual(result.returncode, 1, line)
                self.assertIn("before the processor check", result.stderr)


class LinkerScript(unittest.TestCase):
    """cmake/dos16.ld: code and data each from offset 0, the data after the
    code's paragraphs, and what does not fit refused at link time."""
    START = ".section .text.start, \"ax\"\n.globl _start\n_start: calll f\n.text\nf: retl\n"

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="dos16ld-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_data_segment_follows_the_code_and_both_start_at_zero(self):
        r = link(self.folder, self.START + ".fill 988, 1, 0x90\nmovl $b, %eax\nmovl $t, %eax\n"
                 ".section .rodata.t, \"a\"\nt: .long f\n.section .bss.b, \"aw\", @nobits\nb: .skip 4000\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        elf = os.path.join(self.folder, "t.elf")
        out = os.path.join(self.folder, "T.EXE")
        r = subprocess.run([sys.executable, CHECK.__file__, elf, out], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            data = f.read()
        ss, sp = struct.unpack_from("<2H", data, 14)
        code_size = 1008  # a call, a return, 988 bytes and two moves: 63 paragraphs
        self.assertEqual(ss, code_size // 16)
        # The table's entry is f's code offset, 16 bytes into the data
        # segment (behind the null guard), right after the code in the file.
        self.assertEqual(data[64 + code_size:64 + code_size + 16], bytes(16))
        self.assertEqual(struct.unpack_from("<I", data, 64 + code_size + 16)[0], 6)
        self.assertEqual(sp, (16 + 4 + 4000 + 15) // 16 * 16 + 0x2000)

    def test_what_does_not_fit_or_is_not_placed_is_refused(self):
        cases = {
            "code exceeds its 64 KiB segment": self.START + ".fill 0x10010, 1, 0x90\n",
            "exceed the 64 KiB data segment":
                self.START + "movl $b, %eax\n.section .bss.b, \"aw\", @nobits\nb: .skip 0xE000\n",
            "orphan section": self.START + "movl $w, %eax\n.section .weird, \"aw\"\nw: .long 1\n",
        }
        for want, text in cases.items():
            with self.subTest(want):
                r = link(self.folder, text)
                self.assertNotEqual(r.returncode, 0)
                self.assertIn(want, r.stderr)


class Header(unittest.TestCase):
    def test_a_consistent_header_passes(self):
        self.assertEqual(CHECK.check_header(mz()), [])
        # Data ending on a paragraph, and a stack top at the segment's limit.
        self.assertEqual(CHECK.check_header(mz(code=2048, data=4096, stack_top=0xFFF0)), [])

    def test_mismatches_are_reported(self):
        cases = {
            "short file": mz(file_size=900),
            "free memory grabbed": mz(max_extra=0xFFFF),
            "extra memory short of the stack": mz(min_extra=10),
            "stack inside the image": mz(stack_top=0x100),
            "stack past the data segment's 64 KiB": mz(sp=0xFFFE),
            "entry in the data": mz(ip=1024),
            "code segment moved": mz(cs=1),
            "data segment past the image": mz(ss=200),
            "data segment on the code (tiny model)": mz(ss=0, sp=0xF000),
            "no MZ": b"ZM" + mz()[2:],
        }
        for what, data in cases.items():
            with self.subTest(what):
                self.assertNotEqual(CHECK.check_header(data), [])


def main():
    global CHECK, SOURCE_DIR
    source_dir = SOURCE_DIR = sys.argv[1]
    sys.path.insert(0, os.path.join(source_dir, "cmake"))
    import dos16_post_link
    CHECK = dos16_post_link
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
