#!/usr/bin/env bash
# Builds the Debian package with CPack into a temporary folder and reads it back: its control
# fields and the files it puts on a machine.
#   package_test.sh CPACK BUILD PROGRAM_DIR DEMO_DATA_DIR APP_ID PACKAGING_DIR
set -uo pipefail
cpack=$1 build=$2 program_rel=$3 data_rel=$4 id=$5 packaging=$6

for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ff-package-XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

if ! "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack -G DEB" >&2
  exit 1
fi
debs=("$work"/*.deb)
[ -f "${debs[0]}" ] || { echo "FAIL: cpack made no .deb" >&2; exit 1; }
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = filmfinder ] || fail "Package is '$(field Package)'"
# The version of the newest release the AppStream data describes.
release=$(grep -m1 -o '<release version="[^"]*"' "$packaging/$id.metainfo.xml" | cut -d'"' -f2)
[ -n "$release" ] && [ "$(field Version)" = "$release" ] ||
  fail "Version is '$(field Version)', the newest release '$release'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] ||
  fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = video ] || fail "Section is '$(field Section)'"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
# Named by hand (used without linking), and found by dpkg-shlibdeps in the binaries.
for package in xdg-utils fonts-noto-cjk libqt6widgets6 libcurl4 libpcre2-16-0 libc6; do
  grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' >"$work/files"
has() { grep -qxF -- "$1" "$work/files" || fail "the package lacks $1"; }
has "./usr/bin/filmfinder -> ../$program_rel/filmfinder"
for file in filmfinder demo_film_site libffkernel.so libffinet.so libffautomation.so \
            libffshell.so libffraster.so; do
  has "./usr/$program_rel/$file"
done
has "./usr/$data_rel/catalogue.tsv"
has "./usr/share/applications/$id.desktop"
has "./usr/share/metainfo/$id.metainfo.xml"
has "./usr/share/icons/hicolor/scalable/apps/$id.svg"
for size in 16 32 48 64 128 256; do
  has "./usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
has "./usr/share/doc/filmfinder/copyright"
grep -q installed_flow_check "$work/files" && fail "the package holds the test driver"

# Unpacked anywhere, the stripped command still finds its libraries.
dpkg-deb -x "$deb" "$work/root"
env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen timeout 60 "$work/root/usr/bin/filmfinder" --help \
  >"$work/help.out" 2>&1 || fail "the packaged filmfinder --help: $(cat "$work/help.out")"

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "package $(basename "$deb") passes"
