# Sourced by the benchmarks that time whole tools on a shared, noisy
# machine: every tool runs once per round and mode, the starting tool
# rotating from round to round, and results are read as medians.
#
#   run_rounds ROUNDS MODE...  runs run_one TOOL MODE (the caller's) for each
#                              tool in the array tools and appends "MODE TOOL
#                              <what run_one printed>" to $samples; a run that
#                              prints nothing is left out
#   stat MODE TOOL COLUMN      "median minimum" of one column of $samples
#                              (3 is the first field run_one printed), or "- -"

run_rounds() {
  local rounds=$1 round mode k tool result
  shift
  for ((round = 1; round <= rounds; round++)); do
    for mode in "$@"; do
      for ((k = 0; k < ${#tools[@]}; k++)); do
        tool=${tools[$(((k + round) % ${#tools[@]}))]}
        result=$(run_one "$tool" "$mode")
        [ -n "$result" ] && echo "$mode $tool $result" >> "$samples"
      done
    done
  done
}

stat() {
  awk -v m="$1" -v t="$2" '$1 == m && $2 == t { print $c }' c="$3" "$samples" | sort -n |
    awk '{ v[NR] = $1 } END { if (NR == 0) { print "- -"; exit }
           printf "%.2f %.2f", (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2), v[1] }'
}
