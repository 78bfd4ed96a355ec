#!/bin/sh
# Installs everything Tidemark needs to build, run and test on Debian:
# the two mingw-w64 cross compilers, Wine (32- and 64-bit), Xvfb, Dovecot's
# POP3 and IMAP servers, clang for the fuzzer, the GoogleTest sources, NSIS for the
# setup program, openssl (test certificates, s_server), iproute2 (the test
# that runs in a network namespace of its own), GnuTLS, which
# Wine's SChannel stands on, and Node.js with npm for the OAuth2 provider of
# the sign-in tests (scripts/oauth2-provider, its packages pinned by its
# package-lock.json).
# Idempotent: when everything is present it returns in well under a second.
set -eu

PKGS="cmake make ninja-build g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 \
wine wine64 wine32:i386 xvfb xauth x11-utils imagemagick xdotool \
dovecot-pop3d dovecot-imapd googletest clang libclang-rt-14-dev python3 nsis \
openssl libgnutls30 libgnutls30:i386 iproute2"

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

# Node.js from another source (NodeSource) brings its own npm and conflicts
# with Debian's npm package: only what is missing as a command is installed.
command -v node >/dev/null 2>&1 || PKGS="$PKGS nodejs"
command -v npm >/dev/null 2>&1 || PKGS="$PKGS npm"

missing=""
for p in $PKGS; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $p"
  fi
done

if [ -n "$missing" ]; then
  echo "setup: installing:$missing"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends $missing
  # The Debian dovecot packages start a system service on install; Tidemark's
  # fixtures run their own unprivileged servers and need no system one. It is
  # stopped through its service manager only: a mail server of the machine's
  # own, started some other way, is never touched.
  if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
    $SUDO systemctl disable --now dovecot >/dev/null 2>&1 || true
  elif command -v service >/dev/null 2>&1; then
    $SUDO service dovecot stop >/dev/null 2>&1 || true
  fi
fi

# The OAuth2 provider's packages, exactly as locked; again only when the lock
# file changed since the last install.
provider=$(cd "$(dirname "$0")" && pwd)/oauth2-provider
if ! cmp -s "$provider/package-lock.json" "$provider/node_modules/.package-lock.json.installed" 2>/dev/null; then
  echo "setup: installing the OAuth2 test provider's packages (npm ci)"
  (cd "$provider" && npm ci --no-audit --no-fund --loglevel=error)
  cp "$provider/package-lock.json" "$provider/node_modules/.package-lock.json.installed"
fi
