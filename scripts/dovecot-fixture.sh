#!/bin/bash
# A throwaway Dovecot POP3 server for tests, popcheck and the benchmark.
#
#   dovecot-fixture.sh start DIR USER PASS [USER PASS ...]
#       Creates DIR with a generated configuration, a password file and an
#       empty Maildir per user, starts Dovecot on 127.0.0.1 at a free port
#       the kernel picks, and writes that port into DIR/port (the last step,
#       so a reader that sees the file sees a listening server).
#   dovecot-fixture.sh start-tls DIR USER PASS [USER PASS ...]
#       The same with TLS required: DIR/port offers STLS (and nothing before
#       it), DIR/tls_port speaks TLS from the first byte. openssl makes a
#       test CA (DIR/tls/ca.pem) and a certificate for localhost signed by it;
#       on 127.0.0.2 the server shows instead a certificate for 127.0.0.2
#       signed by a second CA (DIR/tls/other-ca.pem) that nobody trusts.
#       DIR/tls/wild.pem, ip.pem, dnsip.pem, nosan.pem, revoked.pem and the
#       CA's revocation list ca.crl are for the tests of the certificate check.
#   Both also serve IMAP (with IDLE): DIR/imap_port, and with TLS also
#   DIR/imaps_port (TLS from the first byte; DIR/imap_port then offers
#   STARTTLS and refuses a log-in before it).
#       With TIDEMARK_OAUTH2_DIR set (the folder of a running
#       tests/oauth2/server.js: its port file), the TLS server also takes
#       AUTH XOAUTH2 and asks that provider whether a token is live and whose.
#   dovecot-fixture.sh fill DIR USER COUNT
#       Writes COUNT small messages into USER's Maildir.
#   dovecot-fixture.sh stop DIR
#       Stops that server and removes DIR.
#
# Runs as root (the mail processes drop to nobody) or as a plain user (then
# everything runs as that user). The tests under Wine start it through
# CreateProcess with its Unix path, so it must not need a terminal.
set -u

FAIL_FILE=""
die() {
    echo "dovecot-fixture: $*" >&2
    # A caller under Wine cannot wait for this process; it watches for this file.
    if [ -n "$FAIL_FILE" ]; then echo "$*" > "$FAIL_FILE" 2>/dev/null; fi
    exit 1
}

