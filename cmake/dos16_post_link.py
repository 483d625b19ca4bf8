#!/usr/bin/env python3
"""Checks a linked real-mode DOS program and cuts it to its MZ file.

1. Disassembles the ELF's code as 16-bit code and fails on instructions that
   a 386 in real mode cannot run (SSE and MMX registers, cmov and the other
   486/Pentium additions) and on string instructions that address through
   16-bit SI/DI: in this 32-bit-pointer code they silently wrap inside the
   first 64 KiB; and on memory reached through CS, which holds code only
   (data, bss and stack are in the data segment, DS = ES = SS).
   The start-up's first instructions, from _start to dos16_startup_checked,
   must be an 8086's: they find out whether the processor can run the rest.
2. objcopy -O binary, then checks the MZ header against the file. objcopy
   leaves out a trailing stretch that holds only padding; that stretch is
   put back as zeros so the file is as long as its header says.

Usage: dos16_post_link.py ELF OUTPUT      (OUTPUT omitted: check only)
"""
import os
import re
import struct
import subprocess
import sys

FORBIDDEN_MNEMONICS = re.compile(
    r"^(cmov\w*|fcmov\w*|f?u?comip?|bswap|cmpxchg\w*|xadd\w*|cpuid|rdtsc\w*|rdmsr|wrmsr|"
    r"invlpg|invd|wbinvd|sysenter|sysexit|syscall|sysret|movbe|popcnt|lzcnt|tzcnt|ud2|"
    r"nop[lw]|endbr32|endbr64|pause|[lsm]fence|prefetch\w*|clflush)$")
VECTOR_REGISTER = re.compile(r"%[xy]?mm\d")
STRING_OP = re.compile(r"^(movs|stos|lods|cmps|scas|ins|outs)[bwlq]?$")
SHORT_INDEX = re.compile(r"\(%(si|di)\)")
PREFIXES = ("rep", "repz", "repnz", "repe", "repne", "lock", "addr32", "data32", "data16",
            "cs", "ds", "es", "fs", "gs", "ss")


def instructions(elf):
    """(address, mnemonic, operands, prefixes) of every instruction in the code."""
    out = subprocess.run(["objdump", "-d", "-j", ".text", "-m", "i8086", "--no-show-raw-insn", elf],
                         check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        m = re.match(r"^\s*([0-9a-f]+):\s+(.*)$", line)
        if not m:
            continue
        words = m.group(2).split()
        prefixes = []
        while words and words[0] in PREFIXES:
            prefixes.append(words.pop(0))
        if words:
            yield m.group(1), words[0], " ".join(words[1:]), prefixes


def faults(elf):
    found = []
    for address, mnemonic, operands, prefixes in instructions(elf):
        if FORBIDDEN_MNEMONICS.match(mnemonic):
            found.append(f"{address}: {mnemonic} {operands}: not a 386 instruction")
        elif VECTOR_REGISTER.search(operands):
            found.append(f"{address}: {mnemonic} {operands}: SSE/MMX register")
        elif STRING_OP.match(mnemonic) and SHORT_INDEX.search(operands):
            found.append(f"{address}: {mnemonic} {operands}: string instruction with 16-bit SI/DI")
        elif "%cs:" in operands or "cs" in prefixes:
            found.append(f"{address}: {mnemonic} {operands}: memory through CS, the code segment")
    return found


# First bytes an 8086 cannot run: operand-size, address-size, FS and GS
# prefixes, the two-byte opcodes (0F), and the 186's additions (PUSHA, POPA,
# BOUND, PUSH and IMUL with an immediate, INS, OUTS, shifts by an immediate,
# ENTER, LEAVE).
NOT_8086 = {0x66, 0x67, 0x64, 0x65, 0x0F, 0x60, 0x61, 0x62, *range(0x68, 0x70), 0xC0, 0xC1,
            0xC8, 0xC9}
# Registers an 8086 lacks: 32-bit ones, FS and GS, control registers.
NOT_8086_REGISTER = re.compile(r"%(e[a-ds][xpil]|fs|gs|cr\d)")


def symbol(elf, name):
    out = subprocess.run(["nm", elf], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2] == name:
            return int(parts[0], 16)
    return None


def startup_faults(elf):
    """Instructions before dos16_startup_checked that an 8086 cannot run."""
    begin, end = symbol(elf, "_start"), symbol(elf, "dos16_startup_checked")
    if begin is None or end is None:
        return []   # a program without the runtime's start-up
    if end <= begin:
        return [f"dos16_startup_checked ({end:x}) does not follow _start ({begin:x})"]
    out = subprocess.run(["objdump", "-d", "-j", ".text", "-m", "i8086", f"--start-address={begin}",
                          f"--stop-address={end}", elf], check=True, capture_output=True, text=True).stdout
    found = []
    for line in out.splitlines():
        m = re.match(r"^\s*([0-9a-f]+):\s+((?:[0-9a-f]{2} )+)\s*(.*)$", line)
        if m and (int(m.group(2).split()[0], 16) in NOT_8086 or NOT_8086_REGISTER.search(m.group(3))):
            found.append(f"{m.group(1)}: {m.group(3)}: runs before the processor check, not an 8086 instruction")
    return found


def check_header(data):
    """One line per mismatch between the MZ header and the file: the code
    segment at the image's start, the data segment (SS) after it, the stack
    top inside the data segment's 64 KiB and past the loaded bytes, and the
    extra memory covering it."""
    if len(data) < 64 or data[:2] != b"MZ":
        return ["no MZ header"]
    (cblp, pages, relocations, header_paragraphs, min_extra, max_extra, ss, sp, _, ip, cs) = \
        struct.unpack_from("<11H", data, 2)
    declared = pages * 512 - (512 - cblp if cblp else 0)
    problems = []
    if declared != len(data):
        problems.append(f"header says {declared} bytes, file has {len(data)}")
    if relocations or header_paragraphs != 4:
        problems.append(f"{relocations} relocations, {header_paragraphs} header paragraphs")
    if min_extra != max_extra:
        problems.append(f"minimum {min_extra} and maximum {max_extra} extra paragraphs differ")
    image = len(data) - 64
    data_start = ss * 16
    if cs or ip >= data_start or data_start > image:
        problems.append(f"CS:IP {cs:04X}:{ip:04X} and data segment {ss:04X} for a {image}-byte image")
    if sp > 0xFFF0 or data_start + sp <= image:
        problems.append(f"SS:SP {ss:04X}:{sp:04X} for a {image}-byte image")
    elif data_start + sp > (image + 15) // 16 * 16 + min_extra * 16:
        problems.append(f"SS:SP {ss:04X}:{sp:04X} past the image and its {min_extra} extra paragraphs")
    return problems


def main():
    elf = sys.argv[1]
    problems = faults(elf) + startup_faults(elf)
    if len(sys.argv) > 2:
        output = sys.argv[2]
        subprocess.run(["objcopy", "-O", "binary", elf, output], check=True)
        with open(output, "rb") as f:
            data = f.read()
        if len(data) >= 6 and data[:2] == b"MZ":
            cblp, pages = struct.unpack_from("<2H", data, 2)
            declared = pages * 512 - (512 - cblp if cblp else 0)
            if len(data) < declared:
                data += bytes(declared - len(data))
                with open(output, "wb") as f:
                    f.write(data)
        problems += check_header(data)
    for p in problems:
        print(f"{elf}: {p}", file=sys.stderr)
    if problems and len(sys.argv) > 2:
        # Neither file may look up to date to the next build.
        for path in (elf, sys.argv[2]):
            if os.path.exists(path):
                os.remove(path)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
