#!/usr/bin/env bash
# Installs every Debian package that building and testing fwpack needs.
# Quiet and quick when everything is there; runs apt-get update only when
# something is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config git python3
  zlib1g-dev libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  libcli11-dev libtomlplusplus-dev
  libssl-dev openssl osslsigncode
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libz-mingw-w64-dev
  wine64 xvfb x11-utils xdotool imagemagick icoutils
  util-linux man-db groff-base dpkg-dev
  dosbox dosbox-debug
  qemu-system-x86 seabios bochs bochsbios vgabios bochs-term mtools dosfstools nasm
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done

# Recommended packages come too: Wine loads several of its X11 and font
# libraries only as recommendations, and the Windows runs need them.
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# zlib for the real-mode DOS build comes from Debian's zlib source package,
# fetched through a source list kept under build/ so that the machine's own
# apt setup stays as it is. The archive is the one the machine already uses.
zlib_dir=build/zlib-src
if ! compgen -G "$zlib_dir/zlib-*/inflate.c" >/dev/null; then
  echo "setup: fetching the zlib source package into $zlib_dir"
  mkdir -p "$zlib_dir/lists/partial"
  archive=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
  [ -n "$archive" ] || archive=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list)
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  cat > "$zlib_dir/zlib.sources" <<SRC
Types: deb-src
URIs: $archive
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  apt_src=(-o Dir::Etc::sourcelist="$PWD/$zlib_dir/zlib.sources"
           -o Dir::Etc::sourceparts=/nonexistent
           -o Dir::State::Lists="$PWD/$zlib_dir/lists"
           -o APT::Sandbox::User=root)
  apt-get "${apt_src[@]}" update -qq >/dev/null
  (cd "$zlib_dir" && apt-get "${apt_src[@]}" source --download-only -qq zlib >/dev/null)
  tar -xf "$zlib_dir"/zlib_*.orig.tar.* -C "$zlib_dir"
  compgen -G "$zlib_dir/zlib-*/inflate.c" >/dev/null || { echo "setup: no zlib sources in $zlib_dir" >&2; exit 1; }
fi
