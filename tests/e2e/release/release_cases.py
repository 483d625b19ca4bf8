#!/usr/bin/env python3
"""fwpack as an engineer installs it.

Surface: `fwpack --version` prints the project's version; `inspect --json`
names it beside the report's own members; every command and option that
`fwpack CMD --help` lists is in the man page (which `man -l` renders
without a warning) and offered by the bash completion.

Release: scripts/release.sh --no-build makes the .deb, the Windows zip and
SHA256SUMS; the .deb's contents and metadata are read with dpkg-deb; it is
installed with dpkg into a throw-away root, and the installed fwpack builds
the sample into a Windows and a Linux package from the installed updaters
(no stub named) and verifies both.

Usage: release_cases.py --fwpack PATH --version V --host DIR --win64 DIR
                        --dos16 DIR --work DIR GROUP...
Exit status: 0 pass, 1 fail, 77 skipped (the other presets are not built).
"""

import argparse
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.abspath(os.path.join(HERE, "..", "..", ".."))
SAMPLE = os.path.join(SOURCE_DIR, "examples", "sample", "package.toml")
MAN_PAGE = os.path.join(SOURCE_DIR, "app", "fwpack", "fwpack.1")
COMPLETION = os.path.join(SOURCE_DIR, "app", "fwpack", "fwpack.bash-completion")
COMMANDS = ("build", "inspect", "verify", "extract", "dos-program")
SKIP = 77


class Failed(Exception):
    pass


