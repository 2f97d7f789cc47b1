# shellcheck shell=bash
# What the script tests share (the spooler's here, the printer
# application's through tests/app/common.sh): a private folder with clean-up
# on every exit path, a sandbox scheduler, simulated printers (ovik-sim) on
# loopback, jobs printed to file: queues, and checks of the printer stream
# that ovik-decode reads back. Sourced by bash scripts that set `decode`
# (the ovik-decode binary), and as they use them `models` (ovik-models),
# `sandbox` (tools/cupsd-sandbox) and `simulator` (ovik-sim) first.

failures=0
work=""
watchdog=""
job=""
pids=()

# Records a failed check; the test goes on and fails at the end.
fail() {
  printf 'FAIL: %b\n' "$*" >&2
  failures=$((failures + 1))
}

# Ends the test as skipped (ctest SKIP_RETURN_CODE 77) unless the tools are there.
need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" > /dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

# Ends the test as skipped unless a scheduler can run it: cupsd runs as
# root, and its filters as lp, so every folder on the way to the test's
# folder must let others in.
need_scheduler() {
  local tmp="${TMPDIR:-/tmp}" up
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: cupsd runs as root"; exit 77; }
  up=$(cd "$tmp" && pwd) || { echo "SKIP: TMPDIR $tmp is not a folder"; exit 77; }
  while :; do
    [ "$(( $(stat -c '%#a' "$up") & 1 ))" -eq 1 ] ||
      { echo "SKIP: user lp cannot enter $up on the way to TMPDIR $tmp; point TMPDIR at a folder others may enter"; exit 77; }
    [ "$up" != / ] || break
    up=$(dirname "$up")
  done
  need cupsd
}

# Makes the test's private folder and arranges the clean-up: what the test
# started ended, the scheduler stopped with nothing it started left running,
# the folder removed (kept, with its logs shown, when a check failed). After
# SECONDS the test gives up by itself, so that the clean-up runs before
# ctest's timeout kills it.
begin() {
  local tmp="${TMPDIR:-/tmp}"
  work=$(mktemp -d "$tmp/ovik-$1.XXXXXX")
  chmod 0755 "$work"
  trap finish EXIT
  trap 'echo "interrupted" >&2; exit 1' INT TERM HUP
  (sleep "$2" && kill -TERM $$) > /dev/null 2>&1 &
  watchdog=$!
}

# Starts the sandbox scheduler in $work/cupsd with the given options.
start_cupsd() {
  "$sandbox" start "$work/cupsd" "$@" || { fail "cupsd did not start"; exit 1; }
  export CUPS_SERVER="$work/cupsd/cups.sock"
}

# The EXIT trap: ends what the test started (each by its process id), stops
# the scheduler, puts the system back, reports, cleans up.
finish() {
  local status=$? pid
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    # Gone, or ended and not yet reaped (a zombie), the process is done.
    for _ in $(seq 100); do
      case "$(ps -o stat= -p "$pid" 2>/dev/null)" in "" | Z*) break ;; esac
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$watchdog" ]; then
    pkill -P "$watchdog" 2>/dev/null || true
    kill "$watchdog" 2>/dev/null || true
  fi
  if [ -n "$work" ] && [ -d "$work/cupsd" ]; then
    local left
    left=$("$sandbox" settle "$work/cupsd" 10)
    "$sandbox" stop "$work/cupsd"
    # Anything still running when the test ends would be a filter that
    # ignored the scheduler; stop has ended it, the test fails.
    [ -z "$left" ] || fail "processes still running at the end:\n$left"
  fi
  # A test that changed the system puts it back here.
  if declare -F restore > /dev/null; then restore; fi
  if [ "$failures" -gt 0 ] || [ "$status" -ne 0 ]; then
    [ -f "$work/cupsd/log/error_log" ] && tail -n 40 "$work/cupsd/log/error_log" >&2
    [ -f "$work/app/log" ] && tail -n 30 "$work/app/log" >&2
    [ -s "$work/app/server.out" ] && tail -n 40 "$work/app/server.out" >&2
    echo "$failures check(s) failed, exit status $status; files kept in $work" >&2
    [ "$status" -ne 0 ] || status=1
  elif [ -n "$work" ]; then
    rm -rf "$work"
  fi
  exit "$status"
}

