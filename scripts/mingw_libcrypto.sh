#!/usr/bin/env bash
# Builds OpenSSL's libcrypto for MinGW-w64 (x86_64) from Debian's openssl
# source package, static, library only: fwpack.exe links it to sign and to
# read signatures. Debian ships no MinGW build of it.
#
# The result is kept under build/mingw-libcrypto/<version>/ (lib/libcrypto.a,
# include/openssl/) and reused; it is built again only when the source
# package's version changes. The win64 preset finds it through
# build/mingw-libcrypto/current.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/source_package.sh

out_root=build/mingw-libcrypto
src_dir=$out_root/src
fetch_source_package openssl "$src_dir"

dsc=$(ls "$src_dir"/openssl_*.dsc | sort -V | tail -n1)
version=$(sed -n 's/^Version: *//p' "$dsc")
prefix=$out_root/$version
if [ -f "$prefix/lib/libcrypto.a" ]; then
  ln -sfn "$version" "$out_root/current"
  exit 0
fi

upstream=${version%-*}
work=$out_root/work-$version
rm -rf "$work" && mkdir -p "$work"
tar -xf "$src_dir/openssl_$upstream.orig.tar.gz" -C "$work"
tar -xf "$src_dir/openssl_$version.debian.tar.xz" -C "$work"
tree=$work/openssl-$upstream
# Debian's own fixes, in the order of its series file.
while read -r p; do
  case "$p" in ''|'#'*) continue ;; esac
  patch -s -p1 -d "$tree" < "$work/debian/patches/$p"
done < "$work/debian/patches/series"

echo "mingw_libcrypto: building libcrypto $version for x86_64-w64-mingw32"
start=$(date +%s)
# Only libcrypto: no shared library, no programs, no tests, no loadable
# modules or engines (fwpack.exe loads nothing at run time from OpenSSL), no
# configuration file read from the machine, and none of the algorithms and
# protocols that signing, time-stamps and reading signatures and PKCS#12
# files never use. -O1: the digests that matter are assembly either way, and
# the build takes far less time.
unused="no-aria no-bf no-blake2 no-camellia no-cast no-chacha no-cmac no-cmp no-cms no-comp
        no-ct no-dh no-dsa no-ec2m no-gost no-idea no-md4 no-mdc2 no-ocb no-ocsp no-poly1305
        no-rc4 no-rc5 no-rmd160 no-scrypt no-seed no-siphash no-siv no-sm2 no-sm3 no-sm4
        no-srp no-whirlpool no-ssl no-tls no-dtls"
# shellcheck disable=SC2086
# OpenSSL's own compiler warnings go to the log, shown when the build fails.
log=$out_root/build-$version.log
if ! (cd "$tree" && ./Configure mingw64 no-shared no-tests no-module no-dso no-engine \
        no-autoload-config $unused -O1 --cross-compile-prefix=x86_64-w64-mingw32- &&
      make -s -j"${FWPACK_JOBS:-2}" build_generated &&
      make -s -j"${FWPACK_JOBS:-2}" libcrypto.a) > "$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "mingw_libcrypto: the build failed; its log is $log" >&2
  exit 1
fi
mkdir -p "$prefix/lib"
cp "$tree/libcrypto.a" "$prefix/lib/"
cp -r "$tree/include" "$prefix/"
rm -rf "$work"
ln -sfn "$version" "$out_root/current"
echo "mingw_libcrypto: built in $(( $(date +%s) - start )) s"
