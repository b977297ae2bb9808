"""The command-line switches CHECK and UPDATE of the real exe under Wine: what they print to a
redirected standard output, their exit codes, what they write, and the lock file that keeps
every update cycle apart. Against the project's update server on 127.0.0.1, with DLLs the test
build made and the appcmd stand-in in system32\\inetsrv."""

import hashlib
import json
import os
import shutil
import subprocess
import time
import unittest

from korval_e2e import (BUILD_DIR, OUTCOME_WINEDEBUG, TOOLS_DIR, WINE_RUN, ProgramFolder,
                        appcmd_calls, install_appcmd, read_run_log, reported_events, run_tool,
                        run_wine, wait_for_appcmd_calls, windows_path)
from version_check_support import closed_port, fixture_dll, make_server

VERSION_PATH = "/KORVALAppDLLVersion.txt"
RELEASE_TOOL = os.path.join(BUILD_DIR, "publisher", "KORVAL_Release_Tool.exe")
DLL_PATH = "/KorvalAppServer.dll"
WAITING = "Ein anderer Aktualisierungszyklus läuft; warte bis zu 10 Minuten."


def read(path):
    with open(path, "rb") as f:
        return f.read()


def texts(output):
    """The printed lines, a run-log time stamp cut off."""
    return [line.split("M: ", 1)[-1] for line in output.splitlines()]


LOCK_NAME = "KORVAL_Update_Service_Zyklus.sperre"


