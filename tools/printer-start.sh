#!/usr/bin/env bash
# Makes sure the machine's CUPS daemon runs with a queue "PDF" that writes
# every job as a PDF file, and prints the folder the files go to:
#   tools/printer-start.sh            -> /var/spool/elq770-pdf
# The printing tests and the demo print through it: Wine imports the CUPS
# queues into a prefix when its programs start, so this must run before the
# first Wine process that should see the printer.
#
# Idempotent and safe from several processes at once (flock): a cupsd that
# already runs is kept, whoever started it, and never stopped here; the queue
# is added only when it is missing. The daemon started here outlives the
# script (it is the machine's print service). The folder is fixed, so several
# checkouts on one machine share it: readers pick their files by time and
# title (cups-pdf names a file after its job title and job id).
set -euo pipefail
out_dir=${ELQ_PDF_DIR:-/var/spool/elq770-pdf}
queue=PDF
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
conf=/etc/cups/cups-pdf.conf

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo

exec 8>/tmp/elq770-printer-start.lock
flock 8

# cups-pdf reads its settings at every job: the folder, and a job id in
# every file name so that no file replaces another.
if ! grep -qx "Out $out_dir" "$conf" || ! grep -qx "Label 2" "$conf"; then
  $SUDO sed -i -e "s|^#\{0,1\}Out .*|Out $out_dir|" -e 's|^#\{0,1\}Label .*|Label 2|' "$conf"
fi
$SUDO mkdir -p "$out_dir"

if ! lpstat -r 2>/dev/null | grep -q "is running"; then
  $SUDO mkdir -p /run/cups
  $SUDO /usr/sbin/cupsd
  for _ in $(seq 100); do
    lpstat -r 2>/dev/null | grep -q "is running" && break
    sleep 0.1
  done
  lpstat -r 2>/dev/null | grep -q "is running" || { echo "cupsd did not start" >&2; exit 1; }
fi

if ! lpstat -v "$queue" >/dev/null 2>&1; then
  $SUDO lpadmin -p "$queue" -E -v cups-pdf:/ -P "$ppd"
fi
# A queue stopped by an earlier failed job would hold every later one.
$SUDO cupsenable "$queue" >/dev/null 2>&1 || true
$SUDO cupsaccept "$queue" >/dev/null 2>&1 || true
if lpstat -d 2>/dev/null | grep -q "no system default"; then
  $SUDO lpadmin -d "$queue"
fi
echo "$out_dir"
