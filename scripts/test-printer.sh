#!/usr/bin/env bash
# Sourced by the test script: makes the tests' own PDF printer, whose files go
# to a folder of its own, and exports its name and folder to the tests.
# Never touches the machine's other printers or the default printer.
# Several checkouts on one machine can each set DECKRUN_TEST_PRINTER (letters,
# digits and "_") and DECKRUN_TEST_PDF_DIR so that their runs do not mix.
DECKRUN_TEST_PRINTER=${DECKRUN_TEST_PRINTER:-Deckrun_Test}
DECKRUN_TEST_PDF_DIR=${DECKRUN_TEST_PDF_DIR:-/var/tmp/deckrun-test-pdf}
_label=${DECKRUN_TEST_PRINTER//_/}
_run_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
_run_root mkdir -p "$DECKRUN_TEST_PDF_DIR"
_run_root chmod 1777 "$DECKRUN_TEST_PDF_DIR"
_conf=/etc/cups/cups-pdf-$_label.conf
if [[ ! -f $_conf ]] || ! grep -qx "Out $DECKRUN_TEST_PDF_DIR" "$_conf"; then
    printf 'Out %s\nAnonDirName %s\nLabel 0\nTitlePref 1\n' "$DECKRUN_TEST_PDF_DIR" "$DECKRUN_TEST_PDF_DIR" \
        | _run_root tee "$_conf" >/dev/null
fi
# A second queue on the same printer, for the tests that make it refuse jobs
# for a moment while the others go on printing beside them.
DECKRUN_TEST_FAULT_PRINTER=${DECKRUN_TEST_PRINTER}_Faults
for _queue in "$DECKRUN_TEST_PRINTER" "$DECKRUN_TEST_FAULT_PRINTER"; do
    if ! lpstat -p "$_queue" >/dev/null 2>&1; then
        _ppd=$(dpkg -L printer-driver-cups-pdf | grep -m1 'CUPS-PDF_opt.ppd')
        _run_root lpadmin -p "$_queue" -E -v cups-pdf:/$_label -P "$_ppd" 2>/dev/null
    fi
done
export DECKRUN_TEST_PRINTER DECKRUN_TEST_FAULT_PRINTER DECKRUN_TEST_PDF_DIR
