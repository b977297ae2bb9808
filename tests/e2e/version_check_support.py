"""Shared set-up of the version-check tests under Wine: DLL fixtures, the test CA, servers."""

import os
import socket
import sys

from korval_e2e import BUILD_DIR, SOURCE_DIR, run_tool_process, windows_path

FIXTURES_DIR = os.path.join(BUILD_DIR, "fixtures")
CERTS_DIR = os.path.join(BUILD_DIR, "test-certs")
# How long a tool may run: longer than the HTTP client's own 60-second timeouts.
TOOL_TIMEOUT_S = 120

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "server"))
from update_server import UpdateServer, make_certificates  # noqa: E402


def fixture_dll(name):
    return os.path.join(FIXTURES_DIR, name, "KorvalAppServer.dll")


_certificates = {}


def certificates():
    """The trusted test CA (added to the prefix's Root store once per run) and an untrusted one.

    Returns {"trusted": paths, "untrusted": paths} as make_certificates gives them.
    """
    if not _certificates:
        trusted = make_certificates(CERTS_DIR, "trusted")
        untrusted = make_certificates(CERTS_DIR, "untrusted")
        result = run_tool_process("trustca", windows_path(trusted["ca_der"]),
                                  timeout=TOOL_TIMEOUT_S)
        if result.returncode != 0:
            raise RuntimeError("trustca failed: %r" % result.stderr)
        _certificates.update(trusted=trusted, untrusted=untrusted)
    return _certificates


def make_server(scheme, trusted=True):
    """A started-on-demand UpdateServer for "http" or "https" (use it with `with`)."""
    if scheme == "http":
        return UpdateServer()
    paths = certificates()["trusted" if trusted else "untrusted"]
    return UpdateServer(https=True, certfile=paths["cert"], keyfile=paths["key"])


def closed_port():
    """A port on 127.0.0.1 that nothing listens on."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]
