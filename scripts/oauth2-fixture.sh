#!/bin/bash
# A throwaway OAuth2 provider for tests and popcheck (scripts/oauth2-provider:
# oauth2-mock-server behind a small script of ours), on 127.0.0.1.
#
#   oauth2-fixture.sh start DIR ACCOUNT
#       Starts it with every token issued for ACCOUNT and writes its port
#       into DIR/port once it listens: authorization at
#       http://127.0.0.1:PORT/authorize, tokens at /token, Dovecot's
#       introspection at /introspect (server.js lists the test controls).
#   oauth2-fixture.sh stop DIR
#       Stops it and removes DIR.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)/oauth2-provider

die() {
    echo "oauth2-fixture: $*" >&2
    exit 1
}

cmd_start() {
    [ $# -eq 2 ] || die "usage: start DIR ACCOUNT"
    local dir=$1 i
    command -v node >/dev/null || die "node is not installed (scripts/setup-debian.sh installs it)"
    [ -d "$HERE/node_modules/oauth2-mock-server" ] || die "run scripts/setup-debian.sh: $HERE/node_modules is missing"
    mkdir -p "$dir" || die "cannot create $dir"
    rm -f "$dir/port"
    # Output to a file: a pipe left open would hold ctest's fixture step.
    node "$HERE/server.js" "$dir" "$2" > "$dir/server.log" 2>&1 < /dev/null &
    for i in $(seq 1 200); do
        [ -s "$dir/port" ] && return 0
        kill -0 $! 2>/dev/null || break
        sleep 0.05
    done
    cat "$dir/server.log" >&2
    die "the OAuth2 provider did not start"
}

cmd_stop() {
    [ $# -eq 1 ] || die "usage: stop DIR"
    local dir=$1 pid i
    pid=$(cat "$dir/pid" 2>/dev/null) && kill "$pid" 2>/dev/null
    for i in $(seq 1 40); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    rm -rf "$dir"
}

case "${1:-}" in
    start) shift; cmd_start "$@" ;;
    stop) shift; cmd_stop "$@" ;;
    *) die "usage: $0 start|stop ..." ;;
esac
