#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that holds every chunk for a fixed delay in each
direction, in order: a link with a round trip of twice the delay and no
bandwidth limit. For the latency benchmark only.

    delay_proxy.py UPSTREAM_PORT DELAY_MS PORT_FILE

Listens on a free port, writes it to PORT_FILE once listening, and runs until
killed.
"""
import asyncio
import collections
import os
import sys


async def pump(reader, writer, delay):
    # One queue per direction keeps the chunks in order; each goes out when
    # its own delay is over.
    queue = collections.deque()
    arrived = asyncio.Event()
    done = False

    async def sender():
        loop = asyncio.get_running_loop()
        while True:
            while not queue:
                if done:
                    writer.close()
                    return
                arrived.clear()
                await arrived.wait()
            due, chunk = queue.popleft()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if chunk is None:
                if writer.can_write_eof():
                    writer.write_eof()
                continue
            writer.write(chunk)
            await writer.drain()

    task = asyncio.create_task(sender())
    loop = asyncio.get_running_loop()
    try:
        while True:
            chunk = await reader.read(65536)
            queue.append((loop.time() + delay, chunk or None))
            arrived.set()
            if not chunk:
                break
    except ConnectionError:
        pass
    done = True
    arrived.set()
    try:
        await task
    except ConnectionError:
        pass


async def main():
    upstream, delay_ms, port_file = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
    delay = delay_ms / 1000.0

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", upstream)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    with open(port_file + ".tmp", "w") as f:
        f.write(str(port))
    os.replace(port_file + ".tmp", port_file)
    async with server:
        await server.serve_forever()


asyncio.run(main())
