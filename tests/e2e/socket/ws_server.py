"""A WebSocket server on loopback for the socket component's tests, its own
process (so a test can kill it). It prints one JSON object per line:
{"ev": "listening", "port": N}, then what each connection did, which the
first segment of the path it asks for chooses:

  echo     sends every message back as it came; on the text "ping me" it
           pings first and reports the pong
  big      sends a generated text message of 1 MiB (the most a client takes),
           then echoes
  closeme  closes with code 4001 "bye now" when the first message arrives
  flood    sends ?count=N generated messages while it echoes
  quiet    accepts and sends nothing; what arrives is only recorded
  fastecho echoes without recording (for the benchmark)

Generated messages are "G<size>:<salt>:" and size letters (see generate()).

  ws_server.py [--tls CERT KEY]
"""

import argparse
import asyncio
import json
import ssl
import sys
import zlib
from urllib.parse import parse_qs, urlsplit

import websockets


def generate(size, salt):
    # Letter i is 'a' + (7i + 13 salt) mod 26: it repeats every 26 letters.
    period = "".join(chr(ord("a") + (i * 7 + salt * 13) % 26) for i in range(26))
    return f"G{size}:{salt}:" + (period * (size // 26 + 1))[:size]


def check_generated(data):
    if isinstance(data, bytes):
        data = data.decode("latin-1")
    if not data.startswith("G"):
        return None
    try:
        size, salt, _ = data[1:].split(":", 2)
        return data == generate(int(size), int(salt))
    except ValueError:
        return False


def emit(**event):
    sys.stdout.write(json.dumps(event) + "\n")
    sys.stdout.flush()


def record(conn, message):
    raw = message.encode("utf-8") if isinstance(message, str) else message
    emit(ev="recv", id=conn, kind="text" if isinstance(message, str) else "binary", len=len(raw),
         crc=zlib.crc32(raw), valid=check_generated(message), head=raw[:60].decode("latin-1"))


async def echo(ws, conn, answer=True):
    async for message in ws:
        record(conn, message)
        if message == "ping me":
            try:
                await asyncio.wait_for(await ws.ping(b"are you there"), 10)
                emit(ev="pong", id=conn, ok=True)
            except asyncio.TimeoutError:
                emit(ev="pong", id=conn, ok=False)
        if answer:
            await ws.send(message)


async def handler(ws, path):
    conn = id(ws)
    target = urlsplit(path)
    mode = target.path.strip("/").split("/")[0]
    emit(ev="open", id=conn, path=path, mode=mode, headers=dict(ws.request_headers.raw_items()))
    sender = None
    try:
        if mode == "fastecho":
            async for message in ws:
                await ws.send(message)
        elif mode == "big":
            await ws.send(generate(1024 * 1024 - len("G1048576:9:"), 9))
        elif mode == "closeme":
            record(conn, await ws.recv())
            await ws.close(4001, "bye now")
        elif mode == "flood":
            count = int(parse_qs(target.query).get("count", ["100"])[0])

            async def flood():
                for i in range(count):
                    await ws.send(generate(500 + (i % 13) * 700, 900000 + i))
                emit(ev="flood_done", id=conn, count=count)

            sender = asyncio.ensure_future(flood())
        await echo(ws, conn, answer=mode != "quiet")
    except websockets.ConnectionClosed:
        pass
    if sender:
        sender.cancel()
    emit(ev="closed", id=conn, code=ws.close_code, reason=ws.close_reason)


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    context = None
    if args.tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(*args.tls)
    async with websockets.serve(handler, "127.0.0.1", 0, ssl=context, max_size=None, max_queue=None,
                                ping_interval=None, close_timeout=5) as server:
        emit(ev="listening", port=server.sockets[0].getsockname()[1])
        await asyncio.Future()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
