"""The Windows Installer package under Wine: install, an in-place major upgrade to a package of a
higher version that keeps the administrator's INI and the run log, and removal.

What Wine cannot prove: it writes the service's path unquoted, runs no ICE validation, stores no
recovery actions, shows no Event Viewer, and runs everything as one administrator, so no managed
installation by a standard user; the registry values, the service and the tables are checked."""

import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from korval_e2e import (BUILD_DIR, DISPLAY_NAME, PREFIX, RUNNING, SERVICE_NAME, SOURCE_DIR,
                        read_bytes,
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


def ini_values(path):
    """The live keys of an INI file: {section: {key: value}}; comments left out."""
    values, section = {}, None
    with open(path, encoding="cp1252") as f:
        for line in f.read().splitlines():
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = values.setdefault(line[1:-1], {})
            elif line and not line.startswith(";") and "=" in line and section is not None:
                key, _, value = line.partition("=")
                section[key.strip()] = value.strip()
    return values


def msiexec(*args):
    return run_wine("msiexec", *args, "/qn", timeout=300).returncode


def msi_table(package, table):
    """The rows of one table of a package, as lists of column values."""
    out = subprocess.run(["msiinfo", "export", package, table], capture_output=True,
                         check=True).stdout.decode()
    return [line.split("\t") for line in out.split("\r\n")[3:] if line]


# The per-site properties the package writes into a new INI.
INI_PROPERTIES = sorted(row[5][1:-1] for row in msi_table(PACKAGE, "IniFile"))


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
        # The sample, with the defaults of the per-site properties written in.
        self.assertEqual(ini_values(ini)["VERZEICHNISSE"]["IISSITENAME"], "Default Web Site")
        self.assertEqual(ini_values(ini)["URLS"]["VersionsNr"],
                         "https://update.korval.de/KORVALAppDLLVersion.txt")
        with open(SAMPLE_INI, encoding="cp1252") as sample, open(ini, encoding="cp1252") as f:
            installed = f.read()
            for line in sample.read().splitlines():
                self.assertIn(line, installed)
        self.assert_registered()
        # The data folders of the guide, with the service's protected access list.
        self.assertTrue(os.path.isdir(os.path.join(PREFIX, "drive_c", "ProgramData", "KORVAL",
                                                   "Protokolle")))
        self.assertEqual(sorted((row[1], row[3]) for row in msi_table(PACKAGE, "MsiLockPermissionsEx")),
                         [("KORVALDATEN", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"),
                          ("KORVALPROTOKOLLE", "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")])
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

    def test_properties_reach_a_new_ini_and_leave_an_existing_one_alone(self):
        site = r"C:\inetpub\korval\bin"
        self.assertEqual(msiexec("/i", windows_path(PACKAGE), "IISSITENAME=KORVAL Shop",
                                 "IISAPPPOOL=KorvalPool", "DLLPFAD1=" + site,
                                 "DLLPFAD5=D:\\zweite\\bin",
                                 "VERSIONSNR=https://127.0.0.1:1/v.txt",
                                 "STATUSSEITE=http://localhost/status"), 0)
        ini = os.path.join(INSTALL_DIR, "KORVAL_Update_Service.ini")
        values = ini_values(ini)
        self.assertEqual({k: values["VERZEICHNISSE"][k] for k in
                          ("IISSITENAME", "IISAPPPOOL", "DLLPFAD1", "DLLPFAD5")},
                         {"IISSITENAME": "KORVAL Shop", "IISAPPPOOL": "KorvalPool",
                          "DLLPFAD1": site, "DLLPFAD5": "D:\\zweite\\bin"})
        self.assertEqual(values["URLS"]["VersionsNr"], "https://127.0.0.1:1/v.txt")
        self.assertEqual(values["ABSICHERUNG"]["STATUSSEITE"], "http://localhost/status")
        # The service started with them: its status names the configured targets.
        wait_state(RUNNING, 30)
        status_file = os.path.join(INSTALL_DIR, "Status.json")
        deadline = time.time() + 20
        while not os.path.exists(status_file) and time.time() < deadline:
            time.sleep(0.2)
        with open(status_file, encoding="utf-8") as f:
            self.assertEqual([z["pfad"] for z in json.load(f)["ziele"]],
                             [site + "\\KorvalAppServer.dll", "D:\\zweite\\bin\\KorvalAppServer.dll"])

        before = read_bytes(ini)
        self.assertEqual(msiexec("/x", windows_path(PACKAGE)), 0)
        self.assertEqual(msiexec("/i", windows_path(PACKAGE), "IISSITENAME=Andere Site",
                                 "DLLPFAD1=C:\\anders"), 0)
        self.assertEqual(read_bytes(ini), before, "the package changed an existing INI")

    def test_a_property_with_a_line_break_is_refused_before_the_ini_is_written(self):
        ini = os.path.join(INSTALL_DIR, "KORVAL_Update_Service.ini")
        # Exit status 67: the low byte of 1603, the installation failed.
        for prop, value in (("IISSITENAME", "Shop\r\n[URLS]\r\nVersionsNr=http://127.0.0.1:1/v"),
                            ("DLLPFAD5", "C:\\inetpub\\bin\n"), ("SIGNATURSCHLUESSEL", "\r")):
            with self.subTest(prop=prop):
                self.assertEqual(msiexec("/i", windows_path(PACKAGE), prop + "=" + value), 67)
                self.assertFalse(os.path.exists(ini), "the refused package created the INI")
                self.assertIsNone(service_status())
                self.assertIsNone(reg_query(UNINSTALL_KEY + product_code(PACKAGE)))
        # Every property the package writes is checked, and the check is no command-line switch.
        conditions = [row[0] for row in msi_table(PACKAGE, "LaunchCondition")]
        for prop in INI_PROPERTIES:
            self.assertIn("NOT (%s >< KorvalZeichenCR OR %s >< KorvalZeichenLF)" % (prop, prop),
                          conditions)
        properties = dict(msi_table(PACKAGE, "Property"))
        self.assertEqual((properties["KorvalZeichenCR"], properties["KorvalZeichenLF"]),
                         ("\r", "\n"))
        # An INI that is there stays as it is.
        self.assertEqual(msiexec("/i", windows_path(PACKAGE)), 0)
        before = read_bytes(ini)
        self.assertEqual(msiexec("/x", windows_path(PACKAGE)), 0)
        self.assertEqual(msiexec("/i", windows_path(PACKAGE), "STATUSSEITE=http://x/\n"), 67)
        self.assertEqual(read_bytes(ini), before)

    def test_no_per_site_property_passes_from_a_standard_user_in_a_managed_install(self):
        properties = dict(msi_table(PACKAGE, "Property"))
        self.assertNotIn("EnableUserControl", properties)
        secure = properties["SecureCustomProperties"].split(";")
        self.assertIn("IISSITENAME", INI_PROPERTIES)
        self.assertEqual(sorted(set(secure) & set(INI_PROPERTIES)), [])
        self.assertEqual(sorted(secure), ["WIX_DOWNGRADE_DETECTED", "WIX_UPGRADE_DETECTED"])

    def test_the_build_signs_exe_and_package_when_given_a_certificate(self):
        certs = os.path.join(BUILD_DIR, "fixtures", "certs")
        env = dict(os.environ, KORVAL_SIGN_PFX=os.path.join(certs, "pinned.pfx"),
                   KORVAL_SIGN_PASSWORD="korval-test")
        with tempfile.TemporaryDirectory() as work:
            for source in (os.path.join(BUILD_DIR, "src", "KORVAL_Update_Service.exe"), PACKAGE):
                copy = os.path.join(work, os.path.basename(source))
                shutil.copyfile(source, copy)
                unsigned = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                           os.path.join(certs, "ca.pem"), "-in", copy],
                                          capture_output=True)
                self.assertNotEqual(unsigned.returncode, 0, "the unsigned file verified")
                subprocess.run(["cmake", "-DFILE=" + copy, "-P",
                                os.path.join(SOURCE_DIR, "cmake", "sign.cmake")],
                               env=env, check=True, capture_output=True)
                verified = subprocess.run(["osslsigncode", "verify", "-CAfile",
                                           os.path.join(certs, "ca.pem"), "-in", copy],
                                          capture_output=True)
                self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
                self.assertIn(b"KORVAL Test Signer pinned", verified.stdout)
                self.assertEqual(set(os.listdir(work)) - {"KORVAL_Update_Service.exe",
                                                          "KORVAL_Update_Service.msi"}, set(),
                                 "the password or the unsigned copy stayed behind")

    def test_the_signing_password_lies_only_in_a_private_folder_removed_also_on_failure(self):
        # A stand-in for osslsigncode notes what it finds behind -readpass and exits with FAKE_EXIT.
        with tempfile.TemporaryDirectory() as work:
            tools, tmp, seen = (os.path.join(work, n) for n in ("bin", "tmp", "seen.json"))
            os.mkdir(tools)
            os.mkdir(tmp)
            fake = os.path.join(tools, "osslsigncode")
            with open(fake, "w") as f:
                f.write("#!/usr/bin/env python3\nimport json, os, sys\n"
                        "p = sys.argv[sys.argv.index('-readpass') + 1]\n"
                        "json.dump([os.path.dirname(p), os.stat(os.path.dirname(p)).st_mode & 0o777,"
                        " os.stat(p).st_mode & 0o777, open(p).read()], open(%r, 'w'))\n"
                        "a = sys.argv\nopen(a[a.index('-out') + 1], 'w').close()\n"
                        "sys.exit(int(os.environ['FAKE_EXIT']))\n" % seen)
            os.chmod(fake, 0o755)
            for exit_code in (0, 1):
                env = dict(os.environ, KORVAL_SIGN_PFX="/nirgends.pfx", FAKE_EXIT=str(exit_code),
                           KORVAL_SIGN_PASSWORD="geheim \u00e4", TMPDIR=tmp,
                           PATH=tools + os.pathsep + os.environ["PATH"])
                result = subprocess.run(["cmake", "-DFILE=" + os.path.join(work, "f.exe"), "-P",
                                         os.path.join(SOURCE_DIR, "cmake", "sign.cmake")],
                                        env=env, capture_output=True)
                self.assertEqual(result.returncode != 0, exit_code != 0, result.stderr)
                with open(seen) as f:
                    folder, folder_mode, file_mode, password = json.load(f)
                self.assertEqual((os.path.dirname(folder), folder_mode, file_mode, password),
                                 (tmp, 0o700, 0o600, "geheim \u00e4"))
                self.assertEqual(os.listdir(tmp), [], "the password's folder stayed behind")
                self.assertEqual(sorted(set(os.listdir(work)) - {"f.exe"}),
                                 ["bin", "seen.json", "tmp"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
