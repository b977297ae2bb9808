"""The version check's HTTP client under Wine (WinHTTP, redirect policy, decoding), over http and
https, against the project's own update server on 127.0.0.1."""

import unittest

from korval_e2e import run_tool
from version_check_support import TOOL_TIMEOUT_S, closed_port, make_server

REQUEST_HEADERS_NEVER_SENT_FIRST = ["Accept", "Accept-Encoding", "Accept-Language",
                                    "Authorization", "Cookie"]


def fetch(url, *options):
    """(exit code, first line, rest) of httpfetch.exe for url."""
    status, output = run_tool("httpfetch", *options, url, timeout=TOOL_TIMEOUT_S)
    first, _, rest = output.partition("\n")
    return status, first, rest


class TransportTests:
    scheme = None

    def server(self):
        return make_server(self.scheme)

    def test_one_get_with_only_the_clients_own_headers(self):
        with self.server() as server:
            server.route("/KORVALAppDLLVersion.txt", "2.1.0.0")
            self.assertEqual(fetch(server.url("/KORVALAppDLLVersion.txt")),
                             (0, "OK 200", "2.1.0.0"))
            [request] = server.requests
            self.assertEqual(request.method, "GET")
            self.assertEqual(request.header("User-Agent"), "WinHttpClient/1.0")
            self.assertNotIn("korval", request.header("User-Agent").lower())
            for name in REQUEST_HEADERS_NEVER_SENT_FIRST:
                self.assertFalse(request.has_header(name), name)

    def test_body_is_inflated_whatever_the_coding(self):
        with self.server() as server:
            server.route("/gz", "2.1.0.1", encoding="gzip")
            server.route("/zz", "2.1.0.2", encoding="deflate")
            self.assertEqual(fetch(server.url("/gz")), (0, "OK 200", "2.1.0.1"))
            self.assertEqual(fetch(server.url("/zz")), (0, "OK 200", "2.1.0.2"))

    def test_five_redirects_are_followed_and_cookies_carried(self):
        with self.server() as server:
            hops = server.redirect_chain("/start", 5, "/final.txt", status=302)
            # the first hop sets a cookie; the final answer needs it
            server.redirect(hops[0], hops[1], set_cookie="sid=abc123; Path=/")
            server.route("/final.txt", "2.1.0.0", require_cookie="sid=abc123",
                         missing_cookie_body=b"cookie missing")
            self.assertEqual(fetch(server.url("/start")), (0, "OK 200", "2.1.0.0"))
            paths = [r.path for r in server.requests]
            self.assertEqual(paths, hops + ["/final.txt"])
            self.assertFalse(server.requests[0].has_header("Cookie"))
            for request in server.requests[1:]:
                self.assertEqual(request.header("Cookie"), "sid=abc123")

    def test_every_redirect_status_is_followed(self):
        with self.server() as server:
            server.route("/v.txt", "2.1.0.0")
            for status in (300, 301, 302, 303, 307, 308):
                with self.subTest(status=status):
                    server.redirect("/r%d" % status, "v.txt", status=status)
                    self.assertEqual(fetch(server.url("/r%d" % status)), (0, "OK 200", "2.1.0.0"))

    def test_the_sixth_redirect_fails(self):
        with self.server() as server:
            server.redirect_chain("/start", 6, "/final.txt", status=307)
            server.route("/final.txt", "2.1.0.0")
            self.assertEqual(fetch(server.url("/start")),
                             (1, "ERROR Maximale Anzahl von Umleitungen (5) überschritten", ""))
            self.assertEqual(len(server.requests), 6)
            self.assertNotIn("/final.txt", [r.path for r in server.requests])

    def test_a_redirect_without_location_is_final(self):
        with self.server() as server:
            server.route("/moved", "kein Ziel", status=302)
            self.assertEqual(fetch(server.url("/moved")), (0, "OK 302", "kein Ziel"))

    def test_a_404_page_is_the_answer(self):
        with self.server() as server:
            code, first, rest = fetch(server.url("/missing.txt"))
            self.assertEqual((code, first), (0, "OK 404"))
            self.assertIn("<html>", rest)

    def test_a_body_over_64_kib_is_a_read_failure(self):
        with self.server() as server:
            server.route("/exact", b"7" * 65536)
            server.route("/big", b"7" * 65537)
            server.route("/bomb", b"\0" * (8 << 20), encoding="gzip")
            code, first, rest = fetch(server.url("/exact"))
            self.assertEqual((code, first, len(rest)), (0, "OK 200", 65536))
            self.assertEqual(fetch(server.url("/big")),
                             (1, "ERROR Fehler beim Lesen der Daten: Die Antwort ist größer als "
                                 "65536 Bytes", ""))
            self.assertEqual(fetch(server.url("/bomb")),
                             (1, "ERROR Fehler beim Lesen der Daten: Die entpackte Antwort ist "
                                 "größer als 65536 Bytes", ""))

    def test_connection_refused(self):
        url = "%s://127.0.0.1:%d/v.txt" % (self.scheme, closed_port())
        self.assertEqual(fetch(url),
                         (1, "ERROR Fehler beim Senden der Daten: (12029) Es konnte keine "
                             "Verbindung mit dem Server hergestellt werden", ""))

    def test_a_url_without_scheme(self):
        self.assertEqual(fetch("127.0.0.1/v.txt"),
                         (1, 'ERROR Ungültiger URL: "127.0.0.1/v.txt"', ""))


