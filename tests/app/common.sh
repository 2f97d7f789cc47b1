# shellcheck shell=bash
# What the printer application's script tests share, beside what every
# script test shares (tests/spooler/common.sh): an ovik-printer-app server on
# a loopback port with its state, spool and log in the test's folder, its
# sub-commands, and the streams its simulated printers got. Sourced by
# scripts that set `app` (ovik-printer-app), `simulator` (ovik-sim), `decode`
# (ovik-decode) and `source` (the source tree) first.

. "$source/tests/spooler/common.sh"

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

# The shipped server options (those of the systemd unit, OVIK_SHIPPED_OPTIONS
# from the build) with this test's port, spool folder and log file.
shipped_options() {
  local word
  for word in $OVIK_SHIPPED_OPTIONS; do
    case "$word" in
      server-port=*) echo "server-port=$app_port" ;;
      spool-directory=*) echo "spool-directory=$work/app/spool" ;;
      log-file=*) echo "log-file=$work/app/log" ;;
      -o) echo "-o" ;;
      *) echo "$word" ;;
    esac
  done
}

# Starts the application server on a free loopback port (left in app_port)
# with the shipped options, its state, spool and log in $work/app; returns
# once it answers.
start_app() {
  local options
  mkdir -p "$work/app/spool"
  app_port=$(free_port)
  [ -n "${OVIK_SHIPPED_OPTIONS:-}" ] || { fail "OVIK_SHIPPED_OPTIONS is not set"; exit 1; }
  mapfile -t options < <(shipped_options)
  SNAP_COMMON="$work/app" XDG_CONFIG_HOME="$work/app" HOME="$work/app" "$app" server "${options[@]}" \
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
