"""Both modes under Wine: the real exe's /UPDATE against the IIS model (iismodel.exe), whose
workers load the first target DLL and keep it across a stop of the site, with 50 requests per
second of load during the update. The update is in effect only when no process maps an old copy."""

import os
import shutil
import subprocess
import time
import unittest

from iis_load import IisModel, LoadGenerator
from korval_e2e import (PREFIX, INETSRV, ProgramFolder, appcmd_calls, install_appcmd,
                        read_run_log, run_wine, windows_path)
from version_check_support import fixture_dll, make_server

OLD, NEW = "2.1.0.0", "2.1.0.1"
POOL = "KorvalPool"


def read(path):
    with open(path, "rb") as f:
        return f.read()


class RecycleExchangeTest(unittest.TestCase):
    def setUp(self):
        install_appcmd()
        self.folder = ProgramFolder("korval recycle ")
        self.addCleanup(self.folder.__exit__, None, None, None)
        self.targets = []
        for n in (1, 2):
            path, _ = self.folder.subfolder("site %d" % n)
            shutil.copyfile(fixture_dll("v2_1_0_0"), os.path.join(path, "KorvalAppServer.dll"))
            self.targets.append(os.path.join(path, "KorvalAppServer.dll"))
        self.old = read(self.targets[0])

    def start_model(self, *options, ask=True):
        self.model = IisModel(self.targets[0], "--pool", POOL, "--apps", "KorvalPool;korvalpool",
                              "--start-ms", "20000", "--shutdown-ms", "10000", *options)
        self.addCleanup(self.model.close)
        if ask:
            self.assertEqual(self.model.get(), (200, OLD))

    def write_ini(self, server, dll_fixture="v2_1_0_1", status_page=False, mode="RECYCLE",
                  site=None):
        server.route("/KORVALAppDLLVersion.txt", NEW)
        server.serve_file("/KorvalAppServer.dll", fixture_dll(dll_fixture))
        ini = {"VERZEICHNISSE": {"DOWNLOADPFAD": self.folder.windows,
                                 "PROTOKOLLPFAD": self.folder.windows, "IISMODUS": mode,
                                 "DLLPFAD1": windows_path(os.path.dirname(self.targets[0])),
                                 "DLLPFAD2": windows_path(os.path.dirname(self.targets[1]))},
               "URLS": {"VersionsNr": server.url("/KORVALAppDLLVersion.txt"),
                        "KorvalAppServerDLL": server.url("/KorvalAppServer.dll")}}
        if site:
            ini["VERZEICHNISSE"]["IISSITENAME"] = site
        if status_page:
            ini["ABSICHERUNG"] = {"STATUSSEITE": "http://127.0.0.1:%d/status" % self.model.port,
                                  "STATUSWARTEZEIT": "6"}
        self.folder.write_ini(ini)

    def update(self, load=True, **run_options):
        """/UPDATE under load; answers (exit status, run-log texts, load generator)."""
        generator = LoadGenerator(self.model.port).start() if load else None
        result = self.folder.run("/UPDATE", timeout=240, **run_options)
        if generator:
            time.sleep(1)
            generator.stop()
        lines = read_run_log(self.folder.file("Protokoll.txt"))
        return result.returncode, [line.split(": ", 1)[1] for line in lines], generator

    def assert_no_failed_requests(self, generator):
        self.assertGreater(len(generator.records), 50)
        self.assertEqual(generator.failures(), dict(refused=0, reset=0, timeout=0, status=0))

    def assert_old_serving(self):
        for target in self.targets:
            self.assertEqual(read(target), self.old)
        self.assertEqual(self.model.get(), (200, OLD))

    def test_update_under_load_refuses_nothing_and_every_answer_turns_new(self):
        self.start_model()
        with make_server("http") as server:
            # Its DllMain fails in a probe that kept a privilege or the Administrators group, ran
            # outside a job or outside the system folder.
            self.write_ini(server, dll_fixture="probe_guarded_v2_1_0_1")
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        self.assertNotIn("Halte IIS an.", lines)
        self.assertEqual(lines[-3:], ["Tausche folgende DLL: " + windows_path(t) for t in self.targets]
                         + ["Starte Anwendungspool neu: " + POOL])
        self.assert_no_failed_requests(generator)
        self.assertIsNotNone(generator.all_new_after(NEW))
        self.assertEqual(self.model.get(), (200, NEW))
        verbs = [c["args"][:2] for c in appcmd_calls()]
        self.assertNotIn(["stop", "site"], verbs)
        self.assertEqual(verbs.count(["recycle", "apppool"]), 1, "pools de-duplicated")

    def test_a_dll_that_does_not_load_touches_nothing(self):
        """Its missing dependency is planted in the current folder of /UPDATE and on PATH, where
        a worker process would not look: the probe must not find it there either."""
        self.start_model()
        planted, planted_windows = self.folder.subfolder("planted")
        shutil.copy(os.path.join(os.path.dirname(os.path.dirname(fixture_dll("v2_1_0_0"))),
                                 "planted_dependency", "KorvalFehlt.dll"), planted)
        with make_server("http") as server:
            self.write_ini(server, dll_fixture="unloadable_v2_1_0_1")
            code, lines, _ = self.update(load=False, cwd=planted,
                                         env={"WINEPATH": planted_windows})
        self.assertEqual(code, 1)
        self.assertEqual(lines[-3], "Fehler beim Laden der neuen DLL.")
        self.assertTrue(lines[-2].startswith("Ursache: Systemfehler.  Code: 126."), lines[-2])
        self.assertTrue(lines[-1].startswith("Derselbe Build der Version %s wird frühestens ab "
                                             % NEW), lines[-1])
        self.assert_old_serving()
        self.assertEqual([c["args"][0] for c in appcmd_calls()], ["list"] * len(appcmd_calls()))
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.targets[0]))),
                         ["KorvalAppServer.dll"])

    def test_a_pool_named_with_umlauts_takes_a_dll_whose_dependency_is_in_iis_folder(self):
        """The pool's name comes back from appcmd's /xml answer as it is and reaches the recycle;
        the DLL's dependency lies only in system32\\inetsrv, where the worker w3wp.exe lives and
        which it searches first: the probe finds it there too."""
        pool, site = "Kundenportal Müller", "Bäckerei O'Neill"
        self.model = IisModel(self.targets[0], "--pool", pool, "--apps", pool, "--site", site)
        self.addCleanup(self.model.close)
        dependency = os.path.join(INETSRV, "KorvalFehlt.dll")
        shutil.copy(os.path.join(os.path.dirname(os.path.dirname(fixture_dll("v2_1_0_0"))),
                                 "planted_dependency", "KorvalFehlt.dll"), dependency)
        self.addCleanup(os.remove, dependency)
        with make_server("http") as server:
            self.write_ini(server, dll_fixture="unloadable_v2_1_0_1", site=site)
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[-1], "Starte Anwendungspool neu: " + pool)
        self.assertEqual(self.model.get(), (200, NEW))
        self.assert_no_failed_requests(generator)
        self.assertIn(["recycle", "apppool", "/apppool.name:" + pool],
                      [c["args"] for c in appcmd_calls()])

    def test_a_status_page_broken_by_the_new_dll_puts_every_copy_back_without_a_failed_request(self):
        self.start_model("--broken", NEW)
        with make_server("http") as server:
            self.write_ini(server, status_page=True)
            code, lines, generator = self.update()
        self.assertEqual(code, 1)
        at = lines.index("Nehme das Update zurück.")
        waits = [line for line in lines if line.startswith("Derselbe Build der Version ")]
        self.assertEqual(len(waits), 1, lines)
        lines.remove(waits[0])
        self.assertEqual(lines[at - 1], "Fehler bei der Prüfung der Statusseite: nach 6 Sekunden "
                                        "nicht erreichbar (Status 500).")
        self.assertEqual(lines[at + 1:], ["Stelle folgende DLL wieder her: " + windows_path(t)
                                          for t in reversed(self.targets)]
                         + ["Starte Anwendungspool neu: " + POOL,
                            "Statusseite nach der Rücknahme: erreichbar (Status 200)."])
        self.assert_old_serving()
        self.assert_no_failed_requests(generator)

    def test_a_crash_between_the_swaps_and_the_recycle_is_finished_at_the_next_start(self):
        self.start_model()
        delay = os.path.join(INETSRV, "appcmd-recycle-delay-ms.txt")
        with open(delay, "w") as f:
            f.write("60000")
        self.addCleanup(lambda: os.path.exists(delay) and os.remove(delay))
        with make_server("http") as server:
            self.write_ini(server)
            update = subprocess.Popen([os.environ.get("KORVAL_WINE_RUN"), self.folder.exe_windows,
                                       "/UPDATE"], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            log = self.folder.file("Protokoll.txt")
            deadline = time.time() + 120
            while time.time() < deadline and "Starte Anwendungspool neu: " + POOL not in (
                    [line.split(": ", 1)[1] for line in read_run_log(log) or []]):
                time.sleep(0.2)
            for name in ("KORVAL_Update_Service.exe", "appcmd.exe"):
                run_wine("taskkill", "/F", "/IM", name)
            update.wait(60)
            os.remove(delay)
            self.assertEqual(read(self.targets[1]), read(fixture_dll("v2_1_0_1")))
            self.assertEqual(self.model.get(), (200, OLD), "not yet recycled")
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[:4], ["Vollende unterbrochenen Austausch.",
                                      "Alle DLLs sind getauscht; der neue Stand bleibt.",
                                      "Starte Anwendungspool neu: " + POOL,
                                      "Unterbrochener Austausch vollendet."])
        self.assert_no_failed_requests(generator)
        self.assertEqual(self.model.get(), (200, NEW))

    def old_copy_line(self):
        return "Alte DLL noch geladen: Prozess %d (iismodel.exe, Anwendungspool %s)." % (
            self.model.first_worker, POOL)

    def test_stopp_recycles_the_worker_that_kept_the_old_dll_across_the_stop(self):
        self.start_model()
        with make_server("http") as server:
            self.write_ini(server, mode="STOPP")
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        at = lines.index("Starte IIS neu.")
        self.assertEqual(lines[at + 1:], [self.old_copy_line(),
                                          "Die alte DLL läuft noch; starte die Anwendungspools "
                                          "der Site neu.",
                                          "Starte Anwendungspool neu: " + POOL,
                                          "Keine alte DLL mehr geladen."])
        self.assertIsNotNone(generator.all_new_after(NEW))
        self.assertEqual(self.model.get(), (200, NEW))

    def test_an_idle_pool_is_in_effect_at_once_and_the_status_page_wakes_it(self):
        self.start_model("--idle-ms", "1000")
        time.sleep(3)  # its worker ends: the pool is started and has none
        with make_server("http") as server:
            self.write_ini(server, status_page=True)
            code, lines, _ = self.update(load=False)
        self.assertEqual(code, 0, lines)
        self.assertFalse([line for line in lines if line.startswith("Alte DLL")], lines)
        self.assertEqual(lines[-2:], ["Starte Anwendungspool neu: " + POOL,
                                      "Statusseite nach dem Neustart: erreichbar (Status 200)."])
        self.assertEqual(self.model.get(), (200, NEW))

    def test_a_lazy_pool_loads_the_new_dll_at_its_first_request(self):
        self.start_model("--lazy")
        with make_server("http") as server:
            self.write_ini(server)
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        self.assertEqual(lines[-1], "Starte Anwendungspool neu: " + POOL)
        self.assert_no_failed_requests(generator)
        self.assertEqual(self.model.get(), (200, NEW))

    def test_a_new_worker_that_never_starts_is_not_installed(self):
        self.start_model("--failing-successors")
        with make_server("http") as server:
            self.write_ini(server)
            code, lines, _ = self.update(load=False)
        self.assertEqual(code, 1)
        at = lines.index("Nehme das Update zurück.")
        self.assertEqual(lines[at - 5:at - 1], [
            "Starte Anwendungspool neu: " + POOL, self.old_copy_line(),
            "Fehler beim Nachweis der geladenen DLL.",
            "Ursache: Nach 30 Sekunden hat noch ein Prozess eine alte DLL geladen."])
        # The same build waits before it is tried again.
        self.assertTrue(lines[at - 1].startswith("Derselbe Build der Version %s wird frühestens ab "
                                                 % NEW), lines[at - 1])
        self.assert_old_serving()

    def test_a_stopped_pool_falls_back_to_stopp_and_the_running_pool_ends_new(self):
        self.start_model("--apps", "Angehalten", "--stopped-pool", "Angehalten")
        with make_server("http") as server:
            self.write_ini(server)
            code, lines, _ = self.update(load=False)
        self.assertEqual(code, 0, lines)
        self.assertTrue(lines[lines.index("Halte IIS an.") - 1].startswith("Wechsle auf Anhalten"))
        self.assertEqual(lines[lines.index("Starte IIS neu.") + 1:], [
            self.old_copy_line(),
            "Die alte DLL läuft noch; starte die Anwendungspools der Site neu.",
            "Starte Anwendungspool neu: " + POOL, "Keine alte DLL mehr geladen."])
        self.assertEqual(self.model.get(), (200, NEW))

    def test_a_pool_shared_by_two_sites_is_recycled_by_the_update_of_either(self):
        self.start_model("--second-site", "Zweite Site")
        with make_server("http") as server:
            self.write_ini(server, site="Zweite Site")
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        self.assertNotIn("Halte IIS an.", lines)
        self.assertFalse([line for line in lines if line.startswith("Alte DLL")], lines)
        self.assertEqual(lines[-1], "Starte Anwendungspool neu: " + POOL)
        self.assert_no_failed_requests(generator)
        self.assertEqual(self.model.get(), (200, NEW), "the first site's worker is the pool's")
        verbs = [c["args"][:2] for c in appcmd_calls()]
        self.assertEqual(verbs.count(["recycle", "apppool"]), 1)

    def test_a_pool_without_overlapping_stops_the_site_and_its_recycle_ends_the_old_worker(self):
        """RECYCLE cannot keep serving through a recycle that ends the old worker first: the
        service stops the site instead (requests are refused while it is stopped, as IIS does),
        and the worker that kept the old DLL across the stop is recycled, which the model does
        without overlap: requests in that gap wait for the new worker, none fails."""
        self.start_model("--no-overlap")
        with make_server("http") as server:
            self.write_ini(server)
            code, lines, generator = self.update()
        self.assertEqual(code, 0, lines)
        at = lines.index("Halte IIS an.")
        self.assertEqual(lines[at - 1], 'Wechsle auf Anhalten und Starten: Der Anwendungspool "%s" '
                         "erlaubt kein überlappendes Recycling (disallowOverlappingRotation)." % POOL)
        self.assertEqual(lines[lines.index("Starte IIS neu.") + 1:], [
            self.old_copy_line(),
            "Die alte DLL läuft noch; starte die Anwendungspools der Site neu.",
            "Starte Anwendungspool neu: " + POOL, "Keine alte DLL mehr geladen."])
        failures = generator.failures()
        self.assertEqual((failures["reset"], failures["timeout"], failures["status"]), (0, 0, 0),
                         "only the stopped site refuses")
        self.assertIsNotNone(generator.all_new_after(NEW))
        self.assertEqual(self.model.get(), (200, NEW))

if __name__ == "__main__":
    unittest.main(verbosity=2)