# Starts a simulated printer in $work/NAME with the given ovik-sim options
# (on the port of NAME's previous simulator, when there was one); its port
# is left in NAME_port, its process in NAME_pid, its condition in
# $work/NAME/state (ready at first), its NV graphics memory in
# $work/NAME/memory (kept when it is started again).
start_sim() {
  local name="$1" dir="$work/$1" port_var="$1_port" port pid; shift
  port=${!port_var:-0}
  mkdir -p "$dir"
  [ -f "$dir/state" ] || echo ready > "$dir/state"
  rm -f "$dir/port"
  "$simulator" --port "$port" --port-file "$dir/port" --out "$dir/out" --state "$dir/state" --memory "$dir/memory" \
    --max-time 600 "$@" \
    >> "$dir/sim.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  printf -v "${name}_pid" '%s' "$pid"
  port=""
  for _ in $(seq 100); do
    port=$(cat "$dir/port" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { fail "ovik-sim $name did not start: $(cat "$dir/sim.log")"; exit 1; }
  printf -v "$port_var" '%s' "$port"
}

# Ends the simulated printer NAME. Its process id leaves the list that the
# clean-up ends: once reaped, the number may soon be another process's.
stop_sim() {
  local pid_var="$1_pid" pid left=()
  [ -n "${!pid_var:-}" ] || return 0
  kill "${!pid_var}" 2>/dev/null
  wait "${!pid_var}" 2>/dev/null
  for pid in "${pids[@]}"; do
    [ "$pid" = "${!pid_var}" ] || left+=("$pid")
  done
  pids=(${left[@]+"${left[@]}"})
  printf -v "$pid_var" '%s' ""
}

# The bytes of a file as lower-case hex pairs on one line.
hex_of() {
  od -An -v -tx1 "$1" | tr -s ' \n' ' ' | sed 's/^ //; s/ $//'
}

# The hex rows of raw image rows of $1 bytes on standard input, one a line,
# without the blank rows above and below.
content_rows() {
  od -An -v -tx1 -w"$1" | awk '{ rows[NR] = $0 } $0 ~ /[1-9a-f]/ { if (!first) first = NR; last = NR }
    END { for (i = first; first && i <= last; i++) print rows[i] }'
}

# The bytes of a stored graphic's PBM file after its two header lines.
pbm_data() {
  tail -c +$(($(head -n 2 "$1" | wc -c) + 1)) "$1"
}

# The newest job stream that the simulated printer NAME wrote.
last_stream() {
  ls "$work/$1"/out/job-*.prn 2>/dev/null | tail -n 1
}

# Submits a print job and prints its job id.
submit() {
  local queue="$1"; shift
  lp -d "$queue" "$@" | sed -n "s/^request id is $queue-\([0-9]*\) .*/\1/p"
}

# Prints a document on a queue whose device is the file OUT and waits for the
# job, whose id is left in `job`; a job that does not complete fails the test.
print_job() {
  local queue="$1" out="$2" state; shift 2
  rm -f "$out"
  job=$(submit "$queue" "$@")
  [ -n "$job" ] || { fail "lp $* on $queue was refused"; return; }
  state=$("$sandbox" wait-job "$work/cupsd" "$job" 90) || true
  [ "$state" = completed ] || fail "job $job ($*) on $queue ended $state, not completed"
}

# The records of a printer stream in order, joined by "|": packet kinds and
# command names as ovik-decode lists them.
stream_records() {
  "$decode" "$1" 2>/dev/null | awk '
    $2 == "packet" || $2 == "command" {
      sub(/^[0-9A-F]+ +[a-z]+ +/, ""); sub(/ \(kind.*|:.*|  \[.*/, ""); print }' | paste -sd'|'
}

# The listing of a stream without offsets and status requests: the records
# in order with every field and packet CRC, what the job itself sent.
records() {
  "$decode" "$1" 2>/dev/null | grep -v -e ' DLE EOT ' -e '^summary:' | cut -c11-
}

# Checks a printer stream: its records in order, and fields of the decoder's
# summary line (each "name=value" must be there as given).
expect_stream() {
  local out="$1" label="$2" records="$3" summary field actual missing=""; shift 3
  if [ ! -s "$out" ]; then
    fail "$label: no printer stream in $out"
    return
  fi
  actual=$(stream_records "$out")
  [ "$actual" = "$records" ] ||
    fail "$label: records differ\n  actual:   $actual\n  expected: $records"
  summary=$("$decode" --quiet "$out" 2>&1)
  for field in "$@"; do
    case " $summary " in
      *" $field "*) ;;
      *) missing+=" $field" ;;
    esac
  done
  [ -z "$missing" ] || fail "$label: expected$missing in\n  $summary"
}

# Waits until QUEUE's printer-state-reasons holds (or, with "absent", no
# longer holds) REASON, SECONDS at most; false when it did not come to pass.
wait_reason() {
  local queue="$1" reason="$2" want="$3" seconds="$4" reasons
  for _ in $(seq $((seconds * 10))); do
    reasons=",$("$sandbox" printer-reasons "$work/cupsd" "$queue"),"
    case "$reasons" in
      *",$reason,"*) [ "$want" = present ] && return 0 ;;
      *) [ "$want" = absent ] && return 0 ;;
    esac
    sleep 0.1
  done
  return 1
}

# The names of the PPD files in a folder, sorted, one a line.
ppd_names() {
  (cd "$1" && ls -- *.ppd | sort)
}

# Bytes per dot line of a catalogue model: its print width in dots over 8.
model_width_bytes() {
  "$models" | awk -F'\t' -v name="$1" '$4 == name { print int($8 / 8); exit }'
}

# A PDF of the sample receipt printed COPIES times, one page each, and a PNG
# of it at the printers' 203 dpi.
make_documents() {
  local copies="$1" sample="$2" inputs=()
  for _ in $(seq "$copies"); do inputs+=("$sample"); done
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -o "$work/receipt.pdf" "${inputs[@]}"
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r203 -o "$work/receipt.png" "$sample"
}
