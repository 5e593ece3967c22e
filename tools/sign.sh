#!/bin/sh
# Authenticode signing for the Windows build (run by cmake/sign.cmake).
#
#   sign.sh check STAMP PKCS12 PASSWORD_FILE
#       checks that the certificate file can be read with that password and
#       is meant for code signing; keeps STAMP, the file's fingerprint.
#   sign.sh sign FILE TIME PKCS12 PASSWORD_FILE [TIMESTAMP_URL]
#       signs FILE (SHA-256) with the signing time TIME (seconds since 1970)
#       and, given a URL, an RFC 3161 timestamp.  The signed copy replaces
#       FILE only when it is complete; on failure FILE is removed, so the kit
#       never holds a half-signed file and the next build links it again.
#
# Every failure is one line on stderr that starts with "signing:".
set -u

fail() {
  echo "signing: $*" >&2
  exit 1
}

readable() {
  [ -f "$1" ] && [ -r "$1" ] && head -c 1 "$1" >/dev/null 2>&1
}

check() {
  stamp=$1 p12=$2 pass=$3
  readable "$p12" || fail "cannot read the PKCS#12 file $p12"
  readable "$pass" || fail "cannot read the password file $pass"

  errors=$(mktemp) || fail "cannot make a temporary file"
  trap 'rm -f "$errors"' EXIT
  # Files exported by older Windows use RC2 or RC4, which OpenSSL 3 reads
  # only with its legacy provider.
  if ! certificate=$(openssl pkcs12 -in "$p12" -passin "file:$pass" -nokeys -clcerts 2>"$errors") &&
     ! { grep -qi unsupported "$errors" &&
         certificate=$(openssl pkcs12 -legacy -in "$p12" -passin "file:$pass" -nokeys -clcerts 2>"$errors"); }; then
    grep -qi "invalid password" "$errors" && fail "wrong password for $p12 (read from $pass)"
    fail "cannot read the PKCS#12 file $p12: not PKCS#12 or damaged"
  fi
  usage=$(printf '%s\n' "$certificate" | openssl x509 -noout -ext extendedKeyUsage 2>/dev/null)
  case $usage in
    *"Code Signing"*) ;;
    *) fail "the certificate in $p12 is not for code signing (no Code Signing in its extended key usage)" ;;
  esac

  fingerprint=$(sha256sum <"$p12" | cut -d ' ' -f 1)
  [ "$(cat "$stamp" 2>/dev/null)" = "$fingerprint" ] || echo "$fingerprint" >"$stamp" ||
    fail "cannot write $stamp"
}

sign() {
  file=$1 time=$2 p12=$3 pass=$4 url=${5:-}
  partial="$file.signing"
  output=$(mktemp) || fail "cannot make a temporary file"
  trap 'rm -f "$partial" "$output"' EXIT
  set -- -pkcs12 "$p12" -readpass "$pass" -h sha256 -time "$time" -n Wirenest
  [ -n "$url" ] && set -- "$@" -ts "$url"
  if ! osslsigncode sign "$@" -in "$file" -out "$partial" >"$output" 2>&1; then
    # make removes a target whose commands failed; other generators do not.
    rm -f "$file"
    reason=$(grep -i -m 1 -e failure -e error -e invalid -e "can't" "$output")
    fail "osslsigncode could not sign $file: ${reason:-see osslsigncode's output}"
  fi
  mv -f "$partial" "$file" || { rm -f "$file"; fail "cannot replace $file with its signed copy"; }
}

case ${1:-} in
  check) [ $# -eq 4 ] || fail "usage: sign.sh check STAMP PKCS12 PASSWORD_FILE"; shift; check "$@" ;;
  sign) [ $# -ge 5 ] || fail "usage: sign.sh sign FILE TIME PKCS12 PASSWORD_FILE [URL]"; shift; sign "$@" ;;
  *) fail "usage: sign.sh check|sign ..." ;;
esac
