"""Load on the IIS model (tests/tools/iismodel.exe) during an update, and the model itself.

LoadGenerator sends requests at a fixed rate (open loop: each request starts at its time whatever
the others do, one connection each) and keeps for every request its start, its latency, its
outcome ("ok", "refused", "reset", "timeout", "status") and the version its answer shows.
"""

import os
import socket
import subprocess
import threading
import time

from korval_e2e import TOOLS_DIR, WINE_RUN, windows_path

OUTCOMES = ("refused", "reset", "timeout", "status")


def one_request(port, path, timeout_s):
    """(outcome, status, body) of one GET on 127.0.0.1:port over a connection of its own."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=timeout_s) as s:
            s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
                       % path).encode())
            data = b""
            while True:
                chunk = s.recv(4096)
                if not chunk:
                    break
                data += chunk
    except ConnectionRefusedError:
        return "refused", 0, ""
    except (ConnectionResetError, BrokenPipeError, ConnectionAbortedError):
        return "reset", 0, ""
    except socket.timeout:
        return "timeout", 0, ""
    head, _, body = data.partition(b"\r\n\r\n")
    parts = head.split(b" ", 2)
    if len(parts) < 2 or not parts[1].isdigit():
        return "reset", 0, ""
    status = int(parts[1])
    return ("ok" if 200 <= status <= 299 else "status"), status, body.decode("ascii", "replace")


class LoadGenerator:
    def __init__(self, port, rate=50, path="/", timeout_s=5.0):
        self.port, self.rate, self.path, self.timeout_s = port, rate, path, timeout_s
        self.records = []  # (start, latency_s, outcome, version)
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._threads = []

    def _one(self):
        start = time.monotonic()
        outcome, _, body = one_request(self.port, self.path, self.timeout_s)
        with self._lock:
            self.records.append((start, time.monotonic() - start, outcome, body))

    def _schedule(self):
        t0 = time.monotonic()
        n = 0
        while not self._stop.is_set():
            delay = t0 + n / self.rate - time.monotonic()
            if delay > 0:
                self._stop.wait(delay)
                continue
            thread = threading.Thread(target=self._one, daemon=True)
            thread.start()
            self._threads.append(thread)
            n += 1

    def start(self):
        self._scheduler = threading.Thread(target=self._schedule, daemon=True)
        self._scheduler.start()
        return self

    def stop(self):
        """Stops sending and waits for the answers still open; returns self."""
        self._stop.set()
        self._scheduler.join()
        for thread in self._threads:
            thread.join(self.timeout_s + 5)
        self.records.sort()
        return self

    def failures(self):
        """{"refused": n, "reset": n, "timeout": n, "status": n}"""
        return {kind: sum(1 for r in self.records if r[2] == kind) for kind in OUTCOMES}

    def failed(self):
        return sum(self.failures().values())

    def p99_ms(self):
        latencies = sorted(r[1] for r in self.records)
        if not latencies:
            return 0.0
        return 1000 * latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]

    def versions(self):
        return [r[3] for r in self.records if r[2] == "ok"]

    def all_new_after(self, new_version):
        """The start of the first request from which on every answer shows new_version (monotonic
        time), or None when the last answer is not new."""
        since = None
        for start, _, outcome, version in self.records:
            if outcome == "ok" and version == new_version:
                since = start if since is None else since
            else:
                since = None
        return since


class IisModel:
    """iismodel.exe serving one DLL on a free port of 127.0.0.1; the appcmd stand-in forwards to
    it while it runs. Use with `with`."""

    def __init__(self, dll_path, *options):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.process = subprocess.Popen(
            [WINE_RUN, os.path.join(TOOLS_DIR, "iismodel.exe"), "serve", str(self.port),
             windows_path(dll_path), *options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode().strip()
        if not line.startswith("READY"):
            self.close()
            raise RuntimeError("iismodel did not start: %r" % line)
        self.first_worker = int(line.split()[1])  # its process id

    def get(self, path="/"):
        """(status, body) of one request; status 0 when it failed."""
        _, status, body = one_request(self.port, path, 5.0)
        return status, body

    def close(self):
        # Ends the model and its workers (processes of this prefix only).
        subprocess.run([WINE_RUN, "taskkill", "/F", "/IM", "iismodel.exe"],
                       capture_output=True, timeout=60, stdin=subprocess.DEVNULL)
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(10)
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
