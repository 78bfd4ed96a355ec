#!/bin/sh
# isolated.sh WINE PROGRAM ARGS...: runs a test program under Wine inside a
# network namespace of its own (unshare -rn), whose only interface is its
# own loopback: nothing the program sends can leave the machine, and any
# other address is a network that cannot be reached.
# Wine opens sockets in its wineserver, so the namespace needs a wineserver
# of its own: it gets a copy of the run's prefix (files hard-linked, the
# registry copied, as the run's wineserver goes on writing its own).
# Where no namespace may be made, unshare says why ("Operation not permitted").
set -u
copy=$(mktemp -d /tmp/tidemark-isolated.XXXXXX) && trap 'rm -rf "$copy"' EXIT || exit 1
cp -al "$WINEPREFIX/." "$copy/" && cp --remove-destination "$WINEPREFIX"/*.reg "$copy/" || exit 1
# The wineserver and the programs it started (the desktop) end with the run.
WINEPREFIX="$copy" unshare -rn sh -c 'ip link set lo up || exit 1; "$@"; s=$?; wineserver -k; exit $s' sh "$@"
