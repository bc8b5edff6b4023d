#!/usr/bin/env bash
# Builds the Windows program on Debian: Qt for Windows once into a cache
# outside the checkout (from Debian's own source of the host's Qt 6.4.2, with
# the MinGW-w64 cross compiler), then deckrun.exe with the "windows-mingw"
# preset into build-windows-mingw/, and an MSI with wixl.
#
#   scripts/build-windows.sh            Qt (when not cached), deckrun.exe, the MSI
#   scripts/build-windows.sh --qt-only  only make sure the Qt cache exists
#   scripts/build-windows.sh --no-msi   Qt and deckrun.exe
#
# DECKRUN_QT_WINDOWS overrides the cache folder (default
# /var/cache/deckrun/qt-6.4.2-mingw-w64). A finished cache carries a stamp
# with the options it was built with, and is reused as it is.
set -euo pipefail
cd "$(dirname "$0")/.."

qt_version=6.4.2
qt_dir=${DECKRUN_QT_WINDOWS:-/var/cache/deckrun/qt-$qt_version-mingw-w64}
export DECKRUN_QT_WINDOWS=$qt_dir
stamp=$qt_dir/deckrun-qt.stamp

only_qt=0
with_msi=1
for arg in "$@"; do
    case $arg in
        --qt-only) only_qt=1 ;;
        --no-msi) with_msi=0 ;;
        *) echo "usage: $0 [--qt-only|--no-msi]" >&2; exit 2 ;;
    esac
done

run_root() {
    if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# What the cross build needs; dpkg-dev unpacks the source package.
packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          mingw-w64-x86-64-dev qt6-base-dev qt6-base-dev-tools cmake ninja-build dpkg-dev
          msitools wixl wine64 ccache)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt=(apt-get -o DPkg::Lock::Timeout=900)
    run_root "${apt[@]}" update -qq
    run_root "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The options Qt for Windows is built with; the stamp records them, so a cache
# made with other options is made again.
qt_options=(
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF
    -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF -DFEATURE_sql=OFF -DFEATURE_network=ON
    -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF -DFEATURE_tabletevent=OFF
    -DFEATURE_system_zlib=OFF -DCMAKE_BUILD_TYPE=Release
)
stamp_text="qtbase $qt_version ${qt_options[*]}"

build_qt() {
    local work=$qt_dir.work
    run_root mkdir -p "$work"
    run_root chown "$(id -u):$(id -g)" "$work"
    # Debian's source archive through a list of our own: the machine's apt
    # configuration is left as it is.
    local uri
    uri=$(grep -rhoE 'https?://[^ ]*debian/?( |$)' /etc/apt/sources.list /etc/apt/sources.list.d/ 2>/dev/null |
          grep -v security | head -n1 | tr -d ' ' || true)
    uri=${uri:-http://deb.debian.org/debian}
    mkdir -p "$work/lists/partial"
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm main" \
        >"$work/sources.list"
    local apt_src=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=-
                   -o Dir::State::Lists="$work/lists")
    local src
    src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$qt_version*" | head -n1)
    if [[ -z "$src" ]]; then
        echo "Fetching the source of Qt $qt_version (qt6-base)"
        apt-get "${apt_src[@]}" update -qq
        # The same Debian revision as the host's Qt, whose tools (moc, rcc) the cross build uses.
        local host_version
        host_version=$(dpkg-query -W -f='${Version}' qt6-base-dev)
        [[ $host_version == "$qt_version"* ]] ||
            { echo "error: the host's Qt is $host_version, not $qt_version" >&2; exit 1; }
        (cd "$work" && apt-get "${apt_src[@]}" source -qq "qt6-base=$host_version" >/dev/null 2>&1)
        src=$(find "$work" -maxdepth 1 -type d -name "qt6-base-$qt_version*" | head -n1)
    fi
    [[ -n "$src" ]] || { echo "error: the Qt source did not unpack" >&2; exit 1; }
    echo "Building Qt $qt_version for Windows into $qt_dir (about an hour on two cores)"
    run_root mkdir -p "$qt_dir"
    run_root chown "$(id -u):$(id -g)" "$qt_dir"
    cmake -S "$src" -B "$work/build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/windows-mingw.cmake" -DDECKRUN_QT_WINDOWS= \
        -DCMAKE_INSTALL_PREFIX="$qt_dir" "${qt_options[@]}" >"$work/configure.log"
    cmake --build "$work/build" -j"$(nproc)" >"$work/build.log"
    cmake --install "$work/build" >"$work/install.log"
    echo "$stamp_text" >"$stamp"
    rm -rf "$work"
}

if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$stamp_text" ]]; then
    build_qt
else
    echo "Qt for Windows: $qt_dir (cached)"
fi
[[ $only_qt -eq 1 ]] && exit 0

# deckrun.exe and deckrun.com, the tests' Windows programs, the program folder
# with Qt's DLLs and plugins (build-windows-mingw/stage), and the MSI.
# Warnings are errors in CI, as in the Linux build.
werror=()
[[ "${CI:-}" == "true" ]] && werror=(-DDECKRUN_WERROR=ON)
cmake --preset windows-mingw "${werror[@]}" >/dev/null
set +e
cmake --build --preset windows-mingw -j"$(nproc)" 2>&1 | grep -vE '^\[ *[0-9]+%\]|^-- '
status=("${PIPESTATUS[@]}")
set -e
[[ ${status[0]} -eq 0 ]] || exit "${status[0]}"
rm -rf build-windows-mingw/stage
cmake --install build-windows-mingw --prefix build-windows-mingw/stage >/dev/null
echo "Windows program: build-windows-mingw/stage/deckrun.exe"
if [[ $with_msi -eq 1 ]]; then
    if ! out=$(cmake --build --preset windows-mingw --target deckrun_msi 2>&1); then
        echo "$out" >&2
        exit 1
    fi
    msi=$(ls build-windows-mingw/Deckrun-*-win64.msi)
    echo "Installer: $msi"
fi
