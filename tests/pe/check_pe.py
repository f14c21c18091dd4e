#!/usr/bin/env python3
# Reads the PE headers of the deliverables and checks their hardening and reproducibility: ASLR with
# a relocation section, DEP, high-entropy VA on 64-bit, no stack exception handlers on 32-bit, stack
# cookies of our own guard and no cryptographic provider, run from swap on removable and network
# media, a program manifest aware of each monitor's DPI with the system's as fallback, no time
# stamps, no build paths. Run by ctest.
import struct
import sys

DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
HIGH_ENTROPY_VA = 0x0020
NO_SEH = 0x0400
RELOCS_STRIPPED = 0x0001
RUN_FROM_SWAP = 0x0400 | 0x0800
DLL = 0x2000
RT_MANIFEST = 24
# Per-monitor v2 where Windows has it (10 1703 and later), else aware of the system's DPI: never
# per-monitor of the first kind, whose monitor changes nothing here handles.
DPI_SETTINGS = (b"<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>",
                b"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                b"PerMonitorV2, System</dpiAwareness>")
PE32_PLUS = 0x20B
# The stack check's failure end, the fast-fail request with its code (mov ecx,
# FAST_FAIL_STACK_COOKIE_CHECK_FAILURE; int 0x29): the linker keeps it only when a function of the
# image checks a stack cookie, since nothing else calls it. A newer MinGW runtime brings one of the
# same kind, so the cookie's value before start-up seeds it (common/stackguard.cpp), pointer-sized,
# tells that the image has our guard and not the runtime's.
STACK_CHECK_FAILURE = b"\xb9\x02\x00\x00\x00\xcd\x29"
UNSEEDED_GUARD = 0x2B992DDFA232BB40
# GCC's libssp seeds its cookie through a cryptographic provider, in every image's start-up code.
CRYPTO_PROVIDER = b"CryptAcquireContext"
EXPORT, RESOURCE, BASERELOC, DEBUG = 0, 2, 5, 6


class Image:
    def __init__(self, path):
        with open(path, "rb") as file:
            self.data = file.read()
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", self.data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", self.data, optional)[0]
        self.dll_characteristics = struct.unpack_from("<H", self.data, optional + 70)[0]
        directories = optional + (112 if self.magic == PE32_PLUS else 96)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, virtual_size, address, raw_size, raw_offset = struct.unpack_from(
                "<8sIIII", self.data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), address, max(virtual_size, raw_size), raw_offset))

    def offset(self, address):
        for _, start, size, raw in self.sections:
            if start <= address < start + size:
                return raw + address - start
        raise ValueError("address 0x%x is in no section" % address)

    def stamp_at(self, directory, field):
        address, size = self.directories[directory]
        return None if size == 0 else struct.unpack_from("<I", self.data, self.offset(address) + field)[0]

    def manifest(self):
        """The first RT_MANIFEST resource's bytes, or None."""
        base = self.offset(self.directories[RESOURCE][0]) if self.directories[RESOURCE][1] else None
        entry = base
        for level in range(3):
            if entry is None:
                return None
            named, numbered = struct.unpack_from("<HH", self.data, entry + 12)
            entries = [struct.unpack_from("<II", self.data, entry + 16 + 8 * i) for i in range(named + numbered)]
            if level == 0:
                entries = [e for e in entries if e[0] == RT_MANIFEST]
            entry = base + (entries[0][1] & 0x7FFFFFFF) if entries else None
        address, size = struct.unpack_from("<II", self.data, entry)
        return self.data[self.offset(address):self.offset(address) + size]

    def debug_stamps(self):
        address, size = self.directories[DEBUG]
        return [struct.unpack_from("<I", self.data, self.offset(address) + 28 * i + 4)[0] for i in range(size // 28)]


def problems(path, forbidden):
    image = Image(path)
    found = []
    wanted = DYNAMIC_BASE | NX_COMPAT | (HIGH_ENTROPY_VA if image.magic == PE32_PLUS else NO_SEH)
    if image.dll_characteristics & wanted != wanted:
        found.append("DllCharacteristics 0x%04x lacks 0x%04x" % (image.dll_characteristics, wanted & ~image.dll_characteristics))
    if STACK_CHECK_FAILURE not in image.data:
        found.append("no function checks a stack cookie")
    guard = struct.pack("<Q", UNSEEDED_GUARD) if image.magic == PE32_PLUS else struct.pack("<I", UNSEEDED_GUARD & 0xFFFFFFFF)
    if guard not in image.data:
        found.append("the stack cookie is not our stack guard's")
    if CRYPTO_PROVIDER in image.data:
        found.append("imports CryptAcquireContext")
    if image.characteristics & RELOCS_STRIPPED:
        found.append("relocations stripped (Characteristics 0x%04x)" % image.characteristics)
    if image.characteristics & RUN_FROM_SWAP != RUN_FROM_SWAP:
        found.append("Characteristics 0x%04x lack run-from-swap 0x%04x" % (image.characteristics, RUN_FROM_SWAP))
    manifest = image.manifest()
    if not image.characteristics & DLL and not manifest:
        found.append("no manifest")
    if manifest and not all(setting in manifest for setting in DPI_SETTINGS):
        found.append("the manifest declares no per-monitor v2 DPI awareness with the system-aware fallback")
    if ".reloc" not in [section[0] for section in image.sections] or image.directories[BASERELOC][1] == 0:
        found.append("no .reloc section with base relocations")
    if image.timestamp:
        found.append("file header TimeDateStamp 0x%08x" % image.timestamp)
    for name, directory in (("export", EXPORT), ("resource", RESOURCE)):
        stamp = image.stamp_at(directory, 4)
        if stamp:
            found.append("%s directory TimeDateStamp 0x%08x" % (name, stamp))
    if any(image.debug_stamps()):
        found.append("debug directory with time stamps")
    for text in forbidden:
        if text.encode() in image.data or text.encode("utf-16-le") in image.data:
            found.append("contains the build path %s" % text)
    return found


def main(argv):
    paths, forbidden = [], []
    arguments = iter(argv[1:])
    for argument in arguments:
        if argument == "--forbid":
            forbidden.append(next(arguments))
        else:
            paths.append(argument)
    if not paths:
        sys.exit("usage: check_pe.py <file>... [--forbid <text>]...")
    failed = False
    for path in paths:
        found = problems(path, forbidden)
        print("%s: %s" % (path, "; ".join(found) if found else "ok"))
        failed = failed or bool(found)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
