#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks it as a user's machine holds it: every
# file in place, valid desktop and AppStream files, run paths that never leave the install, the
# command run from another folder, and the whole chain driven from inside the program folder.
#   install_test.sh CMAKE BUILD PROGRAM_DIR DEMO_DATA_DIR BINDIR DATADIR APP_ID SITE_BASE SHOTS
# SHOTS is the build's folder of test pictures; the installed program's are kept there.
set -uo pipefail
cmake=$1 build=$2 program_rel=$3 data_rel=$4 bindir=$5 datadir=$6 id=$7 site_base=$8 shots=$9
build=$(cd "$build" && pwd) || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/ff-install-XXXXXX") || exit 1
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

prefix=$work/prefix
program_dir=$prefix/$program_rel
if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install" >&2
  exit 1
fi

# The program folder: the program, every stand-in it loads by name, the demo site.
for file in filmfinder demo_film_site libffkernel.so libffinet.so libffautomation.so \
            libffshell.so libffraster.so; do
  [ -f "$program_dir/$file" ] || fail "$program_rel/$file is not installed"
done
for file in filmfinder demo_film_site; do
  [ -x "$program_dir/$file" ] || fail "$program_rel/$file is not executable"
done
[ -e "$program_dir/installed_flow_check" ] && fail "the test driver is part of a plain install"
[ -f "$prefix/$data_rel/catalogue.tsv" ] || fail "the demo site's data is not in $data_rel"

# The command: a relative link, so the tree works wherever it lands.
command=$prefix/$bindir/filmfinder
if [ ! -L "$command" ]; then
  fail "$bindir/filmfinder is not a symbolic link"
else
  case $(readlink "$command") in
    /*) fail "$bindir/filmfinder points to an absolute path: $(readlink "$command")" ;;
  esac
  [ "$(readlink -f "$command")" = "$(readlink -f "$program_dir/filmfinder")" ] ||
    fail "$bindir/filmfinder leads to $(readlink -f "$command")"
fi

# Desktop integration.
desktop=$prefix/$datadir/applications/$id.desktop
metainfo=$prefix/$datadir/metainfo/$id.metainfo.xml
desktop-file-validate "$desktop" || fail "desktop-file-validate $id.desktop"
grep -qx "Exec=filmfinder" "$desktop" || fail "the desktop entry does not start the installed command"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate $id.metainfo.xml"
appstreamcli validate-tree --no-net "$prefix" || fail "appstreamcli validate-tree"
grep -q "<id>$id</id>" "$metainfo" || fail "the AppStream id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
  fail "the AppStream data does not launch $id.desktop"
icons=$prefix/$datadir/icons/hicolor
[ -f "$icons/scalable/apps/$id.svg" ] || fail "no scalable icon"
for size in 16 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/$id.png
  if [ ! -f "$png" ]; then
    fail "no ${size}x${size} icon"
    continue
  fi
  # Width and height, big-endian, in the IHDR chunk after the 8-byte signature.
  read -r -a ihdr < <(od -An -tu1 -j16 -N8 "$png")
  width=$(((ihdr[0] << 24) | (ihdr[1] << 16) | (ihdr[2] << 8) | ihdr[3]))
  height=$(((ihdr[4] << 24) | (ihdr[5] << 16) | (ihdr[6] << 8) | ihdr[7]))
  [ "$width.$height" = "$size.$size" ] || fail "the ${size}x${size} icon is ${width}x${height}"
done

# Run paths: $ORIGIN only, and wherever a stand-in is linked.
elves=0
while IFS= read -r -d '' file; do
  readelf -h "$file" >/dev/null 2>&1 || continue
  elves=$((elves + 1))
  dynamic=$(readelf -d "$file")
  name=${file#"$prefix"/}
  grep -q '(RPATH)' <<<"$dynamic" && fail "$name has an RPATH entry"
  runpath=$(sed -n 's/.*Library runpath: \[\(.*\)\]/\1/p' <<<"$dynamic")
  if [ -n "$runpath" ] && [ "$runpath" != '$ORIGIN' ]; then
    fail "$name has run path $runpath"
  fi
  if grep -q 'Shared library: \[libff' <<<"$dynamic" && [ "$runpath" != '$ORIGIN' ]; then
    fail "$name links a stand-in without the \$ORIGIN run path"
  fi
done < <(find "$prefix" -type f -print0)
[ "$elves" -ge 7 ] || fail "only $elves ELF files installed"
kernel=$(env -u LD_LIBRARY_PATH ldd "$program_dir/filmfinder" | sed -n 's/.*libffkernel.so => \([^ ]*\).*/\1/p')
[ "$kernel" = "$program_dir/libffkernel.so" ] || fail "filmfinder loads libffkernel.so from '$kernel'"

