#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that what landed there works on its
# own: no LD_LIBRARY_PATH, a private component hive, a client project built on the package.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR CONSUMER_DIR
set -uo pipefail
build=$1 source=$2 consumer=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export COMRT_REGISTRY=$work/registry.reg
unset LD_LIBRARY_PATH
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --build "$build" --target installables >/dev/null || { echo "FAIL: build" >&2; exit 1; }
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || {
  cat "$work/install.log" >&2
  exit 1
}

# What the layout promises.
for file in bin/psvigil bin/psvigil-cli bin/comreg bin/comcall lib/libcomrt.so lib/libcomrt.so.1 \
  lib/libLanvex.so.1 include/platform/com/comrt.h include/lanvex/net/lanvex.h \
  lib/cmake/Lanvex/LanvexConfig.cmake share/applications/psvigil.desktop \
  share/mime/packages/psvigil.xml share/icons/hicolor/48x48/apps/psvigil.png \
  share/metainfo/example.korvane.psvigil.metainfo.xml share/man/man1/psvigil-cli.1; do
  [ -e "$prefix/$file" ] || fail "$file not installed"
done

# The installed programs resolve the installed libraries, never the build tree's.
for program in psvigil psvigil-cli comreg comcall; do
  resolved=$(ldd "$prefix/bin/$program" | awk '/libcomrt.so/ { print $3 }')
  [ "$(realpath -m "$(dirname "$resolved")")" = "$prefix/lib" ] ||
    fail "$program finds libcomrt at '$resolved'"
done
# Versioned: programs ask for the SONAME, and the module is registered by its SONAME link.
for library in libcomrt.so libLanvex.so; do
  soname=$(objdump -p "$prefix/lib/$library.1" | awk '/SONAME/ { print $2 }')
  [ "$soname" = "$library.1" ] || fail "$library.1 has SONAME '$soname'"
done

# The desktop files name the type psvigil registers for itself at start.
mime=$(sed -n 's/.*kWatchLogMimeType\[\] = "\(.*\)";/\1/p' "$source/watch/ui/frame/desktop_registration.h")
grep -q "type=\"$mime\"" "$prefix/share/mime/packages/psvigil.xml" || fail "MIME XML lacks $mime"
grep -qx "MimeType=$mime;" "$prefix/share/applications/psvigil.desktop" || fail "entry lacks $mime"
grep -qx "Exec=psvigil --desktop %f" "$prefix/share/applications/psvigil.desktop" || fail "Exec line"
file "$prefix/share/icons/hicolor/48x48/apps/psvigil.png" | grep -q "48 x 48" || fail "icon size"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/psvigil.desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix"/share/metainfo/*.metainfo.xml >/dev/null ||
    fail "AppStream metainfo"
fi

# Programs run from the prefix: check NAME EXPECTED COMMAND (the output must match exactly).
check() {
  local actual
  actual=$(bash -c "$3" 2>&1)
  [ "$actual" = "$2" ] || fail "$1: got '$actual', want '$2'"
}
reply='ps auxw \r\nUSER PID %CPU %MEM VSZ RSS TT STAT STARTED TIME COMMAND\r\n'
reply+='alice 4711 0.0 0.3 1520 980 p1 S 10:02AM 0:00.05 vi notes.txt\r\n$ '
check parse "$(printf 'alice\t4711\t4711\t0.0\tp1\t10:02AM\t0:00.05\tvi notes.txt')" \
  "printf '%b' '$reply' | '$prefix/bin/psvigil-cli' parse"
check register "0x00000000" "'$prefix/bin/comreg' '$prefix/lib/libLanvex.so.1.0' | grep -o '0x[0-9A-F]*'"
check registered-path "$prefix/lib/libLanvex.so.1" \
  "grep -o '$prefix/lib/libLanvex.so[.0-9]*' '$COMRT_REGISTRY' | sort -u"
check comcall "$(printf '0x00000000\n2323')" "'$prefix/bin/comcall' Lanvex.lvTelnet Port=2323 Port"

# A client project against the installed package.
if cmake -S "$consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/consumer.log" 2>&1 && cmake --build "$work/consumer" >>"$work/consumer.log" 2>&1; then
  actual=$("$work/consumer/consumer")
  expected=$(printf '%s\n0x00000000 2323' "$prefix/lib/libLanvex.so.1")
  [ "$actual" = "$expected" ] || fail "consumer: got '$actual', want '$expected'"
else
  cat "$work/consumer.log" >&2
  fail "consumer project does not build against the package"
fi

[ "$failures" -eq 0 ] && echo "install test: all passed"
exit $((failures > 0))
