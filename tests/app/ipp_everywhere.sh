#!/bin/bash
# CUPS's IPP Everywhere suite (ipp-everywhere.test, with the IPP/1.1 and 2.0
# tests it includes) against one printer of the application, printing a PWG
# raster receipt to a simulated printer: no test may fail. The counts and the
# name of every skipped test are printed. Every stream the printer got must
# decode whole, and the first is the filter's stream for the same page.
#
#   ipp_everywhere.sh APP SIM DECODE FILTER PPD_DIR SOURCE_DIR
set -u
app="$1" simulator="$2" decode="$3" filter="$4" ppds="$5" source="$6"
. "$source/tests/app/common.sh"
need ipptool gs
suite=/usr/share/cups/ipptool/ipp-everywhere.test
[ -f "$suite" ] || { echo "SKIP: $suite is missing"; exit 77; }

begin ipp-everywhere 280
# The sample receipt as 1-bit black PWG raster at 203 dpi.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r203 -dcupsColorSpace=3 -dcupsBitsPerColor=1 \
  -o "$work/receipt.pwg" "$source/samples/receipt.ps" || fail "gs could not make the PWG raster"

start_sim printer
start_app
app_cli add -d receipt -m ovik-tern-80a -v "socket://127.0.0.1:$printer_port" || fail "add refused"
# Asked at once after the printer is added, as the server ships.

(cd "$work" && ipptool -I -tf receipt.pwg "ipp://localhost:$app_port/ipp/print/receipt" "$suite") \
  > "$work/ipptool.txt" 2>&1
pass=$(grep -c '\[PASS\]$' "$work/ipptool.txt")
failed=$(grep -c '\[FAIL\]$' "$work/ipptool.txt")
skip=$(grep -c '\[SKIP\]$' "$work/ipptool.txt")
echo "ipp-everywhere.test: $pass passed, $failed failed, $skip skipped"
echo "skipped:"
grep '\[SKIP\]$' "$work/ipptool.txt" | sed 's/ *\[SKIP\]$//'
if [ "$failed" -ne 0 ] || [ "$pass" -eq 0 ]; then
  grep -A30 '\[FAIL\]$' "$work/ipptool.txt" | grep -E 'FAIL|EXPECTED|GOT|status-code|Duplicate' >&2
  fail "ipp-everywhere.test: $failed failed, $pass passed"
fi

# The jobs the suite printed reach the printer whole.
sleep 1
mapfile -t jobs < <(sim_jobs printer)
[ "${#jobs[@]}" -gt 0 ] || fail "the printer received no job"
for job in "${jobs[@]}"; do
  summary=$("$decode" --quiet "$job" 2>&1)
  case " $summary " in
    *" crc_errors=0 "*" unknown_bytes=0 sync_losses=0 problems=0 stop_offset=-1 "*) ;;
    *) fail "$(basename "$job") does not decode whole: $summary" ;;
  esac
done
if [ "${#jobs[@]}" -gt 0 ]; then
  PPD="$ppds/ovik-tern-80a.ppd" OVIK_TRACE= "$filter" 1 tester receipt 1 "" "$work/receipt.pwg" \
    > "$work/filter.prn" 2> "$work/filter.err"
  diff <(records "${jobs[0]}") <(records "$work/filter.prn") > "$work/records.diff" ||
    fail "the first job is not the filter's stream for the page:\n$(head -20 "$work/records.diff")"
fi
exit 0
