#!/usr/bin/env python3
"""Writes qvb-VERSION-win64.zip (qvb.exe, README.txt, SHA256SUMS) and its .sha256 beside it.

The same inputs give the same bytes: the entries go in one order, each with the given time, fixed
modes and no extra fields, and nothing of the machine, the folder or the clock goes in.
"""
import argparse
import hashlib
import os
import re
import sys
import time
import zipfile

# The earliest time a zip entry can carry (1980-01-01 00:00:00 UTC).
ZIP_EPOCH = 315532800


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def entry(name, mode, date_time):
    info = zipfile.ZipInfo(name, date_time)
    info.create_system = 3  # Unix, so that the modes below mean the same to every unzip
    info.external_attr = (0o100000 | mode) << 16
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--readme", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--epoch", required=True, type=int)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    if not re.fullmatch(r"\d+(\.\d+){1,3}", args.version):
        sys.exit(f"package: '{args.version}' is not a version")
    with open(args.exe, "rb") as f:
        exe = f.read()
    # The zip's name must not promise a version that the program's own resource does not show.
    # In the resource the key, its terminator and one character of padding come before the value.
    if ("FileVersion\0\0" + args.version).encode("utf-16-le") not in exe:
        sys.exit(f"package: {args.exe} does not carry version {args.version} in its version resource")
    with open(args.readme, "rb") as f:
        readme = f.read().replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")

    files = [("qvb.exe", 0o755, exe), ("README.txt", 0o644, readme)]
    sums = "".join(f"{sha256(data)}  {name}\n" for name, _, data in files).encode()
    files.append(("SHA256SUMS", 0o644, sums))

    date_time = time.gmtime(max(args.epoch, ZIP_EPOCH))[:6]
    name = f"qvb-{args.version}-win64.zip"
    os.makedirs(args.out, exist_ok=True)
    path = os.path.join(args.out, name)
    # Written aside and renamed, so that a failed run leaves no zip that looks whole.
    with zipfile.ZipFile(path + ".part", "w") as z:
        for entry_name, mode, data in files:
            z.writestr(entry(entry_name, mode, date_time), data, compresslevel=9)
    os.replace(path + ".part", path)
    with open(path, "rb") as f:
        zip_sum = sha256(f.read())
    with open(path + ".sha256", "w", newline="\n") as f:
        f.write(f"{zip_sum}  {name}\n")
    print(path)


if __name__ == "__main__":
    main()
