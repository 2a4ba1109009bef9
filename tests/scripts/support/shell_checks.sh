# Shared by the shell tests; sourced. A scratch folder ($work, removed on
# exit), failures counted by fail, and the verdict from finish.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# finish SUBJECT: the last line, and the exit status.
finish() {
  if ((failures > 0)); then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "$1: all checks passed"
}
