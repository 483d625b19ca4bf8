# fetch_source_package NAME DIR: downloads Debian's source package NAME into
# DIR (unpacked by the caller), through a source list kept in DIR so that the
# machine's own apt setup stays as it is. The archive is the one the machine
# already uses. Does nothing when DIR already holds the package's .dsc.
fetch_source_package() {
  local name=$1 dir=$2
  compgen -G "$dir/${name}_*.dsc" >/dev/null && return 0
  echo "setup: fetching the $name source package into $dir"
  mkdir -p "$dir/lists/partial"
  local archive suite
  archive=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n1)
  [ -n "$archive" ] || archive=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list)
  suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
  cat > "$dir/$name.sources" <<SRC
Types: deb-src
URIs: $archive
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  local apt_src=(-o Dir::Etc::sourcelist="$PWD/$dir/$name.sources"
                 -o Dir::Etc::sourceparts=/nonexistent
                 -o Dir::State::Lists="$PWD/$dir/lists"
                 -o APT::Sandbox::User=root)
  apt-get "${apt_src[@]}" update -qq >/dev/null
  (cd "$dir" && apt-get "${apt_src[@]}" source --download-only -qq "$name" >/dev/null)
  compgen -G "$dir/${name}_*.dsc" >/dev/null || { echo "setup: no $name source package in $dir" >&2; return 1; }
}
