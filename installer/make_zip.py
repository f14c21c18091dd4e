#!/usr/bin/env python3
# Writes the portable zip with the same bytes on every build: fixed file order, one time stamp
# (SOURCE_DATE_EPOCH), fixed modes, text files with Windows line ends. Used by installer/CMakeLists.txt.
import os
import sys
import time
import zipfile

USAGE = "usage: make_zip.py <out.zip> <folder in the zip> <stage folder> <file>..."


def zip_time():
    # The zip format keeps local time from 1980 on, in two-second steps; the commit's time in UTC.
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)
    return time.gmtime(epoch)[:6]


def contents(path):
    with open(path, "rb") as source:
        data = source.read()
    if path.endswith(".txt"):
        data = data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n")
    return data


def main(argv):
    if len(argv) < 5:
        sys.exit(USAGE)
    out, folder, stage, names = argv[1], argv[2], argv[3], argv[4:]
    stamp = zip_time()
    with zipfile.ZipFile(out + ".part", "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name in names:
            entry = zipfile.ZipInfo(folder + "/" + name, date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0          # MS-DOS attributes only, no Unix owner or mode
            entry.external_attr = 0x20       # FILE_ATTRIBUTE_ARCHIVE
            archive.writestr(entry, contents(os.path.join(stage, name)))
    os.replace(out + ".part", out)


if __name__ == "__main__":
    main(sys.argv)
