#!/usr/bin/env bash
# Checks what scripts/release.sh ships: signed with a throwaway one-day certificate and time-stamped
# by a throwaway authority (osslsigncode's own; both made here by openssl), every signature verified
# as of three days later, after the certificate's end (setups, the deliverables in each zip, the
# installed files and uninstaller of each setup, installed silently under Wine), while a file signed
# without a stamp fails then and a signed release without one is refused; then unsigned, nothing
# signed and the zips holding the build's own files; each time the winget manifests valid against
# the 1.28.0 schemas and every hash of the manifests and SHA256SUMS right.
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
    if manifest["ManifestType"] == "installer":
        codes = {code["InstallerReturnCode"]: code["ReturnResponse"] for code in manifest["ExpectedReturnCodes"]}
        if codes != {3: "installInProgress", 4: "packageInUse", 5: "invalidParameter"}:
            print(f"winget: the setup's exit codes are {codes}"); bad += 1
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

# signed <file> [time]: osslsigncode verifies its signature and time stamp against the throwaway
# authorities as of the time given, by default one after the certificate's end.
signed() {
  osslsigncode verify -CAfile "$work/ca.pem" -TSA-CAfile "$work/ca.pem" -time "${2:-$after_end}" \
    -in "$1" >"$work/verify.log" 2>&1
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

mkdir -p "$work"
# certificate <name> <subject> <days> <extensions>: a key and a certificate issued by the throwaway CA.
certificate() {
  openssl req -newkey rsa:2048 -nodes -keyout "$work/$1.key" -out "$work/$1.csr" -subj "/CN=$2" 2>/dev/null
  printf '%s\n' "$4" | tr ' ' '\n' >"$work/$1.ext"
  openssl x509 -req -in "$work/$1.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" -set_serial "0x$(openssl rand -hex 8)" \
    -days "$3" -extfile "$work/$1.ext" -out "$work/$1.pem" 2>/dev/null
}
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 30 \
  -subj "/CN=Corvalent test CA" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign 2>/dev/null
certificate signer "Corvalent test signer" 1 "keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning"
certificate tsa "Corvalent test time stamps" 30 "keyUsage=critical,digitalSignature extendedKeyUsage=critical,timeStamping"
cat "$work/tsa.pem" "$work/ca.pem" >"$work/tsa-chain.pem"
printf 'throwaway' >"$work/password"
openssl pkcs12 -export -inkey "$work/signer.key" -in "$work/signer.pem" -certfile "$work/ca.pem" \
  -out "$work/cert.p12" -passout "file:$work/password"
# Taken after the certificates were made, so that it lies within their validity.
start=$(date +%s)
after_end=$(( start + 3 * 86400 ))
sign=(--sign-pfx "$work/cert.p12" --sign-password-file "$work/password")
unset CORVALENT_TIMESTAMP_URL CORVALENT_TIMESTAMP_CERTS CORVALENT_TIMESTAMP_KEY CORVALENT_NO_TIMESTAMP

! "$root/scripts/release.sh" "${sign[@]}" >"$work/refused.log" 2>&1 || fail "a signed release without a time stamp went ahead"
grep -q "no time-stamping authority" "$work/refused.log" || fail "the refusal gave no reason: $(cat "$work/refused.log")"
CORVALENT_TIMESTAMP_CERTS=$work/tsa-chain.pem CORVALENT_TIMESTAMP_KEY=$work/tsa.key release signed "${sign[@]}"
check_manifests "$work/signed"
check_signed "$work/signed"
say "signed release: manifests valid, hashes right, every signature and its time stamp verified after the certificate's end"

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
  ! signed "$work"/unsigned/Corvalent-*-$package-setup.exe "$start" || fail "unsigned $package setup is signed"
done
cp "$root/build/release-i686/bin/Corvalent.exe" "$work/unstamped.exe"
CORVALENT_SIGN_PFX=$work/cert.p12 CORVALENT_SIGN_PASSWORD_FILE=$work/password CORVALENT_NO_TIMESTAMP=1 \
  SOURCE_DATE_EPOCH=$start "$root/scripts/sign.sh" "$work/unstamped.exe"
signed "$work/unstamped.exe" "$start" || fail "a file signed without a time stamp does not verify before the certificate's end"
! signed "$work/unstamped.exe" || fail "a file signed without a time stamp verifies after the certificate's end"
say "unsigned release: manifests valid, nothing signed; SHA256SUMS:"
sed 's/^/  /' "$work/unsigned/SHA256SUMS"
say "PASS in $(( $(date +%s) - start )) s"
