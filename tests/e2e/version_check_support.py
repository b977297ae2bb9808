"""Shared set-up of the version-check tests under Wine: paths, tools, the test CA, servers."""

import os
import socket
import subprocess
import sys

SOURCE_DIR = os.environ.get("KORVAL_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(
                                os.path.abspath(__file__)))))
BUILD_DIR = os.environ.get("KORVAL_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "mingw"))
WINE_RUN = os.environ.get("KORVAL_WINE_RUN", os.path.join(BUILD_DIR, "wine-run.sh"))
TOOLS_DIR = os.path.join(BUILD_DIR, "tests", "tools")
FIXTURES_DIR = os.path.join(BUILD_DIR, "fixtures")
CERTS_DIR = os.path.join(BUILD_DIR, "test-certs")

sys.path.insert(0, os.path.join(SOURCE_DIR, "tests", "server"))
from update_server import UpdateServer, make_certificates  # noqa: E402


def windows_path(path):
    """A Linux path as Wine sees it through its Z: drive."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_tool(name, *args, timeout=120):
    """Runs tests/tools/<name>.exe under Wine; returns the CompletedProcess (bytes)."""
    exe = os.path.join(TOOLS_DIR, name + ".exe")
    return subprocess.run([WINE_RUN, exe, *args], capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)


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
        result = run_tool("trustca", windows_path(trusted["ca_der"]))
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
