#!/bin/bash
# A one-connection TLS server for tests: openssl s_server on 127.0.0.1.
#
#   tls-test-server.sh DIR CERT KEY [s_server options ...]
#
# After the handshake it sends DIR/input.1, DIR/input.2, ... to the client,
# 300 ms apart (a file holding just "r" asks s_server for a renegotiation
# instead), then closes with a closing alert. It writes the port it listens
# on into DIR/port once it accepts, and gives up after 20 s. Tests under
# Wine start it through CreateProcess with its Unix path.
set -u
dir=$1 cert=$2 key=$3
shift 3
# Whoever started this must not wait on its output: everything goes to files.
exec </dev/null >/dev/null 2>&1
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
feed() {
    local i=1 waited=0
    # Nothing goes to s_server before a client is there: it reads its
    # input only once connected, and a renegotiation needs a session.
    while ! grep -q "^CIPHER is" "$dir/out" 2>/dev/null; do
        sleep 0.05
        waited=$((waited + 1))
        [ "$waited" -lt 400 ] || return 0
    done
    while [ -f "$dir/input.$i" ]; do
        cat "$dir/input.$i"
        sleep 0.3
        i=$((i + 1))
    done
}
feed | timeout 20 openssl s_server -accept "127.0.0.1:$port" -naccept 1 -cert "$cert" -key "$key" "$@" \
    > "$dir/out" 2>&1 &
for _ in $(seq 1 200); do
    if grep -q ACCEPT "$dir/out" 2>/dev/null; then break; fi
    sleep 0.05
done
echo "$port" > "$dir/port.tmp" && mv "$dir/port.tmp" "$dir/port"
