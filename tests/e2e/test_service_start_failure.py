"""A configuration value that does not convert makes the start fail: the exact event-log entry,
the service ends stopped, and the run log is untouched."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from korval_e2e import (RUNNING, STOPPED, EventLog, ServiceTestCase, control_service,  # noqa: E402
                        read_bytes, service_status, start_service, wait_state)

OLD_RUN_LOG = b"1/1/2020 1:00:00 AM: Service gestartet.\r\n"


class StartFailureTest(ServiceTestCase):
    def setUp(self):
        super().setUp()
        self.logs, self.logs_windows = self.folder.subfolder("Protokolle")
        self.run_log = os.path.join(self.logs, "Protokoll.txt")
        with open(self.run_log, "wb") as log:
            log.write(OLD_RUN_LOG)

    def start_with(self, ini):
        self.folder.write_ini(ini)
        self.assertEqual(self.folder.run("/INSTALL", "/SILENT").returncode, 0)
        events = EventLog()
        start_service()
        status = wait_state(STOPPED)
        return status, events.wait_for(1)

    def test_a_bad_update_interval_fails_the_start(self):
        status, entries = self.start_with(
            {"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows, "UPDATEINTERVALL": "abc"}})
        self.assertEqual(entries, ["Service fehlgeschlagen bei start:'abc' ist kein gültiger "
                                   "Integerwert für Typ 'Integer'"])
        self.assertEqual(status["state"], STOPPED)
        # ERROR_SERVICE_SPECIFIC_ERROR with code 1: Windows records the failure (7024) and runs
        # the recovery actions.
        self.assertEqual((status["exit"], status["specific"]), (1066, 1))
        self.assertEqual(read_bytes(self.run_log), OLD_RUN_LOG)

    def test_a_bad_test_mode_flag_fails_the_start(self):
        status, entries = self.start_with(
            {"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows},
             "ENTWICKLUNG": {"Testmodus": "ja"}})
        self.assertEqual(entries,
                         ["Service fehlgeschlagen bei start:'ja' ist kein gültiger boolescher Wert"])
        self.assertEqual(read_bytes(self.run_log), OLD_RUN_LOG)

    def test_a_signer_key_that_is_no_digest_list_fails_the_start(self):
        status, entries = self.start_with(
            {"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows},
             "ABSICHERUNG": {"SIGNATURSCHLUESSEL": "a1b2c3; " + "0" * 64}})
        self.assertEqual(entries, ["Service fehlgeschlagen bei start:Der Wert von "
                                   "SIGNATURSCHLUESSEL ist ungültig: \"a1b2c3\" ist kein "
                                   "SHA-256-Wert aus 64 Hexadezimalziffern (mehrere Werte durch "
                                   "\";\" trennen)"])
        self.assertEqual(status["state"], STOPPED)
        self.assertEqual(read_bytes(self.run_log), OLD_RUN_LOG)

    def test_the_mended_file_starts_at_the_next_attempt(self):
        self.start_with({"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows,
                                           "UPDATEINTERVALL": "12h"}})
        self.folder.write_ini({"VERZEICHNISSE": {"PROTOKOLLPFAD": self.logs_windows,
                                                 "UPDATEINTERVALL": "12"}})
        start_service()
        wait_state(RUNNING)
        self.assertTrue(read_bytes(self.run_log).endswith(b": Service gestartet.\r\n"))
        control_service(1)
        wait_state(STOPPED)
        self.assertEqual(service_status()["state"], STOPPED)


if __name__ == "__main__":
    unittest.main(verbosity=2)
