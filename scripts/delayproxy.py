#!/usr/bin/python3
"""A delaying TCP relay: look-ups timed through it feel a network's round trip.

Listens on a loopback address (port 2628 unless told otherwise), relays every connection to a
target on loopback, and holds each piece it relays for a fixed delay in each direction, so that a
request and its reply cost two delays. It charges nothing for the TCP handshake itself (the
client's connect completes at once), which flatters a client that opens many connections.
Prints "ready" once it listens and stops by itself after its lifetime.

    delayproxy.py LISTEN_ADDRESS DELAY_MS [--target 127.0.0.2] [--port 2628] [--lifetime 300] [--log FILE]

With --log it appends to FILE a line "connection" for each connection and the client's requests as they
arrive, so that a test can tell what a client sent and when.
"""
import argparse
import asyncio
import ipaddress
import socket
import sys

PIECE = 65536


def loopback(text):
    if not ipaddress.ip_address(text).is_loopback:
        raise argparse.ArgumentTypeError(f"{text} is not a loopback address")
    return text


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


def quick_ack(writer):
    """Acknowledges at once what comes next: a sender that writes a status line and its body
    separately would otherwise wait for the relay's delayed acknowledgement, a cost the real
    client (which asks for quick acknowledgements) never pays. The kernel drops the flag after
    a while, so it is set again after every read."""
    sock = writer.get_extra_info("socket")
    if sock is not None and hasattr(socket, "TCP_QUICKACK"):
        try:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
        except OSError:
            pass


async def relay(reader, writer, delay, reader_writer, log=None):
    """Copies reader to writer, each piece delay seconds after it arrived; passes the end on.
    reader_writer is the writer of the reader's own socket; log, when given, is handed each piece read."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def take():
        while True:
            quick_ack(reader_writer)
            try:
                data = await reader.read(PIECE)
            except OSError:
                data = b""
            queue.put_nowait((loop.time() + delay, data))
            if log is not None and data:
                log(data)
            if not data:
                return

    async def give():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            try:
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
            except OSError:
                return

    await asyncio.gather(take(), give())


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("listen", type=loopback)
    parser.add_argument("delay_ms", type=float)
    parser.add_argument("--target", type=loopback, default="127.0.0.2")
    parser.add_argument("--port", type=int, default=2628)
    parser.add_argument("--lifetime", type=float, default=300.0)
    parser.add_argument("--log")
    args = parser.parse_args()
    delay = args.delay_ms / 1000.0
    log_file = open(args.log, "ab", buffering=0) if args.log else None
    log = log_file.write if log_file else None

    async def serve(client_reader, client_writer):
        if log is not None:
            log(b"connection\n")
        try:
            server_reader, server_writer = await asyncio.open_connection(args.target, args.port)
        except OSError:
            client_writer.close()
            return
        no_delay(client_writer)
        no_delay(server_writer)
        await asyncio.gather(relay(client_reader, server_writer, delay, client_writer, log),
                             relay(server_reader, client_writer, delay, server_writer))
        for writer in (client_writer, server_writer):
            writer.close()

    server = await asyncio.start_server(serve, args.listen, args.port, reuse_address=True)
    print("ready", flush=True)
    try:
        await asyncio.wait_for(server.serve_forever(), args.lifetime)
    except (asyncio.TimeoutError, asyncio.CancelledError):
        pass


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
