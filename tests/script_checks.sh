# Sourced by the shell tests: a scratch directory removed on exit, the
# counts of passed and failed checks, and the checks that keep them.
#
#   . "$(dirname "$0")/../script_checks.sh"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0

fail() {  # fail MESSAGE...: counts a failure and says what it was
  echo "FAIL: $*"
  failed=$((failed + 1))
}

check() {  # check LABEL COMMAND...: a pass when the command succeeds
  local label=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    fail "$label"
  fi
}

# Runs a logged step; shows the log and stops when it fails.
step() {  # step LOG COMMAND...
  local log=$1
  shift
  if ! "$@" > "$log" 2>&1; then
    cat "$log"
    echo "FAIL: $* did not succeed"
    exit 1
  fi
}

# Two tools run the same jobs in two directories, first_dir and second_dir,
# named first_name and second_name in messages.

put() {  # put SOURCE NAME: the same file into both directories
  mkdir -p "$(dirname "$first_dir/$2")" "$(dirname "$second_dir/$2")"
  cp "$1" "$first_dir/$2"
  cp "$1" "$second_dir/$2"
}

fresh() {  # both directories empty
  rm -rf "$first_dir" "$second_dir"
  mkdir -p "$first_dir" "$second_dir"
}

# same_results LABEL RC1 RC2 OUT1 OUT2 EXPECTED2: the second run gave the
# first run's exit code, the console output EXPECTED2 (OUT1 as the second
# system shows it; OUT1 and OUT2 are shown when it did not) and the same
# files. Counts one pass, or a failure for each difference.
same_results() {
  local label=$1 rc1=$2 rc2=$3 out1=$4 out2=$5 expected=$6 ok=1
  if [ "$rc1" -ne "$rc2" ]; then
    fail "$label: exit code $rc1 $first_name, $rc2 $second_name"
    ok=0
  fi
  if ! cmp -s "$expected" "$out2"; then
    fail "$label: output differs ($first_name, then $second_name):"
    cat -A "$out1"
    cat -A "$out2"
    ok=0
  fi
  if ! diff -r "$first_dir" "$second_dir" > "$scratch/files.diff"; then
    fail "$label: files differ:"
    cat "$scratch/files.diff"
    ok=0
  fi
  [ $ok -eq 0 ] || passed=$((passed + 1))
}

summary() {  # summary NAME: prints the counts; fails when a check failed
  echo "$1: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
