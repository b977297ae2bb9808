"""The engine's version check under Wine with the real Win32 seams (versioncheck.exe): run-log
lines and results against the project's own update server on 127.0.0.1, over http and https,
with DLL fixtures whose version resources the test build made."""

import os
import re
import shutil
import unittest

from korval_e2e import PREFIX, run_tool, windows_path
from version_check_support import TOOL_TIMEOUT_S, closed_port, fixture_dll, make_server

PRUEFE = "Prüfe auf neue Version."
LESE = "Lese DLL-Version aus."
NEU = "Neue Version gefunden."
AKTUELL = "Version aktuell."
FEHLER_PRUEFEN = "Fehler beim prüfen auf neue Version."
FEHLER_ABFRAGEN = "Fehler beim abfragen der aktuellen Versionsnummer: "
VERSION_PATH = "/KORVALAppDLLVersion.txt"
MISSING = "missing"  # a target folder without a DLL

# Inside the prefix's C: drive: the service proves every folder above its run log, and a folder
# of the Unix side may lie below one that every account may change (/tmp).
WORK_DIR = os.path.join(PREFIX, "drive_c", "e2e-version-check")
LINE = re.compile(r"^(?P<stamp>[^:]+(?::[^ :][^:]*)*): (?P<text>.*)$")


