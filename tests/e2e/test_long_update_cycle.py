"""A whole update by the real service under Wine's Service Control Manager, in test mode: the
first tick two minutes after the start checks, downloads from the project's update server on
127.0.0.1, stops the site through the appcmd stand-in, swaps every target DLL and starts the site;
the next tick finds the version current and launches nothing; after a power cut while the stop
command runs, the service's next start finishes the exchange and starts the site. In normal mode
with the window at the present hour and WIEDERHOLUNGEN set, a 503 with a Retry-After is followed
by a retry that asks no earlier than the server asked, and installs the update."""

import datetime
import os
import re
import shutil
import subprocess
import time
import unittest

from korval_e2e import (PREFIX, RUNNING, SOURCE_DIR, ServiceTestCase, appcmd_calls,
                        install_appcmd, read_run_log, start_service, wait_for_appcmd_calls,
                        wait_state, windows_path)
from version_check_support import fixture_dll, make_server

STAMP = re.compile(r"^(\d{1,2})/(\d{1,2})/(\d{4}) (\d{1,2}):(\d{2}):(\d{2}) ([AP]M): (.*)$")
CHECK = ["Prüfe auf neue Version.", "Lese DLL-Version aus.", "Lese DLL-Version aus."]


def parse(line):
    """(time stamp, text) of a run-log line in the prefix's regional format."""
    match = STAMP.match(line)
    assert match, line
    month, day, year, hour, minute, second = (int(g) for g in match.groups()[:6])
    hour = hour % 12 + (12 if match.group(7) == "PM" else 0)
    return datetime.datetime(year, month, day, hour, minute, second), match.group(8)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class UpdateCycleServiceTest(ServiceTestCase):
    def setUp(self):
        super().setUp()
        install_appcmd()
        self.targets = []
        for n in (1, 2):
            path, _ = self.folder.subfolder("site %d" % n)
            shutil.copyfile(fixture_dll("v2_1_0_0"), os.path.join(path, "KorvalAppServer.dll"))
            self.targets.append(os.path.join(path, "KorvalAppServer.dll"))
        self.run_log = self.folder.file("Protokoll.txt")

    def start(self, server, site_name=None, zeitplan=None):
        keys = {"DLLPFAD%d" % n: windows_path(os.path.dirname(t))
                for n, t in enumerate(self.targets, 1)}
        if site_name is not None:
            keys["IISSITENAME"] = site_name
        sections = {"VERZEICHNISSE": keys, "ENTWICKLUNG": {"Testmodus": "0" if zeitplan else "1"},
                    "URLS": {"VersionsNr": server.url("/KORVALAppDLLVersion.txt"),
                             "KorvalAppServerDLL": server.url("/KorvalAppServer.dll")}}
        if zeitplan:
            sections["ZEITPLAN"] = zeitplan
        self.folder.write_ini(sections)
        result = self.folder.run("/INSTALL", "/SILENT")
        self.assertEqual(result.returncode, 0, result.stderr)
        start_service()
        self.assertEqual(wait_state(RUNNING)["state"], RUNNING)

    def wait_for_line(self, text, timeout_s):
        """The run log's (time stamp, text) pairs once the given text is in it."""
        deadline = time.time() + timeout_s
        while time.time() < deadline:
            lines = [parse(line) for line in read_run_log(self.run_log) or []]
            if any(t == text for _, t in lines):
                return lines
            time.sleep(2)
        self.fail("no %r within %d s: %r" % (text, timeout_s, read_run_log(self.run_log)))

    def test_first_tick_updates_every_target_and_the_next_finds_it_current(self):
        with make_server("http") as server:
            server.route("/KORVALAppDLLVersion.txt", "2.1.0.1")
            server.serve_file("/KorvalAppServer.dll", fixture_dll("v2_1_0_1"))
            self.start(server)
            lines = self.wait_for_line("Starte IIS neu.", 200)
            started, first = lines[0]
            self.assertEqual(first, "Service gestartet (Testmodus).")
            self.assertGreaterEqual((lines[1][0] - started).total_seconds(), 118,
                                    "the first tick comes two minutes after the start")
            self.assertEqual([t for _, t in lines], [
                "Service gestartet (Testmodus).", *CHECK, "Neue Version gefunden.",
                "Erstelle Verzeichnis \"Download\".", "Downloade DLL von der Webseite.",
                "Halte IIS an.",
                "Tausche folgende DLL: " + windows_path(self.targets[0]),
                "Tausche folgende DLL: " + windows_path(self.targets[1]),
                "Starte IIS neu."])
            calls = wait_for_appcmd_calls(2)
            self.assertEqual([c["args"] for c in calls],
                             [["stop", "site", "Default Web Site"],
                              ["start", "site", "Default Web Site"]])
            self.assertTrue(calls[1]["raw"].endswith('start site "Default Web Site"'))
            new = read(fixture_dll("v2_1_0_1"))
            for target in self.targets:
                self.assertEqual(read(target), new)
            self.assertEqual(read(self.folder.file("Download", "KorvalAppServer.dll")), new)

            lines = self.wait_for_line("Version aktuell.", 160)
            self.assertEqual([t for _, t in lines[11:]], [*CHECK, "Version aktuell."])
            self.assertEqual(len(appcmd_calls()), 2, "nothing launched when the version is current")

    def test_site_name_with_a_double_quote_is_refused_by_the_service(self):
        with make_server("http") as server:
            server.route("/KORVALAppDLLVersion.txt", "2.1.0.1")
            server.serve_file("/KorvalAppServer.dll", fixture_dll("v2_1_0_1"))
            self.start(server, site_name='Default Web Site" & echo x > C:\\owned.txt & "')
            lines = self.wait_for_line("Ursache: Unzulässiger Name der IIS-Site.", 200)
        self.assertEqual([t for _, t in lines][-3:], ["Downloade DLL von der Webseite.",
                                                      "Fehler beim neustarten des IIS.",
                                                      "Ursache: Unzulässiger Name der IIS-Site."])
        time.sleep(2)
        self.assertEqual(appcmd_calls(), [])
        old = read(fixture_dll("v2_1_0_0"))
        for target in self.targets:
            self.assertEqual(read(target), old)


    def test_a_power_cut_while_the_stop_runs_is_finished_when_the_service_starts_again(self):
        install_appcmd(stop_delay_ms=15000)
        with make_server("http") as server:
            server.route("/KORVALAppDLLVersion.txt", "2.1.0.1")
            server.serve_file("/KorvalAppServer.dll", fixture_dll("v2_1_0_1"))
            self.start(server)
            self.wait_for_line("Halte IIS an.", 200)
            journal = self.folder.file("Download", "Austausch.journal")
            self.assertTrue(os.path.exists(journal), "the plan is on the disk before the stop")
            # Every Wine process ends, the stop command and the service with it; then the
            # "machine" boots and services.exe starts the automatic service again.
            subprocess.run([os.path.join(SOURCE_DIR, "scripts", "wine-prefix.sh"), "boot", PREFIX],
                           check=True, stdout=subprocess.DEVNULL, timeout=120)
            lines = [t for _, t in self.wait_for_line("Unterbrochener Austausch vollendet.", 90)]
        restart = lines.index("Vollende unterbrochenen Austausch.")
        self.assertEqual(lines[restart - 1], "Service gestartet (Testmodus).")
        self.assertEqual(lines[restart:], [
            "Vollende unterbrochenen Austausch.", "Stelle den alten Stand aller DLLs wieder her.",
            "Starte IIS neu.", "Unterbrochener Austausch vollendet."])
        self.assertEqual([c["args"][0] for c in wait_for_appcmd_calls(1)], ["start"],
                         "the cut stop never recorded its end")
        old = read(fixture_dll("v2_1_0_0"))
        for target in self.targets:
            self.assertEqual(read(target), old, "a consistent set")
            self.assertEqual(sorted(os.listdir(os.path.dirname(target))), ["KorvalAppServer.dll"])
        self.assertFalse(os.path.exists(journal))

    def test_a_503_with_retry_after_is_retried_no_earlier_within_the_window_and_installs(self):
        now = datetime.datetime.now()
        if now.minute == 59 and now.second > 20:  # the first tick must fall in the window's hour
            time.sleep(60 - now.second + 1)
            now = datetime.datetime.now()
        answers = []

        def version(handler):
            """503 with a Retry-After of 60 s first, the version afterwards."""
            busy = not answers
            answers.append(time.time())
            body = b"busy" if busy else b"2.1.0.1"
            handler.send_response(503 if busy else 200)
            if busy:
                handler.send_header("Retry-After", "60")
            handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            handler.wfile.write(body)

        with make_server("http") as server:
            server.route("/KORVALAppDLLVersion.txt", writer=version)
            server.serve_file("/KorvalAppServer.dll", fixture_dll("v2_1_0_1"))
            self.start(server, zeitplan={"ZEITFENSTER": str(now.hour), "WIEDERHOLUNGEN": "2"})
            lines = [t for _, t in self.wait_for_line("Starte IIS neu.", 480)]
            asked = [r.time for r in server.requests if r.path == "/KORVALAppDLLVersion.txt"]
        self.assertEqual(lines[0], "Service gestartet.")
        self.assertEqual(len(asked), 2, lines)
        self.assertGreaterEqual(asked[1] - asked[0], 59, "asked before its Retry-After had passed")
        retry = lines.index("Prüfe auf neue Version.", 2)
        self.assertTrue(lines[retry - 1].startswith("Neuer Versuch um "), lines)
        self.assertEqual(lines[-1], "Starte IIS neu.")
        new = read(fixture_dll("v2_1_0_1"))
        for target in self.targets:
            self.assertEqual(read(target), new)


if __name__ == "__main__":
    unittest.main(verbosity=2)
