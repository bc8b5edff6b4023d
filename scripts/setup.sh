#!/usr/bin/env bash
# Installs what Deckrun needs on Debian 12, starts CUPS and makes sure a printer
# exists. Idempotent and quiet when everything is already in place.
# Usage: scripts/setup.sh [--dev]   (--dev adds test, benchmark, tidy and cross tools,
#                                    and Wine for the Windows tests)
set -euo pipefail

want_dev=0
[[ "${1:-}" == "--dev" ]] && want_dev=1

run_root() {
    if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

packages=(
    cmake g++ make pkg-config ccache
    qt6-base-dev libgl-dev qt6-image-formats-plugins zlib1g-dev
    libreoffice-impress libreoffice-dev
    cups cups-bsd cups-client printer-driver-cups-pdf libcups2-dev libqpdf-dev
    fonts-liberation
    xvfb xauth
)
if [[ $want_dev -eq 1 ]]; then
    packages+=(
        libgtest-dev libgmock-dev clang-tidy clang-format
        poppler-utils tesseract-ocr tesseract-ocr-eng hyperfine imagemagick xdotool
        g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64
        procps
        cups-ipp-utils dbus-daemon
        debootstrap appstream desktop-file-utils lintian
    )
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
if [[ ${#missing[@]} -gt 0 ]]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Another installation may hold the package lock for a while: wait for it.
    apt=(apt-get -o DPkg::Lock::Timeout=900)
    run_root "${apt[@]}" update -qq
    run_root "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# CUPS: start the scheduler when nothing answers (containers have no systemd).
if ! lpstat -r 2>/dev/null | grep -q "is running"; then
    if command -v systemctl >/dev/null && systemctl is-system-running >/dev/null 2>&1; then
        run_root systemctl start cups
    else
        run_root /usr/sbin/cupsd
    fi
    for _ in $(seq 1 50); do
        lpstat -r 2>/dev/null | grep -q "is running" && break
        sleep 0.1
    done
fi

# A machine with no printer at all gets a PDF printer as its default.
if ! lpstat -e 2>/dev/null | grep -q .; then
    ppd=$(dpkg -L printer-driver-cups-pdf | grep -m1 'CUPS-PDF_opt.ppd$' || true)
    [[ -n "$ppd" && "$ppd" == *.gz ]] || true
    run_root lpadmin -p Deckrun_PDF -E -v cups-pdf:/ -P "$ppd"
    run_root lpadmin -d Deckrun_PDF
    echo "Added the PDF printer Deckrun_PDF (files go to ~/PDF) as the default printer."
fi
