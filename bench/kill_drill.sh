#!/usr/bin/env bash
# The kill drill in full: RUNS (default 100) application-colour preview, thumbnail and print runs
# ended at random moments by SIGKILL, SIGTERM and the watchdog (the parent going away), each
# followed by the checks that nothing is left in $TMPDIR or the output folder, the existing
# outputs are byte for byte as they were (or the complete new file) and that every run that
# printed anything printed one whole line. CI runs the same test with 12 runs.
#
# Needs the dev build (build/app/tests/app_drill_tests); runs against the private test printer,
# which the test starts and stops itself. As root, $TMPDIR of the runs is a private tmpfs, so
# "no byte left" is read from the file system's own count. SEED repeats a drill.
set -euo pipefail
cd "$(dirname "$0")/.."
bench/setup
tests=$(realpath "${APP_DRILL_TESTS:-build/app/tests/app_drill_tests}")
export VARDELLE_KILL_DRILL_RUNS=${RUNS:-100}
if [[ -n "${SEED:-}" ]]; then export VARDELLE_KILL_DRILL_SEED=$SEED; fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
"$tests" --gtest_filter='KillDrill.*' >"$log" 2>&1 || status=$?
grep -E '^\[ (drill|note) \]' "$log" || true
if [[ $status -ne 0 ]]; then cat "$log"; fi
exit "$status"
