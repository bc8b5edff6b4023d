#!/usr/bin/env bash
# Proves that the Debian package installs on a clean Debian 12 and that the
# installed program starts:
#   1. builds the .deb (cpack) from the build folder and checks that lintian
#      reports no error in it,
#   2. makes a fresh Debian 12 root with debootstrap (minbase) from the mirror
#      this machine uses,
#   3. installs the .deb there with apt-get, which must resolve every
#      dependency (LibreOffice Impress included) from the package alone,
#   4. starts the installed `deckrun` under a virtual display in that root and
#      looks for the main window (536 by 471 pixels, title "Deckrun").
#
# Runs as root; takes several minutes (debootstrap and LibreOffice). Not part
# of the test command.
#
# Usage: scripts/check-deb.sh [--keep | --lint-only] [build-dir]
#   --keep      leave the root in place (its path is printed)
#   --lint-only build the package and check it with lintian, nothing more
#   DECKRUN_CHECK_ROOT=/path   use this folder for the root (made if missing;
#                              an existing root from --keep is reused)
set -euo pipefail

keep=0
lint_only=0
if [[ "${1:-}" == "--keep" ]]; then keep=1; shift; fi
if [[ "${1:-}" == "--lint-only" ]]; then lint_only=1; shift; fi
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$src/build}")
suite=bookworm

say() { printf '\n== %s\n' "$*"; }
fail() { printf '\nFAILED: %s\n' "$*" >&2; exit 1; }

[[ $lint_only -eq 1 || $(id -u) -eq 0 ]] || fail "run as root (debootstrap and chroot need it)"
tools=(cpack dpkg-deb lintian)
[[ $lint_only -eq 1 ]] || tools+=(debootstrap)
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup.sh --dev installs it)"
done

# -- 1. the package
say "Building the package in $build"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DDECKRUN_BUILD_TESTS=OFF \
          -DDECKRUN_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2 >/dev/null
(cd "$build" && rm -f deckrun_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/deckrun_*.deb)
dpkg-deb -f "$deb" Package Version Architecture Depends

say "Checking the package with lintian"
lintian --fail-on error "$deb" || fail "lintian reports errors in $(basename "$deb")"
echo "lintian: no error"
if [[ $lint_only -eq 1 ]]; then
    exit 0
fi

# -- 2. a clean root
mirror=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null \
         | grep -v security | head -n1)
mirror=${mirror:-http://deb.debian.org/debian}
root=${DECKRUN_CHECK_ROOT:-$(mktemp -d /var/tmp/deckrun-check.XXXXXX)}
mounted=()

cleanup() {
    local m
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        m=${mounted[i]}
        umount -l "$m" 2>/dev/null || true
    done
    if [[ $keep -eq 0 && -z "${DECKRUN_CHECK_ROOT:-}" && -d "$root" ]]; then
        # Never delete through a mount that is still there.
        if findmnt -rn -o TARGET | grep -q "^$root"; then
            echo "leaving $root: something is still mounted below it" >&2
        else
            rm -rf --one-file-system "$root"
        fi
    elif [[ -d "$root" ]]; then
        echo "root kept at $root"
    fi
}
trap cleanup EXIT

if [[ ! -x "$root/usr/bin/apt-get" ]]; then
    say "Making a Debian 12 root in $root from $mirror"
    debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 \
        || { tail -n 20 "$root.debootstrap.log"; fail "debootstrap"; }
    rm -f "$root.debootstrap.log"
fi
cat >"$root/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb ${mirror%/debian}/debian-security $suite-security main
EOF
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"   # no services in the root
chmod +x "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
mount -t proc proc "$root/proc" && mounted+=("$root/proc")

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
            DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }

# -- 3. the package with its dependencies, nothing else
say "Installing $(basename "$deb") with apt-get (dependencies only, no recommends)"
cp "$deb" "$root/tmp/deckrun.deb"
in_root apt-get update -qq
in_root apt-get install -y -q --no-install-recommends /tmp/deckrun.deb >"$root/tmp/install.log" 2>&1 \
    || { tail -n 30 "$root/tmp/install.log"; fail "apt-get install ./deckrun.deb"; }
grep -E "^(Setting up|Unpacking) (deckrun|libreoffice-impress|cups-client|libqt6widgets6)" \
    "$root/tmp/install.log" | sed 's/ (.*//' | sort -u
in_root sh -c 'command -v deckrun && ls /usr/lib/deckrun /usr/lib/deckrun/x'
in_root sh -c 'command -v soffice' || fail "LibreOffice did not come with the package's dependencies"

# -- 4. the installed program starts and shows its window
say "Starting the installed deckrun under a virtual display"
in_root apt-get install -y -q --no-install-recommends xvfb xauth x11-utils >/dev/null 2>&1 \
    || fail "could not install the virtual display into the root (test tools only)"
cat >"$root/tmp/start.sh" <<'EOF'
#!/bin/sh
# Inside the root: start deckrun, give it time, then list the top-level windows.
export HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/runtime
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
deckrun >/tmp/deckrun.log 2>&1 &
pid=$!
sleep "${WAIT:-25}"
if kill -0 "$pid" 2>/dev/null; then echo "running after ${WAIT:-25} s"; else wait "$pid"; echo "ended with $?"; fi
xwininfo -root -children | grep -E '"[^"]*"' || true
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
EOF
chmod +x "$root/tmp/start.sh"
out=$(in_root timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" /tmp/start.sh 2>&1) || true
echo "$out"
echo "-- program output:"; cat "$root/tmp/deckrun.log" 2>/dev/null | grep -v XDG_RUNTIME || true

if grep -q '"Deckrun": .* 536x471' <<<"$out"; then
    say "PASSED: the .deb installs on a clean Debian 12 and the installed program shows its window"
elif grep -q '"Deckrun"' <<<"$out"; then
    fail "deckrun started but shows a message box instead of its window (no presentation backend in this build?)"
else
    fail "deckrun did not show a window"
fi
