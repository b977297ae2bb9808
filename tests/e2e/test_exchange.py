"""The download, the site restart and the exchange under Wine with the real Win32 seams: the
engine runs whole update cycles (versioncheck.exe --cycle) against the project's update server on
127.0.0.1, with target DLLs the test build made and the appcmd stand-in in system32\\inetsrv."""

import os
import struct
import shutil
import subprocess
import tempfile
import unittest
import zlib

from korval_e2e import (PREFIX, TOOLS_DIR, WINE_RUN, appcmd_calls, install_appcmd,
                        read_run_log, run_tool_process, wait_for_appcmd_calls, windows_path)
from version_check_support import fixture_dll, make_server

VERSION_PATH = "/KORVALAppDLLVersion.txt"
DLL_PATH = "/KorvalAppServer.dll"
CHECK_LINES = ["Prüfe auf neue Version.", "Lese DLL-Version aus.", "Lese DLL-Version aus.",
               "Neue Version gefunden."]


def read(path):
    with open(path, "rb") as f:
        return f.read()


class ExchangeTest(unittest.TestCase):
    def setUp(self):
        install_appcmd()
        self.work = tempfile.mkdtemp(prefix="korval exchange ", dir=os.path.join(PREFIX, "drive_c"))
        self.targets = []
        for n in (1, 2):
            folder = os.path.join(self.work, "site %d" % n)
            os.makedirs(folder)
            shutil.copyfile(fixture_dll("v2_1_0_0"), os.path.join(folder, "KorvalAppServer.dll"))
            self.targets.append(os.path.join(folder, "KorvalAppServer.dll"))
        self.download_root = os.path.join(self.work, "daten", "neu")  # missing, with a parent
        self.downloaded = os.path.join(self.download_root, "Download", "KorvalAppServer.dll")
        self.old = read(fixture_dll("v2_1_0_0"))
        self.new = read(fixture_dll("v2_1_0_1"))

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_cycle(self, server, site_name=None, status_page=None, targets=None,
                  check_lines=CHECK_LINES, before=0, due=True):
        """One update cycle; answers the run log's entry texts after the check's lines (and
        after `before` lines of an unfinished exchange that come first). due: whether the
        cycle's check finds the update due (false also when an unfinished exchange holds it)."""
        lines = ["[VERZEICHNISSE]", "DOWNLOADPFAD=" + windows_path(self.download_root),
                 "PROTOKOLLPFAD=" + windows_path(self.work)]
        if site_name is not None:
            lines.append("IISSITENAME=" + site_name)
        lines += ["DLLPFAD%d=%s" % (n, windows_path(os.path.dirname(t)))
                  for n, t in enumerate(targets or self.targets, 1)]
        lines += ["[URLS]", "VersionsNr=" + server.url(VERSION_PATH),
                  "KorvalAppServerDLL=" + server.url(DLL_PATH)]
        if status_page:
            lines += ["[ABSICHERUNG]", "STATUSSEITE=" + server.url(status_page),
                      "STATUSWARTEZEIT=6"]
        lines.append("")
        with open(os.path.join(self.work, "KORVAL_Update_Service.ini"), "w", encoding="cp1252",
                  newline="\r\n") as f:
            f.write("\n".join(lines))
        result = run_tool_process("versioncheck", windows_path(self.work), "--cycle", timeout=180)
        self.assertIn("Result: %s" % ("true" if due else "false"), result.stdout.decode("utf-8"),
                      "exit status %d, stderr %r" % (result.returncode, result.stderr[-2000:]))
        texts = [line.split(": ", 1)[1] for line in read_run_log(os.path.join(self.work, "Protokoll.txt"))]
        self.before = texts[:before]
        self.assertEqual(texts[before:before + len(check_lines)], check_lines, texts)
        return texts[before + len(check_lines):]

    def swap_lines(self, *targets):
        return ["Tausche folgende DLL: " + windows_path(t) for t in targets]

    def assert_untouched(self):
        self.assertEqual(appcmd_calls(), [])
        for target in self.targets:
            self.assertEqual(read(target), self.old)
        self.assert_no_leftovers()

    def assert_no_leftovers(self, backups=0):
        """No staged copy beside a target, no journal and no temporary download remain; backups:
        how many targets keep the backup of this exchange."""
        kept = 0
        for folder in [os.path.dirname(t) for t in self.targets] + [os.path.dirname(self.downloaded)]:
            if os.path.isdir(folder):
                names = sorted(os.listdir(folder))
                kept += len([n for n in names if n.endswith(".sicherung")])
                self.assertEqual([n for n in names if not n.endswith(".sicherung")
                                  and n != "Aufzeichnungen.txt"],
                                 ["KorvalAppServer.dll"]
                                 if os.path.exists(os.path.join(folder, "KorvalAppServer.dll")) else [])
        self.assertEqual(kept, backups)

    def serve(self, server, dll_fixture="v2_1_0_1", version="2.1.0.1"):
        server.route(VERSION_PATH, version)
        if dll_fixture:
            server.serve_file(DLL_PATH, fixture_dll(dll_fixture))

    def test_update_creates_the_folder_stops_swaps_every_target_and_starts(self):
        with make_server("http") as server:
            self.serve(server)
            lines = self.run_cycle(server)
        self.assertEqual(lines, ["Erstelle Verzeichnis \"Download\".",
                                 "Downloade DLL von der Webseite.", "Halte IIS an."]
                         + self.swap_lines(*self.targets) + ["Starte IIS neu."])
        calls = wait_for_appcmd_calls(2)
        self.assertEqual([c["args"] for c in calls],
                         [["stop", "site", "Default Web Site"], ["start", "site", "Default Web Site"]])
        self.assertTrue(calls[0]["raw"].endswith('stop site "Default Web Site"'), calls[0]["raw"])
        self.assertLessEqual(calls[0]["end_ms"], calls[1]["start_ms"])
        for target in self.targets:
            self.assertEqual(read(target), self.new)
        self.assertEqual(read(self.downloaded), self.new, "the download stays in its folder")
        self.assert_no_leftovers(backups=2)
        for target in self.targets:
            backup = [n for n in os.listdir(os.path.dirname(target)) if n.endswith(".sicherung")]
            self.assertEqual(read(os.path.join(os.path.dirname(target), backup[0])), self.old)

    def test_a_backup_of_the_largest_sequence_does_not_cost_the_real_backup(self):
        # Every process runs as one user here, so the planted file counts as the service's own:
        # what shows is the sequence limit. Without it the next generation would wrap to
        # 00000000 and sort as the oldest backup.
        folder = os.path.dirname(self.targets[0])
        planted = os.path.join(folder, "KorvalAppServer.dll.99999999_20250101000000000-0.sicherung")
        with open(planted, "wb") as f:
            f.write(b"planted")
        with make_server("http") as server:
            self.serve(server)
            self.run_cycle(server)
        self.assertEqual(read(self.targets[0]), self.new)
        real = sorted(n for n in os.listdir(folder)
                      if n.endswith(".sicherung") and n != os.path.basename(planted))
        self.assertEqual(len(real), 1, real)
        self.assertRegex(real[0], r"^KorvalAppServer\.dll\.99999999_\d{17}-0\.sicherung$")
        self.assertGreater(real[0], os.path.basename(planted), "the real backup sorts newest")
        self.assertEqual(read(os.path.join(folder, real[0])), self.old)
        self.assertEqual(read(planted), b"planted")

    def test_error_page_instead_of_the_dll_stops_nothing(self):
        with make_server("http") as server:
            self.serve(server, dll_fixture=None)  # the DLL's address answers 404 with HTML
            lines = self.run_cycle(server)
            url = server.url(DLL_PATH)
            self.assertEqual(lines[-2:], ["Downloade DLL von der Webseite.",
                                          "Fehler beim downloaden der DLL: Der Server antwortete "
                                          "mit dem Status 404 (%s)." % url])
            self.assert_untouched()
            self.assertFalse(os.path.exists(self.downloaded))
            # A page served as a success is received, and refused by what it is.
            server.route(DLL_PATH, "<html><body>Wartung</body></html>", content_type="text/html")
            lines = self.run_cycle(server)
        self.assertEqual(lines[-1], "Fehler beim downloaden der DLL: Die empfangene Datei ist "
                                    "keine DLL (%s)." % url)
        self.assert_untouched()
        self.assertFalse(os.path.exists(self.downloaded))

    def test_dll_of_another_version_stops_nothing(self):
        with make_server("http") as server:
            self.serve(server, dll_fixture="v2_1_0_15")
            lines = self.run_cycle(server)
        self.assertEqual(lines[-1], "Fehler beim downloaden der DLL: Die empfangene DLL hat die "
                                    "Version 2.1.0.15, erwartet wurde \"2.1.0.1\".")
        self.assert_untouched()

    def test_site_name_with_a_double_quote_launches_nothing(self):
        with make_server("http") as server:
            self.serve(server)
            lines = self.run_cycle(server, site_name='Shop" & echo x > C:\\owned.txt & "')
        self.assertEqual(lines[-2:], ["Fehler beim neustarten des IIS.",
                                      "Ursache: Unzulässiger Name der IIS-Site."])
        self.assert_untouched()
        self.assertFalse(os.path.exists(os.path.join(PREFIX, "drive_c", "owned.txt")))

    def hold(self, path, milliseconds, *mode):
        """Starts holdfile.exe on path (mode "--load": loads it as a DLL) and returns once it holds
        the file."""
        holder = subprocess.Popen([WINE_RUN, os.path.join(TOOLS_DIR, "holdfile.exe"),
                                   windows_path(path), str(milliseconds), *mode],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL)
        self.assertEqual(holder.stdout.readline().strip(), b"HELD")
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait, 120)
        return holder

    def test_target_held_open_briefly_is_swapped_once_released(self):
        with make_server("http") as server:
            self.serve(server)
            self.hold(self.targets[0], 6000)
            lines = self.run_cycle(server)
        self.assertEqual(lines[-4:], ["Halte IIS an."] + self.swap_lines(*self.targets)
                         + ["Starte IIS neu."])
        self.assertEqual(read(self.targets[0]), self.new)

    def test_a_later_target_held_open_for_good_puts_every_target_back_and_starts_the_site(self):
        with make_server("http") as server:
            self.serve(server)
            self.hold(self.targets[1], 50000)
            lines = self.run_cycle(server)
        second = windows_path(self.targets[1])
        self.assertEqual(lines[2:5], ["Halte IIS an."] + self.swap_lines(self.targets[0])
                         + ["Fehler beim Austausch folgender DLL: " + second])
        self.assertTrue(lines[5].startswith("Ursache: Systemfehler.  Code: 32."), lines[5])
        self.assertEqual(lines[6:], ["Stelle folgende DLL wieder her: " + windows_path(self.targets[0]),
                                     "Starte IIS neu."])
        self.assertEqual([c["args"][0] for c in wait_for_appcmd_calls(2)], ["stop", "start"])
        for target in self.targets:
            self.assertEqual(read(target), self.old, "the complete old set")
        self.assert_no_leftovers()

    def test_a_dll_that_a_process_has_loaded_is_renamed_aside_and_replaced(self):
        """The process keeps the old copy, renamed aside: it is named, and the update is not in
        effect (no recycle of the site's pools could end it, so none is tried); the journal stays.
        A later tick while it still keeps it says so again; the tick after it ended finishes."""
        journal = os.path.join(os.path.dirname(self.downloaded), "Austausch.journal")
        held = ["Fehler beim Nachweis der geladenen DLL.",
                "Ursache: Nur Prozesse außerhalb des IIS haben noch eine alte DLL geladen; ein "
                "Neustart der Anwendungspools löst sie nicht."]
        with make_server("http") as server:
            self.serve(server)
            holder = self.hold(self.targets[0], 30000, "--load")
            lines = self.run_cycle(server)
            at = lines.index("Starte IIS neu.")
            self.assertEqual(lines[at - 2:at], self.swap_lines(*self.targets))
            self.assertRegex(lines[at + 1],
                             r"^Alte DLL noch geladen: Prozess \d+ \(holdfile\.exe\)\.$")
            self.assertEqual(lines[at + 2:], held)
            for target in self.targets:
                self.assertEqual(read(target), self.new)
            self.assertTrue(os.path.exists(journal))

            again = self.run_cycle(server, check_lines=[], due=False)
            self.assertEqual(again[-3:], held + ["Das Austauschjournal bleibt; der nächste "
                                                 "Timer-Tick versucht es erneut."], again)
            self.assertNotIn("Die alte DLL läuft noch; starte die Anwendungspools der Site neu.",
                             again)
            self.assertTrue(os.path.exists(journal))

            holder.wait(60)
            last = self.run_cycle(server, check_lines=[], due=False)
        self.assertIn("Unterbrochener Austausch vollendet.", last)
        self.assertFalse(os.path.exists(journal))
        for target in self.targets:
            self.assertEqual(read(target), self.new)

    def test_a_newer_copy_is_kept(self):
        shutil.copyfile(fixture_dll("v3_0_0_0"), self.targets[1])
        with make_server("http") as server:
            self.serve(server)
            lines = self.run_cycle(server)
        self.assertEqual(lines[-3:], self.swap_lines(self.targets[0])
                         + ["Behalte neuere DLL: " + windows_path(self.targets[1]), "Starte IIS neu."])
        self.assertEqual(read(self.targets[0]), self.new)
        self.assertEqual(read(self.targets[1]), read(fixture_dll("v3_0_0_0")))

    def test_a_start_that_fails_once_is_retried(self):
        install_appcmd(failing_starts=1)
        with make_server("http") as server:
            self.serve(server)
            lines = self.run_cycle(server)
        self.assertEqual(lines[-4:-2], ["Fehler beim neustarten des IIS.",
                                        'Ursache: Der Befehl "cmd.exe /c inetsrv\\appcmd start site '
                                        '\"Default Web Site\"" endete mit dem Code 1.'])
        self.assertEqual(lines[-2:], ["Neuer Startversuch in 5 Sekunden.", "Starte IIS neu."])
        calls = wait_for_appcmd_calls(3)
        self.assertEqual([(c["args"][0], c["failed"]) for c in calls],
                         [("stop", False), ("start", True), ("start", False)])
        self.assertGreaterEqual(calls[2]["start_ms"] - calls[1]["end_ms"], 4500)

    def test_a_status_page_broken_by_the_new_dll_rolls_the_update_back(self):
        with make_server("http") as server:
            self.serve(server)
            server.route("/status", "ok",
                         status_of=lambda: 500 if read(self.targets[0]) == self.new else 200)
            lines = self.run_cycle(server, status_page="/status")
        self.assertEqual(lines[2], "Statusseite vor dem Austausch: erreichbar (Status 200).")
        self.assertEqual(lines[-8:-3], [
            "Fehler bei der Prüfung der Statusseite: nach 6 Sekunden nicht erreichbar (Status 500).",
            "Nehme das Update zurück.", "Halte IIS an."]
            + ["Stelle folgende DLL wieder her: " + windows_path(t) for t in reversed(self.targets)])
        self.assertTrue(lines[-3].startswith("Derselbe Build der Version 2.1.0.1 wird frühestens ab "),
                        lines[-3])
        self.assertEqual(lines[-2:], ["Starte IIS neu.",
                                      "Statusseite nach der Rücknahme: erreichbar (Status 200)."])
        self.assertEqual([c["args"][0] for c in wait_for_appcmd_calls(4)],
                         ["stop", "start", "stop", "start"])
        for target in self.targets:
            self.assertEqual(read(target), self.old)
        self.assert_no_leftovers()

    def test_a_rejected_build_is_tried_again_after_its_wait(self):
        """Within its wait the same build goes no further than its download (see the test of a
        held backup); a day and a minute after its failure it is tried again, and kept."""
        broken = [True]
        records = os.path.join(self.download_root, "Download", "Aufzeichnungen.txt")
        with make_server("http") as server:
            self.serve(server)
            server.route("/status", "ok", status_of=lambda: 500 if broken[0] and read(
                self.targets[0]) == self.new else 200)
            self.run_cycle(server, status_page="/status")
            with open(records, encoding="utf-8") as f:
                text = f.read()
            at = int(text.split("ZURUECKGENOMMEN_AM=")[1].split("\n")[0])
            with open(records, "w", encoding="utf-8", newline="\n") as f:
                f.write(text.replace("AM=%d" % at, "AM=%d" % (at - 86460)))
            broken[0] = False
            os.remove(os.path.join(self.work, "Protokoll.txt"))
            lines = self.run_cycle(server, status_page="/status")
        self.assertEqual(lines[0], "Die Version 2.1.0.1 wurde nach der Prüfung der Statusseite "
                                   "zurückgenommen; sie wird nach der Wartezeit erneut versucht "
                                   "(Versuch 2).")
        self.assertEqual(read(self.targets[0]), self.new)
        self.assertFalse(os.path.exists(records))

    def test_a_healthy_status_page_keeps_the_update(self):
        with make_server("http") as server:
            self.serve(server)
            server.route("/status", "ok")
            lines = self.run_cycle(server, status_page="/status")
        self.assertEqual(lines[-2:], ["Starte IIS neu.",
                                      "Statusseite nach dem Neustart: erreichbar (Status 200)."])
        for target in self.targets:
            self.assertEqual(read(target), self.new)

    # --- nothing another account plants is followed; every copy is back in the end ----------

    def test_a_planted_journal_runs_nothing_moves_nothing_and_is_set_aside(self):
        victim = os.path.join(self.work, "victim.txt")
        with open(victim, "w") as f:
            f.write("bleibt")
        target = windows_path(victim)
        gen = "00000001_20260101000000000"
        plan = "\n".join(["PLAN", gen, 'x" & echo x > C:\\owned.txt & rem "', "",
                          "\t".join([target, target + "." + gen + "-0.neu",
                                     "C:\\windows\\win.ini", target + ".v", "1"])])
        os.makedirs(os.path.dirname(self.downloaded))
        journal = os.path.join(os.path.dirname(self.downloaded), "Austausch.journal")
        with open(journal, "wb") as f:
            for payload in (plan.encode("utf-8"), b"GESTOPPT"):
                f.write(struct.pack("<II", len(payload), zlib.crc32(payload)) + payload)
        with make_server("http") as server:
            self.serve(server)
            lines = self.run_cycle(server, before=3)
        self.assertEqual(self.before, [
            "Vollende unterbrochenen Austausch.",
            "Fehler: Das Austauschjournal wurde abgelehnt: Der Name der Site oder des "
            "Anwendungspools enthält unzulässige Zeichen.",
            "Starte IIS neu."])
        self.assertFalse(os.path.exists(os.path.join(PREFIX, "drive_c", "owned.txt")))
        self.assertEqual(read(victim), b"bleibt")
        aside = [n for n in os.listdir(os.path.dirname(journal)) if n.endswith(".abgelehnt")]
        self.assertEqual(len(aside), 1, aside)
        self.assertRegex(aside[0], r"^Austausch\.journal\.00000001_\d{17}\.abgelehnt$")
        self.assertFalse(os.path.exists(journal))
        calls = [c["args"] for c in wait_for_appcmd_calls(3)]
        self.assertEqual(calls[0], ["start", "site", "Default Web Site"])
        self.assertEqual(lines[-1], "Starte IIS neu.", "the update itself still runs")

    def test_a_backup_held_during_the_rollback_is_put_back_by_the_next_cycle(self):
        holders = []

        def status():
            if read(self.targets[0]) != self.new:
                return 200
            if not holders:  # the new DLL serves: another process holds the first backup now
                folder = os.path.dirname(self.targets[0])
                backup = [n for n in os.listdir(folder) if n.endswith(".sicherung")][0]
                holders.append(self.hold(os.path.join(folder, backup), 60000))
            return 500

        with make_server("http") as server:
            self.serve(server)
            server.route("/status", "ok", status_of=status)
            lines = self.run_cycle(server, status_page="/status")
            first = windows_path(self.targets[0])
            self.assertIn("Fehler beim Wiederherstellen folgender DLL: " + first, lines)
            self.assertEqual(lines[-1], "Die Rücknahme ist unvollständig; der nächste Timer-Tick "
                                        "versucht sie erneut.")
            self.assertEqual(read(self.targets[0]), self.new, "never left missing")
            holders[0].wait(120)
            lines = self.run_cycle(server, status_page="/status", before=6)
        self.assertEqual(self.before, [
            "Vollende unterbrochenen Austausch.", "Stelle den alten Stand aller DLLs wieder her.",
            "Stelle folgende DLL wieder her: " + first, "Halte IIS an.", "Starte IIS neu.",
            "Unterbrochener Austausch vollendet."])
        # The same build within its wait: downloaded to tell the build, never swapped.
        self.assertEqual(len(lines), 3, lines)
        self.assertTrue(lines[0].startswith("Die Version 2.1.0.1 wurde nach der Prüfung der "
                                            "Statusseite zurückgenommen; derselbe Build wird "
                                            "nicht vor "), lines[0])
        self.assertTrue(lines[2].startswith("Der Download ist derselbe Build der Version 2.1.0.1"),
                        lines[2])
        for target in self.targets:
            self.assertEqual(read(target), self.old)
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(self.downloaded),
                                                     "Austausch.journal")))

    def test_a_newer_copy_after_an_unreadable_one_stays_and_a_missing_one_listed_twice_is_made(self):
        unreadable, newer, missing = (os.path.join(self.work, "site %d" % n, "KorvalAppServer.dll")
                                      for n in (3, 4, 5))
        for path, content in ((unreadable, b"kein PE"), (newer, read(fixture_dll("v3_0_0_0")))):
            os.makedirs(os.path.dirname(path))
            with open(path, "wb") as f:
                f.write(content)
        os.makedirs(os.path.dirname(missing))
        targets = [self.targets[0], unreadable, newer, missing, missing]
        check = CHECK_LINES[:2] + ["Lese DLL-Version aus.", "Fehler beim prüfen auf neue Version."]
        with make_server("http") as server:
            self.serve(server)
            lines = self.run_cycle(server, targets=targets, check_lines=check)
        self.assertEqual(lines[-6:], self.swap_lines(self.targets[0], unreadable)
                         + ["Behalte neuere DLL: " + windows_path(newer)]
                         + self.swap_lines(missing, missing) + ["Starte IIS neu."])
        self.assertEqual(read(newer), read(fixture_dll("v3_0_0_0")))
        for path in (self.targets[0], unreadable, missing):
            self.assertEqual(read(path), self.new)


if __name__ == "__main__":
    unittest.main(verbosity=2)
