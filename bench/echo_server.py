"""An echo WebSocket server on loopback for scripts/bench, its own process:
prints {"ev": "listening", "port": N}, then sends every message back."""

import asyncio
import json

import websockets


async def echo(ws, path):
    async for message in ws:
        await ws.send(message)


async def main():
    async with websockets.serve(echo, "127.0.0.1", 0, max_size=None, ping_interval=None) as server:
        print(json.dumps({"ev": "listening", "port": server.sockets[0].getsockname()[1]}), flush=True)
        await asyncio.Future()


if __name__ == "__main__":
    asyncio.run(main())
