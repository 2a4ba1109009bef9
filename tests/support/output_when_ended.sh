#!/usr/bin/env bash
# Runs a command with its output in a file, and prints the file once the
# command itself has ended. Under Wine, a program the command starts may start
# one of Wine's shared processes (the desktop process), which inherits the
# output and lives on while other programs use it; a reader of a pipe, such
# as ctest, would wait for that process as well.
set -u
output=$(mktemp)
trap 'rm -f "$output"' EXIT
"$@" >"$output" 2>&1 </dev/null
status=$?
cat "$output"
exit $status
