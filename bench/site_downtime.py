#!/usr/bin/env python3
"""The site's downtime during an update, measured under Wine with the real engine.

Serves a newer DLL padded to 10 MB from the project's update server on 127.0.0.1, puts 30
older target DLLs of the same size in a folder of the build's Wine prefix, installs the appcmd
stand-in with a stop command that takes STOP_DELAY_MS, and runs bench/site_downtime_win32.exe,
which prints the plain copy time, the stop command's own duration, the downtime beyond it, and
the time to put all copies back after the last swap failed (a second update; its last target is
held open, so the run takes the 30 s the engine waits for a busy target).

    bench/site_downtime.py [BUILD_DIR] [--size-mb N] [--stop-delay-ms N] [--targets N]
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "server"))
import update_server  # noqa: E402


def padded_dll(source, target, size):
    """A copy of the DLL with zeros appended up to size bytes; its version resource still reads."""
    shutil.copyfile(source, target)
    with open(target, "ab") as f:
        f.write(b"\0" * max(0, size - os.path.getsize(source)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", nargs="?", default=os.path.join(ROOT, "build", "mingw"))
    parser.add_argument("--size-mb", type=int, default=10)
    parser.add_argument("--stop-delay-ms", type=int, default=1500)
    parser.add_argument("--targets", type=int, default=30)
    args = parser.parse_args()
    build = os.path.abspath(args.build_dir)
    prefix = os.path.join(build, "wineprefix")
    wine_run = os.path.join(build, "wine-run.sh")
    size = args.size_mb * 1024 * 1024

    subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "boot", prefix], check=True,
                   stdout=subprocess.DEVNULL)
    inetsrv = os.path.join(prefix, "drive_c", "windows", "system32", "inetsrv")
    os.makedirs(inetsrv, exist_ok=True)
    shutil.copyfile(os.path.join(build, "tests", "tools", "appcmd.exe"),
                    os.path.join(inetsrv, "appcmd.exe"))
    with open(os.path.join(inetsrv, "appcmd-stop-delay-ms.txt"), "w") as f:
        f.write(str(args.stop_delay_ms))

    work = tempfile.mkdtemp(prefix="downtime-", dir=os.path.join(prefix, "drive_c"))
    windows_work = "C:\\" + os.path.basename(work)
    served = os.path.join(work, "served.dll")
    padded_dll(os.path.join(build, "fixtures", "v2_1_0_1", "KorvalAppServer.dll"), served, size)
    padded_dll(os.path.join(build, "fixtures", "v2_1_0_0", "KorvalAppServer.dll"),
               os.path.join(work, "old.dll"), size)
    targets = []
    for n in range(1, args.targets + 1):
        folder = os.path.join(work, "site%d" % n)
        os.makedirs(folder)
        padded_dll(os.path.join(build, "fixtures", "v2_1_0_0", "KorvalAppServer.dll"),
                   os.path.join(folder, "KorvalAppServer.dll"), size)
        targets.append("%s\\site%d" % (windows_work, n))

    try:
        with update_server.UpdateServer() as server:
            server.route("/version.txt", "2.1.0.1")
            server.serve_file("/KorvalAppServer.dll", served)
            with open(os.path.join(work, "KORVAL_Update_Service.ini"), "w", newline="\r\n") as f:
                f.write("[VERZEICHNISSE]\nDOWNLOADPFAD=%s\nPROTOKOLLPFAD=%s\n" % (windows_work, windows_work))
                for n, target in enumerate(targets, 1):
                    f.write("DLLPFAD%d=%s\n" % (n, target))
                f.write("[URLS]\nVersionsNr=%s\nKorvalAppServerDLL=%s\n"
                        % (server.url("/version.txt"), server.url("/KorvalAppServer.dll")))
            # The set-up's own writes (about 600 MB) reach the disk first: the journal's two
            # flushes in the downtime must not wait for the benchmark's files.
            os.sync()
            print("DLL size: %d MB, stop command delay: %d ms" % (args.size_mb, args.stop_delay_ms))
            sys.stdout.flush()
            result = subprocess.run([wine_run, os.path.join(build, "bench", "site_downtime_win32.exe"),
                                     windows_work], stderr=subprocess.STDOUT)
        return result.returncode
    finally:
        shutil.rmtree(work, ignore_errors=True)
        os.remove(os.path.join(inetsrv, "appcmd-stop-delay-ms.txt"))


if __name__ == "__main__":
    sys.exit(main())