class Check:
    """One run of versioncheck.exe in a program folder of its own."""

    def __init__(self, name, url, targets, checks=1):
        self.folder = os.path.join(WORK_DIR, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        lines = ["[VERZEICHNISSE]", "PROTOKOLLPFAD=" + windows_path(self.folder)]
        for n, target in enumerate(targets, 1):
            folder = (os.path.join(self.folder, "missing%d" % n) if target == MISSING
                      else os.path.dirname(fixture_dll(target)))
            lines.append("DLLPFAD%d=%s" % (n, windows_path(folder)))
        lines += ["[URLS]", "VersionsNr=" + url, ""]
        with open(os.path.join(self.folder, "KORVAL_Update_Service.ini"), "w",
                  encoding="cp1252", newline="\r\n") as f:
            f.write("\n".join(lines))
        self.returncode, self.output = run_tool("versioncheck", windows_path(self.folder),
                                                "--checks", str(checks), timeout=TOOL_TIMEOUT_S)
        self.results = re.findall(r"^Result: (true|false)$", self.output, re.M)

    @property
    def result(self):
        assert len(self.results) == 1, self.output
        return self.results[0] == "true"

    def log_bytes(self):
        with open(os.path.join(self.folder, "Protokoll.txt"), "rb") as f:
            return f.read()

    def log_lines(self):
        """The entry texts of the run log, after checking the file's form line by line."""
        data = self.log_bytes()
        assert data.endswith(b"\r\n"), data
        texts = []
        for line in data[:-2].split(b"\r\n"):
            match = LINE.match(line.decode("cp1252"))
            assert match, line
            texts.append(match.group("text"))
        return texts


class VersionCheckTests:
    scheme = None

    def server(self, body=None, **options):
        server = make_server(self.scheme)
        if body is not None:
            server.route(VERSION_PATH, body, **options)
        return server

    def check(self, server, targets, path=VERSION_PATH, checks=1):
        name = "%s-%s" % (self.scheme, self.id().rsplit(".", 1)[-1])
        return Check(name, server.url(path), targets, checks)

    def assertCheck(self, check, lines, result):
        self.assertEqual(check.returncode, 0, check.output)
        self.assertEqual(check.log_lines(), lines)
        self.assertEqual(check.result, result)

    # --- bodies ----------------------------------------------------------------------------

    def test_an_older_target_finds_a_new_version(self):
        with self.server("2.1.0.1") as server:
            check = self.check(server, ["v2_1_0_0"])
            self.assertCheck(check, [PRUEFE, LESE, NEU], True)
            self.assertIn("Pr\xfcfe auf neue Version.".encode("cp1252"), check.log_bytes())
            self.assertNotIn(b"\xef\xbb\xbf", check.log_bytes())

    def test_body_with_cr_lf_or_lf_fails_the_conversion(self):
        for body in ("2.1.0.0\r\n", "2.1.0.0\n"):
            with self.subTest(body=body), self.server(body) as server:
                self.assertCheck(self.check(server, ["v2_1_0_0"]), [PRUEFE, LESE, FEHLER_PRUEFEN],
                                 False)

    def test_byte_order_mark_is_dropped(self):
        with self.server(b"\xef\xbb\xbf2.1.0.0") as server:
            self.assertCheck(self.check(server, ["v2_1_0_0"]), [PRUEFE, LESE, AKTUELL], False)

    def test_leading_blanks_pass_and_a_tab_fails(self):
        with self.server("   2.1.0.1") as server:
            self.assertCheck(self.check(server, ["v2_1_0_0"]), [PRUEFE, LESE, NEU], True)
        with self.server("\t2.1.0.1") as server:
            self.assertCheck(self.check(server, ["v2_1_0_0"]), [PRUEFE, LESE, FEHLER_PRUEFEN],
                             False)

    def test_a_404_page_is_the_online_text(self):
        with self.server() as server:
            check = self.check(server, ["v2_1_0_0", "v2_1_0_0"], path="/nicht-da.txt")
            self.assertCheck(check, [PRUEFE, LESE, FEHLER_PRUEFEN], False)
            self.assertIn("Online: <html>", check.output)

    def test_gzip_and_a_latin1_charset_are_decoded(self):
        with self.server("2.1.0.1", encoding="gzip",
                         content_type="text/plain; charset=ISO-8859-1") as server:
            self.assertCheck(self.check(server, ["v2_1_0_0"]), [PRUEFE, LESE, NEU], True)

    def test_invalid_utf8_and_an_unknown_charset(self):
        cases = [
            (dict(body=b"2.1.0.\xfc"), "Keine Zuordnung für Unicode-Zeichen in der "
                                       "Multibyte-Zielcodeseite vorhanden"),
            (dict(body="2.1.0.0", content_type="text/plain; charset=x-unbekannt"),
             "Ungültiger Codierungsname"),
        ]
        for options, message in cases:
            with self.subTest(message=message), self.server(**options) as server:
                self.assertCheck(self.check(server, ["v2_1_0_0"]),
                                 [PRUEFE, FEHLER_ABFRAGEN + message, LESE, FEHLER_PRUEFEN], False)

    # --- targets -----------------------------------------------------------------------------

    def test_three_targets_the_first_older_the_second_missing(self):
        with self.server("2.1.0.1") as server:
            check = self.check(server, ["v2_1_0_0", MISSING, "v2_1_0_1"])
            self.assertCheck(check, [PRUEFE, LESE, LESE, FEHLER_PRUEFEN], True)

    def test_first_older_second_current_reads_both(self):
        with self.server("2.1.0.1") as server:
            self.assertCheck(self.check(server, ["v2_1_0_0", "v2_1_0_1"]),
                             [PRUEFE, LESE, LESE, NEU], True)

    def test_versions_compare_part_by_part(self):
        cases = [("2.1.1.0", "v2_1_0_15", NEU, True),      # joined digits: 21015 > 2110
                 ("2.10.0.0", "v3_0_0_0", AKTUELL, False),  # joined digits: 3000 < 21000
                 ("2.1.0.0", "file2_1_0_5_product2_1_0_0", AKTUELL, False),
                 ("2.147.483.647", "v2_147_483_647", AKTUELL, False),
                 # digits beyond the integers: versions a DLL can carry still compare
                 ("2.147.483.649", "v2_147_483_648", NEU, True),
                 ("2.1.0.0", "v65535", AKTUELL, False)]
        for online, target, last, result in cases:
            with self.subTest(online=online, target=target), self.server(online) as server:
                self.assertCheck(self.check(server, [target]), [PRUEFE, LESE, last], result)

    def test_unreadable_local_versions(self):
        for target in ("no_version", "short_fixed_block", MISSING):
            with self.subTest(target=target), self.server("2.1.0.0") as server:
                self.assertCheck(self.check(server, [target]), [PRUEFE, LESE, FEHLER_PRUEFEN],
                                 False)

    def test_no_targets_is_current(self):
        with self.server("keine Zahl") as server:
            self.assertCheck(self.check(server, []), [PRUEFE, AKTUELL], False)

    # --- the request ---------------------------------------------------------------------------

    def test_one_get_without_accept_encoding_and_nothing_kept_between_checks(self):
        with self.server("2.1.0.0", set_cookie="sid=1; Path=/") as server:
            check = self.check(server, ["v2_1_0_0"], checks=2)
            self.assertEqual(check.log_lines(), [PRUEFE, LESE, AKTUELL] * 2)
            self.assertEqual(check.results, ["false", "false"])
            self.assertEqual(len(server.requests), 2)
            for request in server.requests:
                for name in ("Accept", "Accept-Encoding", "Accept-Language", "Authorization",
                             "Cookie"):
                    self.assertFalse(request.has_header(name), name)
                self.assertEqual(request.header("User-Agent"), "WinHttpClient/1.0")

    def test_five_redirects_with_a_cookie_are_followed(self):
        with self.server() as server:
            hops = server.redirect_chain("/start", 5, VERSION_PATH, status=301)
            server.redirect(hops[0], hops[1], status=301, set_cookie="sid=abc; Path=/")
            server.route(VERSION_PATH, "2.1.0.1", require_cookie="sid=abc",
                         missing_cookie_body=b"cookie missing")
            self.assertCheck(self.check(server, ["v2_1_0_0"], path="/start"),
                             [PRUEFE, LESE, NEU], True)
            self.assertEqual(len(server.requests), 6)
            self.assertFalse(server.requests[0].has_header("Cookie"))
            self.assertEqual(server.requests[-1].header("Cookie"), "sid=abc")

    def test_six_redirects_fail(self):
        with self.server("2.1.0.1") as server:
            server.redirect_chain("/start", 6, VERSION_PATH, status=308)
            check = self.check(server, ["v2_1_0_0"], path="/start")
            self.assertCheck(check, [PRUEFE, FEHLER_ABFRAGEN + "Maximale Anzahl von Umleitungen "
                                     "(5) überschritten", LESE, FEHLER_PRUEFEN], False)
            self.assertEqual(len(server.requests), 6)

    def test_connection_refused(self):
        url = "%s://127.0.0.1:%d%s" % (self.scheme, closed_port(), VERSION_PATH)
        check = Check("%s-refused" % self.scheme, url, ["v2_1_0_0"])
        self.assertCheck(check, [PRUEFE, FEHLER_ABFRAGEN + "Fehler beim Senden der Daten: (12029) "
                                 "Es konnte keine Verbindung mit dem Server hergestellt werden",
                                 LESE, FEHLER_PRUEFEN], False)

    def test_a_body_over_64_kib_is_refused(self):
        with self.server(b"2" * 70000) as server:
            self.assertCheck(self.check(server, ["v2_1_0_0"]),
                             [PRUEFE, FEHLER_ABFRAGEN + "Fehler beim Lesen der Daten: Die Antwort "
                              "ist größer als 65536 Bytes", LESE, FEHLER_PRUEFEN], False)


class HttpVersionCheckTests(VersionCheckTests, unittest.TestCase):
    scheme = "http"

    def test_a_url_without_scheme(self):
        check = Check("http-no-scheme", "127.0.0.1/KORVALAppDLLVersion.txt", ["v2_1_0_0"])
        self.assertCheck(check, [PRUEFE, FEHLER_ABFRAGEN + 'Ungültiger URL: '
                                 '"127.0.0.1/KORVALAppDLLVersion.txt"', LESE, FEHLER_PRUEFEN],
                         False)


class HttpsVersionCheckTests(VersionCheckTests, unittest.TestCase):
    scheme = "https"

    def test_an_untrusted_certificate(self):
        with make_server("https", trusted=False) as server:
            server.route(VERSION_PATH, "2.1.0.1")
            check = self.check(server, ["v2_1_0_0"])
            self.assertCheck(check, [PRUEFE, FEHLER_ABFRAGEN + "Serverzertifikat ungültig oder "
                                     "nicht vorhanden", LESE, FEHLER_PRUEFEN], False)
            self.assertEqual(server.requests, [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
