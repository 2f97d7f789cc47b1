#!/bin/bash
# The printer tools through the real scheduler, to ovik-sim on 127.0.0.1:
# CUPS command files (lp -o document-format=application/vnd.cups-command)
# run by commandtoovik, and StoreLogo jobs run by rastertoovik. A drawer
# opens with its pulse and nothing else; ReportLevels tells the paper roll;
# a page stored as a logo is the page as a job prints it, and a job with
# PrintLogo and that LogoIndex shows it in the simulator's preview; a page
# that cannot be a logo (too tall, blank, wider than the printer) is
# refused with its message and not one byte reaches the printer.
#
#   tools.sh RASTERTOOVIK COMMANDTOOVIK PPD-FOLDER OVIK-DECODE OVIK-MODELS OVIK-SIM SOURCE-DIR
set -u
filter="$1" command_filter="$2" ppds="$3" decode="$4" models="$5" simulator="$6" source="$7"
sandbox="$source/tools/cupsd-sandbox"
. "$(dirname "$0")/common.sh"

# The jobs the simulator has taken so far.
sim_job_count() {
  grep -c '^job=' "$work/printer/sim.log"
}

# The simulator's files of its newest job: PATH-STEM (add .prn, .png, .txt).
last_job() {
  local prn
  prn=$(last_stream printer)
  echo "${prn%.prn}"
}

# Waits up to 5 s for the simulator to take a job more than BEFORE.
wait_sim_job() {
  for _ in $(seq 50); do [ "$(sim_job_count)" -gt "$1" ] && break; sleep 0.1; done
}

# Runs a command file of the given lines on the queue and waits for it.
run_commands() {
  printf '#CUPS-COMMAND\n' > "$work/job.cmd"
  printf '%s\n' "$@" >> "$work/job.cmd"
  local id state
  id=$(submit till -o document-format=application/vnd.cups-command "$work/job.cmd")
  state=$("$sandbox" wait-job "$work/cupsd" "$id" 60) || true
  [ "$state" = completed ] || fail "command file $*: the job ended $state"
  job="$id"
}

# One command file sends exactly these bytes to the printer, as its own job.
expect_command() {
  local command="$1" bytes="$2" before stream
  before=$(sim_job_count)
  run_commands "$command"
  wait_sim_job "$before"
  stream=$(last_job)
  [ "$(sim_job_count)" -eq $((before + 1)) ] || { fail "$command: the printer got $(($(sim_job_count) - before)) jobs"; return; }
  [ "$(hex_of "$stream.prn")" = "$bytes" ] || fail "$command: the printer got $(hex_of "$stream.prn"), not $bytes"
}

# The queue's value of a printer attribute the filters set (lpoptions lists them).
queue_attribute() {
  lpoptions -p till | tr ' ' '\n' | sed -n "s/^$1=//p"
}

# ReportLevels with the printer in a condition: the marker level and the
# reasons the queue then shows.
expect_levels() {
  local condition="$1" level="$2" reason="$3" reasons
  echo "$condition" > "$work/printer/state"
  run_commands ReportLevels
  [ "$(queue_attribute marker-levels)" = "$level" ] ||
    fail "ReportLevels, $condition: marker-levels=$(queue_attribute marker-levels), not $level"
  reasons=",$("$sandbox" printer-reasons "$work/cupsd" till),"
  case "$reasons" in
    *",$reason,"*) ;;
    *) fail "ReportLevels, $condition: printer-state-reasons $reasons, not $reason" ;;
  esac
}

