#!/bin/bash
# Live printer status through the real scheduler: a socket:// queue to
# ovik-sim on 127.0.0.1, whose condition a state file sets. Paper out and a
# cover left open show in the queue's printer-state-reasons while the job
# waits, and go when the printer can print again; a silent printer, a slow
# one and one that hangs up mid-job never hang a job; a file: queue gets no
# status request at all.
#
#   status.sh FILTER PPD-FOLDER OVIK-DECODE OVIK-MODELS OVIK-SIM SOURCE-DIR
set -u
filter="$1" ppds="$2" decode="$3" models="$4" simulator="$5" source="$6"
sandbox="$source/tools/cupsd-sandbox"
. "$(dirname "$0")/common.sh"

# Checks that the simulator's last stream is the whole receipt job.
expect_whole() {
  local label="$1" out
  out=$(last_stream printer)
  [ -n "$out" ] || { fail "$label: the printer got no job"; return; }
  summary=$("$decode" --quiet "$out" 2>&1)
  for field in page_headers=1 bitmaps=1 crc_errors=0 unknown_bytes=0 problems=0 stop_offset=-1; do
    case " $summary " in *" $field "*) ;; *) fail "$label: expected $field in\n  $summary" ;; esac
  done
  stream_records "$out" | grep -q '^paper type|document start|' ||
    fail "$label: the stream does not begin with the document start: $(stream_records "$out" | cut -c1-80)"
}

# A printer condition before a job: shown while the job waits, gone once
# the printer is ready; then the job completes and its stream is whole.
condition_during_job() {
  local condition="$1" reason="$2" id state
  echo "$condition" > "$work/printer/state"
  id=$(submit sim "$work/receipt.pdf")
  wait_reason sim "$reason" present 60 || fail "$condition: $reason never showed: $("$sandbox" printer-reasons "$work/cupsd" sim)"
  state=$("$sandbox" job-state "$work/cupsd" "$id")
  [ "$state" = processing ] || fail "$condition: the job is $state while the printer cannot print"
  echo ready > "$work/printer/state"
  wait_reason sim "$reason" absent 30 || fail "$condition: $reason stayed after the printer became ready"
  state=$("$sandbox" wait-job "$work/cupsd" "$id" 60) || true
  [ "$state" = completed ] || fail "$condition: the job ended $state"
  expect_whole "$condition"
  grep -q "\[Job $id\] STATE: +$reason" "$work/cupsd/log/error_log" || fail "$condition: no STATE: +$reason line"
}

# Prints the receipt and says how long the job took, in seconds.
timed_job() {
  local label="$1" id state start end
  start=$(date +%s.%N)
  id=$(submit sim "$work/receipt.pdf")
  state=$("$sandbox" wait-job "$work/cupsd" "$id" 90) || true
  end=$(date +%s.%N)
  [ "$state" = completed ] || fail "$label: the job ended $state"
  echo "$label: job $id took $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') s"
  job="$id"
}

need_scheduler
need gs ipptool lp lpadmin lpstat
begin status 300
start_cupsd --filter "$filter" --ppds "$ppds"
make_documents 1 "$source/samples/receipt.ps"
start_sim printer
lpadmin -p sim -E -v "socket://127.0.0.1:$printer_port/?snmp=false" -m ovik-tern-80a.ppd 2>/dev/null || fail "lpadmin socket:// failed"

# A ready printer: the job is whole, the printer was asked and answered.
timed_job "ready printer"
expect_whole "ready printer"
[ "$("$decode" "$(last_stream printer)" | grep -c 'DLE EOT')" -gt 0 ] || fail "ready printer: no status request reached it"

condition_during_job paper-out media-empty-error
condition_during_job cover-open cover-open-error

# A printer that never answers costs a bounded time, once per job, and says so.
echo silent > "$work/printer/state"
timed_job "silent printer"
expect_whole "silent printer"
grep -q "\[Job $job\] The printer does not answer status requests" "$work/cupsd/log/error_log" ||
  fail "silent printer: no line saying the printer does not answer"
echo ready > "$work/printer/state"

# A printer that drains slowly: no query hangs, the job completes whole.
stop_sim printer
start_sim printer --drain-rate 20000
timed_job "slowly draining printer"
expect_whole "slowly draining printer"

# A printer that hangs up mid-job: the spooler's usual handling (the socket
# backend fails, the queue's retry-job policy holds the job to send it
# again later); once the printer is back and the job released, it prints
# again from its start, whole.
stop_sim printer
start_sim printer --disconnect-after 20000
id=$(submit sim "$work/receipt.pdf")
for _ in $(seq 600); do
  [ "$("$sandbox" job-state "$work/cupsd" "$id")" = pending-held ] && break
  sleep 0.1
done
grep -q 'end=disconnect' "$work/printer/sim.log" || fail "hang-up: the simulator never hung up"
state=$("$sandbox" job-state "$work/cupsd" "$id")
[ "$state" = pending-held ] || fail "hang-up: the job is $state, not held to be sent again"
grep -q "\[Job $id\] Job held for .* since it could not be sent" "$work/cupsd/log/error_log" ||
  fail "hang-up: the scheduler did not hold the job to retry it"
stop_sim printer
start_sim printer
lp -i "$id" -H resume || fail "hang-up: lp -H resume failed"
state=$("$sandbox" wait-job "$work/cupsd" "$id" 90) || true
[ "$state" = completed ] || fail "hang-up: the job ended $state after the printer came back"
expect_whole "after the hang-up"

# A file: queue has no back channel: not one status request in its stream.
lpadmin -p file -E -v "file:$work/file.prn" -m ovik-tern-80a.ppd 2>/dev/null
print_job file "$work/file.prn" "$work/receipt.pdf"
expect_stream "$work/file.prn" "file: queue" "paper type|document start|page header|bitmap" commands=0 \
  crc_errors=0 unknown_bytes=0 problems=0 stop_offset=-1

[ "$failures" -eq 0 ] && echo "all status checks passed"
