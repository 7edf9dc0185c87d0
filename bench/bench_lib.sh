# Helpers of the whole-program benchmarks, sourced after tests/e2e/lib.sh.

# forget PID : a process ended by hand is no longer the harness's to end.
forget() {
  local pid keep=()
  for pid in "${E2E_PIDS[@]}"; do [ "$pid" = "$1" ] || keep+=("$pid"); done
  E2E_PIDS=("${keep[@]}")
}

# cpu_ns PID [THREAD-PREFIX] : CPU time of the process, or of its threads
# whose name starts with the prefix.
cpu_ns() {
  local task ns total=0 comm
  for task in /proc/"$1"/task/*; do
    comm=$(<"$task/comm") || continue
    [[ $comm == "${2:-}"* ]] || continue
    read -r ns _ <"$task/schedstat" 2>/dev/null || continue
    total=$((total + ns))
  done
  echo "$total"
}

# median N VALUES... (one column)
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
