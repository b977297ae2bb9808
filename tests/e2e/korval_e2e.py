"""Shared helpers of the end-to-end tests: the real exe and the test tools under Wine.

Everything runs in the build tree's own Wine prefix through $KORVAL_WINE_RUN. The ctest fixture
`wine` has booted that prefix with services.exe's stderr in $KORVAL_BUILD_DIR/wine-services.log,
where event-log entries of services appear as `err:eventlog:ReportEventW L"..."` lines.
"""

import json
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = os.environ.get("KORVAL_SOURCE_DIR",
                            os.path.dirname(os.path.dirname(os.path.dirname(
                                os.path.abspath(__file__)))))
BUILD_DIR = os.environ.get("KORVAL_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "mingw"))
WINE_RUN = os.environ.get("KORVAL_WINE_RUN", os.path.join(BUILD_DIR, "wine-run.sh"))
PREFIX = os.environ.get("WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
TOOLS_DIR = os.path.join(BUILD_DIR, "tests", "tools")
EXE = os.path.join(BUILD_DIR, "src", "KORVAL_Update_Service.exe")
SERVICES_LOG = os.path.join(BUILD_DIR, "wine-services.log")

SERVICE_NAME = "KORVAL_Update_Service"
DISPLAY_NAME = "Dienst zum aktualisieren von KORVAL Inhalten."

# Service states as QueryServiceStatus reports them.
STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4
CONTINUE_PENDING, PAUSE_PENDING, PAUSED = 5, 6, 7


def windows_path(path):
    """A Linux path as Wine sees it: inside the prefix's drive_c as C:, elsewhere through Z:."""
    path = os.path.abspath(path)
    drive_c = os.path.join(os.path.abspath(PREFIX), "drive_c")
    if path == drive_c or path.startswith(drive_c + os.sep):
        return "C:" + (path[len(drive_c):].replace("/", "\\") or "\\")
    return "Z:" + path.replace("/", "\\")


def run_wine(*args, timeout=60, env=None, cwd=None):
    """Runs a Windows program under Wine, in the Linux folder cwd when given; returns the
    CompletedProcess (stdout/stderr as bytes).

    The exit status is the low byte of the Windows exit code.
    """
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run([WINE_RUN, *args], capture_output=True, timeout=timeout,
                          stdin=subprocess.DEVNULL, env=full_env, cwd=cwd)


def run_tool_process(name, *args, timeout=60):
    """Runs tests/tools/<name>.exe; returns the CompletedProcess (stdout/stderr as bytes)."""
    return run_wine(os.path.join(TOOLS_DIR, name + ".exe"), *args, timeout=timeout)


def run_tool(name, *args, timeout=60):
    """Runs tests/tools/<name>.exe; returns (exit status, stdout as text)."""
    result = run_tool_process(name, *args, timeout=timeout)
    return result.returncode, result.stdout.decode("utf-8", "replace")


# --- The service and the Service Control Manager (tests/tools/svcctl) ---

def parse_status(line):
    """ "state=4 controls=7 ..." -> {"state": 4, "controls": 7, ...}"""
    return {key: int(value) for key, value in re.findall(r"(\w+)=(\d+)", line)}


def svcctl(*args, timeout=60):
    """Runs svcctl; returns (exit status, output). Exit 2 prints "error=<code>"."""
    return run_tool("svcctl", *args, timeout=timeout)


def service_status(name=SERVICE_NAME):
    """The service's status as a dict, or None when it is not registered."""
    code, out = svcctl("status", name)
    return parse_status(out) if code == 0 else None


def service_config(name=SERVICE_NAME):
    """QueryServiceConfigW's data as a dict of texts, or None when it is not registered."""
    code, out = svcctl("config", name)
    if code != 0:
        return None
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


def wait_state(state, timeout_s=20, name=SERVICE_NAME):
    """Waits until the service reports `state`; returns its status, or raises AssertionError."""
    code, out = svcctl("wait", name, str(state), str(int(timeout_s * 1000)),
                       timeout=timeout_s + 30)
    if code != 0:
        raise AssertionError("service did not reach state %d: %s" % (state, out.strip()))
    return parse_status(out)


def start_service(name=SERVICE_NAME):
    code, out = svcctl("start", name)
    if code != 0:
        raise AssertionError("StartServiceW failed: " + out.strip())


def control_service(code, name=SERVICE_NAME):
    """ControlService(code); returns (exit status, output)."""
    return svcctl("control", name, str(code))


def remove_service_if_present(name=SERVICE_NAME):
    """Stops and deletes a service a former run left behind, and waits until it is gone."""
    status = service_status(name)
    if status is None:
        return
    if status["state"] not in (STOPPED,):
        if status["state"] != START_PENDING:
            control_service(1, name)
        try:
            wait_state(STOPPED, 20, name)
        except AssertionError:
            pass
    svcctl("delete", name)
    deadline = time.time() + 10
    while service_status(name) is not None and time.time() < deadline:
        time.sleep(0.2)


def reg_query(key):
    """`wine reg query KEY` as {value name: (type, data)}; None when the key is missing."""
    result = run_wine("reg", "query", key)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.decode("cp437", "replace").splitlines():
        match = re.match(r"^\s{4}(\S+)\s{4}(REG_\w+)\s{4}(.*)$", line)
        if match:
            values[match.group(1)] = (match.group(2), match.group(3))
    return values


# --- The event log (services.exe's stderr) ---

_WINE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t"}


def _decode_wine_string(text):
    """Undoes Wine's debugstr_w escapes: \\XXXX for non-ASCII, \\" \\\\ \\n \\r \\t."""
    def decode(match):
        escape = match.group(1)
        return chr(int(escape, 16)) if len(escape) == 4 else _WINE_ESCAPES.get(escape, escape)
    return re.sub(r"\\([0-9a-fA-F]{4}|.)", decode, text)


def event_log_entries(text):
    """The event-log texts in Wine debug output, in order."""
    entries = []
    for line in text.splitlines():
        match = re.search(r'err:eventlog:ReportEventW L"(.*)"$', line)
        if match:
            entries.append(_decode_wine_string(match.group(1)))
    return entries


# Wine stores no event, but prints every ReportEventW call: its event ID and type on the advapi
# channel ("fixme:advapi:ReportEventW (handle,0xTYPE,0xCATEGORY,0xID,sid,0xCOUNT,...)"), then each
# string on the eventlog channel (err: for errors, warn: for warnings, trace: otherwise).
OUTCOME_WINEDEBUG = {"WINEDEBUG": "-all,fixme+advapi,err+eventlog,warn+eventlog,trace+eventlog"}


def reported_events(text):
    """Every ReportEventW call in Wine debug output of OUTCOME_WINEDEBUG, in order:
    [{"id": int, "type": int, "strings": [str]}]."""
    events = []
    for line in text.splitlines():
        call = re.search(r"advapi:ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),\w+,0x(\w+),", line)
        if call:
            events.append({"type": int(call.group(1), 16), "id": int(call.group(2), 16),
                           "strings": [], "count": int(call.group(3), 16)})
            continue
        string = re.search(r'eventlog:ReportEventW L"(.*)"$', line)
        if string and events and len(events[-1]["strings"]) < events[-1]["count"]:
            events[-1]["strings"].append(_decode_wine_string(string.group(1)))
    for event in events:
        del event["count"]
    return events


class EventLog:
    """Reads the entries that services wrote to the event log after this object was made."""

    def __init__(self):
        self._offset = os.path.getsize(SERVICES_LOG) if os.path.exists(SERVICES_LOG) else 0

    def entries(self):
        if not os.path.exists(SERVICES_LOG):
            return []
        with open(SERVICES_LOG, "rb") as log:
            log.seek(self._offset)
            return event_log_entries(log.read().decode("utf-8", "replace"))

    def wait_for(self, count=1, timeout_s=10):
        """Waits until at least `count` new entries are there; returns all new entries."""
        deadline = time.time() + timeout_s
        while len(self.entries()) < count and time.time() < deadline:
            time.sleep(0.1)
        return self.entries()


# --- A program folder inside the prefix ---

class ProgramFolder:
    """A folder in the prefix's drive C (with a blank in its name) holding a copy of the exe.

    Use with `with`; the folder is removed afterwards.
    """

    def __init__(self, name_prefix="korval e2e "):
        drive_c = os.path.join(PREFIX, "drive_c")
        self.path = tempfile.mkdtemp(prefix=name_prefix, dir=drive_c)
        self.windows = windows_path(self.path)
        self.exe = os.path.join(self.path, "KORVAL_Update_Service.exe")
        self.exe_windows = self.windows + "\\KORVAL_Update_Service.exe"
        shutil.copy2(EXE, self.exe)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, *parts):
        return os.path.join(self.path, *parts)

    def subfolder(self, name):
        """Creates a folder below this one; returns (Linux path, Windows path)."""
        path = os.path.join(self.path, name)
        os.makedirs(path, exist_ok=True)
        return path, windows_path(path)

    def write_ini(self, sections, encoding="cp1252"):
        """Writes KORVAL_Update_Service.ini: {section: {key: value}} or the raw text."""
        if isinstance(sections, str):
            text = sections
        else:
            text = ""
            for section, keys in sections.items():
                text += "[%s]\r\n" % section
                for key, value in keys.items():
                    text += "%s=%s\r\n" % (key, value)
        with open(self.file("KORVAL_Update_Service.ini"), "wb") as ini:
            ini.write(text.encode(encoding))

    def run(self, *args, timeout=60, env=None, cwd=None):
        """Runs the exe copy with arguments; returns the CompletedProcess."""
        return run_wine(self.exe_windows, *args, timeout=timeout, env=env, cwd=cwd)

    def run_program(self, program, *args, timeout=60, env=None):
        """Runs another program (a test tool) with arguments; returns the CompletedProcess."""
        return run_wine(program, *args, timeout=timeout, env=env)


def read_run_log(path, encoding="cp1252"):
    """The run-log lines (without CR LF), or None when there is no file. Raises when a line
    does not end in CR LF."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as log:
        data = log.read()
    if data and not data.endswith(b"\r\n"):
        raise AssertionError("run log does not end in CR LF: %r" % data[-20:])
    return data.decode(encoding).split("\r\n")[:-1]


# --- Message boxes, for real, under Xvfb (tests/tools/boxreader) ---

def run_with_boxes(program, *args, timeout_s=60):
    """Runs a Windows program on a desktop of its own under `xvfb-run -a`, answering every
    message box it shows with OK.

    Returns {"boxes": [{"caption", "text", "icon"}], "exitCode": full Windows exit code,
    "timedOut": bool}. A program still running after timeout_s is ended.
    """
    boxreader = os.path.join(TOOLS_DIR, "boxreader.exe")
    # xvfb-run -a takes the first free display from 99 on: two test runs on one machine can pick
    # the same one, and the loser's boxes land on the other's server and hang when it ends.
    # Starting the search at a number of this process's own keeps the runs apart.
    command = ["xvfb-run", "-a", "-n", str(100 + os.getpid() % 5000), WINE_RUN, boxreader,
               "--run", str(int(timeout_s * 1000)), program, *args]
    # Files, not pipes: a Wine process that this call happens to start (and that outlives it)
    # would inherit a pipe and keep the reader waiting.
    with tempfile.TemporaryFile() as out_file, tempfile.TemporaryFile() as err_file:
        subprocess.run(command, stdout=out_file, stderr=err_file, timeout=timeout_s + 60,
                       stdin=subprocess.DEVNULL)
        out_file.seek(0)
        err_file.seek(0)
        out = out_file.read().decode("utf-8", "replace")
        err = err_file.read()
    for line in out.splitlines():
        if line.startswith("{"):
            return json.loads(line)
    raise AssertionError("boxreader gave no result: %r %r" % (out, err[-2000:]))


class ServiceTestCase(unittest.TestCase):
    """A test of the exe in a fresh ProgramFolder (self.folder), with no service registered
    before it starts or after it ends."""

    def setUp(self):
        remove_service_if_present()
        self.folder = ProgramFolder()

    def tearDown(self):
        remove_service_if_present()
        self.folder.__exit__(None, None, None)


def read_bytes(path):
    """A file's bytes, or None when it does not exist."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        return f.read()


# --- The appcmd stand-in (tests/tools/appcmd) in the prefix's system32\inetsrv ---

INETSRV = os.path.join(PREFIX, "drive_c", "windows", "system32", "inetsrv")
APPCMD_RECORD = os.path.join(INETSRV, "appcmd-record.txt")
APPCMD_STOP_DELAY = os.path.join(INETSRV, "appcmd-stop-delay-ms.txt")
APPCMD_FAIL_START = os.path.join(INETSRV, "appcmd-fail-start.txt")


def install_appcmd(stop_delay_ms=0, failing_starts=0):
    """Puts the stand-in where cmd.exe finds inetsrv\\appcmd, with an empty record; its stops take
    stop_delay_ms, and its next failing_starts starts fail with exit code 1."""
    os.makedirs(INETSRV, exist_ok=True)
    shutil.copyfile(os.path.join(TOOLS_DIR, "appcmd.exe"), os.path.join(INETSRV, "appcmd.exe"))
    for path in (APPCMD_RECORD, APPCMD_STOP_DELAY, APPCMD_FAIL_START):
        if os.path.exists(path):
            os.remove(path)
    for path, value in ((APPCMD_STOP_DELAY, stop_delay_ms), (APPCMD_FAIL_START, failing_starts)):
        if value:
            with open(path, "w") as f:
                f.write(str(value))


def appcmd_calls():
    """The calls the stand-in recorded, in order: {"start_ms", "end_ms", "args", "raw"}."""
    if not os.path.exists(APPCMD_RECORD):
        return []
    calls = []
    with open(APPCMD_RECORD, encoding="utf-8") as f:
        for line in f.read().splitlines():
            head, raw = line.split(" | ", 1)
            start, end = head.split(" ")[:2]
            calls.append({"start_ms": int(start), "end_ms": int(end),
                          "args": re.findall(r"\[([^\]]*)\]", head), "raw": raw,
                          "failed": head.endswith(" FAILED")})
    return calls


def wait_for_appcmd_calls(count, timeout_s=30):
    """The record once it holds count calls (the commands run in processes of their own)."""
    deadline = time.time() + timeout_s
    while True:
        calls = appcmd_calls()
        if len(calls) >= count or time.time() > deadline:
            return calls
        time.sleep(0.2)