def run(cmd, ok=(0,), **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if r.returncode not in ok:
        raise Failed(f"{cmd}: exit {r.returncode}\n{r.stdout}{r.stderr}")
    return r


def expect(cond, what):
    if not cond:
        raise Failed(what)


def help_options(fwpack, command):
    """The long options and -o that `fwpack COMMAND --help` lists."""
    text = run([fwpack, command, "--help"]).stdout
    return set(re.findall(r"(?<![\w-])(--[a-z][a-z0-9-]*|-o)\b", text))


def completions(words):
    """What the bash completion offers for the last of words."""
    script = (f'source "{COMPLETION}"; COMP_WORDS=({" ".join(words)}); '
              f'COMP_CWORD={len(words) - 1}; _fwpack; printf "%s\\n" "${{COMPREPLY[@]}}"')
    return set(run(["bash", "-c", script]).stdout.split())


def rendered_man(page):
    """The page as man -l prints it, plain text; groff must not warn."""
    env = dict(os.environ, MANWIDTH="100", LC_ALL="C.UTF-8")
    r = run(["man", "--warnings", "-l", page], env=env)
    expect(r.stderr.strip() == "", f"man -l {page} warns:\n{r.stderr}")
    text = re.sub(".\x08", "", r.stdout)   # overstrike bold and underline
    return text.replace("\u2010", "-").replace("\u2212", "-")


def surface(a):
    r = run([a.fwpack, "--version"])
    expect(r.stdout == f"fwpack {a.version}\n", f"--version printed {r.stdout!r}")

    folder = os.path.join(a.work, "resources")
    run([a.fwpack, "build", SAMPLE, "--resources-dir", folder])
    report = json.loads(run([a.fwpack, "inspect", "--json", folder]).stdout)
    expect(report.get("fwpack_version") == a.version, f"inspect --json: {report.get('fwpack_version')!r}")
    for member in ("path", "container", "resources", "problems"):
        expect(member in report, f"inspect --json lost {member!r}")
    expect(len(report["resources"]) == 5, "inspect --json: not five resources")

    man = rendered_man(MAN_PAGE)
    expect(completions(["fwpack", ""]) >= set(COMMANDS) | {"--version"},
           "completion of the command word")
    expect(completions(["fwpack", "ins"]) == {"inspect"}, "completion of 'ins'")
    for command in COMMANDS:
        expect(re.search(rf"^\s+{re.escape(command)}\b", man, re.M), f"man page: no {command}")
        listed = help_options(a.fwpack, command)
        expect(listed, f"{command} --help lists no options")
        missing_man = sorted(o for o in listed if not re.search(rf"(?<![\w-]){re.escape(o)}\b", man))
        expect(not missing_man, f"man page lacks {command} {missing_man}")
        offered = completions(["fwpack", command, "-"])
        expect(listed <= offered, f"completion lacks {command} {sorted(listed - offered)}")


def built_programs(a):
    files = [os.path.join(a.win64, "updater.exe"), os.path.join(a.win64, "fwpack.exe"),
             os.path.join(a.dos16, "app", "dosupd", "DOSUPD.EXE"), os.path.join(a.uefi, "app", "efiupd", "UPDATE.EFI")]
    missing = [f for f in files if not os.path.isfile(f)]
    if missing:
        print("skipped: not built: " + ", ".join(missing))
        sys.exit(SKIP)


def check_sums(out, names):
    with open(os.path.join(out, "SHA256SUMS")) as f:
        sums = dict(reversed(line.split(None, 1)) for line in f.read().splitlines())
    expect(sorted(s.strip() for s in sums) == sorted(names), f"SHA256SUMS names {sorted(sums)}")
    for name, digest in sums.items():
        with open(os.path.join(out, name.strip()), "rb") as f:
            expect(hashlib.sha256(f.read()).hexdigest() == digest, f"SHA256SUMS: {name} differs")


def check_zip(path):
    with zipfile.ZipFile(path) as z:
        names = {os.path.basename(n) for n in z.namelist()}
    expect({"fwpack.exe", "updater.exe", "DOSUPD.EXE", "UPDATE.EFI", "README.md"} <= names, f"zip holds {names}")
    licence = [n for n in ("LICENSE", "LICENCE", "COPYING") if os.path.exists(os.path.join(SOURCE_DIR, n))]
    expect(set(licence) <= names, f"zip lacks the licence {licence}")


def check_deb(a, deb):
    info = run(["dpkg-deb", "-I", deb]).stdout
    expect(re.search(rf"^ Version: {re.escape(a.version)}$", info, re.M), f"dpkg-deb -I:\n{info}")
    depends = re.search(r"^ Depends: (.*)$", info, re.M)
    expect(depends, "the .deb declares no dependencies")
    for lib in ("libc6", "zlib1g", "libssl", "libstdc++6"):
        expect(lib in depends.group(1), f"Depends lacks {lib}: {depends.group(1)}")
    listing = run(["dpkg-deb", "-c", deb]).stdout
    for path in ("./usr/bin/fwpack", "./usr/share/fwpack/updater.exe", "./usr/share/fwpack/DOSUPD.EXE",
                 "./usr/share/fwpack/dosupdater", "./usr/share/fwpack/UPDATE.EFI", "./usr/share/man/man1/fwpack.1",
                 "./usr/share/bash-completion/completions/fwpack"):
        expect(re.search(rf" {re.escape(path)}$", listing, re.M), f".deb lacks {path}:\n{listing}")


def install_into(root, deb):
    """dpkg with a database of its own under root; the libraries are the host's."""
    admin = os.path.join(root, "var", "lib", "dpkg")
    for sub in ("info", "updates", "triggers"):
        os.makedirs(os.path.join(admin, sub))
    for name in ("status", "available"):
        open(os.path.join(admin, name), "w").close()
    run(["dpkg", f"--root={root}", f"--admindir={admin}", "--log=/dev/null", "--force-depends",
         "--force-not-root", "--force-script-chrootless", "-i", deb])
    status = run(["dpkg-query", f"--admindir={admin}", "-W", "-f=${Status}", "fwpack"]).stdout
    expect(status == "install ok installed", f"dpkg status {status!r}")


def use_installed(a, root):
    fwpack = os.path.join(root, "usr", "bin", "fwpack")
    for option, stub, name in (("--stub", "updater.exe", "sample.exe"), ("--dos-stub", "dosupdater", "sample.run"),
                               ("--efi-stub", "UPDATE.EFI", "sample.efi")):
        out = os.path.join(a.work, name)
        r = run([fwpack, "build", SAMPLE, "-o", out, option])
        used = os.path.join(root, "usr", "share", "fwpack", stub)
        expect(f"{option}: using the installed {used}" in r.stderr, f"build {option}: {r.stderr}")
        expect("warning" not in r.stderr, f"build {option} warned: {r.stderr}")
        run([fwpack, "verify", out])
    # A stub with only the linker's DOS stub in front is named as such.
    single = os.path.join(a.work, "single.exe")
    r = run([fwpack, "build", SAMPLE, "-o", single, "--stub", os.path.join(a.win64, "fwpack.exe")])
    expect("carries no DOS program" in r.stderr, f"no warning for a single-mode stub: {r.stderr}")
    man = rendered_man(os.path.join(root, "usr", "share", "man", "man1", "fwpack.1"))
    expect("fwpack --version" in man, "the installed man page")


def release(a):
    built_programs(a)
    out = os.path.join(a.work, "out")
    run([os.path.join(SOURCE_DIR, "scripts", "release.sh"), "--no-build", out], cwd=SOURCE_DIR)
    names = sorted(n for n in os.listdir(out) if n != "SHA256SUMS")
    debs = [n for n in names if n.endswith(".deb")]
    zips = [n for n in names if n.endswith(".zip")]
    expect(len(debs) == 1 and len(zips) == 1 and len(names) == 2, f"release.sh made {names}")
    check_sums(out, names)
    check_zip(os.path.join(out, zips[0]))
    deb = os.path.join(out, debs[0])
    check_deb(a, deb)
    root = os.path.join(a.work, "root")
    install_into(root, deb)
    use_installed(a, root)


def main():
    p = argparse.ArgumentParser()
    for name in ("fwpack", "version", "host", "win64", "dos16", "uefi", "work"):
        p.add_argument("--" + name, required=True)
    p.add_argument("groups", nargs="+", choices=["Surface", "Release"])
    a = p.parse_args()
    for group in a.groups:
        a.work = os.path.join(os.path.abspath(a.work), group)
        shutil.rmtree(a.work, ignore_errors=True)
        os.makedirs(a.work)
        try:
            {"Surface": surface, "Release": release}[group](a)
        except Failed as e:
            print(f"{group}: FAIL: {e}")
            return 1
        print(f"{group}: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