class AdminCommandLineTest(unittest.TestCase):
    def setUp(self):
        install_appcmd()
        self.folder = ProgramFolder("korval admin ")
        self.targets = []

    def tearDown(self):
        self.folder.__exit__(None, None, None)

    def site(self, fixture):
        """A target folder in the program folder holding the fixture's DLL."""
        path, _ = self.folder.subfolder("site %d" % (len(self.targets) + 1))
        target = os.path.join(path, "KorvalAppServer.dll")
        shutil.copyfile(fixture_dll(fixture), target)
        self.targets.append(target)
        return target

    def configure(self, version_url, dll_url="http://127.0.0.1:1/KorvalAppServer.dll",
                  absicherung=None, ueberwachung=None, **extra):
        keys = {"DLLPFAD%d" % n: windows_path(os.path.dirname(t))
                for n, t in enumerate(self.targets, 1)}
        keys.update(extra)
        self.folder.write_ini({"VERZEICHNISSE": keys,
                               "URLS": {"VersionsNr": version_url, "KorvalAppServerDLL": dll_url},
                               "ABSICHERUNG": absicherung or {},
                               "UEBERWACHUNG": ueberwachung or {}})

    def update_with_events(self):
        """/UPDATE; returns (exit code, output, the events it reported)."""
        result = self.folder.run("/UPDATE", timeout=180, env=OUTCOME_WINEDEBUG)
        return (result.returncode, result.stdout.decode("cp437"),
                reported_events(result.stderr.decode("utf-8", "replace")))

    def status(self):
        with open(self.folder.file("Status.json"), encoding="utf-8") as f:
            return json.load(f)

    def checked_metrics(self, path):
        """The metrics file the service wrote, passed through Prometheus' own parser and linter
        (promtool check metrics, from Debian's prometheus that scripts/setup.sh installs);
        returns {series: value}."""
        promtool = shutil.which("promtool")
        self.assertIsNotNone(promtool, "promtool is missing: scripts/setup.sh installs prometheus")
        with open(path, "rb") as f:
            text = f.read()
        result = subprocess.run([promtool, "check", "metrics"], input=text, capture_output=True,
                                timeout=60)
        self.assertEqual(result.returncode, 0, (result.stdout + result.stderr).decode() or text)
        series = {}
        for line in text.decode("utf-8").splitlines():
            if line and not line.startswith("#"):
                name, value = line.rsplit(" ", 1)
                series[name] = float(value)
        return series

    def run_switch(self, *switches, timeout=180):
        """Runs the exe with its output redirected to a pipe; returns (exit code, output)."""
        result = self.folder.run(*switches, timeout=timeout)
        # A redirected output carries the OEM code page, 437 in the test prefix.
        return result.returncode, result.stdout.decode("cp437")

    def assert_wrote_nothing(self):
        self.assertEqual(sorted(os.listdir(self.folder.path)),
                         sorted(["KORVAL_Update_Service.exe", "KORVAL_Update_Service.ini"]
                                + [os.path.basename(os.path.dirname(t)) for t in self.targets]))
        self.assertEqual(appcmd_calls(), [])

    def test_check_current_older_and_server_down(self):
        current = self.site("v2_1_0_1")
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH))
            code, out = self.run_switch("/CHECK")
            self.assertEqual(code, 0, out)
            self.assertEqual(texts(out)[-4:], [
                "Online-Version: 2.1.0.1",
                "DLL %s: Version 2.1.0.1 (aktuell)" % windows_path(current),
                "Ergebnis: Alle Kopien sind aktuell.", "Proxy: direkt"])
            self.assertTrue(out.endswith("\r\n"))

            older = self.site("v2_1_0_0")
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH))
            code, out = self.run_switch("-check")
            self.assertEqual(code, 2, out)
            self.assertEqual(texts(out), [
                "Prüfe auf neue Version.", "Lese DLL-Version aus.", "Lese DLL-Version aus.",
                "Neue Version gefunden.",
                "Zeitfenster: 0, 12 Uhr; Versatz dieses Rechners: 00:00 (STREUUNG 0 Minuten).",
                "Online-Version: 2.1.0.1",
                "DLL %s: Version 2.1.0.1 (aktuell)" % windows_path(current),
                "DLL %s: Version 2.1.0.0 (älter, wird ersetzt)" % windows_path(older),
                "Ergebnis: Aktualisierung fällig.", "Proxy: direkt"])
            self.assertEqual([r.path for r in server.requests], [VERSION_PATH] * 2)
        self.assertEqual(read(older), read(fixture_dll("v2_1_0_0")))

        self.configure("http://127.0.0.1:%d%s" % (closed_port(), VERSION_PATH))
        code, out = self.run_switch("/Check")
        self.assertEqual(code, 1, out)
        self.assertIn("Fehler beim abfragen der aktuellen Versionsnummer: Fehler beim Senden der "
                      "Daten: (12029)", out)
        self.assertEqual(texts(out)[-3:], [
            "Online-Version: nicht abrufbar",
            "Ergebnis: Prüfung fehlgeschlagen (siehe die Zeilen mit \"Fehler\").", "Proxy: direkt"])
        self.assert_wrote_nothing()  # no run log, no download folder, no site command

    def test_update_replaces_older_copies_writes_the_run_log_and_check_then_finds_them_current(
            self):
        for _ in range(2):
            self.site("v2_1_0_0")
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1", headers={"ETag": '"v-2101"'})
            server.serve_file(DLL_PATH, fixture_dll("v2_1_0_1"))
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH))
            code, out = self.run_switch("/UPDATE")
            self.assertEqual(code, 0, out)
            lines = out.splitlines()
            self.assertEqual(lines[-1], "Ergebnis: Aktualisierung ausgeführt.")
            self.assertEqual(read_run_log(self.folder.file("Protokoll.txt")), lines[:-1])
            self.assertEqual(texts(out)[-5:-1], ["Halte IIS an."] + [
                "Tausche folgende DLL: " + windows_path(t) for t in self.targets]
                + ["Starte IIS neu."])
            self.assertEqual([c["args"][0] for c in wait_for_appcmd_calls(2)], ["stop", "start"])
            for target in self.targets:
                self.assertEqual(read(target), read(fixture_dll("v2_1_0_1")))

            code, out = self.run_switch("/check")
            self.assertEqual(code, 0, out)
            self.assertEqual(texts(out)[-2], "Ergebnis: Alle Kopien sind aktuell.")

            # The next cycle asks only for a changed text: the 304 lets the kept one stand.
            server.clear_requests()
            code, out = self.run_switch("/UPDATE")
            self.assertEqual(code, 0, out)
            self.assertEqual(texts(out)[-1], "Ergebnis: Nichts zu tun, alle Kopien sind aktuell.")
            self.assertEqual([(r.path, r.header("If-None-Match")) for r in server.requests],
                             [(VERSION_PATH, '"v-2101"')])

    def test_each_outcome_is_one_event_with_its_id_and_the_status_file_and_metrics_follow(self):
        target = self.site("v2_1_0_0")
        old, new = read(fixture_dll("v2_1_0_0")), read(fixture_dll("v2_1_0_1"))
        metrics = self.folder.file("korval.prom")
        monitoring = {"PROMETHEUSDATEI": windows_path(metrics)}
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            server.serve_file(DLL_PATH, fixture_dll("v2_1_0_1"))
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH), ueberwachung=monitoring)
            code, out, events = self.update_with_events()
            self.assertEqual(code, 0, out)
            self.assertEqual([(e["id"], e["type"]) for e in events], [(1000, 4)], events)
            self.assertEqual(events[0]["strings"][:2],
                             ["2.1.0.1", "%s: 2.1.0.0 -> 2.1.0.1" % windows_path(target)])
            self.assertRegex(events[0]["strings"][2], r"^\d+$")  # the downtime in ms
            status = self.status()
            self.assertEqual({k: status[k] for k in ("ergebnis", "onlineVersion", "ziele",
                                                     "fehlgeschlageneZyklenInFolge")},
                             {"ergebnis": "aktualisiert", "onlineVersion": "2.1.0.1",
                              "ziele": [{"pfad": windows_path(target), "version": "2.1.0.1"}],
                              "fehlgeschlageneZyklenInFolge": 0})
            installed = status["letzteAktualisierung"]
            self.assertRegex(installed, r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$")
            self.assertEqual(self.run_switch("/STATUS")[0], 0)
            series = self.checked_metrics(metrics)
            self.assertEqual({k: series[k] for k in (
                "korval_update_last_check_success", "korval_update_due",
                "korval_update_failed_cycles")}, {
                "korval_update_last_check_success": 1, "korval_update_due": 0,
                "korval_update_failed_cycles": 0})
            self.assertEqual(series['korval_update_target_info{path="%s",version="2.1.0.1"}'
                                   % windows_path(target).replace("\\", "\\\\")], 1)

            # The old copy again, and a status page that the new DLL breaks: rolled back.
            shutil.copyfile(fixture_dll("v2_1_0_0"), target)
            server.route("/status", "ok", status_of=lambda: 500 if read(target) == new else 200)
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH),
                           {"STATUSSEITE": server.url("/status"), "STATUSWARTEZEIT": "6"},
                           monitoring)
            code, out, events = self.update_with_events()
            self.assertEqual(code, 1, out)
            self.assertEqual(events, [{"id": 1001, "type": 1, "strings": [
                "2.1.0.1", "nicht erreichbar (Status 500)."]}])
            self.assertEqual(read(target), old)
            status = self.status()
            self.assertEqual((status["ergebnis"], status["fehlgeschlageneZyklenInFolge"],
                              status["letzteAktualisierung"]), ("fehlgeschlagen", 1, installed))
            self.assertEqual(self.run_switch("/STATUS")[0], 1)
            series = self.checked_metrics(metrics)
            self.assertEqual((series["korval_update_last_check_success"],
                              series["korval_update_failed_cycles"]), (0, 1))

            # A DLL of another version than the published one: refused, nothing stopped.
            server.serve_file(DLL_PATH, fixture_dll("v2_1_0_0"))
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH), ueberwachung=monitoring)
            code, out, events = self.update_with_events()
            self.assertEqual(code, 1, out)
            self.assertEqual([(e["id"], e["type"]) for e in events], [(1004, 2)], events)
            self.assertIn("Die empfangene DLL hat die Version 2.1.0.0", events[0]["strings"][0])
            self.assertEqual(self.status()["fehlgeschlageneZyklenInFolge"], 2)
            code, out = self.run_switch("/STATUS")
            self.assertEqual(code, 1, out)
            self.assertIn("Fehlgeschlagene Zyklen in Folge: 2", out)
            self.assertEqual(self.checked_metrics(metrics)["korval_update_failed_cycles"], 2)

        # A status whose last cycle passed but whose copy is older: an update is due.
        status = self.status()
        status["ergebnis"] = "aktuell"
        with open(self.folder.file("Status.json"), "w", encoding="utf-8") as f:
            json.dump(status, f)
        self.assertEqual(self.run_switch("/STATUS")[0], 2)
        os.remove(self.folder.file("Status.json"))
        self.assertEqual(self.run_switch("/STATUS")[0], 1)

    def release_tool(self, *args):
        result = run_wine(RELEASE_TOOL, *args)
        self.assertEqual(result.returncode, 0, result.stdout.decode("cp437"))

    def test_signed_releases_install_refuse_a_frozen_server_and_halt_a_waiting_install(self):
        target = self.site("v2_1_0_0")
        keys, release_folder = {}, self.folder.file("veroeffentlicht")
        os.makedirs(release_folder)
        for name in ("release", "online"):
            keys[name] = (self.folder.file(name + ".key"), self.folder.file(name + ".pub"))
            self.release_tool("schluessel", *map(windows_path, keys[name]))
        published = {name: os.path.join(release_folder, "KORVAL-%s.json" % name)
                     for name in ("Release", "Zeitstempel")}

        def timestamp(command, *extra):
            self.release_tool(command, windows_path(keys["online"][0]),
                              windows_path(release_folder), *extra)
            return read(published["Zeitstempel"])

        with make_server("http") as server:
            now = int(time.time())
            self.release_tool("release", windows_path(keys["release"][0]),
                              windows_path(fixture_dll("v2_1_0_1")), server.url(DLL_PATH),
                              windows_path(release_folder), "--rampe", "0:100",
                              "--zeitstempelschluessel", windows_path(keys["online"][1]),
                              "--veroeffentlicht", str(now - 3600))
            # Valid for another 40 seconds only: a server that keeps serving it is frozen then.
            expiring = timestamp("zeitstempel", "--ausgestellt", str(now - 3600 + 40),
                                 "--ablauf-stunden", "1")
            server.route("/rel/KORVAL-Release.json", read(published["Release"]))
            server.route("/rel/KORVAL-Zeitstempel.json", expiring, headers={"ETag": '"ts-1"'})
            server.serve_file(DLL_PATH, fixture_dll("v2_1_0_1"))
            with open(keys["release"][1], encoding="ascii") as f:
                pinned = f.read().strip()
            # The version text's address leads nowhere: with the key it is never asked.
            self.folder.write_ini({
                "VERZEICHNISSE": {"DLLPFAD1": windows_path(os.path.dirname(target))},
                "URLS": {"VersionsNr": "http://127.0.0.1:%d/v.txt" % closed_port(),
                         "RELEASEDATEIEN": server.url("/rel")},
                "ABSICHERUNG": {"RELEASESCHLUESSEL": pinned}})
            code, out, events = self.update_with_events()
            self.assertEqual(code, 0, out)
            self.assertIn("Releasedateien geprüft: Release 1, Version 2.1.0.1, Zeitstempel 1, "
                          "Deckel 100 %.", texts(out))
            self.assertEqual(texts(out)[-1], "Ergebnis: Aktualisierung ausgeführt.")
            self.assertEqual([e["id"] for e in events], [1000], events)
            self.assertEqual(read(target), read(fixture_dll("v2_1_0_1")))
            self.assertEqual(sorted({r.path for r in server.requests}),
                             [DLL_PATH, "/rel/KORVAL-Release.json", "/rel/KORVAL-Zeitstempel.json"])

            # The server goes on serving the same timestamp (answering the host's If-None-Match
            # with 304) after it expired: refused, nothing installed, and the freeze is reported.
            shutil.copyfile(fixture_dll("v2_1_0_0"), target)
            time.sleep(max(0, now + 41 - time.time()))
            server.clear_requests()
            code, out, events = self.update_with_events()
            self.assertEqual(code, 1, out)
            self.assertIn("Fehler beim Prüfen der Releasedateien: Zeitstempel veraltet: abgelaufen "
                          "vor 0 Minuten.", texts(out))
            self.assertEqual([(e["id"], e["type"]) for e in events], [(1016, 1), (1017, 2)],
                             events)
            self.assertEqual([r.header("If-None-Match") for r in server.requests], ['"ts-1"'])
            self.assertEqual(read(target), read(fixture_dll("v2_1_0_0")))
            code, out = self.run_switch("/STATUS")
            self.assertIn("Releasedateien: seit 0 Stunden kein gültiger Zeitstempel; der "
                          "Update-Server liefert möglicherweise einen eingefrorenen Stand.",
                          out.splitlines())

            # A fresh timestamp; while the DLL comes in, the publisher halts the rollout.
            fresh = timestamp("zeitstempel", "--ablauf-stunden", "24")
            halt = timestamp("anhalten", "--ablauf-stunden", "24")
            server.route("/rel/KORVAL-Zeitstempel.json", fresh)
            dll = read(fixture_dll("v2_1_0_1"))

            def halting_download(handler):
                server.route("/rel/KORVAL-Zeitstempel.json", halt)
                handler._send(200, dll, [("Content-Type", "application/octet-stream")])

            server.route(DLL_PATH, writer=halting_download)
            site_commands = len(appcmd_calls())
            code, out, events = self.update_with_events()
            self.assertEqual(code, 0, out)
            self.assertIn("Rollout angehalten (Deckel 0 %): Version 2.1.0.1 wird nicht "
                          "installiert.", texts(out))
            self.assertEqual(texts(out)[-1],
                             "Ergebnis: Aktualisierung zurückgehalten (siehe das Protokoll).")
            self.assertEqual(events, [])
            self.assertEqual(read(target), read(fixture_dll("v2_1_0_0")))
            self.assertEqual(len(appcmd_calls()), site_commands, "the site was not touched")

    def test_a_signed_release_comes_as_a_patch_and_a_bad_patch_falls_back_to_the_whole_dll(self):
        target = self.site("v2_1_0_0")
        release_folder = self.folder.file("veroeffentlicht")
        os.makedirs(release_folder)
        keys = {}
        for name in ("release", "online"):
            keys[name] = (self.folder.file(name + ".key"), self.folder.file(name + ".pub"))
            self.release_tool("schluessel", *map(windows_path, keys[name]))
        patch_name = hashlib.sha256(read(fixture_dll("v2_1_0_0"))).hexdigest()[:16] + ".zst"
        with make_server("http") as server:
            self.release_tool("release", windows_path(keys["release"][0]),
                              windows_path(fixture_dll("v2_1_0_1")), server.url(DLL_PATH),
                              windows_path(release_folder), "--rampe", "0:100",
                              "--zeitstempelschluessel", windows_path(keys["online"][1]),
                              "--patch-von", windows_path(fixture_dll("v2_1_0_0")),
                              "--patch-adresse", server.url("/p/"))
            self.release_tool("zeitstempel", windows_path(keys["online"][0]),
                              windows_path(release_folder))
            for name in ("Release", "Zeitstempel"):
                server.route("/rel/KORVAL-%s.json" % name,
                             read(os.path.join(release_folder, "KORVAL-%s.json" % name)))
            patch = read(os.path.join(release_folder, "patches", patch_name))
            server.route("/p/" + patch_name, patch)
            server.serve_file(DLL_PATH, fixture_dll("v2_1_0_1"))
            with open(keys["release"][1], encoding="ascii") as f:
                pinned = f.read().strip()
            self.folder.write_ini({
                "VERZEICHNISSE": {"DLLPFAD1": windows_path(os.path.dirname(target))},
                "URLS": {"RELEASEDATEIEN": server.url("/rel")},
                "ABSICHERUNG": {"RELEASESCHLUESSEL": pinned},
                "UEBERWACHUNG": {"PROMETHEUSDATEI": windows_path(self.folder.file("k.prom"))}})
            saved = len(read(fixture_dll("v2_1_0_1"))) - len(patch)
            code, out = self.run_switch("/UPDATE")
            self.assertEqual(code, 0, out)
            self.assertIn("Patch verwendet: %d Bytes gespart." % saved, texts(out))
            self.assertEqual(read(target), read(fixture_dll("v2_1_0_1")))
            self.assertNotIn(DLL_PATH, [r.path for r in server.requests])
            self.assertEqual(self.status()["letzterDownload"],
                             {"patch": True, "gesparteBytes": saved})
            self.assertIn("korval_update_patch_saved_bytes %d\n" % saved,
                          read(self.folder.file("k.prom")).decode())

            # A patch changed on the way: one line, and the whole DLL in the same cycle.
            shutil.copyfile(fixture_dll("v2_1_0_0"), target)
            server.route("/p/" + patch_name, patch[:-1] + bytes([patch[-1] ^ 1]))
            server.clear_requests()
            code, out = self.run_switch("/UPDATE")
            self.assertEqual(code, 0, out)
            self.assertIn("Patch nicht verwendbar: Der Patch hat einen anderen SHA-256, als die "
                          "Releasedatei nennt. Lade die ganze DLL.", texts(out))
            self.assertEqual(read(target), read(fixture_dll("v2_1_0_1")))
            self.assertEqual([r.path for r in server.requests if not r.path.startswith("/rel/")],
                             ["/p/" + patch_name, DLL_PATH])
            self.assertEqual(self.status()["letzterDownload"], {"patch": False, "gesparteBytes": 0})

    def test_a_link_planted_for_a_folder_of_the_service_is_refused_and_nothing_written_through_it(
            self):
        target = self.site("v2_1_0_0")
        elsewhere, _ = self.folder.subfolder("elsewhere")
        link = os.path.join(self.folder.path, "Protokolle")
        os.symlink(elsewhere, link)
        # A folder of its own below the link: the link is a folder above it.
        os.mkdir(os.path.join(elsewhere, "Sub"))
        os.mkdir(os.path.join(elsewhere, "Sub", "Download"))
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            server.serve_file(DLL_PATH, fixture_dll("v2_1_0_1"))
            # (key, its value below the link, the folder refused below the link)
            for key, value, folder in (("PROTOKOLLPFAD", "", ""), ("DOWNLOADPFAD", "", ""),
                                       ("PROTOKOLLPFAD", "\\Sub", "\\Sub"),
                                       ("DOWNLOADPFAD", "\\Sub", "\\Sub\\Download")):
                with self.subTest(key, below=value):
                    self.configure(server.url(VERSION_PATH), server.url(DLL_PATH),
                                   **{key: windows_path(link) + value})
                    code, out, events = self.update_with_events()
                    self.assertEqual(code, 1, out)
                    refusal = ("Fehler beim Prüfen des Ordners " + windows_path(link) + folder
                               + "\\: " + windows_path(link) + " ")
                    self.assertTrue([t for t in texts(out) if t.endswith(
                        " ist ein Verweis (Abzweigung, symbolische Verknüpfung, "
                        "Bereitstellungspunkt).") and refusal in t], out)
                    self.assertIn(1009, [e["id"] for e in events])
                    self.assertEqual(sorted(os.listdir(elsewhere)), ["Sub"],
                                     "written through the link")
                    self.assertEqual(os.listdir(os.path.join(elsewhere, "Sub")), ["Download"])
                    self.assertEqual(os.listdir(os.path.join(elsewhere, "Sub", "Download")), [])
                    self.assertEqual(read(target), read(fixture_dll("v2_1_0_0")))
                    self.assertEqual(appcmd_calls(), [])

    def test_check_names_the_machines_winhttp_proxy_when_the_account_has_none(self):
        self.site("v2_1_0_1")
        with make_server("http") as proxy:
            proxy.route(VERSION_PATH, "2.1.0.1")
            address = proxy.url("/").split("/")[2]
            self.configure("http://korval-update.test" + VERSION_PATH)
            self.assertEqual(run_tool("machineproxy", "set", address, "<local>")[0], 0)
            self.addCleanup(run_tool, "machineproxy", "clear")
            code, out = self.run_switch("/CHECK")
            # The name is resolved by nobody but the proxy: the check went through it.
            self.assertEqual(code, 0, out)
            self.assertTrue(proxy.requests[0].path.startswith("http://korval-update.test"))
        self.assertEqual(texts(out)[-1], "Proxy: %s (WinHTTP-Proxy des Computers)" % address)

    def test_a_value_that_does_not_convert_prints_the_event_log_text(self):
        self.configure("http://127.0.0.1:1/v.txt", UPDATEINTERVALL="abc")
        for switch in ("/CHECK", "/UPDATE"):
            with self.subTest(switch=switch):
                code, out = self.run_switch(switch)
                self.assertEqual(code, 1)
                self.assertEqual(out, "Service fehlgeschlagen bei start:'abc' ist kein gültiger "
                                      "Integerwert für Typ 'Integer'\r\n")
        self.assert_wrote_nothing()

    def download_folder(self):
        return os.path.join(self.folder.path, "Download")

    def hold_cycle_lock(self, milliseconds, *options):
        os.makedirs(self.download_folder(), exist_ok=True)
        holder = subprocess.Popen([WINE_RUN, os.path.join(TOOLS_DIR, "holdcyclelock.exe"),
                                   str(milliseconds), windows_path(self.download_folder()),
                                   *options],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                  stdin=subprocess.DEVNULL)
        self.addCleanup(holder.stdout.close)
        self.addCleanup(holder.wait, 60)
        self.assertEqual(holder.stdout.readline().strip(), b"HELD")
        return holder

    def test_update_waits_while_another_cycle_holds_the_lock(self):
        self.site("v2_1_0_1")
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            self.configure(server.url(VERSION_PATH), server.url(DLL_PATH))
            holder = self.hold_cycle_lock(6000)
            lock_file = os.path.join(self.download_folder(), LOCK_NAME)
            self.assertTrue(os.path.exists(lock_file), "the lock is in the download folder")
            self.assertFalse(os.path.exists(os.path.join(self.folder.path, LOCK_NAME)),
                             "never beside the program, where nothing is proven")
            started = time.monotonic()
            code, out = self.run_switch("/update")
            waited = time.monotonic() - started
            self.assertEqual(code, 0, out)
            self.assertEqual(texts(out)[0], WAITING)
            self.assertEqual(holder.stdout.readline().strip(), b"RELEASED")
            self.assertGreaterEqual(waited, 4.0, "UPDATE ran while the other cycle held the lock")
            self.assertEqual(texts(out)[-1], "Ergebnis: Nichts zu tun, alle Kopien sind aktuell.")

            self.assertFalse(os.path.exists(lock_file), "released: nothing is left behind")

            # A holder that ended without letting go leaves no lock behind: it counts as free.
            self.hold_cycle_lock(100, "--abandon").wait(60)
            self.assertFalse(os.path.exists(lock_file))
            code, out = self.run_switch("/update")
            self.assertEqual(code, 0, out)
            self.assertNotIn(WAITING, out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
