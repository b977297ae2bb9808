"""KORVAL_Release_Tool under Wine: keys made, a release file for a DLL of the test build and its
timestamps signed, a halt and a resume, and `pruefen` checking the folder as a host would: it
passes the files as written and refuses a changed release file, a timestamp by a foreign key,
replayed and mixed files, and a release signed by a key the host does not pin. The signatures
are also checked with openssl, a verifier that is not ours."""

import base64
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from korval_e2e import BUILD_DIR, PREFIX, run_wine, windows_path
from version_check_support import fixture_dll

TOOL = os.path.join(BUILD_DIR, "publisher", "KORVAL_Release_Tool.exe")
RAMP = "0:1,2:10,24:50,48:100"
DLL_URL = "https://127.0.0.1/KorvalAppServer.dll"
HOUR = 3600


def read(path):
    with open(path, "rb") as f:
        return f.read()


def payload(path):
    """The signed file's payload as a dict, and its signatures."""
    envelope = json.loads(read(path))
    return json.loads(envelope["inhalt"]), envelope["signaturen"]


def bucket(identity, version):
    """A host's place in the ramp, computed here independently of the tool."""
    digest = hashlib.sha256(("%s|%s" % (identity, version)).encode("utf-8")).digest()
    return int.from_bytes(digest[:8], "big") % 100


def host_with_bucket(version, below):
    """An identity whose place for version lies below 50 (or not)."""
    for n in range(1000):
        identity = "host-%d" % n
        if (bucket(identity, version) < 50) == below:
            return identity
    raise AssertionError("no such host")


def der_integer(value):
    value = value.lstrip(b"\0") or b"\0"
    if value[0] & 0x80:
        value = b"\0" + value
    return b"\x02" + bytes([len(value)]) + value


def openssl_verifies(public_key, message, signature, folder):
    """Whether openssl accepts the signature (base64 r||s) of message under the key (base64
    X||Y), after turning both into the DER forms it reads."""
    point = base64.b64decode(public_key)
    spki = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d03010703420004") + point
    rs = base64.b64decode(signature)
    body = der_integer(rs[:32]) + der_integer(rs[32:])
    paths = {name: os.path.join(folder, name) for name in ("key.pem", "sig.der", "msg.bin")}
    with open(paths["key.pem"], "w") as f:
        f.write("-----BEGIN PUBLIC KEY-----\n%s\n-----END PUBLIC KEY-----\n"
                % base64.b64encode(spki).decode())
    with open(paths["sig.der"], "wb") as f:
        f.write(b"\x30" + bytes([len(body)]) + body)
    with open(paths["msg.bin"], "wb") as f:
        f.write(message)
    result = subprocess.run(["openssl", "dgst", "-sha256", "-verify", paths["key.pem"],
                             "-signature", paths["sig.der"], paths["msg.bin"]],
                            capture_output=True)
    return result.returncode == 0


