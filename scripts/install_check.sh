#!/usr/bin/env bash
# The two install paths test.sh does not take (its install_tree test covers
# cmake --install): the Debian package of build/ (cpack -G DEB, unpacked with
# dpkg-deb -x, finecoreg --version and both self-tests from there), and pip
# into a fresh venv over Debian's packages (pip show, the self-test). Needs
# a built build/ (scripts/test.sh or scripts/run.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/finecoreg-install-check.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== Debian package =="
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/finecoreg_*.deb)
dpkg-deb -f "$deb" Package Version Depends
dpkg-deb -x "$deb" "$work/deb"
"$work/deb/usr/bin/finecoreg" --version
"$work/deb/usr/bin/finecoreg-selftest"
PYTHONPATH="$work/deb/usr/lib/python3/dist-packages" /usr/bin/python3 -m finecoreg selftest

echo "== pip install into a venv =="
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-build-isolation .
"$work/venv/bin/pip" show finecoreg | sed -n '1,2p'
(cd "$work" && venv/bin/python -m finecoreg selftest)
echo "Both install paths work."
