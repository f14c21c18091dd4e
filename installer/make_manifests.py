#!/usr/bin/env python3
# Writes the package managers' manifests for the files in dist/: winget's three files for both setups
# in dist/winget/ and Scoop's corvalent.json for both zips. Used by scripts/release.sh.
import hashlib
import json
import os
import sys

USAGE = "usage: make_manifests.py <dist folder> <version> <download address ending in />"
IDENTIFIER = "BramlowSoftware.Corvalent"
MANIFEST_VERSION = "1.28.0"
SCHEMA = "# yaml-language-server: $schema=https://aka.ms/winget-manifest.{}.1.28.0.schema.json\n"
DESCRIPTION = "Switches Windows' work-offline state from the notification area."
# Per architecture: winget's and Scoop's names, and the oldest Windows the build runs on
# (x86: XP SP1, the first with SetDllDirectoryA; x64: the first x64 Windows, XP x64 / 2003 SP1).
ARCHITECTURES = (("x86", "32bit", "5.1.2600.1106"), ("x64", "64bit", "5.2.3790.1830"))
# The setup's own uninstall entry and its refusals (installer/corvalent.nsi): another setup running,
# a running copy that did not end, a folder that can't be made or written. NSIS's own 2 (it stopped
# the script: a file it could not write, a full disk) stays unmapped, an ordinary failure.
UNINSTALL_KEY = "Corvalent"
PUBLISHER = "Bramlow Software"
REFUSALS = ((3, "installInProgress"), (4, "packageInUse"), (5, "invalidParameter"))


def sha256(path):
    with open(path, "rb") as source:
        return hashlib.sha256(source.read()).hexdigest().upper()


def text(value):
    # Quoted, so that YAML reads versions, hashes and the rest as text.
    return json.dumps(value, ensure_ascii=False)


def yaml_lines(value, indent=""):
    # The small YAML subset the manifests need: mappings, lists of mappings, quoted scalars.
    lines = []
    for key, item in value.items():
        if isinstance(item, dict):
            lines.append(f"{indent}{key}:")
            lines += yaml_lines(item, indent + "  ")
        elif isinstance(item, list):
            lines.append(f"{indent}{key}:")
            for entry in item:
                inner = yaml_lines(entry, indent + "  ")
                lines.append(indent + "- " + inner[0][len(indent) + 2:])
                lines += inner[1:]
        elif isinstance(item, int):
            lines.append(f"{indent}{key}: {item}")
        else:
            lines.append(f"{indent}{key}: {text(item)}")
    return lines


def write_yaml(path, kind, value):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(SCHEMA.format(kind) + "\n".join(yaml_lines(value)) + "\n")


def winget(dist, version, url):
    folder = os.path.join(dist, "winget")
    os.makedirs(folder, exist_ok=True)
    head = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version}
    tail = {"ManifestVersion": MANIFEST_VERSION}
    installers = []
    for arch, _, os_version in ARCHITECTURES:
        name = f"Corvalent-{version}-{arch}-setup.exe"
        installers.append({"Architecture": arch, "InstallerUrl": url + name,
                           "InstallerSha256": sha256(os.path.join(dist, name)),
                           "MinimumOSVersion": os_version})
    write_yaml(os.path.join(folder, IDENTIFIER + ".yaml"), "version",
               {**head, "DefaultLocale": "en-GB", "ManifestType": "version", **tail})
    write_yaml(os.path.join(folder, IDENTIFIER + ".locale.en-GB.yaml"), "defaultLocale",
               {**head, "PackageLocale": "en-GB", "Publisher": PUBLISHER, "PackageName": "Corvalent",
                "PackageUrl": url, "License": "Proprietary", "ShortDescription": DESCRIPTION,
                "ManifestType": "defaultLocale", **tail})
    write_yaml(os.path.join(folder, IDENTIFIER + ".installer.yaml"), "installer",
               {**head, "InstallerType": "nullsoft", "Scope": "user",
                "InstallerSwitches": {"Silent": "/S", "SilentWithProgress": "/S",
                                      "InstallLocation": "/D=<INSTALLPATH>"},
                "ExpectedReturnCodes": [{"InstallerReturnCode": code, "ReturnResponse": response}
                                        for code, response in REFUSALS],
                "UpgradeBehavior": "install", "ElevationRequirement": "elevationProhibited",
                "ProductCode": UNINSTALL_KEY,
                "AppsAndFeaturesEntries": [{"DisplayName": "Corvalent", "Publisher": PUBLISHER,
                                            "DisplayVersion": version,
                                            "ProductCode": UNINSTALL_KEY}],
                "Installers": installers, "ManifestType": "installer", **tail})


# Scoop runs this on update too; only a real uninstall ends the program with "uninstall", which
# removes the StartUp shortcut and the settings.
SCOOP_UNINSTALL = ["if ($cmd -eq 'uninstall') {",
                   "    Start-Process -Wait \"$dir\\Corvalent.exe\" -ArgumentList 'uninstall'",
                   "}"]


def scoop(dist, version, url):
    def block(arch, version_text, digest):
        return {"url": f"{url}Corvalent-{version_text}-{arch}-portable.zip", "hash": digest}
    manifest = {
        "version": version, "description": DESCRIPTION, "homepage": url, "license": "Proprietary",
        "architecture": {scoop_arch: block(arch, version, sha256(
            os.path.join(dist, f"Corvalent-{version}-{arch}-portable.zip")).lower())
            for arch, scoop_arch, _ in ARCHITECTURES},
        "extract_dir": "Corvalent", "bin": "Corvalent.exe",
        "shortcuts": [["Corvalent.exe", "Corvalent"]],
        "uninstaller": {"script": SCOOP_UNINSTALL},
        "checkver": {"url": url, "regex": r"Corvalent-([\d.]+)-x86-portable\.zip"},
        "autoupdate": {"architecture": {scoop_arch: {"url": block(arch, "$version", "")["url"]}
                                        for arch, scoop_arch, _ in ARCHITECTURES},
                       "hash": {"url": "$baseurl/SHA256SUMS"}},
    }
    with open(os.path.join(dist, "corvalent.json"), "w", encoding="utf-8", newline="\n") as out:
        out.write(json.dumps(manifest, indent=4) + "\n")


def main(argv):
    if len(argv) != 4 or not argv[3].endswith("/"):
        sys.exit(USAGE)
    winget(argv[1], argv[2], argv[3])
    scoop(argv[1], argv[2], argv[3])


if __name__ == "__main__":
    main(sys.argv)
