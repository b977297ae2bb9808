"""A DLL that arrives slowly, over more than one tick, to the real service in test mode: only one
cycle runs while it arrives, the service stays running, and a stop request during the download
ends it early and is then handled: the service stops, nothing on the site is stopped or changed,
and no partial file stays behind. A download that stalls for over two minutes fails with its
reason and stops nothing."""

import os
import shutil
import time
import unittest

from korval_e2e import (RUNNING, STOPPED, ServiceTestCase, appcmd_calls, control_service,
                        install_appcmd, read_run_log, service_status, start_service, wait_state,
                        windows_path)
from version_check_support import fixture_dll, make_server
from update_server import stalling_body  # noqa: E402  (found through version_check_support)

TICK_S = 120


def slow_dll(handler):
    """Announces the DLL padded to 600 KiB, then sends 1 KiB a second: the whole would take ten
    minutes, and it never stalls (120 KiB in every two minutes)."""
    with open(fixture_dll("v2_1_0_1"), "rb") as f:
        body = f.read()
    body += b"\0" * (600 * 1024 - len(body))
    handler.send_response(200)
    handler.send_header("Content-Type", "application/octet-stream")
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    step = 1024
    try:
        for offset in range(0, len(body), step):
            handler.wfile.write(body[offset:offset + step])
            handler.wfile.flush()
            time.sleep(1)
    except OSError:
        pass


class SlowDownloadStopTest(ServiceTestCase):
    def setUp(self):
        super().setUp()
        install_appcmd()
        path, _ = self.folder.subfolder("site")
        self.target = os.path.join(path, "KorvalAppServer.dll")
        shutil.copyfile(fixture_dll("v2_1_0_0"), self.target)
        self.run_log = self.folder.file("Protokoll.txt")

    def texts(self):
        return [line.split(": ", 1)[1] for line in read_run_log(self.run_log) or []]

    def wait_for_text(self, text, timeout_s):
        deadline = time.time() + timeout_s
        while time.time() < deadline:
            if text in self.texts():
                return
            time.sleep(1)
        self.fail("no %r within %d s: %r" % (text, timeout_s, self.texts()))

    def test_one_cycle_while_the_dll_arrives_and_a_stop_ends_the_download(self):
        with make_server("http") as server:
            server.route("/KORVALAppDLLVersion.txt", "2.1.0.1")
            server.route("/KorvalAppServer.dll", writer=slow_dll)
            self.folder.write_ini({
                "VERZEICHNISSE": {"DLLPFAD1": windows_path(os.path.dirname(self.target))},
                "ENTWICKLUNG": {"Testmodus": "1"},
                "URLS": {"VersionsNr": server.url("/KORVALAppDLLVersion.txt"),
                         "KorvalAppServerDLL": server.url("/KorvalAppServer.dll")}})
            self.assertEqual(self.folder.run("/INSTALL", "/SILENT").returncode, 0)
            start_service()
            wait_state(RUNNING)
            started = time.time()
            self.wait_for_text("Downloade DLL von der Webseite.", TICK_S + 60)
            # Past the second tick, with the download still running.
            time.sleep(max(0, started + 2 * TICK_S + 20 - time.time()))
            self.assertEqual(self.texts().count("Prüfe auf neue Version."), 1, self.texts())
            self.assertEqual(self.texts()[-1], "Downloade DLL von der Webseite.")
            self.assertEqual(service_status()["state"], RUNNING, "running until the cycle ends")

            asked = time.time()
            self.assertEqual(control_service(1)[0], 0)
            wait_state(STOPPED, 40)
            self.assertLess(time.time() - asked, 40, "the stop did not wait for the download")
        texts = self.texts()
        self.assertEqual(texts[-1], "Fehler beim downloaden der DLL: Der Download wurde "
                                    "abgebrochen, weil der Dienst beendet wird.")
        self.assertEqual(texts.count("Prüfe auf neue Version."), 1)
        self.assertNotIn("Halte IIS an.", texts)
        time.sleep(2)
        self.assertEqual(appcmd_calls(), [])
        with open(self.target, "rb") as f, open(fixture_dll("v2_1_0_0"), "rb") as old:
            self.assertEqual(f.read(), old.read())
        download = self.folder.file("Download")
        self.assertEqual(os.listdir(download) if os.path.isdir(download) else [], [])

    def test_a_download_that_stalls_for_two_minutes_fails_and_stops_nothing(self):
        with make_server("http") as server:
            server.route("/KORVALAppDLLVersion.txt", "2.1.0.1")
            server.route("/KorvalAppServer.dll", writer=stalling_body(fixture_dll("v2_1_0_1"),
                                                                      1024, 200))
            self.folder.write_ini({
                "VERZEICHNISSE": {"DLLPFAD1": windows_path(os.path.dirname(self.target))},
                "URLS": {"VersionsNr": server.url("/KORVALAppDLLVersion.txt"),
                         "KorvalAppServerDLL": server.url("/KorvalAppServer.dll")}})
            started = time.time()
            result = self.folder.run("/UPDATE", timeout=300)
            elapsed = time.time() - started
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.texts()[-1], "Fehler beim downloaden der DLL: Der Download stockt: "
                                           "in 2 Minuten kamen weniger als 64 KiB an.")
        self.assertGreater(elapsed, 120)
        self.assertLess(elapsed, 160, "ended soon after the two minutes")
        self.assertEqual(appcmd_calls(), [])
        with open(self.target, "rb") as f, open(fixture_dll("v2_1_0_0"), "rb") as old:
            self.assertEqual(f.read(), old.read())


if __name__ == "__main__":
    unittest.main(verbosity=2)
