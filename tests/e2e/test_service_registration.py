"""Registration and removal with the command-line switches, against Wine's Service Control
Manager: the exact registration data, the description value, and the exit codes."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from korval_e2e import (DISPLAY_NAME, RUNNING, SERVICE_NAME, SOURCE_DIR, STOPPED, TOOLS_DIR,  # noqa: E402
                        OUTCOME_WINEDEBUG, ProgramFolder, reg_query, remove_service_if_present,
                        reported_events, run_tool, service_config, service_status, start_service,
                        wait_state)

SERVICE_KEY = r"HKLM\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE_NAME
EVENT_SOURCES = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application" + "\\"

# The platform's texts are Wine's; the exit status is the low byte of the Windows exit code.
ERROR_SERVICE_DOES_NOT_EXIST = 1060
ERROR_SERVICE_EXISTS = 1073


def expected_config(binary):
    return {"type": "16", "start": "2", "error": "1", "binary": binary, "group": "", "tag": "0",
            "dependencies": "", "account": "LocalSystem", "display": DISPLAY_NAME}


class RegistrationTest(unittest.TestCase):
    def setUp(self):
        remove_service_if_present()
        self.folders = []

    def tearDown(self):
        remove_service_if_present()
        for folder in self.folders:
            folder.__exit__(None, None, None)

    def folder(self, name_prefix="korval e2e "):
        folder = ProgramFolder(name_prefix)
        self.folders.append(folder)
        return folder

    def test_install_silent_from_a_folder_with_a_blank_registers_the_exact_data(self):
        folder = self.folder()
        self.assertIn(" ", folder.exe_windows)
        result = folder.run("/INSTALL", "/SILENT")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(service_config(), expected_config('"%s"' % folder.exe_windows))
        values = reg_query(SERVICE_KEY)
        self.assertEqual(values["Description"], ("REG_SZ", DISPLAY_NAME))
        self.assertEqual(values["ImagePath"], ("REG_SZ", '"%s"' % folder.exe_windows))
        self.assertEqual(service_status()["state"], STOPPED)  # registered, not started

    def test_install_registers_both_event_sources_and_uninstall_removes_them(self):
        folder = self.folder()
        self.assertEqual(folder.run("/INSTALL", "/SILENT").returncode, 0)
        for source in (SERVICE_NAME, "KORVAL_Update_Service.exe"):
            with self.subTest(source=source):
                self.assertEqual(reg_query(EVENT_SOURCES + source), {
                    "EventMessageFile": ("REG_EXPAND_SZ", folder.exe_windows),
                    "TypesSupported": ("REG_DWORD", "0x7")})
        self.assertEqual(folder.run("/UNINSTALL", "/SILENT").returncode, 0)
        for source in (SERVICE_NAME, "KORVAL_Update_Service.exe"):
            self.assertIsNone(reg_query(EVENT_SOURCES + source), source)

    def test_the_message_file_shows_the_entry_text_alone(self):
        folder = self.folder()
        text = "Service fehlgeschlagen bei start:'abc' ist kein gültiger Integerwert für Typ " \
               "'Integer'"
        code, out = run_tool("eventmessage", folder.exe_windows, text)
        self.assertEqual(code, 0, out)
        self.assertEqual(out, text + "\r\n")

    def test_a_path_without_a_blank_is_registered_as_it_is(self):
        folder = self.folder("korval_e2e_")
        self.assertNotIn(" ", folder.exe_windows)
        self.assertEqual(folder.run("-install", "-silent").returncode, 0)
        self.assertEqual(service_config()["binary"], folder.exe_windows)

    def test_switch_forms_that_register(self):
        folder = self.folder()
        for switches in (["/install", "/silent"], ["-INSTALL", "/SILENT"],
                         ["/Install", "-Silent"], ["/silent", "/install", "/uninstall"]):
            with self.subTest(switches=switches):
                self.assertEqual(folder.run(*switches).returncode, 0)
                self.assertIsNotNone(service_config(), "not registered")
                self.assertEqual(folder.run("/uninstall", "/silent").returncode, 0)
                self.assertIsNone(service_status(), "not removed")

    def test_uninstall_removes_the_service_and_its_key(self):
        folder = self.folder()
        self.assertEqual(folder.run("/INSTALL", "/SILENT").returncode, 0)
        result = folder.run("/UNINSTALL", "/SILENT")
        self.assertEqual(result.returncode, 0)
        self.assertIsNone(service_status())
        self.assertIsNone(reg_query(SERVICE_KEY))

    def test_failures_end_with_the_error_code(self):
        folder = self.folder()
        result = folder.run("/UNINSTALL", "/SILENT")
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(result.returncode, ERROR_SERVICE_DOES_NOT_EXIST & 0xFF)

        self.assertEqual(folder.run("/INSTALL", "/SILENT").returncode, 0)
        result = folder.run("/INSTALL", "/SILENT")
        self.assertEqual(result.returncode, ERROR_SERVICE_EXISTS & 0xFF)
        self.assertIsNotNone(service_config(), "the failed second install removed the first")

    def test_a_mistyped_switch_prints_the_usage_and_exits_87(self):
        folder = self.folder()
        for switches in (["/INSTAL"], ["/install", "/silnet"], ["-uninstall:now"]):
            with self.subTest(switches=switches):
                result = folder.run(*switches)
                self.assertEqual(result.returncode, 87)
                self.assertIn("Unbekannter Schalter.", result.stdout.decode("cp437"))
                self.assertIsNone(service_status(), "a mistyped switch registered the service")

    def test_uninstall_stops_a_running_service_so_it_can_be_installed_again(self):
        folder = self.folder()
        self.assertEqual(folder.run("/INSTALL", "/SILENT").returncode, 0)
        start_service()
        wait_state(RUNNING)
        self.assertEqual(folder.run("/UNINSTALL", "/SILENT").returncode, 0)
        self.assertIsNone(service_status(), "marked for deletion instead of removed")
        self.assertEqual(folder.run("/INSTALL", "/SILENT").returncode, 0)
        self.assertIsNotNone(service_config())

    def test_without_a_visible_desktop_a_failure_is_printed_and_logged_not_boxed(self):
        folder = self.folder()
        nodesktop = os.path.join(TOOLS_DIR, "nodesktop.exe")
        result = folder.run_program(nodesktop, folder.exe_windows, "/UNINSTALL", "/SILENT",
                                    env=OUTCOME_WINEDEBUG)
        self.assertEqual(result.returncode, ERROR_SERVICE_DOES_NOT_EXIST & 0xFF)
        text = ('Service "%s" konnte nicht deinstalliert werden; Fehler: "Systemfehler.  Code: '
                '1060.' % DISPLAY_NAME)
        self.assertTrue(result.stdout.decode("cp437").startswith(text), result.stdout)
        events = reported_events(result.stderr.decode("utf-8", "replace"))
        self.assertEqual([(e["id"], e["type"]) for e in events], [(0, 1)])
        self.assertTrue(events[0]["strings"][0].startswith(text))

    def test_the_exe_carries_the_build_version(self):
        with open(os.path.join(SOURCE_DIR, "CMakeLists.txt")) as f:
            version = re.search(r"project\(\w+ VERSION (\d+\.\d+\.\d+)", f.read()).group(1)
        code, out = run_tool("dllversion", self.folder().exe_windows)
        self.assertEqual(out.split()[0], version + ".0")


if __name__ == "__main__":
    unittest.main(verbosity=2)
