#!/usr/bin/env bash
# docs/publishing.md shows the sample package's WiX source in full: the copy
# in the guide must be the file the tests build, check, sign and install.
#   tests/scripts/publishing_guide_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
guide=$source_dir/docs/publishing.md
sample=tests/data/packages/publisher-guide.wxs

# The fenced block right after the guide's marker line that names the sample.
shown=$(awk -v marker="<!-- sample: $sample " '
  index($0, marker) == 1 { found = 1; next }
  found == 1 && /^```xml$/ { found = 2; next }
  found == 2 && /^```$/ { exit }
  found == 2 { print }
' "$guide")
if [[ -z $shown ]]; then
  echo "FAIL: $guide shows no sample under its marker for $sample"
  exit 1
fi
if ! diff <(printf '%s\n' "$shown") "$source_dir/$sample"; then
  echo "FAIL: the sample in $guide differs from $sample (above: < guide, > file)"
  exit 1
fi
echo "PASS: the guide shows $sample as it is"