class ReleaseToolTest(unittest.TestCase):
    def setUp(self):
        # Inside the prefix's C: drive, with a blank in the name.
        self.path = tempfile.mkdtemp(prefix="korval release ", dir=os.path.join(PREFIX, "drive_c"))
        self.release_folder = self.file("veroeffentlicht")
        os.makedirs(self.release_folder)
        self.release_file = os.path.join(self.release_folder, "KORVAL-Release.json")
        self.timestamp_file = os.path.join(self.release_folder, "KORVAL-Zeitstempel.json")
        self.now = int(time.time())
        self.keys = {name: self.make_key(name) for name in ("release", "next", "online", "foreign")}

    def tearDown(self):
        shutil.rmtree(self.path, ignore_errors=True)

    def file(self, name):
        return os.path.join(self.path, name)

    def tool(self, *args):
        """Runs the tool; returns (exit code, printed lines). Redirected, it prints code page
        437 (the prefix's OEM code page) with CR LF."""
        result = run_wine(TOOL, *args)
        out = result.stdout.decode("cp437")
        self.assertTrue(out == "" or out.endswith("\r\n"), out)
        return result.returncode, out.split("\r\n")[:-1]

    def make_key(self, name):
        private, public = self.file(name + ".key"), self.file(name + ".pub")
        code, lines = self.tool("schluessel", windows_path(private), windows_path(public))
        self.assertEqual(code, 0, lines)
        key = read(public)
        self.assertTrue(key.endswith(b"\r\n"))
        key = key[:-2].decode("ascii")
        self.assertEqual(len(base64.b64decode(key, validate=True)), 64)
        self.assertEqual(lines, ["Privater Schlüssel: " + windows_path(private),
                                 "Öffentlicher Schlüssel: " + windows_path(public), key])
        blob = read(private)
        self.assertEqual(len(blob), 104)  # CNG's BCRYPT_ECCPRIVATE_BLOB, nothing else
        self.assertEqual(blob[:4], b"ECS2")  # BCRYPT_ECDSA_PRIVATE_P256_MAGIC
        self.assertEqual(base64.b64encode(blob[8:72]).decode(), key)
        return {"private": private, "public": public, "key": key, "secret": blob[72:]}

    def release(self, *extra, key="release", dll="v2_1_0_1"):
        return self.tool("release", windows_path(self.keys[key]["private"]),
                         windows_path(fixture_dll(dll)), DLL_URL, windows_path(self.release_folder),
                         "--rampe", RAMP, "--zeitstempelschluessel",
                         windows_path(self.keys["online"]["public"]), *extra)

    def timestamp(self, *extra, key="online", command="zeitstempel"):
        return self.tool(command, windows_path(self.keys[key]["private"]),
                         windows_path(self.release_folder), *extra)

    def check(self, *extra, keys=("release",)):
        pinned = ";".join(self.keys[k]["key"] for k in keys)
        return self.tool("pruefen", windows_path(self.release_folder), pinned, *extra)

    def assert_refused(self, result, reason):
        code, lines = result
        self.assertEqual(code, 1, lines)
        self.assertTrue(lines[-1].startswith("Abgelehnt: " + reason), lines)

    def publish(self, *extra):
        """A release 25 hours old (the ramp at 50 %) and a timestamp for it."""
        code, lines = self.release("--veroeffentlicht", str(self.now - 25 * HOUR), *extra)
        self.assertEqual(code, 0, lines)
        code, lines = self.timestamp()
        self.assertEqual(code, 0, lines)

    def test_keys_a_release_and_a_timestamp_that_pruefen_passes(self):
        # A private key is never overwritten, and never printed.
        before = read(self.keys["release"]["private"])
        code, lines = self.tool("schluessel", windows_path(self.keys["release"]["private"]),
                                windows_path(self.file("other.pub")))
        self.assertEqual(code, 1, lines)
        self.assertIn("gibt es schon", lines[-1])
        self.assertEqual(read(self.keys["release"]["private"]), before)
        self.assertFalse(os.path.exists(self.file("other.pub")))

        published = self.now - 25 * HOUR
        code, lines = self.release("--veroeffentlicht", str(published), "--zurueckgezogen",
                                   "2.1.0.0,3.0.0.0", "--weiterer-schluessel",
                                   windows_path(self.keys["next"]["private"]))
        self.assertEqual(code, 0, lines)
        printed = "\n".join(lines)
        for key in self.keys.values():
            self.assertNotIn(base64.b64encode(key["secret"]).decode(), printed)
            self.assertNotIn(key["secret"].hex(), printed)
        dll = read(fixture_dll("v2_1_0_1"))
        release, signatures = payload(self.release_file)
        self.assertEqual(release, {
            "art": "release", "sequenz": 1, "version": "2.1.0.1", "url": DLL_URL,
            "groesse": len(dll), "sha256": hashlib.sha256(dll).hexdigest(),
            "veroeffentlicht": published, "rampe": [[0, 1], [2, 10], [24, 50], [48, 100]],
            "zeitstempelschluessel": [self.keys["online"]["key"]],
            "ablauf": published + 8 * 7 * 24 * HOUR, "zurueckgezogen": ["2.1.0.0", "3.0.0.0"]})
        self.assertEqual(len(signatures), 2)
        inhalt = json.loads(read(self.release_file))["inhalt"].encode("utf-8")
        if shutil.which("openssl"):
            for key, signature in zip(("release", "next"), signatures):
                self.assertTrue(openssl_verifies(self.keys[key]["key"], inhalt, signature,
                                                 self.path), key)
            self.assertFalse(openssl_verifies(self.keys["release"]["key"], inhalt + b" ",
                                              signatures[0], self.path))
        self.assertFalse(os.path.exists(self.timestamp_file))
        self.assert_refused(self.check(), "Kein Zeitstempel")

        code, lines = self.timestamp("--ausgestellt", str(self.now - 60))
        self.assertEqual(code, 0, lines)
        timestamp, signatures = payload(self.timestamp_file)
        self.assertEqual(timestamp, {
            "art": "zeitstempel", "sequenz": 1, "releasesequenz": 1,
            "releasesha256": hashlib.sha256(read(self.release_file)).hexdigest(), "deckel": 100,
            "ausgestellt": self.now - 60, "ablauf": self.now - 60 + 24 * HOUR})
        self.assertEqual(len(signatures), 1)

        code, lines = self.check()
        self.assertEqual(code, 0, lines)
        self.assertIn("beide Dateien gültig", lines[0])
        self.assertIn("Version: 2.1.0.1", lines)
        self.assertIn("DLL: %d Bytes, SHA-256 %s" % (len(dll), hashlib.sha256(dll).hexdigest()),
                      lines)
        self.assertIn("Zurückgezogen: 2.1.0.0, 3.0.0.0", lines)
        self.assertIn("Rampe: %s; jetzt 50 %%, mit dem Deckel 50 %%" % RAMP, lines)
        # A host that pins only the next key (after a key change) takes the same files.
        self.assertEqual(self.check(keys=("next",))[0], 0)
        self.assertEqual(self.check(keys=("foreign", "next"))[0], 0)

        inside, outside = host_with_bucket("2.1.0.1", True), host_with_bucket("2.1.0.1", False)
        cases = [(inside, "2.0.0.9", "(älter)", "ja"),
                 (outside, "2.0.0.9", "(älter)",
                  "nein (Platz %d liegt nicht unter 50 %%)" % bucket(outside, "2.1.0.1")),
                 (inside, "2.1.0.1", "(nicht älter)", "nein (keine neuere Version)"),
                 (inside, "3.0.0.0", "(zurückgezogen)", "ja")]  # the only downgrade
        for identity, installed, state, decision in cases:
            code, lines = self.check("--maschine", identity, "--version", installed)
            self.assertEqual(code, 0, lines)
            self.assertEqual(lines[-3:], [
                "Rechner %s: Platz %d von 0 bis 99, freigegeben 50 %%"
                % (identity, bucket(identity, "2.1.0.1")),
                "Installiert: %s %s" % (installed, state), "Installiert jetzt: " + decision])

    def test_halt_resume_and_the_cap_carried_over(self):
        self.publish()
        inside = host_with_bucket("2.1.0.1", True)
        steps = [("anhalten", (), 0), ("zeitstempel", (), 0), ("fortsetzen", ("--deckel", "20"), 20),
                 ("zeitstempel", (), 20), ("fortsetzen", (), 100)]
        for sequence, (command, extra, cap) in enumerate(steps, start=2):
            code, lines = self.timestamp(*extra, command=command)
            self.assertEqual(code, 0, lines)
            timestamp, _ = payload(self.timestamp_file)
            self.assertEqual((timestamp["sequenz"], timestamp["deckel"]), (sequence, cap), command)
            code, lines = self.check("--maschine", inside, "--version", "2.0.0.9")
            self.assertEqual(code, 0, lines)
            self.assertIn("Rampe: %s; jetzt 50 %%, mit dem Deckel %d %%%s"
                          % (RAMP, min(cap, 50), " (angehalten)" if cap == 0 else ""), lines)
            expected = "nein (angehalten)" if cap == 0 else (
                "ja" if bucket(inside, "2.1.0.1") < min(cap, 50) else "nein (Platz")
            self.assertTrue(lines[-1].startswith("Installiert jetzt: " + expected), lines)
        # A timestamp already expired when written is refused, and nothing is written.
        before = read(self.timestamp_file)
        self.assert_refused(self.timestamp("--ausgestellt", str(self.now - 25 * HOUR)),
                            "Der Zeitstempel wäre schon beim Schreiben abgelaufen")
        self.assertEqual(read(self.timestamp_file), before)

    def test_pruefen_refuses_what_a_host_refuses(self):
        self.publish()
        good_release, good_timestamp = read(self.release_file), read(self.timestamp_file)
        self.assertEqual(self.check()[0], 0)

        # One byte of the signed payload changed: the release file's signature fails, so its
        # timestamp keys count for nothing and the timestamp by the online key is refused.
        changed = good_release.replace(b'2.1.0.1', b'2.1.0.2', 1)
        self.assertNotEqual(changed, good_release)
        with open(self.release_file, "wb") as f:
            f.write(changed)
        self.assert_refused(self.check(), "Zeitstempel: Signatur ungültig.")
        # A timestamp made for the changed file does not help.
        self.assertEqual(self.timestamp()[0], 0)
        self.assert_refused(self.check(), "Zeitstempel: Signatur ungültig.")
        # One byte outside the payload (the envelope's indentation): the signature holds, but
        # the file is not the one the timestamp bound.
        with open(self.release_file, "wb") as f:
            f.write(good_release)
        self.assertEqual(self.timestamp()[0], 0)
        self.assertEqual(self.check()[0], 0)
        with open(self.release_file, "wb") as f:
            f.write(good_release.replace(b'\n  "inhalt"', b'\n "inhalt"', 1))
        self.assertNotEqual(read(self.release_file), good_release)
        self.assert_refused(self.check(), "Releasedatei gehört nicht zum Zeitstempel: ihr "
                                          "SHA-256 ist ein anderer.")

        # A timestamp signed by a key the release file does not name.
        with open(self.release_file, "wb") as f:
            f.write(good_release)
        code, lines = self.timestamp(key="foreign")
        self.assertEqual(code, 0, lines)
        self.assertTrue(lines[0].startswith("Warnung: Dieser Schlüssel steht nicht unter den "
                                            "Zeitstempelschlüsseln"), lines)
        self.assert_refused(self.check(), "Zeitstempel: Signatur ungültig.")

        # A stale sequence: the tool refuses to publish it ...
        before = read(self.release_file)
        self.assert_refused(self.release("--sequenz", "1"),
                            "Folgenummer 1 ist nicht größer als die der vorhandenen "
                            "Releasedatei (1)")
        self.assertEqual(read(self.release_file), before)
        # ... and a host that has seen newer files refuses the old ones put back (a replay).
        code, lines = self.release("--zurueckgezogen", "2.0.0.9")
        self.assertEqual(code, 0, lines)
        self.assertEqual(payload(self.release_file)[0]["sequenz"], 2)
        self.assertEqual(self.timestamp()[0], 0)
        sequences = payload(self.timestamp_file)[0]
        self.assertEqual((sequences["sequenz"], sequences["releasesequenz"]), (5, 2))
        seen = ("--bekannte-zeitstempelsequenz", "5", "--bekannte-releasesequenz", "2")
        self.assertEqual(self.check(*seen)[0], 0)
        newer_timestamp = read(self.timestamp_file)
        with open(self.release_file, "wb") as f:
            f.write(good_release)
        with open(self.timestamp_file, "wb") as f:
            f.write(good_timestamp)
        self.assertEqual(self.check()[0], 0)  # a host that never saw more takes them
        self.assert_refused(self.check(*seen), "Zeitstempel älter als bekannt: Folgenummer 1, "
                                               "bekannt 5.")
        # Mix and match: the old release file under the newer timestamp.
        with open(self.timestamp_file, "wb") as f:
            f.write(newer_timestamp)
        self.assert_refused(self.check(*seen), "Releasedatei gehört nicht zum Zeitstempel: ihr "
                                               "SHA-256 ist ein anderer.")
        # Nor does the tool write a timestamp for the older release file once a newer was named.
        self.assert_refused(self.timestamp(), "Die Releasedatei hat die Folgenummer 1, der "
                                              "vorhandene Zeitstempel nennt schon 2")
        self.assertEqual(read(self.timestamp_file), newer_timestamp)

    def test_a_release_signed_by_a_key_the_host_does_not_pin(self):
        code, lines = self.release(key="online")
        self.assertEqual(code, 0, lines)
        self.assertEqual(self.timestamp()[0], 0)
        # The file's timestamp keys count only under a pinned key's signature.
        self.assert_refused(self.check(), "Zeitstempel: Signatur ungültig.")
        self.assertEqual(self.check(keys=("online",))[0], 0)
        # A pinned release key may sign a timestamp itself; the release file still fails.
        self.assertEqual(self.timestamp(key="release")[0], 0)
        self.assert_refused(self.check(), "Releasedatei: Signatur ungültig.")
        # A key text that is no key is the host's configuration error, named as such.
        code, lines = self.tool("pruefen", windows_path(self.release_folder), "kein Schlüssel")
        self.assertEqual(code, 1, lines)
        self.assertIn("Ungültiger Schlüssel in RELEASESCHLUESSEL", lines[-1])

    def test_a_command_line_it_does_not_understand(self):
        for args, reason in [
                ((), "Kein Befehl angegeben."),
                (("veroeffentlichen",), "Unbekannter Befehl: veroeffentlichen"),
                (("zeitstempel", "a.key"), "Der Befehl zeitstempel erwartet 2 Angaben"),
                (("anhalten", "a.key", "ordner", "--deckel", "5"),
                 "Unbekannte Option für anhalten: --deckel")]:
            code, lines = self.tool(*args)
            self.assertEqual(code, 87, lines)
            self.assertTrue(lines[0].startswith(reason), lines)
            self.assertEqual(lines[1], "Aufruf:")
        # Not a DLL, and a DLL without a version: nothing is written.
        not_a_dll = self.file("readme.dll")
        with open(not_a_dll, "wb") as f:
            f.write(b"MZ but nothing else")
        code, lines = self.tool("release", windows_path(self.keys["release"]["private"]),
                                windows_path(not_a_dll), DLL_URL,
                                windows_path(self.release_folder), "--rampe", RAMP,
                                "--zeitstempelschluessel",
                                windows_path(self.keys["online"]["public"]))
        self.assertEqual(code, 1, lines)
        self.assertIn("ist keine DLL", lines[-1])
        code, lines = self.release(dll="no_version")
        self.assertEqual(code, 1, lines)
        self.assertIn("hat keine lesbare Produktversion", lines[-1])
        # A public key file given where the private key belongs.
        code, lines = self.tool("zeitstempel", windows_path(self.keys["online"]["public"]),
                                windows_path(self.release_folder))
        self.assertEqual(code, 1, lines)
        self.assertIn("enthält keinen privaten Schlüssel", lines[-1])
        self.assertEqual(os.listdir(self.release_folder), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
