#!/usr/bin/env bash
# Compiles the PowerPoint (COM) backend with the Windows cross compiler, so it
# cannot rot on a Linux build machine: the Qt-free COM part is compiled and
# linked against the Windows COM libraries with a small driver; the thin Qt
# adapter around it is syntax-checked with the host compiler and Qt.
set -euo pipefail
cd "$(dirname "$0")/.."

cross=${DECKRUN_MINGW_CXX:-x86_64-w64-mingw32-g++}
if ! command -v "$cross" >/dev/null; then
    echo "check-com: $cross not found (install g++-mingw-w64-x86-64)" >&2
    exit 1
fi
flags=(-std=c++20 -Wall -Wextra -Wpedantic -Werror -Isrc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cross" "${flags[@]}" -c src/platform/com/ComPowerPoint.cpp -o "$work/ComPowerPoint.o"

# Every call of the backend, linked as a Windows program (never run here).
cat > "$work/driver.cpp" <<'CPP'
#include "platform/com/ComPowerPoint.h"
using namespace deckrun::com;
int main()
{
    try {
        Dispatch created = ComPowerPoint::create();
        Dispatch app = ComPowerPoint::getRunning();
        ComPowerPoint::setVisible(created, true);
        ComPowerPoint::open(app, L"C:\\decks\\a.pptx");
        const bool ours = ComPowerPoint::name(app) == ComPowerPoint::Name;
        Dispatch presentation = ComPowerPoint::activePresentation(app);
        ComPowerPoint::setActivePrinter(app, L"PDF");
        ComPowerPoint::setPrintInBackground(presentation, false);
        ComPowerPoint::printOut(presentation);
        ComPowerPoint::quit(app);
        return ours ? 0 : 2;
    } catch (const ComError &e) {
        return static_cast<int>(e.code() & 0xff) | 1;
    }
}
CPP
"$cross" "${flags[@]}" -c "$work/driver.cpp" -o "$work/driver.o"
"$cross" -static -o "$work/driver.exe" "$work/driver.o" "$work/ComPowerPoint.o" -lole32 -loleaut32 -luuid

# The Qt adapter and the Windows factory need Qt for Windows, which this
# machine lacks; the host compiler checks them against the same Qt headers.
if command -v pkg-config >/dev/null && pkg-config --exists Qt6Core; then
    for src in src/platform/com/ComPresentation.cpp src/platform/win/WinPresentation.cpp; do
        g++ "${flags[@]}" -fPIC -fsyntax-only $(pkg-config --cflags Qt6Core Qt6Gui) "$src"
    done
fi
# The Windows file system uses only QString from Qt: the cross compiler checks it
# against the host's Qt headers.
if command -v pkg-config >/dev/null && pkg-config --exists Qt6Core; then
    "$cross" "${flags[@]}" -fsyntax-only $(pkg-config --cflags Qt6Core) src/platform/win/WinFileSystem.cpp
fi
echo "check-com: the COM backend and the Windows file system compile for Windows"
