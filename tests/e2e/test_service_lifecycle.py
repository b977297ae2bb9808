"""The service under Wine's Service Control Manager: start, the run log's start line, pause,
continue, interrogate, a code of the service's own, and stop, with every reported status."""

import datetime
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from korval_e2e import (PAUSED, RUNNING, STOPPED, EventLog, ServiceTestCase,  # noqa: E402
                        control_service, read_bytes, read_run_log, service_status, start_service,
                        wait_state)


def settled(state, controls=7):
    """The full status of a service that has settled in `state`."""
    return {"state": state, "controls": controls, "checkpoint": 0, "waithint": 5000, "type": 16,
            "exit": 0, "specific": 0}


class LifecycleTest(ServiceTestCase):
    def setUp(self):
        super().setUp()
        self.logs, self.logs_windows = self.folder.subfolder("Protokolle")
        self.run_log = os.path.join(self.logs, "Protokoll.txt")

    def install(self, ini):
        self.folder.write_ini(ini)
        result = self.folder.run("/INSTALL", "/SILENT")
        self.assertEqual(result.returncode, 0, result.stderr)

    def assert_start_line(self, text, before, after):
        lines = read_run_log(self.run_log)
        self.assertIsNotNone(lines, "no run log in the configured folder")
        self.assertEqual(len(lines), 1, lines)
        match = re.match(r"^(\d{1,2})/(\d{1,2})/(\d{4}) (\d{1,2}):(\d{2}):(\d{2}) ([AP]M): (.*)$",
                         lines[0])
        self.assertIsNotNone(match, "not a time stamp in the prefix's regional format: %r"
                             % lines[0])
        month, day, year, hour, minute, second = (int(g) for g in match.groups()[:6])
        hour = hour % 12 + (12 if match.group(7) == "PM" else 0)
        stamp = datetime.datetime(year, month, day, hour, minute, second)
        self.assertTrue(before - datetime.timedelta(seconds=2) <= stamp
                        <= after + datetime.timedelta(seconds=2), (stamp, before, after))
        self.assertEqual(match.group(8), text)

    def test_start_pause_continue_interrogate_stop(self):
        self.install({"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows}})
        events = EventLog()
        before = datetime.datetime.now().replace(microsecond=0)
        start_service()
        self.assertEqual(wait_state(RUNNING), settled(RUNNING))
        after = datetime.datetime.now()
        self.assert_start_line("Service gestartet.", before, after)
        self.assertFalse(os.path.exists(self.folder.file("Protokoll.txt")))
        log_after_start = read_bytes(self.run_log)

        control_service(2)
        self.assertEqual(wait_state(PAUSED), settled(PAUSED))
        code, out = control_service(4)
        self.assertEqual(code, 0, out)
        time.sleep(0.5)
        self.assertEqual(service_status(), settled(PAUSED))  # interrogate keeps it paused

        control_service(3)
        self.assertEqual(wait_state(RUNNING), settled(RUNNING))
        code, out = control_service(4)
        self.assertEqual(code, 0, out)
        code, out = control_service(200)  # a code of the service's own: nothing happens
        self.assertEqual(code, 0, out)
        time.sleep(0.5)
        self.assertEqual(service_status(), settled(RUNNING))

        control_service(1)
        self.assertEqual(wait_state(STOPPED), settled(STOPPED))
        self.assertEqual(read_bytes(self.run_log), log_after_start)  # stop writes nothing
        self.assertEqual(events.entries(), [])

    def test_a_stop_while_paused_stops_the_service(self):
        self.install({"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows}})
        start_service()
        wait_state(RUNNING)
        control_service(2)
        wait_state(PAUSED)
        control_service(1)
        self.assertEqual(wait_state(STOPPED), settled(STOPPED))

    def test_test_mode_writes_its_own_start_line(self):
        self.install({"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows},
                      "ENTWICKLUNG": {"Testmodus": "1"}})
        before = datetime.datetime.now().replace(microsecond=0)
        start_service()
        wait_state(RUNNING)
        self.assert_start_line("Service gestartet (Testmodus).", before, datetime.datetime.now())
        control_service(1)
        wait_state(STOPPED)

    def test_each_start_begins_the_run_log_anew_and_keeps_the_earlier_ones(self):
        self.install({"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows}})
        earliest = b"1/1/2020 1:00:00 AM: Service gestartet.\r\n"
        with open(self.run_log, "wb") as log:
            log.write(earliest)
        runs = []
        for _ in range(3):
            before = datetime.datetime.now().replace(microsecond=0)
            start_service()
            wait_state(RUNNING)
            self.assert_start_line("Service gestartet.", before, datetime.datetime.now())
            runs.append(read_bytes(self.run_log))
            control_service(1)
            wait_state(STOPPED)
        kept = [read_bytes(os.path.join(self.logs, "Protokoll.%d.txt" % n)) for n in (1, 2, 3)]
        self.assertEqual(kept, [runs[1], runs[0], earliest])
        self.assertIsNone(read_bytes(os.path.join(self.logs, "Protokoll.4.txt")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
