#!/bin/bash
# USB printers through the real CUPS scheduler: a private cupsd runs the
# system's usb backend through a wrapper in its own ServerBin that preloads
# the simulated bus (libovik_usb_printer). On the bus: two Ovik printers and
# a keyboard the backend must pass over; behind the Tern 80A an ovik-sim on
# 127.0.0.1. The queue prints the sample receipt whole, the filter's live
# status comes back through the backend's back channel (also slowly, and
# after the printer stopped answering for a while), and a job whose printer
# is unplugged mid-job is held, waits for the printer, and prints whole once
# it is plugged back.
#
#   spooler_usb.sh FILTER PPD-FOLDER OVIK-DECODE OVIK-SIM USB-BUS-LIBRARY SOURCE-DIR
set -u
filter="$1" ppds="$2" decode="$3" simulator="$4" bus_library="$5" source="$6"
sandbox="$source/tools/cupsd-sandbox"
. "$source/tests/spooler/common.sh"

tern_uri="usb://Ovik/Tern%2080A?serial=OVK0001"
keel_uri="usb://Ovik/Keel%2058?serial=OVK0002"

# The bus file: the printers with their 1284 IDs and serial numbers, the
# Tern 80A's simulator port and plug state file ($work/printer/usb).
write_bus() {
  mkdir -p "$work/usb"
  cat > "$work/usb/bus" <<EOF
log $work/usb/log
device
  vendor 1209
  product 0001
  manufacturer Ovik
  product-name Tern 80A
  serial OVK0001
  id MFG:Ovik;MDL:Tern 80A;CMD:OVIK,ESC/POS;SN:OVK0001;
  port $printer_port
  state $work/printer/usb
device
  vendor 1209
  product 0002
  manufacturer Ovik
  product-name Keel 58
  serial OVK0002
  id MFG:Ovik;MDL:Keel 58;CMD:OVIK,ESC/POS;SN:OVK0002;
device
  class keyboard
  vendor 1209
  product 0003
  manufacturer Some
  product-name Keyboard
EOF
}

# The wrapper that cupsd runs as its usb backend: the system's own, with the
# simulated bus preloaded (cupsd gives backends a clean environment).
write_backend() {
  mkdir -p "$work/backend"
  cat > "$work/backend/usb" <<EOF
#!/bin/bash
export LD_PRELOAD="$bus_library" OVIK_USB_BUS="$work/usb/bus"
exec -a "\$0" "$(cups-config --serverbin)/backend/usb" "\$@"
EOF
}

# Changes the Tern 80A's plug state.
set_plug() {
  echo "$1" > "$work/printer/usb.new" && mv "$work/printer/usb.new" "$work/printer/usb"
}

# Checks that the newest stream the printer got is the reference job's, its
# status requests left aside.
expect_reference() {
  local label="$1" out
  out=$(last_stream printer)
  [ -n "$out" ] || { fail "$label: the printer got no job"; return; }
  diff <(records "$work/reference.prn") <(records "$out") > "$work/records.diff" ||
    fail "$label: the printer's stream is not the filter's:\n$(head -n 8 "$work/records.diff")"
}

# Waits until the scheduler's log has a line of job ID holding TEXT.
wait_log() {
  local id="$1" text="$2" seconds="$3"
  for _ in $(seq $((seconds * 10))); do
    grep -qF "[Job $id] $text" "$work/cupsd/log/error_log" && return 0
    sleep 0.1
  done
  return 1
}

need_scheduler
need gs ipptool lp lpadmin lpinfo lpstat
begin usb 200
start_sim printer
write_bus
write_backend
start_cupsd --filter "$filter" --ppds "$ppds" --backend "$work/backend/usb"
make_documents 1 "$source/samples/receipt.ps"

# The backend lists the two printers, by the make, model and serial number
# they report, and not the keyboard. (Only the usb backend: the others would
# look for printers on the network.)
listed=$(lpinfo --include-schemes usb -v | sort)
expected=$(printf 'direct %s\ndirect %s\n' "$keel_uri" "$tern_uri")
[ "$listed" = "$expected" ] || fail "lpinfo -v lists\n$listed\nnot\n$expected"

