"""The Windows Installer package under Wine: install, an in-place major upgrade to a package of a
higher version that keeps the administrator's INI and the run log, and removal.

What Wine cannot prove: it writes the service's path unquoted, runs no ICE validation, stores no
recovery actions, and shows no Event Viewer; the registry values and the service are checked."""

import os
import shutil
import subprocess
import unittest

from korval_e2e import (BUILD_DIR, DISPLAY_NAME, PREFIX, RUNNING, SERVICE_NAME, read_bytes,
                        reg_query, remove_service_if_present, run_wine, service_config,
                        service_status, wait_state, windows_path)

PACKAGE = os.path.join(BUILD_DIR, "KORVAL_Update_Service.msi")
UPGRADE = os.path.join(BUILD_DIR, "tests", "msi", "KORVAL_Update_Service-upgrade.msi")
INSTALL_DIR = os.path.join(PREFIX, "drive_c", "Program Files", "KORVAL Update Service")
INSTALL_DIR_WINDOWS = r"C:\Program Files\KORVAL Update Service"
EXE_WINDOWS = INSTALL_DIR_WINDOWS + r"\KORVAL_Update_Service.exe"
SAMPLE_INI = os.path.join(os.environ.get("KORVAL_SOURCE_DIR", ""), "installer",
                          "KORVAL_Update_Service.ini")
EVENT_SOURCES = r"HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application" + "\\"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall" + "\\"


def msiexec(*args):
    return run_wine("msiexec", *args, "/qn", timeout=300).returncode


def product_code(package):
    out = subprocess.run(["msiinfo", "export", package, "Property"], capture_output=True,
                         check=True).stdout.decode()
    for line in out.splitlines():
        name, _, value = line.partition("\t")
        if name == "ProductCode":
            return value.strip()
    raise AssertionError("no ProductCode in " + package)


class MsiPackageTest(unittest.TestCase):
    def setUp(self):
        self.clean()

    def tearDown(self):
        self.clean()

    def clean(self):
        """No package of ours installed, no service, no program folder."""
        for package in (UPGRADE, PACKAGE):
            if reg_query(UNINSTALL_KEY + product_code(package)) is not None:
                msiexec("/x", windows_path(package))
        remove_service_if_present()
        shutil.rmtree(INSTALL_DIR, ignore_errors=True)

    def assert_registered(self):
        config = service_config()
        self.assertEqual({k: config[k] for k in ("type", "start", "error", "account", "display")},
                         {"type": "16", "start": "2", "error": "1", "account": "LocalSystem",
                          "display": DISPLAY_NAME})
        # Windows quotes the path; Wine's msi writes it as it is.
        self.assertIn(config["binary"], (EXE_WINDOWS, '"%s"' % EXE_WINDOWS))
        wait_state(RUNNING, 30)
        service_key = r"HKLM\SYSTEM\CurrentControlSet\Services" + "\\" + SERVICE_NAME
        self.assertEqual(reg_query(service_key)["Description"], ("REG_SZ", DISPLAY_NAME))
        for source in (SERVICE_NAME, "KORVAL_Update_Service.exe"):
            self.assertEqual(reg_query(EVENT_SOURCES + source),
                             {"EventMessageFile": ("REG_EXPAND_SZ", EXE_WINDOWS),
                              "TypesSupported": ("REG_DWORD", "0x7")}, source)

    def test_install_upgrade_keeps_the_ini_and_run_log_and_removal_cleans_up(self):
        self.assertEqual(msiexec("/i", windows_path(PACKAGE)), 0)
        ini = os.path.join(INSTALL_DIR, "KORVAL_Update_Service.ini")
        self.assertEqual(read_bytes(ini), read_bytes(SAMPLE_INI))
        self.assert_registered()
        run_log = os.path.join(INSTALL_DIR, "Protokoll.txt")
        self.assertIn(b"Service gestartet.", read_bytes(run_log) or b"")

        admin_ini = b"[VERZEICHNISSE]\r\nIISSITENAME=Shop\r\n[ENTWICKLUNG]\r\nTestmodus=0\r\n"
        with open(ini, "wb") as f:
            f.write(admin_ini)
        self.assertEqual(msiexec("/i", windows_path(UPGRADE)), 0)
        self.assertEqual(read_bytes(ini), admin_ini, "the upgrade overwrote the administrator's INI")
        self.assertIsNotNone(read_bytes(run_log), "the upgrade removed the run log")
        self.assert_registered()
        # In place: the older product is gone, the newer one registered in its stead.
        self.assertIsNone(reg_query(UNINSTALL_KEY + product_code(PACKAGE)))
        self.assertIsNotNone(reg_query(UNINSTALL_KEY + product_code(UPGRADE)))

        self.assertEqual(msiexec("/x", windows_path(UPGRADE)), 0)
        self.assertIsNone(service_status())
        self.assertFalse(os.path.exists(os.path.join(INSTALL_DIR, "KORVAL_Update_Service.exe")))
        for source in (SERVICE_NAME, "KORVAL_Update_Service.exe"):
            self.assertIsNone(reg_query(EVENT_SOURCES + source), source)
        self.assertEqual(read_bytes(ini), admin_ini, "the administrator's INI stays behind")
        self.assertIsNone(reg_query(UNINSTALL_KEY + product_code(UPGRADE)))


if __name__ == "__main__":
    unittest.main(verbosity=2)