class HttpTransportTests(TransportTests, unittest.TestCase):
    scheme = "http"


class HttpsTransportTests(TransportTests, unittest.TestCase):
    scheme = "https"

    def test_an_untrusted_certificate_is_refused_before_any_request(self):
        with make_server("https", trusted=False) as server:
            server.route("/v.txt", "2.1.0.0")
            self.assertEqual(fetch(server.url("/v.txt")),
                             (1, "ERROR Serverzertifikat ungültig oder nicht vorhanden", ""))
            self.assertEqual(server.requests, [])

    def test_the_address_matches_the_certificate_too(self):
        with self.server() as server:
            server.route("/v.txt", "2.1.0.0")
            self.assertEqual(fetch("https://127.0.0.1:%d/v.txt" % server.port),
                             (0, "OK 200", "2.1.0.0"))


class ProxyTests(unittest.TestCase):
    """Which proxy setting a request follows. Wine 8 evaluates a configuration script but ignores
    the proxy then set on the request, so only the choice itself can be seen here: a script that
    the setting names is fetched and evaluated, before any fixed proxy."""

    def test_a_configuration_script_comes_before_the_fixed_proxy(self):
        with make_server("http") as server:
            server.route("/proxy.pac", 'function FindProxyForURL(url, host) { return "DIRECT"; }',
                         content_type="application/x-ns-proxy-autoconfig")
            server.route("/v.txt", "2.1.0.0")
            pac = server.url("/proxy.pac")
            self.assertEqual(fetch(server.url("/v.txt"), "--pac", pac, "--proxy", "127.0.0.1:1"),
                             (0, "OK 200", "2.1.0.0"))
            self.assertEqual([r.path for r in server.requests], ["/proxy.pac", "/v.txt"])

    def test_a_redirect_chain_is_followed_under_a_script(self):
        with make_server("http") as server:
            server.route("/proxy.pac", 'function FindProxyForURL(url, host) { return "DIRECT"; }',
                         content_type="application/x-ns-proxy-autoconfig")
            server.redirect("/start", "/v.txt")
            server.route("/v.txt", "2.1.0.0")
            self.assertEqual(fetch(server.url("/start"), "--pac", server.url("/proxy.pac")),
                             (0, "OK 200", "2.1.0.0"))
            paths = [r.path for r in server.requests]
            self.assertEqual([p for p in paths if p != "/proxy.pac"], ["/start", "/v.txt"])
            self.assertGreaterEqual(paths.count("/proxy.pac"), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
