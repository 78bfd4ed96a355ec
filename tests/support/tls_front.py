#!/usr/bin/python3
# A TLS front for one connection to a scripted server, so a transcript can
# play a protocol step that is only ever taken over TLS:
#   tls_front.py CERT KEY TARGET_PORT PORT_FILE
# connects to 127.0.0.1:TARGET_PORT, listens on 127.0.0.1 (a free port,
# written to PORT_FILE once listening), takes one client, does the server's
# side of the handshake with CERT/KEY, and relays plain text between the two
# until either side closes. Ends by itself after 20 s.
import os, select, socket, ssl, sys

# Wine starts a Unix program with copies of the caller's sockets: held here,
# they would keep connections of the test open after it closes them.
os.closerange(3, 4096)

cert, key, target, port_file = sys.argv[1:5]
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server = socket.create_connection(("127.0.0.1", int(target)))
listener = socket.create_server(("127.0.0.1", 0))
listener.settimeout(20)
with open(port_file + ".tmp", "w") as f:
    f.write(str(listener.getsockname()[1]))
os.rename(port_file + ".tmp", port_file)
try:
    client = context.wrap_socket(listener.accept()[0], server_side=True)
    while True:
        ready = [client] if client.pending() else select.select([client, server], [], [], 20)[0]
        if not ready:
            break
        source, sink = (client, server) if client in ready else (server, client)
        data = source.recv(65536)
        if not data:
            break
        sink.sendall(data)
except OSError as e:  # a client that refuses the handshake or resets ends the relay too
    print("tls_front:", repr(e), file=sys.stderr)
