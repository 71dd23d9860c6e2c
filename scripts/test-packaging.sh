#!/usr/bin/env bash
# Builds the Debian package as a release is built and checks it the way
# Debian would: lintian on the .deb, then, on the package's own files, the
# desktop metadata (appstreamcli), the manual pages (man) and Tab completion
# in an interactive bash. Installs what is missing first (as root).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build gui packaging
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}  # for new build folders; old ones keep theirs

dir=build-deb
jobs=$(nproc 2>/dev/null || echo 2)
umask 022  # the package's folders and files get the modes Debian expects
mkdir -p "$dir"

# Debian's compiler and linker flags with every hardening feature; the
# optimisation comes from the Release build, and the programs are stripped.
# One compiler run per target, as the Windows release (half the compile
# time); no tests: the plain stage runs them on the same sources.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP='-g -O2' dpkg-buildflags --export=sh)"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DVELTRAD_BUILD_GUI=ON -DVELTRAD_BUILD_TESTS=OFF \
  -DVELTRAD_BUILD_BENCH=OFF -DVELTRAD_SANITIZE= -DCMAKE_UNITY_BUILD=ON \
  "-DCMAKE_CXX_FLAGS=$CPPFLAGS $CXXFLAGS" "-DCMAKE_EXE_LINKER_FLAGS=$LDFLAGS" > "$dir/configure.log" 2>&1 \
  || { cat "$dir/configure.log"; exit 1; }
cmake --build "$dir" -j "$jobs"
rm -f "$dir"/*.deb
(cd "$dir" && cpack -G DEB > cpack.log 2>&1) || { cat "$dir/cpack.log"; exit 1; }
debs=("$dir"/veltrad_*.deb)
deb=${debs[0]}
echo "package: $deb"

echo "--- lintian"
# Errors and warnings fail the stage; the accepted ones are overridden, with
# their reasons, by cmake/Packaging.cmake, and shown here as O: lines.
findings=$(lintian --display-info --show-overrides "$deb")
[ -z "$findings" ] || echo "$findings"
if grep -q '^[EW]:' <<< "$findings"; then
  echo "lintian: fix the errors and warnings above, or name them with a reason in cmake/Packaging.cmake" >&2
  exit 1
fi

echo "--- dependencies"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
# Loaded at run time, so no library check finds them missing.
for package in qt6-qpa-plugins qt6-translations-l10n; do
  grep -qw "$package" <<< "$depends" || { echo "the package does not depend on $package" >&2; exit 1; }
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

echo "--- appstreamcli"
appstreamcli validate --no-net --explain "$root"/usr/share/metainfo/*.metainfo.xml

echo "--- man"
for page in Veltrad veltrad-station veltrad-cli veltrad-sim; do
  text=$(MANPATH="$root/usr/share/man" MANWIDTH=80 man -P cat "$page" 2>&1) \
    || { echo "man $page: $text" >&2; exit 1; }
  grep -q "^NAME" <<< "$text" || { echo "man $page shows no NAME section:" >&2; echo "$text" >&2; exit 1; }
  echo "man $page: $(wc -l <<< "$text") lines"
done

echo "--- bash completion"
python3 tests/packaging/completion_test.py "$root"