lpadmin -p usb -E -v "$tern_uri" -m ovik-tern-80a.ppd 2>/dev/null || fail "lpadmin $tern_uri failed"
lpadmin -p reference -E -v "file:$work/reference.prn" -m ovik-tern-80a.ppd 2>/dev/null
print_job reference "$work/reference.prn" "$work/receipt.pdf"

# The receipt on the USB queue: what the filter writes, and the printer was
# asked for its status and answered.
start=$(date +%s.%N)
id=$(submit usb "$work/receipt.pdf")
state=$("$sandbox" wait-job "$work/cupsd" "$id" 60) || true
[ "$state" = completed ] || fail "receipt: the job ended $state"
echo "receipt on USB: job $id took $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"
expect_reference "receipt"
[ "$("$decode" "$(last_stream printer)" | grep -c 'DLE EOT')" -gt 0 ] || fail "receipt: no status request reached the printer"
! grep -q "\[Job $id\] .*does not answer status requests" "$work/cupsd/log/error_log" ||
  fail "receipt: the status replies did not come back through the usb backend"

# Paper out, on a printer whose replies come back slowly (0.6 s each):
# shown while the job waits. Paper is loaded while the printer answers
# nothing on USB (it takes no request): the job waits on, nothing is lost.
# Once it answers again the reason goes and the job is whole.
set_plug "slow-reads 600"
echo paper-out > "$work/printer/state"
id=$(submit usb "$work/receipt.pdf")
wait_reason usb media-empty-error present 60 ||
  fail "paper out: media-empty-error never showed: $("$sandbox" printer-reasons "$work/cupsd" usb)"
state=$("$sandbox" job-state "$work/cupsd" "$id")
[ "$state" = processing ] || fail "paper out: the job is $state while the paper is out"
set_plug silent
echo ready > "$work/printer/state"
sleep 4
state=$("$sandbox" job-state "$work/cupsd" "$id")
[ "$state" = processing ] || fail "silent: the job is $state while the printer does not answer"
wait_reason usb media-empty-error present 1 || fail "silent: media-empty-error went while the printer could not tell"
set_plug plugged
wait_reason usb media-empty-error absent 30 || fail "paper out: media-empty-error stayed after paper was loaded"
state=$("$sandbox" wait-job "$work/cupsd" "$id" 60) || true
[ "$state" = completed ] || fail "paper out: the job ended $state"
expect_reference "paper out"

# Unplugged mid-job, 20000 bytes in: the backend cannot send the rest and
# fails, and the queue's retry-job policy holds the job. Released while the
# printer is still away, the backend waits for it; plugged back, the job
# prints again from its start, whole.
set_plug "unplug-after 20000"
id=$(submit usb "$work/receipt.pdf")
state=$("$sandbox" wait-job "$work/cupsd" "$id" 60 pending-held) || true
[ "$state" = pending-held ] || fail "unplug: the job is $state, not held to be sent again"
grep -qF "[Job $id] Unable to send data to printer." "$work/cupsd/log/error_log" ||
  fail "unplug: the backend did not fail the write"
grep -q "\[Job $id\] Job held for .* since it could not be sent" "$work/cupsd/log/error_log" ||
  fail "unplug: the scheduler did not hold the job"
cut_short=$(last_stream printer)
[ "$(stat -c %s "$cut_short")" -eq 20000 ] || fail "unplug: the printer got $(stat -c %s "$cut_short") bytes, not 20000"
[ -z "$(lpinfo --include-schemes usb -v | grep -F "$tern_uri")" ] || fail "unplug: lpinfo -v still lists the printer"
lp -i "$id" -H resume || fail "unplug: lp -H resume failed"
wait_log "$id" "Waiting for printer to become available." 20 || fail "unplug: the backend did not wait for the printer"
set_plug plugged
state=$("$sandbox" wait-job "$work/cupsd" "$id" 60) || true
[ "$state" = completed ] || fail "unplug: the job ended $state after the printer came back"
expect_reference "after the unplug"
cmp -s -n 20000 "$cut_short" "$(last_stream printer)" || fail "unplug: what reached the printer first is not the job's start"

[ "$failures" -eq 0 ] && echo "all USB spooler checks passed"
