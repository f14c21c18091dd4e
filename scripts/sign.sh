#!/usr/bin/env bash
# Signs Windows programs in place with SHA-256 Authenticode (osslsigncode 2.9 or later), signing time
# SOURCE_DATE_EPOCH, and countersigns each with an RFC 3161 time stamp, so that the signature stays
# valid after the certificate has expired or been revoked. Called by the release build; without files
# it only checks that it has what it needs.
#
#   CORVALENT_SIGN_PFX=<cert.p12> CORVALENT_SIGN_PASSWORD_FILE=<file> (or CORVALENT_SIGN_PASSWORD)
#   and one of:
#     CORVALENT_TIMESTAMP_URL=<address>...   time-stamping authorities, tried in turn
#     CORVALENT_TIMESTAMP_CERTS=<chain.pem> CORVALENT_TIMESTAMP_KEY=<key.pem>
#                                            an authority of one's own, stamping here (for tests)
#     CORVALENT_NO_TIMESTAMP=1               no time stamp: invalid once the certificate has ended
#   scripts/sign.sh [<file>...]
set -euo pipefail
: "${CORVALENT_SIGN_PFX:?sign: set CORVALENT_SIGN_PFX to the PKCS#12 certificate}"
: "${SOURCE_DATE_EPOCH:?sign: set SOURCE_DATE_EPOCH}"
stamp=()
# Split at white space only: an address may hold "?" or "*", which a glob would expand to file names.
read -ra addresses <<<"${CORVALENT_TIMESTAMP_URL:-}"
for address in "${addresses[@]}"; do
  stamp+=(-ts "$address")
done
if [ -n "${CORVALENT_TIMESTAMP_CERTS:-}${CORVALENT_TIMESTAMP_KEY:-}" ]; then
  stamp+=(-TSA-certs "${CORVALENT_TIMESTAMP_CERTS:?sign: CORVALENT_TIMESTAMP_KEY needs CORVALENT_TIMESTAMP_CERTS}"
          -TSA-key "${CORVALENT_TIMESTAMP_KEY:?sign: CORVALENT_TIMESTAMP_CERTS needs CORVALENT_TIMESTAMP_KEY}")
fi
if [ ${#stamp[@]} -eq 0 ] && [ "${CORVALENT_NO_TIMESTAMP:-}" != 1 ]; then
  echo "sign: no time-stamping authority (CORVALENT_TIMESTAMP_URL, release.sh --timestamp-url): without" \
    "a time stamp every signature reads invalid once the certificate expires or is revoked, and" \
    "Windows then blocks the files; CORVALENT_NO_TIMESTAMP=1 (release.sh --no-timestamp) signs" \
    "without one all the same" >&2
  exit 1
fi
[ $# -gt 0 ] || exit 0
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
    -n Corvalent -time "$SOURCE_DATE_EPOCH" "${stamp[@]}" \
    -in "$file" -out "$file.signed" >/dev/null
  mv -f "$file.signed" "$file"
done
