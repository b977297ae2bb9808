"""The download's defences under Wine with the real Win32 seams (versioncheck.exe --cycle): the
pinned signer over the Authenticode corpus of the test build, https never followed to http, the
size limit on a body beyond it, the machine type, the version fetch's overall deadline, and a
cut-off download that goes on where it stopped only when the server's strong ETag allows it."""

import glob
import os
import shutil
import tempfile
import time
import unittest

from korval_e2e import (BUILD_DIR, PREFIX, appcmd_calls, install_appcmd, read_run_log,
                        run_tool, run_tool_process, windows_path)
from version_check_support import FIXTURES_DIR, fixture_dll, make_server

VERSION_PATH = "/KORVALAppDLLVersion.txt"
DLL_PATH = "/KorvalAppServer.dll"
CERTS = os.path.join(FIXTURES_DIR, "certs")
FAILED = "Fehler beim downloaden der DLL: "


def read(path):
    with open(path, "rb") as f:
        return f.read()


def pin(leaf):
    with open(os.path.join(CERTS, leaf + ".sha256")) as f:
        return f.read().strip()


_code_signing_ca_trusted = []


def trust_code_signing_ca():
    if not _code_signing_ca_trusted:
        result = run_tool_process("trustca", windows_path(os.path.join(CERTS, "ca.der")))
        assert result.returncode == 0, result.stderr
        _code_signing_ca_trusted.append(True)


# An endless body, bounded only so that a client that never lets go cannot keep the test forever.
LARGE_BODY = 4 * 1024 ** 3
INETCACHES = os.path.join(PREFIX, "drive_c", "users", "*", "AppData", "Local", "Microsoft",
                          "Windows", "INetCache")


def large_dll_body(handler):
    """Starts like a DLL and goes on past the limit; no Content-Length, so only the bytes count."""
    handler.send_response(200)
    handler.send_header("Content-Type", "application/octet-stream")
    handler.send_header("Connection", "close")
    handler.end_headers()
    handler.close_connection = True
    chunk = read(fixture_dll("v2_1_0_1"))
    chunk += b"\0" * (1024 * 1024 - len(chunk) % (1024 * 1024))
    handler.server.owner.bytes_sent = 0
    try:
        while handler.server.owner.bytes_sent < LARGE_BODY:
            handler.wfile.write(chunk)
            handler.server.owner.bytes_sent += len(chunk)
    except OSError:
        pass


def trickling_version(handler):
    """Sends the head at once, then a byte every second for a minute."""
    handler.send_response(200)
    handler.send_header("Content-Length", "60")
    handler.end_headers()
    try:
        for _ in range(60):
            handler.wfile.write(b" ")
            handler.wfile.flush()
            time.sleep(1)
    except OSError:
        pass


def demand_logon(server, path):
    """The path answers 407 as an authenticating proxy does."""
    server.route(path, "Anmeldung erforderlich", status=407, headers={"Proxy-Authenticate": "NTLM"})


LOGON_NOT_GIVEN = ("Der Proxy verlangt eine Anmeldung (Status 407); sie wird nur einem vom "
                   "Administrator eingerichteten Proxy und nur mit PROXYANMELDUNG=JA gegeben.")
LOGON_REFUSED = "Der Proxy hat die Anmeldung mit der Identität des Computers abgelehnt (Status 407)."