# The rows of the first page of a printer stream, without its blank rows above and below.
page_rows() {
  local line offset length
  line=$("$decode" "$1" | grep -m 1 ' bitmap (kind 4)')
  offset=$((16#${line%% *}))
  length=$(sed -n 's/.*data_bytes=\([0-9]*\).*/\1/p' <<< "$line")
  tail -c +$((offset + 27)) "$1" | head -c "$length" | content_rows 72
}

# A job with StoreLogo that is refused: its message, no byte to the
# printer, the job stopped by the filter's error (then cancelled).
expect_refused() {
  local label="$1" message="$2" id before state=""; shift 2
  before=$(sim_job_count)
  id=$(submit till "$@")
  [ -n "$id" ] || { fail "$label: lp $* was refused"; return; }
  state=$("$sandbox" wait-job "$work/cupsd" "$id" 60 processing-stopped) || true
  [ "$state" = processing-stopped ] || fail "$label: the job is $state, not stopped by the filter's error"
  grep -qF "[Job $id] $message" "$work/cupsd/log/error_log" || fail "$label: no line \"$message\""
  sleep 1
  [ "$(sim_job_count)" -eq "$before" ] || fail "$label: the printer got a job: $(tail -n 1 "$work/printer/sim.log")"
  cancel "$id" 2> /dev/null
}

need_scheduler
need gs ipptool lp lpadmin lpoptions lpstat cancel
begin tools 240
start_cupsd --filter "$filter" --filter "$command_filter" --ppds "$ppds"
make_documents 1 "$source/samples/receipt.ps"
start_sim printer --model "Tern 80A"
lpadmin -p till -E -v "socket://127.0.0.1:$printer_port/?snmp=false" -m ovik-tern-80a.ppd 2> /dev/null ||
  fail "lpadmin socket:// failed"
lpadmin -p file -E -v "file:$work/file.prn" -m ovik-tern-80a.ppd 2> /dev/null || fail "lpadmin file: failed"

# The queue offers the commands of its PPD.
commands=$(queue_attribute printer-commands)
[ "$commands" = "OpenDrawer1,OpenDrawer2,Beep,PrintSelfTestPage,ReportLevels" ] ||
  fail "printer-commands is \"$commands\""

# Each command: its bytes and nothing else (no feed, no cut, no packet, no status request).
expect_command OpenDrawer1 "1b 70 00 50 50"
expect_command OpenDrawer2 "1b 70 01 50 50"
expect_command Beep "1b 28 41 05 00 61 64 01 00 00"
expect_command PrintSelfTestPage "1d 28 41 02 00 00 02"
grep -q ' drawer1=1 drawer2=0 ' "$work/printer/sim.log" || fail "the simulator did not count drawer 1's pulse"

# The paper roll as the printer's sensors tell it, and the reasons with it.
expect_levels near-end 10 media-low-warning
expect_levels paper-out 0 media-empty-error
expect_levels ready -3 none

# A logo: the top of a page, stored as logo 3 through the scheduler.
cat > "$work/logo.ps" << 'EOF'
%!PS
<< /PageSize [204 595] >> setpagedevice
newpath 20 540 moveto 160 0 rlineto 0 40 rlineto -160 0 rlineto closepath fill
1 setgray newpath 102 560 15 0 360 arc fill
showpage
EOF
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$work/logo.pdf" "$work/logo.ps"
before=$(sim_job_count)
id=$(submit till -o StoreLogo=3 "$work/logo.pdf")
state=$("$sandbox" wait-job "$work/cupsd" "$id" 90) || true
[ "$state" = completed ] || fail "StoreLogo=3: the job ended $state"
wait_sim_job "$before"
stored=$(last_job)
[ "$(stream_records "$stored.prn")" = "GS ( L define NV graphics (raster)" ] ||
  fail "StoreLogo=3: the printer got $(stream_records "$stored.prn")"
grep -q "graphics_stored=1 nv_graphics=1$" "$work/printer/sim.log" || fail "StoreLogo=3: the simulator stored no logo"
pbm="$work/printer/memory/nv-3032.pbm"
[ -f "$pbm" ] || fail "StoreLogo=3: no graphic with the key codes of LogoIndex 3 in the printer"
grep -q "\[Job $id\] StoreLogo=3: Logo 3 stored in the printer: 576 x " "$work/cupsd/log/error_log" ||
  fail "StoreLogo=3: no line saying the logo was stored"

# The logo is the page as a job prints it, without its blank rows above and below.
print_job file "$work/file.prn" "$work/logo.pdf"
page_rows "$work/file.prn" > "$work/page.rows"
pbm_data "$pbm" | content_rows 72 > "$work/logo.rows"
[ -s "$work/page.rows" ] && cmp -s "$work/page.rows" "$work/logo.rows" ||
  fail "the stored logo ($(wc -l < "$work/logo.rows") rows) is not the printed page ($(wc -l < "$work/page.rows") rows)"

# Printed with PrintLogo and LogoIndex 3, centred: the simulator draws the
# stored logo, as ovik-decode draws the same rows sent as a raster image
# in the place of the print command.
submit till -o PrintLogo=1 -o LogoIndex=3 -o LogoAlign=2 "$work/receipt.pdf" > "$work/id"
state=$("$sandbox" wait-job "$work/cupsd" "$(cat "$work/id")" 90) || true
[ "$state" = completed ] || fail "PrintLogo=1: the job ended $state"
sleep 0.5
printed=$(last_job)
line=$("$decode" "$printed.prn" | grep -m 1 'print NV graphics: k1=48 k2=50')
if [ -z "$line" ] || [ ! -f "$pbm" ]; then
  fail "PrintLogo=1: no print of logo 3 in the stream, or no logo 3 stored"
else
  offset=$((16#${line%% *}))
  rows=$(sed -n '2s/.* //p' "$pbm")
  {
    head -c "$offset" "$printed.prn"
    printf '\x1d\x76\x30\x00\x48\x00'
    printf "\\x$(printf %02x $((rows % 256)))\\x$(printf %02x $((rows / 256)))"
    pbm_data "$pbm"
    tail -c +$((offset + 12)) "$printed.prn"
  } > "$work/expected.prn"
  "$decode" --model "Tern 80A" --png "$work/expected.png" "$work/expected.prn" > /dev/null
  cmp -s "$work/expected.png" "$printed.png" || fail "PrintLogo=1: the preview does not show the stored logo"
fi

# Pages that cannot be logos: refused, nothing sent.
printf '%%!PS\n<< /PageSize [204 842] >> setpagedevice\nclippath fill showpage\n' > "$work/tall.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$work/tall.pdf" "$work/tall.ps"
expect_refused "too tall" "StoreLogo=4: The image is 2374 dots tall; a stored logo is 2304 dots tall at most" \
  -o StoreLogo=4 -o PageSize=80x297mm "$work/tall.pdf"
printf '%%!PS\n<< /PageSize [204 595] >> setpagedevice\nshowpage\n' > "$work/blank.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$work/blank.pdf" "$work/blank.ps"
expect_refused "blank" "StoreLogo=5: The image is empty (576 x 0 dots): there is nothing to store" \
  -o StoreLogo=5 "$work/blank.pdf"
printf '%%!PS\nnewpath 0 0 moveto 300 0 rlineto 0 20 rlineto -300 0 rlineto closepath fill showpage\n' > "$work/wide.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -dcupsColorSpace=3 -dcupsBitsPerColor=1 -r203 -g640x80 \
  -o "$work/wide.ras" "$work/wide.ps" 2> /dev/null
expect_refused "wider than the printer" "StoreLogo=6: The image is 640 dots wide; this printer prints 576 dots across at most" \
  -o StoreLogo=6 -o document-format=application/vnd.cups-raster "$work/wide.ras"
[ -f "$pbm" ] && [ "$(ls "$work/printer/memory" | wc -l)" -eq 1 ] || fail "a refused logo changed the printer's memory"

[ "$failures" -eq 0 ] && echo "all printer tools checks passed"
