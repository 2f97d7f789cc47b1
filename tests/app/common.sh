# shellcheck shell=bash
# What the printer application's script tests share: a private folder, a
# simulated printer (ovik-sim) and an ovik-printer-app server on loopback
# ports, all ended on every exit path. Sourced by scripts that set `app`
# (ovik-printer-app), `sim` (ovik-sim) and `decode` (ovik-decode) first.

failures=0
work=""
pids=()
watchdog=""

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

# Makes the private folder and arranges the clean-up; after SECONDS the
# test gives up by itself, so that the clean-up runs before ctest's timeout.
begin() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/ovik-$1.XXXXXX")
  chmod 0755 "$work"
  trap finish EXIT
  trap 'echo "interrupted" >&2; exit 1' INT TERM HUP
  (sleep "$2" && kill -TERM $$) > /dev/null 2>&1 &
  watchdog=$!
}

# The EXIT trap: ends what the test started, each by its process id.
finish() {
  local status=$? pid
  for pid in "${pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
  done
  if declare -F cleanup > /dev/null; then cleanup; fi
  if [ -n "$watchdog" ]; then
    pkill -P "$watchdog" 2>/dev/null || true
    kill "$watchdog" 2>/dev/null || true
  fi
  if [ "$failures" -gt 0 ] || [ "$status" -ne 0 ]; then
    [ -f "$work/app/log" ] && tail -n 30 "$work/app/log" >&2
    echo "$failures check(s) failed, exit status $status; files kept in $work" >&2
    [ "$status" -ne 0 ] || status=1
  elif [ -n "$work" ]; then
    rm -rf "$work"
  fi
  exit "$status"
}

# Starts a simulated printer in $work/NAME; its port is left in NAME_port.
start_sim() {
  local name="$1" dir="$work/$1" port=""
  mkdir -p "$dir"
  echo ready > "$dir/state"
  "$sim" --port 0 --port-file "$dir/port" --out "$dir/out" --state "$dir/state" --max-time 600 \
    > "$dir/sim.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do
    port=$(cat "$dir/port" 2>/dev/null || true)
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { fail "ovik-sim $name did not start"; exit 1; }
  printf -v "${name}_port" '%s' "$port"
}

# Runs a sub-command of the application against the test's server.
app_cli() {
  SNAP_COMMON="$work/app" XDG_CONFIG_HOME="$work/app" HOME="$work/app" "$app" "$@"
}

# A free loopback port.
free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    (exec 3<> "/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  echo 0
}

# Starts the application server on a free loopback port (left in app_port),
# its state, spool and log in $work/app; returns once it answers.
start_app() {
  mkdir -p "$work/app/spool"
  app_port=$(free_port)
  SNAP_COMMON="$work/app" XDG_CONFIG_HOME="$work/app" HOME="$work/app" "$app" server \
    -o server-port="$app_port" -o listen-hostname=localhost -o server-options=no-tls \
    -o spool-directory="$work/app/spool" -o log-file="$work/app/log" -o log-level=debug \
    > "$work/app/server.out" 2>&1 &
  pids+=($!)
  for _ in $(seq 150); do
    # Sub-commands start a server of their own when they find none: wait
    # for this one's socket first.
    if [ -S "$work/app/ovik-printer-app.sock" ] && (exec 3<> "/dev/tcp/127.0.0.1/$app_port") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  fail "ovik-printer-app did not start"
  exit 1
}

# The jobs a simulated printer received that carried a document, in order.
sim_jobs() {
  local f
  for f in "$work/$1"/out/*.prn; do
    [ -e "$f" ] || continue
    "$decode" "$f" 2>/dev/null | grep -q ' packet ' && echo "$f"
  done
}

# The listing of a stream without offsets and status requests: the records
# in order with every field and packet CRC, what the job itself sent.
records() {
  "$decode" "$1" 2>/dev/null | grep -v -e ' DLE EOT ' -e '^summary:' | cut -c11-
}
