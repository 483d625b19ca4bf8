"""The disks and the flash of an emulated PC: the FreeDOS boot floppy's
copy, a FAT16 hard disk whose partition table matches the geometry the BIOS
reports, floppies of our own, all reached through mtools, and the firmware
image that ends at 4 GiB."""

import os
import shutil
import subprocess

from pcprocess import HarnessError

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
# The FreeDOS boot floppy; the variable names another copy.
FREEDOS_VARIABLE = "FWPACK_FREEDOS_IMAGE"
FREEDOS_RELATIVE = os.path.join("..", "shared", "freedos", "fdboot.img")

# dosfstools installs mkfs.fat in /usr/sbin, which a user's PATH may lack.
MKFS_FAT = shutil.which("mkfs.fat", path=os.pathsep.join([os.environ.get("PATH", ""), "/usr/sbin", "/sbin"]))
SEABIOS = "/usr/share/seabios/bios.bin"
BOCHS_BIOS = "/usr/share/bochs/BIOS-bochs-latest"

# The hard disk: 65 cylinders, 16 heads, 63 sectors (32 MiB as QEMU counts
# it, and the geometry it reports for an image of this size), one FAT16
# partition from sector 63 to the end. The CHS values in the partition table
# must match the geometry or FreeDOS will not read the partition.
CYLINDERS, HEADS, SECTORS = 65, 16, 63
DISK_SECTORS = CYLINDERS * HEADS * SECTORS
PARTITION_START = SECTORS
DISK_OFFSET = PARTITION_START * 512

# The firmware image ends at 4 GiB with the machine's own BIOS in its last
# 128 KiB (both machines also map that part at 0xE0000); flash that holds
# nothing reads as 0xFF. QEMU takes 4 MiB, down to 0xFFC00000; Bochs refuses
# a ROM image larger than 2 MiB, so its flash starts at 0xFFE00000.
FIRMWARE_SIZES = {"qemu": 4 << 20, "bochs": 2 << 20}
MACHINE_BIOS = {"qemu": SEABIOS, "bochs": BOCHS_BIOS}
BIOS_ROOM = 128 << 10


def firmware_base(machine):
    return (1 << 32) - FIRMWARE_SIZES[machine]


def freedos_image():
    """The variable's path; else ../shared beside the checkout, or beside the
    main checkout when this one is a git worktree (whose .git is a file
    naming the main checkout's .git/worktrees/NAME)."""
    if os.environ.get(FREEDOS_VARIABLE):
        return os.environ[FREEDOS_VARIABLE]
    checkouts = [REPO]
    try:
        with open(os.path.join(REPO, ".git")) as f:
            gitdir = f.read().split("gitdir:", 1)[1].strip()
        checkouts.append(os.path.dirname(os.path.dirname(os.path.dirname(gitdir))))
    except (OSError, IndexError):
        pass
    candidates = [os.path.normpath(os.path.join(c, FREEDOS_RELATIVE)) for c in checkouts]
    return next((c for c in candidates if os.path.exists(c)), candidates[0])


def firmware_image(machine, blocks=()):
    """The machine's flash: erased (0xFF), its BIOS at the end and each
    (physical address, bytes) of blocks in place."""
    bios, size = MACHINE_BIOS[machine], FIRMWARE_SIZES[machine]
    with open(bios, "rb") as f:
        rom = f.read()
    if len(rom) > BIOS_ROOM:
        raise HarnessError(f"{bios} holds {len(rom)} bytes, more than the {BIOS_ROOM} at the top")
    image = bytearray(b"\xff" * (size - len(rom))) + rom
    for address, data in blocks:
        at = address - firmware_base(machine)
        if at < 0 or at + len(data) > size - BIOS_ROOM:
            raise HarnessError(f"address {address:#x} is outside the flash below the BIOS")
        image[at:at + len(data)] = data
    return bytes(image)


def _mtools(command, *args):
    proc = subprocess.run([command, *args], capture_output=True, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if proc.returncode != 0:
        raise HarnessError(f"{command} {' '.join(args)}: {proc.stderr.decode(errors='replace').strip()}")
    return proc.stdout


class FatImage:
    """A FAT file system in an image file, at a byte offset, reached through mtools."""

    def __init__(self, path, offset=0):
        self.path = path
        self.target = f"{path}@@{offset}" if offset else path

    def put(self, name, data):
        """Writes data (bytes, or text written with DOS line ends) as \\name."""
        if isinstance(data, str):
            data = data.replace("\r\n", "\n").replace("\n", "\r\n").encode("latin-1")
        local = self.path + ".put"
        with open(local, "wb") as f:
            f.write(data)
        _mtools("mcopy", "-o", "-i", self.target, local, "::" + name)
        os.remove(local)

    def read(self, name, missing=None):
        """The file's bytes as latin-1 text, or missing when there is none."""
        if not self.exists(name):
            return missing
        return _mtools("mtype", "-i", self.target, "::" + name).decode("latin-1")

    def make_folder(self, name):
        """Makes the folder name (its parent must be there)."""
        _mtools("mmd", "-i", self.target, "::" + name)

    def delete(self, name):
        """Removes the file, if there is one."""
        if self.exists(name):
            _mtools("mdel", "-i", self.target, "::" + name)

    def exists(self, name):
        """Whether the file (or folder) name is there; name may lie in a folder."""
        folder, base = os.path.split(name.replace("\\", "/"))
        return base.upper() in self.names(folder)

    def names(self, folder=""):
        """The names in a folder, upper case, folders included."""
        out = _mtools("mdir", "-b", "-i", self.target, "::" + folder.strip("/") + "/").decode("latin-1")
        return sorted(os.path.basename(line.rstrip("/")).upper() for line in out.splitlines() if line.strip())


def make_hard_disk(path):
    """A blank hard disk image with one FAT16 partition; its file system."""
    size = DISK_SECTORS * 512
    with open(path, "wb") as f:
        f.truncate(size)
        f.seek(446)
        f.write(_partition_entry(PARTITION_START, DISK_SECTORS - PARTITION_START))
        f.seek(510)
        f.write(b"\x55\xaa")
    blocks = (DISK_SECTORS - PARTITION_START) // 2
    proc = subprocess.run([MKFS_FAT, "-F", "16", "--offset", str(PARTITION_START), "-g", f"{HEADS}/{SECTORS}",
                           "-h", str(PARTITION_START), "-i", "20261208", "-n", "PCRIG", path, str(blocks)],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise HarnessError(f"mkfs.fat: {proc.stderr.strip()}")
    return FatImage(path, DISK_OFFSET)


def _chs(lba):
    cylinder, rest = divmod(lba, HEADS * SECTORS)
    head, sector = divmod(rest, SECTORS)
    return bytes([head, (sector + 1) | ((cylinder >> 8) << 6), cylinder & 0xFF])


def _partition_entry(start, count):
    """An active FAT16 (type 06h) partition entry."""
    return (b"\x80" + _chs(start) + b"\x06" + _chs(start + count - 1)
            + start.to_bytes(4, "little") + count.to_bytes(4, "little"))


def make_floppy(path, label):
    """A blank 1.44 MB FAT12 floppy image; its file system."""
    with open(path, "wb") as f:
        f.truncate(1474560)
    proc = subprocess.run([MKFS_FAT, "-F", "12", "-i", "20261209", "-n", label, path],
                          capture_output=True, text=True)
    if proc.returncode != 0:
        raise HarnessError(f"mkfs.fat: {proc.stderr.strip()}")
    return FatImage(path)


