# Helpers of the remote scenarios: free loopback ports, the metrics
# servers from Debian's packages started on them (and ended by the harness
# like every process it starts), and the "Listen to" sub-menu. Sourced after
# lib.sh.

# e2e_free_ports COUNT : prints the first of COUNT consecutive loopback
# ports that nothing listens on.
e2e_free_ports() {
  local count=$1 base p tries
  for ((tries = 0; tries < 50; tries++)); do
    base=$((20000 + RANDOM % 20000))
    for ((p = base; p < base + count; p++)); do
      (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue 2
    done
    echo "$base"
    return 0
  done
  e2e_fail "no $count free loopback ports in a row"
}

# e2e_get URL : the body, or failure; never waits more than two seconds.
e2e_get() { e2e_bounded 5 curl -sf --max-time 2 --noproxy '*' "$@"; }

# e2e_start_node_exporter PORT PROCFS : the Linux exporter reading its
# processor times from PROCFS/stat, as another machine would serve them.
e2e_start_node_exporter() {
  e2e_spawn node_exporter prometheus-node-exporter \
    --web.listen-address="127.0.0.1:$1" --path.procfs="$2" \
    --collector.disable-defaults --collector.cpu --collector.meminfo
  e2e_wait_until 10 e2e_get "http://127.0.0.1:$1/metrics" ||
    e2e_fail "the exporter did not answer on port $1"
  E2E_EXPORTER_PID=$E2E_LAST_PID
}

# e2e_start_prometheus PORT CONFIG : the metrics server on PORT, keeping its
# data under E2E_TMP so that a restart finds it again.
e2e_start_prometheus() {
  e2e_spawn "prometheus$((++E2E_PROMETHEUS_STARTS))" prometheus \
    --config.file="$2" --storage.tsdb.path="$E2E_TMP/tsdb" \
    --web.listen-address="127.0.0.1:$1"
  E2E_PROMETHEUS_PID=$E2E_LAST_PID
  e2e_wait_until 20 e2e_get "http://127.0.0.1:$1/-/ready" ||
    e2e_fail "the metrics server was not ready on port $1 within 20 s"
}
E2E_PROMETHEUS_STARTS=0

# e2e_stop_pid PID : TERM, then KILL after two seconds; a child only.
e2e_stop_pid() {
  local tries
  e2e_alive "$1" && kill -TERM "$1" 2>/dev/null
  for ((tries = 0; tries < 20; tries++)); do
    e2e_alive "$1" || break
    sleep 0.1
  done
  e2e_alive "$1" && kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null || true
}

# e2e_listen_to ITEM : picks the ITEM-th entry (0: "This computer") of the
# "Listen to" sub-menu, the sixth item of the tray menu, with the keyboard.
e2e_listen_to() {
  local icon windows keys=(Down Down Down Down Down Down Right) i
  for ((i = 0; i < $1; i++)); do keys+=(Down); done
  windows=$(e2e_program_windows)
  icon=$(e2e_wait_tray_icon 10) || e2e_fail "no icon in the tray host"
  read -r icon_x icon_y <<<"$icon"
  xdotool mousemove --sync "$icon_x" "$icon_y" click 1
  e2e_wait_until 10 eval '[ "$(e2e_program_windows)" -gt '"$windows"' ]' ||
    e2e_fail "no menu opened on a click on the tray icon"
  xdotool mousemove --sync 5 795
  xdotool key --delay 150 "${keys[@]}" Return
  e2e_wait_windows "$windows" 10 || e2e_fail "the menu did not close"
}

# e2e_log_has TEXT : the program said TEXT on standard error.
e2e_log_has() { grep -qF -- "$1" "$E2E_TMP/logs/veska.log"; }
