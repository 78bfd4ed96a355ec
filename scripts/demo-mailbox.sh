# Sourced by ./run: starts a demo POP3 mailbox (a throwaway Dovecot server on
# 127.0.0.1 with three sample messages) and points the settings in Tidemark's
# own Wine prefix at it, with a 5-second poll interval. Choose "Start
# Checking email" in the tray menu and the tooltip tells "(3 messages)".
# It writes only to $WINEPREFIX (never a user's default prefix); ./run stops
# the server when Tidemark ends. Set TIDEMARK_NO_DEMO=1 to use your own
# server settings (entered with Setup) instead.
DEMO_DIR=$(mktemp -d /tmp/tidemark-demo.XXXXXX)
rmdir "$DEMO_DIR"
if "$ROOT/scripts/dovecot-fixture.sh" start "$DEMO_DIR" demo tide >/dev/null 2>&1; then
  "$ROOT/scripts/dovecot-fixture.sh" fill "$DEMO_DIR" demo 3 >/dev/null 2>&1 || true
  DEMO_PORT=$(cat "$DEMO_DIR/port")
  DEMO_STOP="'$ROOT/scripts/dovecot-fixture.sh' stop '$DEMO_DIR'"
  KEY='HKCU\Software\Brindlewick Software\Tidemark'
  # The demo is the first mailbox; a password Setup saved for it earlier
  # would be read before the plain one.
  BOX="$KEY\Mailboxes\1"
  "$WINE" reg add "$BOX" /v name /d Demo /f >/dev/null 2>&1
  "$WINE" reg add "$BOX" /v server /d "127.0.0.1:$DEMO_PORT" /f >/dev/null 2>&1
  "$WINE" reg add "$BOX" /v security /d none /f >/dev/null 2>&1
  "$WINE" reg add "$BOX" /v username /d demo /f >/dev/null 2>&1
  "$WINE" reg add "$BOX" /v password /d tide /f >/dev/null 2>&1
  "$WINE" reg delete "$BOX" /v password_protected /f >/dev/null 2>&1 || true
  "$WINE" reg add "$BOX" /v interval /d 5 /f >/dev/null 2>&1
  "$WINE" reg add "$KEY" /v hideonstart /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  echo "run: demo mailbox on 127.0.0.1:$DEMO_PORT (user demo, 3 messages, checked every 5 s once you"
  echo "     choose \"Start Checking email\" in the tray menu; TIDEMARK_NO_DEMO=1 ./run skips it)"
else
  echo "run: the demo mailbox could not start; Tidemark runs with the settings it has"
fi