free_port() {
    # Bind port 0 so the kernel hands out an unused ephemeral port.
    /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

make_certificates() {
    local t=$1/tls
    mkdir -p "$t" || die "cannot create $t"
    command -v openssl >/dev/null || die "openssl is not installed (scripts/setup-debian.sh installs it)"
    {
        printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\n' > "$t/ca.ext"
        printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:localhost\n' > "$t/server.ext"
        printf 'basicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\nsubjectAltName=DNS:127.0.0.2,IP:127.0.0.2\n' > "$t/other.ext"
        local ca
        for ca in ca other-ca; do
            openssl req -new -newkey rsa:2048 -nodes -keyout "$t/$ca.key" -out "$t/$ca.csr" \
                -subj "/O=Tidemark tests/CN=Tidemark $ca $$" &&
            openssl x509 -req -in "$t/$ca.csr" -signkey "$t/$ca.key" -out "$t/$ca.pem" -days 3 -extfile "$t/ca.ext"
        done &&
        openssl req -new -newkey rsa:2048 -nodes -keyout "$t/server.key" -out "$t/server.csr" -subj "/CN=localhost" &&
        openssl x509 -req -in "$t/server.csr" -CA "$t/ca.pem" -CAkey "$t/ca.key" -CAcreateserial \
            -out "$t/server.pem" -days 2 -extfile "$t/server.ext" &&
        # Certificates for the checks, on the same key: one for a whole
        # top-level domain, one for an IP address, one naming an IP address
        # as a DNS name, one naming no server at all, and one that the CA
        # revokes in its list (ca.crl).
        local names name
        for names in "wild DNS:*.org" "ip IP:127.0.0.1" "dnsip DNS:127.0.0.1" "nosan" "revoked DNS:localhost"; do
            name=${names%% *}
            sed "/subjectAltName/d" "$t/server.ext" > "$t/$name.ext"
            if [ "$name" != "$names" ]; then echo "subjectAltName=${names#* }" >> "$t/$name.ext"; fi
            openssl x509 -req -in "$t/server.csr" -CA "$t/ca.pem" -CAkey "$t/ca.key" -CAcreateserial \
                -out "$t/$name.pem" -days 2 -extfile "$t/$name.ext" || die "openssl could not make $name.pem"
        done &&
        : > "$t/index.txt" &&
        printf '[ca]\ndefault_ca = d\n[d]\ndatabase = %s\ndefault_md = sha256\ndefault_crl_days = 2\n' "$t/index.txt" > "$t/crl.cnf" &&
        openssl ca -config "$t/crl.cnf" -keyfile "$t/ca.key" -cert "$t/ca.pem" -revoke "$t/revoked.pem" &&
        openssl ca -config "$t/crl.cnf" -keyfile "$t/ca.key" -cert "$t/ca.pem" -gencrl -out "$t/crl.pem" &&
        openssl crl -in "$t/crl.pem" -outform DER -out "$t/ca.crl" &&
        openssl req -new -newkey rsa:2048 -nodes -keyout "$t/other.key" -out "$t/other.csr" -subj "/CN=127.0.0.2" &&
        openssl x509 -req -in "$t/other.csr" -CA "$t/other-ca.pem" -CAkey "$t/other-ca.key" -CAcreateserial \
            -out "$t/other.pem" -days 2 -extfile "$t/other.ext"
    } >> "$1/start.log" 2>&1 || die "openssl could not make the test certificates"
    chmod a+r "$t"/*
}

write_config() {
    local dir=$1 port=$2 tlsport=${3:-} imapport=$4 imapsport=${5:-}
    local internal login uid gid
    if [ "$(id -u)" = 0 ]; then
        internal=dovecot login=dovenull uid=nobody gid=nogroup
    else
        internal=$(id -un) login=$(id -un) uid=$(id -un) gid=$(id -gn)
    fi
    cat > "$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
protocols = pop3 imap
listen = 127.0.0.1
$(if [ -n "$tlsport" ]; then cat <<TLS
ssl = required
ssl_cert = <$dir/tls/server.pem
ssl_key = <$dir/tls/server.key
ssl_dh = </usr/share/dovecot/dh.pem
# Lets a test see that a refused connection never tried to log in.
auth_verbose = yes
local 127.0.0.2 {
  ssl_cert = <$dir/tls/other.pem
  ssl_key = <$dir/tls/other.key
}
TLS
else echo "ssl = no"; fi)
disable_plaintext_auth = no
auth_mechanisms = plain
# A wrong password is answered at once; the default 2 s pause only slows tests.
auth_failure_delay = 0
default_internal_user = $internal
default_login_user = $login
first_valid_uid = 100
mail_location = maildir:~/Maildir
pop3_uidl_format = %08Xu%08Xv
# Lets a reader of the log count what a client asked for.
pop3_logout_format = top=%t/%p, retr=%r/%b, del=%d/%m, size=%s
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
$(if [ -n "$tlsport" ]; then printf '  inet_listener pop3s {\n    address = 127.0.0.1 127.0.0.2\n    port = %s\n    ssl = yes\n  }\n' "$tlsport"; fi)
}
service imap-login {
  chroot =
  inet_listener imap {
    address = 127.0.0.1
    port = $imapport
  }
$(if [ -n "$imapsport" ]; then printf '  inet_listener imaps {\n    address = 127.0.0.1\n    port = %s\n    ssl = yes\n  }\n' "$imapsport"; fi)
}
# A message delivered while a client idles is told within a second.
mailbox_idle_check_interval = 1 secs
imap_logout_format = in=%i out=%o fetch_hdr=%{fetch_hdr_count}
service anvil {
  chroot =
  # No growing pause after a failed log-in: a test that tries a wrong
  # password and then the right one must not wait seconds for it.
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
$(oauth2_config "$dir" "$tlsport")
userdb {
  driver = static
  args = uid=$uid gid=$gid home=$dir/home/%u
}
CONF
}

# Bearer tokens of the test provider (XOAUTH2), over TLS only.
oauth2_config() {
    local dir=$1 tlsport=$2 oport
    [ -n "$tlsport" ] && [ -n "${TIDEMARK_OAUTH2_DIR:-}" ] || return 0
    oport=$(cat "$TIDEMARK_OAUTH2_DIR/port" 2>/dev/null) || die "no OAuth2 provider runs in $TIDEMARK_OAUTH2_DIR"
    cat > "$dir/oauth2.conf.ext" <<EXT
introspection_mode = post
introspection_url = http://127.0.0.1:$oport/introspect
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
timeout_msecs = 5000
EXT
    cat <<CONF
auth_mechanisms = \$auth_mechanisms xoauth2
passdb {
  driver = oauth2
  mechanisms = xoauth2
  args = $dir/oauth2.conf.ext
}
CONF
}

cmd_start() {
    local tls=$1; shift
    [ $# -ge 3 ] || die "usage: start DIR USER PASS [USER PASS ...]"
    local dir=$1; shift
    mkdir -p "$dir/run" "$dir/state" "$dir/home" || die "cannot create $dir"
    FAIL_FILE="$dir/failed"
    command -v dovecot >/dev/null || die "dovecot is not installed (scripts/setup-debian.sh installs it)"
    if [ -n "$tls" ]; then make_certificates "$dir"; fi
    : > "$dir/passwd"
    while [ $# -ge 2 ]; do
        echo "$1:{PLAIN}$2" >> "$dir/passwd"
        mkdir -p "$dir/home/$1/Maildir/new" "$dir/home/$1/Maildir/cur" "$dir/home/$1/Maildir/tmp"
        shift 2
    done
    # The mail processes run as nobody while the tests write messages as
    # whoever they are: let both write the mailboxes.
    chmod -R a+rwX "$dir/home"
    chmod 0755 "$dir"
    local attempt port tlsport="" imapport imapsport=""
    for attempt in 1 2 3 4 5; do
        port=$(free_port) || die "no free port"
        imapport=$(free_port) || die "no free port"
        if [ -n "$tls" ]; then
            tlsport=$(free_port) || die "no free port"
            imapsport=$(free_port) || die "no free port"
        fi
        write_config "$dir" "$port" "$tlsport" "$imapport" "$imapsport"
        if dovecot -c "$dir/dovecot.conf" 2>> "$dir/start.log"; then
            # The master binds its listeners before it detaches; make sure
            # the login process answers before telling anyone the port.
            local i
            for i in $(seq 1 100); do
                if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
                    if [ -n "$tls" ]; then echo "$tlsport" > "$dir/tls_port"; fi
                    if [ -n "$tls" ]; then echo "$imapsport" > "$dir/imaps_port"; fi
                    echo "$imapport" > "$dir/imap_port"
                    echo "$port" > "$dir/port.tmp" && mv "$dir/port.tmp" "$dir/port"
                    return 0
                fi
                sleep 0.05
            done
            stop_server "$dir"
        fi
    done
    cat "$dir/start.log" "$dir/dovecot.log" >&2 2>/dev/null
    die "dovecot did not start"
}

cmd_fill() {
    [ $# -eq 3 ] || die "usage: fill DIR USER COUNT"
    local dir=$1 user=$2 count=$3 i
    local new="$dir/home/$user/Maildir/new"
    [ -d "$new" ] || die "no Maildir for $user"
    for i in $(seq 1 "$count"); do
        printf 'From: Sender %d <sender%d@example.org>\nTo: %s@example.org\nSubject: Message number %d\nDate: Mon, 1 Jan 2024 10:00:00 +0000\nMessage-ID: <%d.fill@example.org>\n\nBody line one of message %d.\nBody line two.\n' \
            "$i" "$i" "$user" "$i" "$i" "$i" > "$new/$(printf '%08d' "$i").fill.tidemark"
    done
    # One chmod per file would be slow, and one with every name overflows the
    # argument list at tens of thousands of messages.
    find "$new" -type f -exec chmod a+rw {} +
}

master_gone() {
    # A zombie counts as gone: in a container nobody may reap it.
    case "$(awk '/^State:/ { print $2 }' "/proc/$1/status" 2>/dev/null)" in
        "" | Z) return 0 ;;
    esac
    return 1
}

stop_server() {
    local dir=$1 pid i children
    pid=$(cat "$dir/run/master.pid" 2>/dev/null) || return 0
    children=$(ps -o pid= --ppid "$pid" 2>/dev/null)
    kill "$pid" 2>/dev/null || return 0
    for i in $(seq 1 20); do
        master_gone "$pid" && return 0
        sleep 0.05
    done
    # A login process that still waits for the already stopped stats
    # process holds the master for 5 s; this server's data is throwaway.
    kill -9 $children "$pid" 2>/dev/null
    for i in $(seq 1 20); do
        master_gone "$pid" && return 0
        sleep 0.05
    done
}

cmd_stop() {
    [ $# -eq 1 ] || die "usage: stop DIR"
    local dir=$1
    [ -f "$dir/dovecot.conf" ] || die "$dir is not a fixture directory"
    stop_server "$dir"
    rm -rf "$dir"
}

case "${1:-}" in
    start) shift; cmd_start "" "$@" ;;
    start-tls) shift; cmd_start tls "$@" ;;
    fill) shift; cmd_fill "$@" ;;
    stop) shift; cmd_stop "$@" ;;
    *) die "usage: $0 start|start-tls|fill|stop ..." ;;
esac
