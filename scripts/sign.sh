#!/usr/bin/env bash
# Signs Windows programs in place with SHA-256 Authenticode (osslsigncode 2.9 or later), stamped with
# SOURCE_DATE_EPOCH so that the same certificate gives the same bytes. Called by the release build.
#
#   CORVALENT_SIGN_PFX=<cert.p12> CORVALENT_SIGN_PASSWORD_FILE=<file> scripts/sign.sh <file>...
#   (or CORVALENT_SIGN_PASSWORD=<password> instead of the file)
set -euo pipefail
: "${CORVALENT_SIGN_PFX:?sign: set CORVALENT_SIGN_PFX to the PKCS#12 certificate}"
: "${SOURCE_DATE_EPOCH:?sign: set SOURCE_DATE_EPOCH}"
password_file=${CORVALENT_SIGN_PASSWORD_FILE:-}
if [ -z "$password_file" ]; then
  # The password goes to osslsigncode in a file of the user's own, never on a command line.
  password_file=$(mktemp)
  trap 'rm -f "$password_file"' EXIT
  printf '%s' "${CORVALENT_SIGN_PASSWORD:-}" > "$password_file"
fi
for file in "$@"; do
  rm -f "$file.signed"
  osslsigncode sign -pkcs12 "$CORVALENT_SIGN_PFX" -readpass "$password_file" -h sha256 \
    -n Corvalent -time "$SOURCE_DATE_EPOCH" \
    -in "$file" -out "$file.signed" >/dev/null
  mv -f "$file.signed" "$file"
done