# The command from another folder, offscreen, with nothing inherited that finds libraries.
elsewhere=$work/elsewhere
mkdir -p "$elsewhere" "$work/runtime" "$work/xdg-empty"
chmod 700 "$work/runtime"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime
unset LD_LIBRARY_PATH
cd "$elsewhere" || exit 1
timeout 60 "$command" --help >"$work/help.out" 2>"$work/help.err"
status=$?
[ "$status" -eq 0 ] || fail "filmfinder --help exits $status: $(cat "$work/help.err")"
grep -q -- "--site" "$work/help.out" || fail "filmfinder --help does not describe --site"
timeout 60 "$command" --site bad >"$work/bad.out" 2>"$work/bad.err"
status=$?
[ "$status" -eq 2 ] || fail "filmfinder --site bad exits $status"
[ -s "$work/bad.err" ] || fail "filmfinder --site bad does not say why"

# Started through the link with the demo site's address, the program starts the installed demo
# site (found through /proc/self/exe, which resolves the link) and ends it when it ends.
port_answers() { (exec 3<>/dev/tcp/127.0.0.1/8931) 2>/dev/null; }
if [ "$site_base" != "http://127.0.0.1:8931" ]; then
  echo "skipped: the build's site is $site_base, not the demo site"
elif port_answers; then
  echo "skipped: something already serves 127.0.0.1:8931"
else
  "$command" >"$work/program.log" 2>&1 &
  program_pid=$!
  for _ in $(seq 100); do
    port_answers && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
  done
  site_pid=$(cat /proc/"$program_pid"/task/*/children 2>/dev/null | tr ' ' '\n' | grep -m1 .)
  if [ -z "$site_pid" ] && port_answers; then
    echo "skipped: 127.0.0.1:8931 was taken meanwhile"
  elif [ -z "$site_pid" ] || ! port_answers; then
    fail "the installed command did not start the demo site: $(cat "$work/program.log")"
  else
    [ "$(readlink "/proc/$site_pid/exe")" = "$(readlink -f "$program_dir/demo_film_site")" ] ||
      fail "the program started $(readlink "/proc/$site_pid/exe")"
    kill "$program_pid"
    wait "$program_pid" 2>/dev/null
    program_pid=
    for _ in $(seq 50); do
      port_answers || break
      sleep 0.1
    done
    port_answers && fail "the demo site outlives the program"
    echo "the command started the installed demo site and stopped it"
  fi
fi

# The whole chain from inside the program folder, with the icon theme out of sight. A fatal error
# waits on its message box, hence the time limit.
if ! "$cmake" --install "$build" --prefix "$prefix" --component installed_flow_check \
    >>"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  fail "installing the test driver"
else
  XDG_DATA_HOME=$work/xdg-empty XDG_DATA_DIRS=$work/xdg-empty \
    timeout 240 "$program_dir/installed_flow_check" || fail "the chain through the installed program"
  mkdir -p "$shots" && cp "$program_dir"/screenshots/*.png "$shots"/ 2>/dev/null
fi

[ "$failures" -eq 0 ] || { echo "$failures failures" >&2; exit 1; }
echo "installed tree passes"
