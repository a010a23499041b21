# Sourced by the shell checks: a scratch folder $work removed at exit, and
# fail, which reports a failed check and counts it in $failures.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAILED: $*" >&2
  failures=$((failures + 1))
}
