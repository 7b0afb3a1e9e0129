#!/usr/bin/env python3
"""What a fleet pays per map: N headless servers side by side on loopback,
each with a stand-in for the Agones SDK sidecar of its own, first idle, then
each with two players pinging and chatting through quorvane-client. For every
N it prints, per map (median, and the highest in brackets):

  ready     seconds from starting the process to its POST /ready
  rss, pss  resident memory in MiB (pss shares the libraries among the maps)
  cpu       per cent of one core the server used over the window
  packets   packets a second the server received from its players (what the
            machine kept up with of the load offered)

Usage: fleet_figures.py [--maps 1,4,16,64] [--seconds 10] [--rate 5]
                        [--program build/platform/quorvane]
                        [--client build/tools/client/quorvane-client]
Everything listens on 127.0.0.1 only and ends by itself.
"""
import argparse
import http.server
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

TICKS = os.sysconf("SC_CLK_TCK")


class Sidecar:
    """Answers every POST with {} and notes when /ready came."""

    def __init__(self):
        sidecar = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers.get("Content-Length", 0)))
                if self.path == "/ready" and sidecar.ready is None:
                    sidecar.ready = time.monotonic()
                self.send_response(200)
                self.send_header("Content-Type", "application/json")
                self.send_header("Content-Length", "2")
                self.end_headers()
                self.wfile.write(b"{}")

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            def handle_error(self, request, client_address):
                pass  # a map that ends drops its connection mid-answer

        self.ready = None
        self.server = Server(("127.0.0.1", 0), Handler)
        self.port = self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class Map:
    def __init__(self, program, data_dir, log_dir, index):
        self.sidecar = Sidecar()
        self.log = os.path.join(log_dir, f"map{index}.err")
        environment = dict(os.environ, AGONES_SDK_HTTP_PORT=str(self.sidecar.port))
        self.started = time.monotonic()
        self.process = subprocess.Popen(
            [program, "--headless", "--listen", "127.0.0.1", "--port", "0",
             "--data-dir", data_dir, "--autoban", "off", "--http", "127.0.0.1:0"],
            env=environment, stdout=subprocess.DEVNULL, stderr=open(self.log, "w"))
        self.port = None
        self.http = None
        self.players = []

    def wait_ready(self, timeout):
        deadline = time.monotonic() + timeout
        while self.sidecar.ready is None or self.port is None:
            if time.monotonic() > deadline or self.process.poll() is not None:
                raise RuntimeError(f"map on {self.log} did not become ready")
            if self.port is None:
                with open(self.log) as log:
                    for line in log:
                        if line.startswith("listening on 127.0.0.1:"):
                            self.port = int(line.rsplit(":", 1)[1])
                        elif line.startswith("metrics on 127.0.0.1:"):
                            self.http = int(line.rsplit(":", 1)[1])
            time.sleep(0.01)
        return self.sidecar.ready - self.started

    def cpu_ticks(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])

    def packets(self):
        """Packets received from the clients so far, from /metrics."""
        with urllib.request.urlopen(f"http://127.0.0.1:{self.http}/metrics", timeout=5) as answer:
            text = answer.read().decode()
        return sum(float(line.rsplit(" ", 1)[1]) for line in text.splitlines()
                   if line.startswith("quorvane_session_received_packets_total{"))

    def memory_mib(self):
        values = {}
        with open(f"/proc/{self.process.pid}/smaps_rollup") as rollup:
            for line in rollup:
                name, _, rest = line.partition(":")
                if name in ("Rss", "Pss"):
                    values[name] = int(rest.split()[0]) / 1024
        return values["Rss"], values["Pss"]

    def join(self, client, names):
        for name in names:
            player = subprocess.Popen(
                [client, "--host", "127.0.0.1", "--port", str(self.port), "--name", name],
                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.players.append(player)

    def stop(self):
        for player in self.players:
            player.kill()
            player.wait()
        self.process.terminate()
        self.process.wait(timeout=10)
        self.sidecar.close()


def cpu_and_packets(maps, seconds):
    """Per map: per cent of a core, and packets received a second, over `seconds`."""
    before = [(m.cpu_ticks(), m.packets()) for m in maps]
    time.sleep(seconds)
    after = [(m.cpu_ticks(), m.packets()) for m in maps]
    return ([100.0 * (a[0] - b[0]) / TICKS / seconds for a, b in zip(after, before)],
            [(a[1] - b[1]) / seconds for a, b in zip(after, before)])


def feed(maps, rate, stop):
    """Each player sends a ping and a chat line `rate` times a second."""
    while not stop.is_set():
        for m in maps:
            for player in m.players:
                try:
                    player.stdin.write(b"ping\nsay 1 hello there\n")
                    player.stdin.flush()
                except (BrokenPipeError, OSError):
                    pass
        stop.wait(1.0 / rate)


def row(label, values, unit):
    return f"{label} {statistics.median(values):.2f} ({max(values):.2f}) {unit}"


def measure(args, count, data_dir, log_dir):
    maps = [Map(args.program, data_dir, log_dir, i) for i in range(count)]
    try:
        ready = [m.wait_ready(60) for m in maps]
        time.sleep(2)
        memory = [m.memory_mib() for m in maps]
        idle_cpu, _ = cpu_and_packets(maps, args.seconds)
        for i, m in enumerate(maps):
            m.join(args.client, [f"A{i}", f"B{i}"])
        stop = threading.Event()
        feeder = threading.Thread(target=feed, args=(maps, args.rate, stop))
        feeder.start()
        time.sleep(2)
        busy_memory = [m.memory_mib() for m in maps]
        busy_cpu, packets = cpu_and_packets(maps, args.seconds)
        stop.set()
        feeder.join()
        load = os.getloadavg()[0]
        print(f"{count:4d} maps: {row('ready', ready, 's')}; idle: "
              f"{row('rss', [r for r, _ in memory], 'MiB')}, "
              f"{row('pss', [p for _, p in memory], 'MiB')}, {row('cpu', idle_cpu, '%')}; "
              f"two players: {row('rss', [r for r, _ in busy_memory], 'MiB')}, "
              f"{row('cpu', busy_cpu, '%')}, {row('packets', packets, '/s')}; "
              f"load average {load:.1f}", flush=True)
    finally:
        for m in maps:
            m.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--maps", default="1,4,16,64")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--rate", type=float, default=5)
    parser.add_argument("--program", default="build/platform/quorvane")
    parser.add_argument("--client", default="build/tools/client/quorvane-client")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as scratch:
        data_dir = os.path.join(scratch, "data")
        os.makedirs(os.path.join(data_dir, "characters"))
        print(f"{os.cpu_count()} CPUs, {os.sysconf('SC_PHYS_PAGES') * os.sysconf('SC_PAGE_SIZE') / 2**30:.1f} GiB; "
              f"each player: a ping and a chat line {args.rate:g} times a second", flush=True)
        for count in [int(n) for n in args.maps.split(",")]:
            measure(args, count, data_dir, scratch)


if __name__ == "__main__":
    sys.exit(main())
