"""The registration switches' message boxes, shown for real under Xvfb: their texts, icons and
the exit codes. Every box is answered with OK by the test helper; none is left waiting."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from korval_e2e import (DISPLAY_NAME, ServiceTestCase, run_with_boxes, service_config,  # noqa: E402
                        service_status)

CAPTION = "KORVAL_Update_Service"
# Wine's texts for the two error codes, trimmed of their trailing full stop.
NOT_EXISTING = "Systemfehler.  Code: 1060.\r\nService does not exist"
EXISTING = "Systemfehler.  Code: 1073.\r\nService exists"


def box(text, icon):
    return {"caption": CAPTION, "text": text, "icon": icon}


def install_failed(message):
    return 'Service "%s" konnte nicht installiert werden; Fehler: "%s"' % (DISPLAY_NAME, message)


def uninstall_failed(message):
    return 'Service "%s" konnte nicht deinstalliert werden; Fehler: "%s"' % (DISPLAY_NAME, message)


class MessageBoxTest(ServiceTestCase):
    def run_exe(self, *switches):
        result = run_with_boxes(self.folder.exe_windows, *switches, timeout_s=60)
        self.assertFalse(result["timedOut"], result)
        return result["boxes"], result["exitCode"]

    def test_every_outcome_shows_its_box(self):
        boxes, code = self.run_exe("/INSTALL")
        self.assertEqual((boxes, code), ([box("Service erfolgreich installiert", "information")], 0))
        self.assertIsNotNone(service_config())

        boxes, code = self.run_exe("/INSTALL")
        self.assertEqual((boxes, code), ([box(install_failed(EXISTING), "error")], 1073))

        boxes, code = self.run_exe("/UNINSTALL")
        self.assertEqual((boxes, code),
                         ([box("Service erfolgreich deinstalliert", "information")], 0))
        self.assertIsNone(service_status())

        boxes, code = self.run_exe("/UNINSTALL")
        self.assertEqual((boxes, code), ([box(uninstall_failed(NOT_EXISTING), "error")], 1060))

    def test_silent_hides_success_only(self):
        self.assertEqual(self.run_exe("/install", "/silent"), ([], 0))
        self.assertEqual(self.run_exe("/install", "/silent"),
                         ([box(install_failed(EXISTING), "error")], 1073))
        self.assertEqual(self.run_exe("/uninstall", "/silent"), ([], 0))
        self.assertEqual(self.run_exe("/uninstall", "/silent"),
                         ([box(uninstall_failed(NOT_EXISTING), "error")], 1060))


if __name__ == "__main__":
    unittest.main(verbosity=2)
