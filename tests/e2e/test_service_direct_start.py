"""Started without a registration switch and not by the Service Control Manager (a double-click):
one event-log entry with the platform's text for the dispatcher's failure, no window, no message
box, and the process ends."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from korval_e2e import (ServiceTestCase, event_log_entries, run_with_boxes,  # noqa: E402
                        service_status)

# Wine's text for ERROR_FAILED_SERVICE_CONTROLLER_CONNECT (1063), its trailing full stop removed.
DISPATCHER_FAILURE_TEXT = "Service controller connect failed"


class DirectStartTest(ServiceTestCase):
    def test_no_switch_writes_one_entry_and_ends(self):
        # Not a service: its event-log entries appear in its own Wine debug output. Wine lets
        # the dispatcher fail only after 10 s, so two runs cover the cases.
        # Words without "/" or "-" are no switches; anything else unknown ends with exit code 87
        # (test_service_registration).
        for arguments in ([], ["install", "silent"]):
            with self.subTest(arguments=arguments):
                result = self.folder.run(*arguments, timeout=60,
                                         env={"WINEDEBUG": "-all,err+eventlog"})
                self.assertEqual(result.returncode, 0)
                entries = event_log_entries(result.stderr.decode("utf-8", "replace"))
                self.assertEqual(entries, [DISPATCHER_FAILURE_TEXT])
                self.assertIsNone(service_status(), "a non-switch registered the service")

    def test_no_window_and_no_box(self):
        # Under Xvfb, on a desktop of its own, a box would show and be caught.
        result = run_with_boxes(self.folder.exe_windows, timeout_s=60)
        self.assertEqual(result, {"boxes": [], "exitCode": 0, "timedOut": False})


if __name__ == "__main__":
    unittest.main(verbosity=2)
