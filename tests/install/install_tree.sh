#!/bin/sh
# install_tree.sh BUILD_DIR: installs the build into a temporary prefix and
# checks it from there alone: each tool's --version, both self-tests,
# finecoreg-stack finding its package, and this directory's project built
# against the installed CMake package and run on a simulated pair.
set -eu
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/finecoreg-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
version=$(sed -n 's/^__version__ = "\(.*\)"/\1/p' "$build/python/finecoreg/_version.py")
for tool in finecoreg slcsim finecoreg-import finecoreg-resample; do
  test "$("$prefix/bin/$tool" --version)" = "$tool $version"
done
# The plug-in the tool loads first is the one beside its libraries.
ls "$prefix"/lib*/libfinecoreg.so "$prefix"/lib/*/libfinecoreg.so 2>/dev/null | grep -q .
"$prefix/bin/finecoreg-selftest"
env -u PYTHONPATH "$prefix/bin/finecoreg-stack" --help >/dev/null
package_dir=$(dirname "$(find "$prefix" -name _version.py -path '*/finecoreg/*')")
PYTHONPATH=$(dirname "$package_dir") /usr/bin/python3 -m finecoreg selftest

cmake -S "$here" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$prefix/bin/slcsim" --out-dir "$work/pair" --width 512 --lines 512 --range-poly 2.37 \
  --azimuth-poly -1.62 >/dev/null
"$work/consumer/stages_consumer" "$work/pair/master.slc" "$work/pair/slave.slc" \
  "$work/pair/pair.off" | tail -n 1 | grep -q '^kept .* offsets 2\.3[4-9][0-9] -1\.[56][0-9][0-9]$'
echo "installed tree: tools $version, self-tests, finecoreg-stack and FineCoreg::stages all work"
