#!/usr/bin/env bash
# Signed packages, unattended (/S) under Wine, with installations of
# "Abacus 2" on M: and N: (tests/e2e/abacus-fixture.bash). A throwaway
# code-signing certificate made here by openssl (no timestamp server: no
# network) signs oupdate.exe (osslsigncode) and the packages (oupack sign);
# a second one stands for somebody else.
#  - the signed updater installs every file of a package signed with its own
#    certificate, as one volume and as two: Wine's crypt32 reads the
#    program's Authenticode signer and verifies the package's signature,
#    CNG hashes every volume;
#  - a byte changed in a volume, a replaced .oup, a .sig made with the other
#    certificate, no .sig: exit status 2, the reason in the log, nothing
#    installed in any installation;
#  - the unsigned updater with an unsigned package installs as always and
#    logs that the package is unsigned.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/sigpkg-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "46-signed-packages: missing $f (build both presets first)" >&2; exit 1; }
done
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "46-signed-packages: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

cleanup() {
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin
fixture_c_dir oup-e2e-sigpkg

# certificate NAME SUBJECT: a self-signed code-signing certificate and its key.
certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$2" \
        -keyout "$work/$1.key" -out "$work/$1.pem" \
        -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
        -addext "basicConstraints=critical,CA:FALSE" >/dev/null 2>&1
}
certificate publisher "Abacus e2e publisher"
certificate stranger "Somebody else"
osslsigncode sign -certs "$work/publisher.pem" -key "$work/publisher.key" -n "oupdate e2e" \
    -in "$exe" -out "$cdir/signed.exe" >"$out/sigpkg-osslsigncode.log" 2>&1
# sign_package WHO PACKAGE: PACKAGE.sig by that certificate.
sign_package() {
    "$oupack" sign --cert "$work/$1.pem" --key "$work/$1.key" "$2" >>"$out/sigpkg-oupack.log"
}

# package DIR [VOLUME-SIZE]: C:\...\DIR\abacus.oup from the fixture's source.
package() {
    mkdir -p "$cdir/$1"
    "$oupack" create -o "$cdir/$1/abacus.oup" ${2:+--volume-size "$2"} "$src"/* >/dev/null
}

# run NAME PROGRAM DIR: PROGRAM (on C:) updates from DIR\abacus.oup with /S
# and this run's log; sets status and log (a Linux path).
run() {
    name=$1
    log=$cdir/$name.log
    make_installations
    rm -f "$log"
    status=0
    timeout 600 wine "$win\\$2" "$win\\$3\\abacus.oup" /S "/LOG=$win\\$name.log" \
        >"$out/sigpkg-$name.wine.log" 2>&1 || status=$?
    [[ -f $log ]] && cp "$log" "$out/sigpkg-$name.log"
    return 0
}
# refused NAME REASON: exit status 2, the reason in the log, no file touched.
refused() {
    expect "$name: exit status $status, want 2" test "$status" = 2
    expect_log "Error: The update package \"$win\\$1\\abacus.oup\" was refused: $2."
    local untouched=1
    grep -qx $'old abacus.exe 2.0\r' "$work/drive_m/Apps/Abacus/abacus.exe" || untouched=0
    grep -qx $'old abacus.exe 2.1\r' "$work/drive_n/Abacus/abacus.exe" || untouched=0
    grep -qx $'old help\r' "$work/drive_m/Apps/Abacus/abacus.hlp" || untouched=0
    [[ -e $work/drive_m/Apps/Abacus/data || -e $sysdll ]] && untouched=0
    expect "$name: nothing installed in any installation" test $untouched = 1
}

# --- signed by the publisher: every file, one volume and two ---
package one
sign_package publisher "$cdir/one/abacus.oup"
run signed-one signed.exe one
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere "$name"
expect_log "This program is signed by CN=Abacus e2e publisher" \
    "Package signed by CN=Abacus e2e publisher for Abacus 2 2.5.0: 1 volume, every volume matches"

package two 50000
expect "two: the package has two volumes" test -f "$cdir/two/abacus.002" -a ! -f "$cdir/two/abacus.003"
sign_package publisher "$cdir/two/abacus.oup"
run signed-two signed.exe two
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere "$name"
expect_log "Package signed by CN=Abacus e2e publisher for Abacus 2 2.5.0: 2 volumes, every volume matches"

# --- refused ---
# One byte in the middle of the second volume changed after signing.
cp -r "$cdir/two" "$cdir/byte"
volume=$cdir/byte/abacus.002
at=$(($(stat -c %s "$volume") / 2))
byte=$(od -An -tu1 -j "$at" -N1 "$volume" | tr -d ' ')
printf "$(printf '\\%03o' $((byte ^ 1)))" | dd of="$volume" bs=1 seek="$at" conv=notrunc status=none
run byte-changed signed.exe byte
refused byte "volume abacus.002 does not match its signature"

# Another package put in place of the signed one, its .sig left beside it.
mkdir -p "$cdir/replaced"
cp "$cdir/one/abacus.oup.sig" "$cdir/replaced/"
cp "$src/abacus.ex_" "$work/abacus.ex_.kept"
printf 'somebody else\r\n' >"$src/abacus.ex_"
"$oupack" create -o "$cdir/replaced/abacus.oup" "$src"/* >/dev/null
mv "$work/abacus.ex_.kept" "$src/abacus.ex_"
run replaced signed.exe replaced
refused replaced "volume abacus.oup does not match its signature"

package stranger
sign_package stranger "$cdir/stranger/abacus.oup"
run stranger signed.exe stranger
refused stranger "the package was signed by CN=Somebody else, not by the publisher of this program"

package unsigned
run unsigned signed.exe unsigned
refused unsigned "the package is not signed"

# --- the unsigned updater, as it always was ---
run unsigned-program oupdate.exe unsigned
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere "$name"
expect_log "The package is not signed: no signature file $win\\unsigned\\abacus.oup.sig"

echo "logs in $out"
echo "signed packages: $passed passed, $failed failed"
((failed == 0))
