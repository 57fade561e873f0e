#!/usr/bin/env bash
# The tools' Debian package: made by cpack from the build folder as the
# package target makes it, its control data and file list read with
# dpkg-deb, and the three programs and their manual pages used from an
# extracted copy.
#   deb_test.sh BUILD_DIR CPACK VERSION
set -euo pipefail
build=$1 cpack=$2 version=$3
command -v dpkg-deb >/dev/null || { echo "dpkg-deb is missing"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack did not make the package"
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, got: ${debs[*]}"
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "tarnwick-tools_${version}_${arch}.deb" ] || fail "file name $(basename "$deb")"

# Control data: name, version, architecture, and the libraries the programs
# need, including the curl library that kwinstall opens by name.
dpkg-deb --field "$deb" Package Version Architecture Depends >"$work/fields"
cat "$work/fields"
grep -qx "Package: tarnwick-tools" "$work/fields" || fail "package name"
grep -qx "Version: $version" "$work/fields" || fail "version"
grep -qx "Architecture: $arch" "$work/fields" || fail "architecture"
depends=$(sed -n 's/^Depends: //p' "$work/fields")
for lib in libc6 libstdc++6 libcurl4 libssl3 zlib1g libjsoncpp25; do
  [[ ", $depends," == *", $lib"[\ ,]* ]] || fail "Depends lacks $lib: $depends"
done

# Contents: the programs in /usr/bin, a manual page each, the deploy files
# and nothing outside /usr.
dpkg-deb --contents "$deb" | awk '{print $1, $NF}' >"$work/contents"
for tool in kwpack kwserve kwinstall; do
  grep -qx -- "-rwxr-xr-x ./usr/bin/$tool" "$work/contents" || fail "/usr/bin/$tool missing or not executable"
  grep -qx -- "-rw-r--r-- ./usr/share/man/man1/$tool.1.gz" "$work/contents" || fail "man page of $tool"
done
for doc in deploy/nginx/tarnwick-files.conf deploy/nginx/tarnwick-api.conf deploy/systemd/kwserve.service \
  deploy/systemd/kwserve@.service README.md; do
  grep -q " ./usr/share/doc/tarnwick-tools/$doc\$" "$work/contents" || fail "$doc missing"
done
if awk '{print $2}' "$work/contents" | grep -v '^\./$' | grep -qv '^\./usr/'; then
  fail "files outside /usr: $(awk '{print $2}' "$work/contents" | grep -v '^\./usr/')"
fi

# The programs run from an extracted copy, away from the build folder.
dpkg-deb --extract "$deb" "$work/root"
cd "$work"
for tool in kwpack kwserve kwinstall; do
  exe=$work/root/usr/bin/$tool
  file "$exe" | grep -q ", stripped" || fail "$tool is not stripped"
  "$exe" --help >"$work/$tool.help" || fail "$tool --help failed"
  grep -qi "^usage: $tool" "$work/$tool.help" || fail "$tool --help: $(head -1 "$work/$tool.help")"
  [ "$("$exe" --version)" = "$tool (Tarnwick) $version" ] || fail "$tool --version"
  # The manual page is the help text: the first option of the help is in it.
  page=$(zcat "$work/root/usr/share/man/man1/$tool.1.gz" | sed 's/\\-/-/g; s/\\f[BIRP]//g')
  grep -q "^\.TH ${tool^^} \"1\"" <<<"$page" || fail "$tool.1 has no title line"
  option=$(grep -o -- '--[a-z][a-z-]*' "$work/$tool.help" | grep -v -e '--help' -e '--version' | tail -1 || true)
  if [ -n "$option" ]; then
    grep -qF -- "$option" <<<"$page" || fail "$tool.1 lacks $option"
  fi
done
# kwserve from the package serves a package folder.
mkdir -p "$work/pkg/src"
echo "Tarnwick" >"$work/pkg/src/readme.txt"
"$work/root/usr/bin/kwpack" make "$work/pkg/src" "$work/pkg/out" V1 >/dev/null
"$work/root/usr/bin/kwpack" verify "$work/pkg/out" >/dev/null || fail "kwpack verify"
echo "package ok: $(basename "$deb")"