class DownloadSecurityTest(unittest.TestCase):
    def setUp(self):
        install_appcmd()
        self.work = tempfile.mkdtemp(prefix="korval download ", dir=os.path.join(PREFIX, "drive_c"))
        folder = os.path.join(self.work, "site")
        os.makedirs(folder)
        self.target = os.path.join(folder, "KorvalAppServer.dll")
        shutil.copyfile(fixture_dll("v2_1_0_0"), self.target)
        self.old = read(self.target)
        self.download_folder = os.path.join(self.work, "Download")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def run_cycle(self, version_url, dll_url, signers=None, check_lines=True, **absicherung):
        """One update cycle; answers the run log's texts after "Downloade DLL von der Webseite.".
        Keyword arguments are further keys of [ABSICHERUNG]."""
        lines = ["[VERZEICHNISSE]", "DOWNLOADPFAD=" + windows_path(self.work),
                 "PROTOKOLLPFAD=" + windows_path(self.work),
                 "DLLPFAD1=" + windows_path(os.path.dirname(self.target)),
                 "[URLS]", "VersionsNr=" + version_url, "KorvalAppServerDLL=" + dll_url,
                 "[ABSICHERUNG]"]
        if signers is not None:
            lines.append("SIGNATURSCHLUESSEL=" + signers)
        lines += ["%s=%s" % item for item in absicherung.items()]
        with open(os.path.join(self.work, "KORVAL_Update_Service.ini"), "w", encoding="cp1252",
                  newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        result = run_tool_process("versioncheck", windows_path(self.work), "--cycle", timeout=300)
        self.assertIn("Result:", result.stdout.decode("utf-8"),
                      "exit status %d, stderr %r" % (result.returncode, result.stderr[-2000:]))
        texts = [line.split(": ", 1)[1]
                 for line in read_run_log(os.path.join(self.work, "Protokoll.txt"))]
        if not check_lines:
            return texts
        start = texts.index("Downloade DLL von der Webseite.")
        return texts[start + 1:]

    def assert_nothing_stopped(self):
        self.assertEqual(appcmd_calls(), [])
        self.assertEqual(read(self.target), self.old)
        leftovers = os.listdir(self.download_folder) if os.path.isdir(self.download_folder) else []
        self.assertEqual(leftovers, [], "no partial or refused file stays")

    def offer(self, server, fixture):
        server.route(VERSION_PATH, "2.1.0.1")
        server.serve_file(DLL_PATH, fixture_dll(fixture))

    def test_with_a_pinned_signer_only_the_dll_it_signed_is_installed(self):
        trust_code_signing_ca()
        signers = "%s ; %s" % ("0" * 64, pin("pinned").upper())
        refused = {
            "signed_unsigned": "Die empfangene DLL ist nicht signiert.",
            "signed_other": "Die empfangene DLL ist mit keinem zugelassenen Zertifikat signiert "
                            "(Schlüssel %s)." % pin("other"),
            "signed_tampered": "Die Signatur der empfangenen DLL ist ungültig (0x8009",
            "signed_noeku": "Das Zertifikat der Signatur ist nicht für Codesignaturen bestimmt.",
            "signed_stranger": "Die Zertifikatskette der Signatur ist nicht vertrauenswürdig (",
        }
        with make_server("http") as server:
            for fixture, reason in refused.items():
                with self.subTest(fixture):
                    self.offer(server, fixture)
                    lines = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH), signers)
                    self.assertEqual(len(lines), 1, lines)
                    self.assertTrue(lines[0].startswith(FAILED + reason), lines[0])
                    self.assert_nothing_stopped()
            self.offer(server, "signed_pinned")
            lines = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH), signers)
        self.assertEqual(lines[0], "Halte IIS an.")
        self.assertEqual(lines[-1], "Starte IIS neu.")
        self.assertEqual(read(self.target), read(fixture_dll("signed_pinned")))

    def test_without_a_pin_an_unsigned_dll_is_installed_as_before(self):
        with make_server("http") as server:
            self.offer(server, "signed_unsigned")
            lines = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH), signers="")
        self.assertEqual(lines[0], "Halte IIS an.")
        self.assertEqual(read(self.target), read(fixture_dll("v2_1_0_1")))

    def test_https_redirected_to_http_requests_nothing_over_http(self):
        with make_server("http") as plain, make_server("https") as secure:
            self.offer(plain, "v2_1_0_1")
            secure.route(VERSION_PATH, "2.1.0.1")
            secure.redirect(DLL_PATH, plain.url(DLL_PATH))
            secure.redirect("/moved.txt", plain.url(VERSION_PATH))
            lines = self.run_cycle(secure.url(VERSION_PATH), secure.url(DLL_PATH))
            self.assertEqual(lines, [FAILED + "Umleitung von https auf eine unverschlüsselte "
                                     "Adresse abgelehnt: \"%s\"" % plain.url(DLL_PATH)])
            texts = self.run_cycle(secure.url("/moved.txt"), secure.url(DLL_PATH), check_lines=False)
            self.assertIn("Fehler beim abfragen der aktuellen Versionsnummer: Umleitung von https "
                          "auf eine unverschlüsselte Adresse abgelehnt: \"%s\""
                          % plain.url(VERSION_PATH), texts)
            self.assertEqual(plain.requests, [], "the plain http server was never asked")
        self.assert_nothing_stopped()

    def test_an_endless_body_ends_on_the_wire_at_256_mib_and_no_copy_of_it_stays(self):
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            server.route(DLL_PATH, writer=large_dll_body)
            started = time.time()
            lines = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH))
            sent = server.bytes_sent
        self.assertEqual(lines, [FAILED + "Die DLL ist größer als 256 MiB."])
        # The server's count: the connection was closed right after the limit, not read on.
        self.assertGreater(sent, 256 * 1024 ** 2)
        self.assertLess(sent, 256 * 1024 ** 2 + 32 * 1024 ** 2)
        self.assertLess(time.time() - started, 120)
        self.assert_nothing_stopped()
        cached = [os.path.join(d, f) for cache in glob.glob(INETCACHES)
                  for d, _, names in os.walk(cache) for f in names if f.startswith("KorvalAppServer")]
        self.assertEqual(cached, [], "the refused body stays in the internet cache")

    def cut_off_then_again(self, headers, ranges=True):
        """Serves the DLL cut off after half its bytes, then whole: two cycles. Answers the second
        cycle's lines, the two requests for the DLL, the DLL's bytes and where it was cut."""
        body = read(fixture_dll("v2_1_0_1"))
        cut = len(body) // 2
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            self.dll_url = server.url(DLL_PATH)
            server.route(DLL_PATH, body, headers=headers, ranges=ranges, cut_after=[cut],
                         content_type="application/octet-stream")
            first = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH))
            self.assertEqual(first, [FAILED + "Der Download brach nach %d von %d Bytes ab."
                                     % (cut, len(body))])
            self.assertEqual(appcmd_calls(), [])
            self.partial_after_cut = self.partial_files()
            second = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH))
            self.sent = server.body_bytes(DLL_PATH)
            asked = [r for r in server.requests if r.path == DLL_PATH]
        self.assertEqual(read(self.target), body, "installed after the second cycle")
        self.assertEqual(self.partial_files(), {}, "nothing of the transfer stays")
        for request in asked:
            self.assertEqual(request.header("Accept-Encoding"), "identity")
        return second, asked, body, cut

    def partial_files(self):
        names = ("KorvalAppServer.dll.teil", "KorvalAppServer.dll.teil.info")
        return {name: read(os.path.join(self.download_folder, name)) for name in names
                if os.path.exists(os.path.join(self.download_folder, name))}

    def test_a_cut_off_download_goes_on_where_it_stopped(self):
        lines, asked, body, cut = self.cut_off_then_again({"ETag": '"v2101"'})
        self.assertEqual(self.partial_after_cut, {
            "KorvalAppServer.dll.teil": body[:cut],
            "KorvalAppServer.dll.teil.info": (
                'KORVAL-TEILDOWNLOAD 1\nURL=%s\nETAG="v2101"\nGROESSE=%d\nBYTES=%d\n'
                % (self.dll_url, len(body), cut)).encode()})
        self.assertEqual(lines[:2], ["Setze den Download bei Byte %d von %d fort." % (cut, len(body)),
                                     "Halte IIS an."])
        self.assertFalse(asked[0].has_header("Range"))
        self.assertEqual(asked[1].header("Range"), "bytes=%d-" % cut)
        self.assertEqual(asked[1].header("If-Range"), '"v2101"')
        self.assertEqual(self.sent, len(body), "the server's count: the rest only")
        self.assertLess(self.sent, 2 * len(body))

    def test_without_an_etag_the_next_cycle_starts_again_from_zero(self):
        lines, asked, body, cut = self.cut_off_then_again({})
        self.assertEqual(self.partial_after_cut, {}, "nothing worth keeping")
        self.assertEqual(lines[0], "Halte IIS an.")
        self.assertFalse(any(r.has_header("Range") or r.has_header("If-Range") for r in asked))
        self.assertEqual(self.sent, cut + len(body))

    def test_a_server_without_ranges_sends_the_whole_file_again(self):
        lines, asked, body, cut = self.cut_off_then_again({"ETag": '"v2101"'}, ranges=False)
        self.assertEqual(lines[:3], ["Setze den Download bei Byte %d von %d fort." % (cut, len(body)),
                                     "Der Server setzt den Download nicht fort; er beginnt neu.",
                                     "Halte IIS an."])
        self.assertEqual(asked[1].header("Range"), "bytes=%d-" % cut)
        self.assertEqual(self.sent, cut + len(body))

    def test_a_file_address_is_refused(self):
        with make_server("http") as server:
            server.route(VERSION_PATH, "2.1.0.1")
            dll_url = "file:///" + windows_path(fixture_dll("v2_1_0_1")).replace("\\", "/")
            lines = self.run_cycle(server.url(VERSION_PATH), dll_url)
        self.assertEqual(lines, [FAILED + "Die Adresse der DLL ist keine http- oder https-Adresse: "
                                 "\"%s\"" % dll_url])
        self.assert_nothing_stopped()

    def test_an_x86_dll_never_replaces_an_x64_one(self):
        with make_server("http") as server:
            self.offer(server, "x86_v2_1_0_1")
            lines = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH))
        self.assertEqual(lines, [FAILED + "Die empfangene DLL ist für x86 gebaut, die installierte "
                                 "DLL für x64."])
        self.assert_nothing_stopped()

    def test_a_407_of_a_server_reached_direct_is_never_answered(self):
        for key in ("NEIN", "JA"):
            with self.subTest(PROXYANMELDUNG=key), make_server("http") as server:
                demand_logon(server, VERSION_PATH)
                texts = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH),
                                       check_lines=False, PROXYANMELDUNG=key)
                self.assertEqual(texts[-1], "Fehler beim prüfen auf neue Version.")
                server.route(VERSION_PATH, "2.1.0.1")
                demand_logon(server, DLL_PATH)
                lines = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH),
                                       PROXYANMELDUNG=key)
                sent = server.requests
                self.assertEqual(lines, [FAILED + LOGON_NOT_GIVEN])
                self.assertEqual([r.path for r in sent], [VERSION_PATH, VERSION_PATH, DLL_PATH])
                self.assertFalse(any(r.has_header("Proxy-Authorization") for r in sent))
                self.assert_nothing_stopped()

    def test_a_status_page_that_demands_a_logon_is_never_answered(self):
        with make_server("http") as server:
            self.offer(server, "v2_1_0_1")
            demand_logon(server, "/status")
            texts = self.run_cycle(server.url(VERSION_PATH), server.url(DLL_PATH),
                                   check_lines=False, PROXYANMELDUNG="JA",
                                   STATUSSEITE=server.url("/status"), STATUSWARTEZEIT="0")
            asked = [r for r in server.requests if r.path == "/status"]
        self.assertIn("Statusseite vor dem Austausch: nicht erreichbar (Status 407).", texts)
        self.assertEqual(len(asked), 2, "once before the stop, once after the start, no repeat")
        self.assertFalse(any(r.has_header("Proxy-Authorization") for r in asked))

    def test_the_machines_proxy_is_answered_only_with_ja_and_the_download_goes_through_it(self):
        # Wine has no NTLM of its own (no ntlm_auth): the answer is sent without a
        # Proxy-Authorization header, so here it shows as the request sent a second time.
        with make_server("http") as proxy:
            address = proxy.url("/").split("/")[2]
            self.assertEqual(run_tool("machineproxy", "set", address)[0], 0)
            self.addCleanup(run_tool, "machineproxy", "clear")
            version, dll = ("http://korval-update.test" + p for p in (VERSION_PATH, DLL_PATH))
            for key, sent, failure in (("NEIN", 1, LOGON_NOT_GIVEN), ("JA", 2, LOGON_REFUSED)):
                with self.subTest(PROXYANMELDUNG=key):
                    proxy.clear_requests()
                    demand_logon(proxy, VERSION_PATH)
                    texts = self.run_cycle(version, dll, check_lines=False, PROXYANMELDUNG=key)
                    self.assertNotIn("Downloade DLL von der Webseite.", texts)
                    proxy.route(VERSION_PATH, "2.1.0.1")
                    demand_logon(proxy, DLL_PATH)
                    self.assertEqual(self.run_cycle(version, dll, PROXYANMELDUNG=key),
                                     [FAILED + failure])
                    paths = [r.path.replace(":80/", "/", 1) for r in proxy.requests]
                    self.assertEqual(paths, [version] * sent + [version] + [dll] * sent)
                    self.assert_nothing_stopped()
            self.offer(proxy, "v2_1_0_1")
            lines = self.run_cycle(version, dll, PROXYANMELDUNG="JA")
        self.assertEqual(lines[0], "Halte IIS an.")
        self.assertEqual(read(self.target), read(fixture_dll("v2_1_0_1")))

    def test_the_version_fetch_ends_at_its_overall_deadline(self):
        with make_server("http") as server:
            server.route(VERSION_PATH, writer=trickling_version)
            started = time.time()
            code, out = run_tool("httpfetch", "--total-ms", "4000", server.url(VERSION_PATH),
                                 timeout=120)
            elapsed = time.time() - started
        self.assertEqual(code, 1, out)
        self.assertTrue(out.startswith("ERROR Fehler beim Lesen der Daten: (12002)"), out)
        self.assertLess(elapsed, 30, "a byte a second does not keep the fetch alive")


if __name__ == "__main__":
    unittest.main(verbosity=2)
