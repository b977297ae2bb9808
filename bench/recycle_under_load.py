#!/usr/bin/env python3
"""Failed requests during an update under load, STOPP against RECYCLE, under Wine with the real exe.

The IIS model (tests/tools/iismodel.exe) serves the first target DLL's version on 127.0.0.1; 50
requests per second (open loop, one connection each) run for SECONDS; in the middle the exe's
/UPDATE installs a newer DLL from the project's update server, once with IISMODUS=STOPP (without
IISAPPPOOL: the model's worker keeps the old DLL across the stop, as IIS's does, and the service
recycles its pool after the start) and then RUNS times with IISMODUS=RECYCLE. A run without an
update gives the p99 latency to compare with. Prints per run the failed requests by kind, the
p99, and the time from the update's start until every answer shows the new version; for STOPP
also the time from the site's stop until the last old copy was unmapped: the script's own clock
when the run log shows each line (the log is read every 50 ms while /UPDATE runs), or, when a
line was not seen in time, the run log's seconds ("within 1 s"); a proof that failed is named.

    bench/recycle_under_load.py [BUILD_DIR] [--seconds 60] [--runs 20]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def setup_environment(build):
    os.environ.update(KORVAL_BUILD_DIR=build, KORVAL_SOURCE_DIR=ROOT,
                      KORVAL_WINE_RUN=os.path.join(build, "wine-run.sh"),
                      WINEPREFIX=os.path.join(build, "wineprefix"), WINEDEBUG="-all")
    sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "boot",
                    os.environ["WINEPREFIX"]], check=True, stdout=subprocess.DEVNULL)


def one_run(mode, seconds, e2e):
    """(load generator, seconds from the update's start until every answer is new, or None)."""
    from iis_load import IisModel, LoadGenerator
    e2e["install_appcmd"]()
    with e2e["ProgramFolder"]("korval bench ") as folder:
        targets = []
        for n in (1, 2):
            path, _ = folder.subfolder("site %d" % n)
            shutil.copyfile(e2e["fixture_dll"]("v2_1_0_0"), os.path.join(path, "KorvalAppServer.dll"))
            targets.append(path)
        with IisModel(os.path.join(targets[0], "KorvalAppServer.dll"), "--pool", "KorvalPool",
                      "--shutdown-ms", "30000") as model, e2e["make_server"]("http") as server:
            server.route("/v.txt", "2.1.0.1")
            server.serve_file("/d.dll", e2e["fixture_dll"]("v2_1_0_1"))
            directories = {"DOWNLOADPFAD": folder.windows, "PROTOKOLLPFAD": folder.windows,
                           "DLLPFAD1": e2e["windows_path"](targets[0]),
                           "DLLPFAD2": e2e["windows_path"](targets[1])}
            if mode:
                directories["IISMODUS"] = mode
            folder.write_ini({"VERZEICHNISSE": directories,
                              "URLS": {"VersionsNr": server.url("/v.txt"),
                                       "KorvalAppServerDLL": server.url("/d.dll")}})
            generator = LoadGenerator(model.port).start()
            time.sleep(seconds / 2)
            started = time.monotonic()
            outcome = {}

            def update():
                outcome["code"] = folder.run("/UPDATE", timeout=seconds * 4).returncode
                outcome["seconds"] = time.monotonic() - started
            updater = threading.Thread(target=update, daemon=True)
            watcher = RunLogWatcher(folder.file("Protokoll.txt"), e2e["read_run_log"])
            if mode:
                watcher.start()
                updater.start()
            time.sleep(seconds / 2)
            generator.stop()
            if mode:
                updater.join(seconds * 4)
                watcher.stop()
                print("  /UPDATE (%s) ended with %s after %.1f s" % (
                    mode, outcome.get("code"), outcome.get("seconds", 0)), flush=True)
            since = generator.all_new_after("2.1.0.1")
            if mode == "STOPP":
                report_unmapped(e2e["read_run_log"](folder.file("Protokoll.txt")) or [],
                                watcher.seen)
            return generator, (since - started if since else None)


def seconds_of_day(line):
    """The time of day of a run-log line in seconds ("13:05:03" or "1:05:03 PM"), or None."""
    found = re.search(r"(\d{1,2}):(\d\d):(\d\d)(?:\s*([AP]M))?", line.split(": ", 1)[0])
    if not found:
        return None
    hours = int(found.group(1)) % 12 if found.group(4) else int(found.group(1))
    hours += 12 if found.group(4) == "PM" else 0
    return hours * 3600 + int(found.group(2)) * 60 + int(found.group(3))


STOP_LINE = "Halte IIS an."
UNMAPPED_LINE = "Keine alte DLL mehr geladen."
PROOF_FAILED_LINE = "Fehler beim Nachweis der geladenen DLL."
OLD_COPY_LINE = "Die alte DLL läuft noch; starte die Anwendungspools der Site neu."


class RunLogWatcher:
    """Notes the script's own clock when each watched line first shows in the run log."""

    def __init__(self, path, read_run_log, lines=(STOP_LINE, UNMAPPED_LINE, PROOF_FAILED_LINE)):
        self.path, self.read, self.lines = path, read_run_log, lines
        self.seen = {}
        self._stopped = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)

    def start(self):
        self._thread.start()

    def stop(self):
        self._stopped.set()
        self._thread.join(5)
        self._look()  # a line written at the very end

    def _look(self):
        try:
            logged = self.read(self.path) or []
        except (OSError, UnicodeDecodeError, ValueError):
            return  # written just now: the next look reads it whole
        now = time.monotonic()
        for line in self.lines:
            if line not in self.seen and any(l.endswith(": " + line) for l in logged):
                self.seen[line] = now

    def _watch(self):
        while not self._stopped.wait(0.05):
            self._look()


