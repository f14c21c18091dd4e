#!/usr/bin/env bash
# Checks what scripts/release.sh ships: twice signed with a throwaway certificate (made here by
# openssl), every signature verified (setups, the deliverables in each zip, the installed files and
# uninstaller of each setup, installed silently under Wine) and both releases the same byte for byte;
# then unsigned, nothing signed and the zips holding the build's own files; each time the winget
# manifests valid against the 1.28.0 schemas and every hash of the manifests and SHA256SUMS right.
# Part of scripts/test.sh's whole run; leaves the unsigned release in dist/, the rest in
# build/check-release/. Needs scripts/qemu-i386.sh for the x86 setup.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build/check-release
schemas=${CORVALENT_WINGET_SCHEMAS:-$root/../shared/winget-schemas}
[ -d "$schemas" ] || schemas=/work/shared/winget-schemas

say() {
  echo "check-release: $*"
}

fail() {
  say "FAIL: $*" >&2
  exit 1
}

# release <name> [release.sh options]: a release, kept as $work/<name>.
release() {
  local name=$1
  shift
  "$root/scripts/release.sh" "$@" >"$work/$name.log" 2>&1 || { tail -20 "$work/$name.log" >&2; fail "release $name"; }
  rm -rf "${work:?}/$name"
  cp -r "$root/dist" "$work/$name"
}

# check_manifests <dist>: the winget files valid, their and Scoop's hashes those of the files.
check_manifests() {
  (cd "$1" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of $1"
  python3 - "$1" "$schemas" <<'PY' || fail "manifests of $1"
import glob, hashlib, json, os, sys
import jsonschema, yaml
dist, schemas = sys.argv[1:]
def digest(name):
    return hashlib.sha256(open(os.path.join(dist, name), "rb").read()).hexdigest()
bad = 0
for path in sorted(glob.glob(os.path.join(dist, "winget", "*.yaml"))):
    manifest = yaml.safe_load(open(path, encoding="utf-8"))
    schema = json.load(open(os.path.join(schemas, f"manifest.{manifest['ManifestType']}.1.28.0.json")))
    for error in jsonschema.Draft7Validator(schema).iter_errors(manifest):
        print(f"{os.path.basename(path)}: {error.message}"); bad += 1
    for installer in manifest.get("Installers", []):
        name = installer["InstallerUrl"].rsplit("/", 1)[1]
        if installer["InstallerSha256"].lower() != digest(name):
            print(f"winget: wrong hash of {name}"); bad += 1
scoop = json.load(open(os.path.join(dist, "corvalent.json")))
for block in scoop["architecture"].values():
    name = block["url"].rsplit("/", 1)[1]
    if block["hash"] != digest(name):
        print(f"scoop: wrong hash of {name}"); bad += 1
sys.exit(bad)
PY
}

# signed <file>: osslsigncode verifies its signature against the throwaway certificate.
signed() {
  osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1
}

# check_signed <dist>: the setups, the zips' deliverables and what each setup installs signed.
check_signed() {
  local arch file folder
  for arch in x86 x64; do
    signed "$1"/Corvalent-*-$arch-setup.exe || fail "$arch setup not signed"
    folder=$work/unzip-$arch
    rm -rf "$folder"
    python3 -m zipfile -e "$1"/Corvalent-*-$arch-portable.zip "$folder"
    for file in "$folder"/Corvalent/Corvalent.exe "$folder"/Corvalent/CVConfig.dll; do
      signed "$file" || fail "$arch zip: $(basename "$file") not signed"
    done
  done
  source "$root/scripts/test-env.sh"
  (
    trap test_env_stop EXIT
    test_env_start "$work" >/dev/null 2>&1 || fail "no Wine test environment"
    for arch in x86 x64; do
      loader=$(test_env_loader "$([ $arch = x86 ] && echo i686 || echo x86_64)")
      folder=$work/installed-$arch
      rm -rf "$folder"
      $loader "$1"/Corvalent-*-$arch-setup.exe /S "/D=$(test_env_winepath "$folder")" 2>>"$work/wine.log" ||
        fail "$arch setup ended with $?"
      for file in Corvalent.exe CVConfig.dll Uninstall.exe; do
        [ -f "$folder/$file" ] || fail "$arch setup installed no $file"
        signed "$folder/$file" || fail "$arch setup installed $file unsigned"
      done
    done
  )
}

start=$(date +%s)
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 1 \
  -subj "/CN=Corvalent test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
printf 'throwaway' >"$work/password"
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
  -passout "file:$work/password"
sign=(--sign-pfx "$work/cert.p12" --sign-password-file "$work/password")

release signed "${sign[@]}"
check_manifests "$work/signed"
check_signed "$work/signed"
say "signed release: manifests valid, hashes right, every signature verified"
release signed-again "${sign[@]}"
diff -r "$work/signed" "$work/signed-again" >/dev/null || fail "two signed releases differ"
say "a second signed release is the same byte for byte"

release unsigned
check_manifests "$work/unsigned"
for arch in i686 x86_64; do
  package=$([ $arch = i686 ] && echo x86 || echo x64)
  rm -rf "$work/unzip-$package"
  python3 -m zipfile -e "$work"/unsigned/Corvalent-*-$package-portable.zip "$work/unzip-$package"
  for file in Corvalent.exe CVConfig.dll; do
    cmp -s "$work/unzip-$package/Corvalent/$file" "$root/build/release-$arch/bin/$file" ||
      fail "unsigned $package zip: $file is not the build's"
  done
  ! signed "$work"/unsigned/Corvalent-*-$package-setup.exe || fail "unsigned $package setup is signed"
done
say "unsigned release: manifests valid, nothing signed; SHA256SUMS:"
sed 's/^/  /' "$work/unsigned/SHA256SUMS"
say "PASS in $(( $(date +%s) - start )) s"
