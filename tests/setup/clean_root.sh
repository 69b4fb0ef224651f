#!/usr/bin/env bash
# The README's first command on a Debian 12 machine that has nothing but the
# base system: builds a minimal Debian 12 root with mmdebstrap (variant
# minbase: the essential and required packages and apt), copies the source
# tree into it and runs `scripts/run --version` there as root. scripts/run
# has to install every package its build needs by itself, configure, build
# and start the program, which answers with its version. Any package missing
# from scripts/run's list fails the configure or the build here.
#
#   tests/setup/clean_root.sh [WORK_DIR]
#
# The root is built in WORK_DIR (default: a temporary folder) and removed at
# the end. The packages come from this machine's apt sources for Debian 12
# (bookworm); TINTRAVA_CLEAN_ROOT_SOURCES names another sources file.
# Needs root (mmdebstrap's root mode) and mmdebstrap (Debian: mmdebstrap).
set -euo pipefail

TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WORK=${1:-}
if [ -z "$WORK" ]; then
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/tintrava-clean-root.XXXXXX")
fi
cleanup() { rm -rf "$WORK"; }
trap cleanup EXIT

command -v mmdebstrap >/dev/null || { echo "mmdebstrap is missing (Debian: mmdebstrap)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "clean_root.sh needs root" >&2; exit 1; }

# Debian 12's own sources of this machine: entries for bookworm that are not
# signed by a third party's key.
sources=()
if [ -n "${TINTRAVA_CLEAN_ROOT_SOURCES:-}" ]; then
  sources=("$TINTRAVA_CLEAN_ROOT_SOURCES")
else
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -q 'bookworm' "$f" || continue
    if grep -qi 'signed-by' "$f" && ! grep -qi 'signed-by.*debian-archive-keyring' "$f"; then
      continue
    fi
    sources+=("$f")
  done
fi
[ ${#sources[@]} -gt 0 ] || { echo "no apt sources for Debian 12 (bookworm) found" >&2; exit 1; }
include=()
grep -qs 'https://' "${sources[@]}" && include=(--include=ca-certificates)

# What a clone holds: the tree without build folders and git's own data.
mkdir -p "$WORK/src"
tar -C "$TOP" --exclude=./.git --exclude='./build' --exclude='./build-*' -cf - . | tar -C "$WORK/src" -xf -

ROOT=$WORK/root
OUT=$WORK/run.log
# The hook runs inside mmdebstrap, which has /proc, /sys and /dev mounted in
# the root by then; its output goes to a file outside the root.
mmdebstrap --variant=minbase --mode=root "${include[@]}" \
  --customize-hook='mkdir -p "$1/root/tintrava"' \
  --customize-hook="sync-in '$WORK/src' /root/tintrava" \
  --customize-hook="chroot \"\$1\" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 /root/tintrava/scripts/run --version > '$OUT' 2>&1 || { cat '$OUT'; exit 1; }" \
  bookworm "$ROOT" "${sources[@]}" 2>"$WORK/mmdebstrap.log" || {
    echo "scripts/run failed in a minimal Debian 12 root:" >&2
    tail -n 60 "$OUT" "$WORK/mmdebstrap.log" >&2 2>/dev/null || true
    exit 1
  }

version=$(tail -n 1 "$OUT")
echo "scripts/run in a minimal Debian 12 root: built and started, it said: $version"
case $version in
  Tintrava*) ;;
  *) echo "expected the program's version line, got: $version" >&2; tail -n 40 "$OUT" >&2; exit 1 ;;
esac
