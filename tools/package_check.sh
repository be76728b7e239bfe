#!/usr/bin/env bash
# Builds the Debian package from the release build in build/, unpacks it into
# a temporary root, checks that its dependencies name the package of every
# shared library the programs load, and runs the programs from there alone:
# velt --version, the bundled example encoded by velt encode, velt-encode and
# velt-encode-flags, the three files compared, and the result checked by the
# installed velt info. Run after tools/build.sh; fails with the step that
# went wrong.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

fail() {
  echo "package_check: $*" >&2
  exit 1
}

[ -x build/velt ] || fail "no release build in build/: run tools/build.sh first"
version=$(sed -n 's/^project(velt VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
arch=$(dpkg --print-architecture)
package=build/velt_${version}_${arch}.deb

rm -f "$package"
(cd build && cpack -G DEB >cpack.log 2>&1) || fail "cpack failed, see build/cpack.log"
[ -f "$package" ] || fail "cpack wrote no $package"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$package" "$root" || fail "dpkg -x cannot unpack $package"
for program in velt velt-encode velt-encode-flags; do
  [ -x "$root/usr/bin/$program" ] || fail "$package has no usr/bin/$program"
done

# every shared library the programs load (libbrotli1 for velt info's brotli
# size, zlib1g, ...) comes from a package that the package depends on
depends=" $(dpkg-deb -f "$package" Depends | sed 's/([^)]*)//g; s/[,|]/ /g') "
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for program in velt velt-encode velt-encode-flags; do
  for library in $(objdump -p "$root/usr/bin/$program" | awk '$1 == "NEEDED" { print $2 }'); do
    owner=$(dpkg -S "*/$multiarch/$library" 2>/dev/null | head -1 | cut -d: -f1)
    [ -n "$owner" ] || fail "no installed package holds $library, which $program loads"
    [[ $depends == *" $owner "* ]] || fail "$program loads $library of $owner, which Depends does not name:$depends"
  done
done

# the installed programs only, from a directory outside the tree
export PATH="$root/usr/bin:/usr/bin:/bin"
cd "$root"
[ "$(command -v velt)" = "$root/usr/bin/velt" ] || fail "velt is not found in the unpacked root"
velt --version | grep -q "^velt $version (commit " ||
  fail "the installed velt --version says '$(velt --version 2>&1)', not version $version"

frames=$top/examples/wheel/frame_X.png
velt encode "$frames" wheel.velt --quiet || fail "the installed velt encode failed on the example"
velt-encode "$frames" wheel-encode.velt 20 >encode.log ||
  fail "the installed velt-encode failed on the example: $(tail -1 encode.log)"
velt-encode-flags "$frames" wheel-flags.velt 20 0 >encode-flags.log ||
  fail "the installed velt-encode-flags failed on the example: $(tail -1 encode-flags.log)"
cmp -s wheel.velt wheel-encode.velt || fail "velt encode and velt-encode wrote different files"
cmp -s wheel.velt wheel-flags.velt || fail "velt encode and velt-encode-flags 0 wrote different files"

velt info wheel.velt >info.txt || fail "the installed velt info refuses the file it encoded"
grep -q "^frames *16, then a closing record back to frame 0" info.txt ||
  fail "velt info does not show the example's 16 frames: $(head -5 info.txt)"

echo "package_check: $package ($(stat -c %s "$top/$package") bytes) installs and encodes the example"
