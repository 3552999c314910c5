#!/usr/bin/env bash
# run_in_own_network.sh COMMAND [ARG...]
#
# Runs COMMAND in a network namespace of its own. The Linux announcement pipe is
# an abstract Unix socket, whose name is one per network namespace: inside its
# own, a test has the name to itself, and a copy of the program streaming
# elsewhere on this machine (a demo, a benchmark, another test run) cannot
# disturb it. Where namespaces are not allowed, this says why and runs COMMAND
# as it is.
set -uo pipefail
[[ $# -gt 0 ]] || { echo "usage: run_in_own_network.sh COMMAND [ARG...]" >&2; exit 2; }

if unshare --net true 2>/dev/null; then
  exec unshare --net -- "$@"
fi
# Without root, a user namespace may still allow a network namespace.
if unshare --map-root-user --net true 2>/dev/null; then
  exec unshare --map-root-user --net -- "$@"
fi
reason=$(unshare --net true 2>&1 | head -n 1)
echo "run_in_own_network.sh: skipping isolation, no network namespace here (${reason:-unknown});" \
  "the test shares the machine's announcement pipe name" >&2
exec "$@"
