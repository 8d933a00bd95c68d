#!/usr/bin/env python3
"""Slow clients against a running imp40500-server, and how long real requests take meanwhile.

  slowclients.py --port P [--token T] [--pid PID] [--slow-headers 600] [--slow-bodies 300]
                 [--seconds 30] [--rate 5] [--big-bodies 0 --big-mb 400]

- a slow-header client connects and sends one byte of a request's head every 0.9 s, without a
  token; when the server closes it, it connects again;
- a slow-body client sends whole headers with the token and a declared body of 500 MiB, then 100
  bytes of it every 0.9 s; it connects again 0.9 s after the server closed it or refused it;
- a real request is GetParamGeral on a connection of its own, started `rate` times a second while
  the slow clients run (after a warm-up of 5 s), each given 60 s;
- with --big-bodies N, N requests of --big-mb MiB each are sent at once, before anything else, and
  the server's peak and settled memory (--pid) are printed.

Prints the real requests' count, how many were answered, their median, 99th percentile and
maximum, the slow clients' connections, and the server's memory when --pid is given.
"""
import argparse
import asyncio
import os
import statistics
import time

PATH = "/IMP40500.rdmImpoPrato/GetParamGeral"


def rss_kib(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class Counters:
    def __init__(self):
        self.connections = 0
        self.refused = 0


async def slow_header(args, stop, c):
    head = f"POST {PATH} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/cbor\r\n"
    head += "".join(f"X-Lento-{i}: {'a' * 20}\r\n" for i in range(200)) + "\r\n"
    data = head.encode()
    while not stop.is_set():
        try:
            r, w = await asyncio.open_connection("127.0.0.1", args.port)
        except OSError:
            await asyncio.sleep(0.9)
            continue
        c.connections += 1
        try:
            for i in range(len(data)):
                if stop.is_set():
                    break
                w.write(data[i:i + 1])
                await w.drain()
                try:
                    if await asyncio.wait_for(r.read(4096), 0.9) == b"":
                        break
                except asyncio.TimeoutError:
                    pass
        except (OSError, ConnectionError):
            pass
        w.close()


async def slow_body(args, stop, c):
    head = (f"POST {PATH} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/cbor\r\n"
            f"X-IMP-Token: {args.token}\r\nContent-Length: {500 * 1024 * 1024}\r\n\r\n").encode()
    while not stop.is_set():
        try:
            r, w = await asyncio.open_connection("127.0.0.1", args.port)
        except OSError:
            await asyncio.sleep(0.9)
            continue
        c.connections += 1
        try:
            w.write(head)
            await w.drain()
            while not stop.is_set():
                w.write(b"\x5a" * 100)
                await w.drain()
                try:
                    got = await asyncio.wait_for(r.read(4096), 0.9)
                    if got.startswith(b"HTTP/1.1 503"):
                        c.refused += 1
                    if got == b"" or got.startswith(b"HTTP/"):
                        break
                except asyncio.TimeoutError:
                    pass
        except (OSError, ConnectionError):
            pass
        w.close()
        await asyncio.sleep(0.9)


async def call(args, body=b"\x80", path=PATH, timeout=60.0):
    """One request on a connection of its own: (seconds, status) or (None, reason)."""
    start = time.monotonic()
    head = (f"POST {path} HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/cbor\r\n"
            f"Connection: close\r\nContent-Length: {len(body)}\r\n")
    if args.token:
        head += f"X-IMP-Token: {args.token}\r\n"
    try:
        async def exchange():
            r, w = await asyncio.open_connection("127.0.0.1", args.port)
            w.write(head.encode() + b"\r\n")
            try:
                for at in range(0, len(body), 1 << 20):
                    w.write(body[at:at + (1 << 20)])
                    await w.drain()
            except (OSError, ConnectionError):
                pass  # refused on its head: the answer may be there to read
            reply = await r.read()
            w.close()
            return reply
        reply = await asyncio.wait_for(exchange(), timeout)
    except (asyncio.TimeoutError, OSError, ConnectionError) as e:
        return None, type(e).__name__
    if not reply.startswith(b"HTTP/1.1 "):
        return None, "no answer"
    return time.monotonic() - start, int(reply[9:12])


async def real_requests(args, results):
    tasks = []
    end = time.monotonic() + args.seconds
    while time.monotonic() < end:
        tasks.append(asyncio.create_task(call(args)))
        await asyncio.sleep(1.0 / args.rate)
    for t in tasks:
        results.append(await t)


def percentile(values, p):
    values = sorted(values)
    if not values:
        return float("nan")
    k = min(len(values) - 1, max(0, int(round(p / 100.0 * len(values) + 0.5)) - 1))
    return values[k]


async def big_bodies(args):
    body_len = args.big_mb * 1024 * 1024
    # One CBOR array holding one byte string of the whole size: SetDiretorios reads it and refuses it.
    body = b"\x81\x5a" + (body_len - 6).to_bytes(4, "big") + b"\0" * (body_len - 6)
    peak = 0
    done = False

    async def watch():
        nonlocal peak
        while not done:
            peak = max(peak, rss_kib(args.pid, "VmRSS"))
            await asyncio.sleep(0.05)
    watcher = asyncio.create_task(watch())
    start = time.monotonic()
    replies = await asyncio.gather(*[call(args, body, "/IMP40500.rdmImpoPrato/SetDiretorios", 600)
                                     for _ in range(args.big_bodies)])
    done = True
    await watcher
    took = time.monotonic() - start
    await asyncio.sleep(5)
    print(f"big bodies: {args.big_bodies} x {args.big_mb} MiB in {took:.1f} s, statuses "
          f"{sorted(str(r[1]) for r in replies)}; server peak {peak / 1024:.0f} MiB, "
          f"5 s later {rss_kib(args.pid, 'VmRSS') / 1024:.0f} MiB")


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--token", default="")
    ap.add_argument("--pid", type=int, default=0)
    ap.add_argument("--slow-headers", type=int, default=600)
    ap.add_argument("--slow-bodies", type=int, default=300)
    ap.add_argument("--seconds", type=float, default=30)
    ap.add_argument("--rate", type=float, default=5)
    ap.add_argument("--big-bodies", type=int, default=0)
    ap.add_argument("--big-mb", type=int, default=400)
    args = ap.parse_args()

    if args.big_bodies:
        await big_bodies(args)
    stop = asyncio.Event()
    c = Counters()
    slow = [asyncio.create_task(slow_header(args, stop, c)) for _ in range(args.slow_headers)]
    slow += [asyncio.create_task(slow_body(args, stop, c)) for _ in range(args.slow_bodies)]
    await asyncio.sleep(5)
    results = []
    await real_requests(args, results)
    stop.set()
    await asyncio.gather(*slow, return_exceptions=True)

    answered = [t for t, s in results if t is not None and s == 200]
    others = [s for t, s in results if t is None or s != 200]
    print(f"real requests: {len(results)} sent, {len(answered)} answered 200 "
          f"({len(others)} not: {sorted(set(map(str, others)))})")
    if answered:
        print(f"latency: median {statistics.median(answered):.3f} s, p99 {percentile(answered, 99):.3f} s, "
              f"max {max(answered):.3f} s")
    print(f"slow clients: {args.slow_headers} header, {args.slow_bodies} body; {c.connections} connections, "
          f"{c.refused} bodies refused with 503")
    if args.pid:
        print(f"server memory: peak {rss_kib(args.pid, 'VmHWM') / 1024:.0f} MiB, "
              f"now {rss_kib(args.pid, 'VmRSS') / 1024:.0f} MiB")


if __name__ == "__main__":
    asyncio.run(main())