def report_unmapped(lines, seen):
    """How long after "Halte IIS an." the proof found no old copy any more; or that it failed."""
    def logged(text):
        return any(l.endswith(": " + text) for l in lines)
    if logged(PROOF_FAILED_LINE):
        print("  STOPP: the proof failed: an old copy was still mapped (\"%s\" in the run log)"
              % PROOF_FAILED_LINE, flush=True)
        return
    if not logged(UNMAPPED_LINE):
        print("  STOPP: no old copy was found after the start" if not logged(OLD_COPY_LINE) else
              "  STOPP: the old copy's end was not logged", flush=True)
        return
    if STOP_LINE in seen and UNMAPPED_LINE in seen and seen[UNMAPPED_LINE] > seen[STOP_LINE]:
        print("  STOPP: last old copy unmapped %.2f s after the stop (run log read every 50 ms)"
              % (seen[UNMAPPED_LINE] - seen[STOP_LINE]), flush=True)
        return
    stop = next((seconds_of_day(l) for l in lines if l.endswith(": " + STOP_LINE)), None)
    unmapped = next((seconds_of_day(l) for l in lines if l.endswith(": " + UNMAPPED_LINE)), None)
    if stop is None or unmapped is None:
        print("  STOPP: last old copy unmapped, time not readable from the run log", flush=True)
    else:
        print("  STOPP: last old copy unmapped %d s after the stop (within 1 s, from the run "
              "log's seconds)" % ((unmapped - stop) % 86400), flush=True)


def report(name, generator, until_new, baseline_p99):
    failures = generator.failures()
    extra = "" if baseline_p99 is None else " (+%.0f ms)" % (generator.p99_ms() - baseline_p99)
    new = "-" if until_new is None else "%.1f s" % until_new
    print("%-10s requests %5d  failed %4d (refused %d, reset %d, timeout %d, non-2xx %d)  "
          "p99 %6.1f ms%s  all new after %s" % (
              name, len(generator.records), generator.failed(), failures["refused"],
              failures["reset"], failures["timeout"], failures["status"], generator.p99_ms(),
              extra, new), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", nargs="?", default=os.path.join(ROOT, "build", "mingw"))
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    setup_environment(os.path.abspath(args.build_dir))
    import korval_e2e
    import version_check_support
    e2e = dict(install_appcmd=korval_e2e.install_appcmd, ProgramFolder=korval_e2e.ProgramFolder,
               read_run_log=korval_e2e.read_run_log,
               windows_path=korval_e2e.windows_path, fixture_dll=version_check_support.fixture_dll,
               make_server=version_check_support.make_server)
    print("%d s of load at 50 requests/s, the update after %d s" % (args.seconds, args.seconds // 2))
    baseline, _ = one_run(None, args.seconds, e2e)
    report("no update", baseline, None, None)
    stopp, until = one_run("STOPP", args.seconds, e2e)
    report("STOPP", stopp, until, baseline.p99_ms())
    met = 0
    for run in range(1, args.runs + 1):
        recycle, until = one_run("RECYCLE", args.seconds, e2e)
        report("RECYCLE %d" % run, recycle, until, baseline.p99_ms())
        ok = (recycle.failed() == 0 and until is not None
              and recycle.p99_ms() <= baseline.p99_ms() + 50)
        met += ok
    print("goal (RECYCLE: 0 failed, every answer new, p99 at most 50 ms above): %d of %d runs %s"
          % (met, args.runs, "met" if met == args.runs else "NOT met"))
    return 0 if met == args.runs else 1


if __name__ == "__main__":
    sys.exit(main())
