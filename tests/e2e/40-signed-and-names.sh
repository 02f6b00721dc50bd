#!/usr/bin/env bash
# Signed updaters and names outside the ANSI code page, unattended (/S) under
# Wine with LC_ALL=C.UTF-8, so that Wine's ANSI code page is 1252 whatever
# the machine's locale; installations of "Abacus 2" on M: and N:
# (tests/e2e/abacus-fixture.bash). A throwaway code-signing certificate made
# here by openssl; osslsigncode signs and verifies (Wine never checks).
#  - the signed bare oupdate.exe with a package argument that oupack sign
#    signed with the same certificate installs every file (the rules of
#    signed packages are tests/e2e/46-signed-packages.sh's);
#  - oupack append, then osslsigncode sign: verified, installs every file,
#    and oupack check reads the package in it, not its certificate; bytes
#    appended after signing are refused with a log line that says so;
#  - oupack append onto the signed stub: its warning, installs every file;
#  - the program in C:\Обновление\, a two-volume package C:\Пакет\Пакет.oup
#    and .002, a temporary directory under C:\users\Дмитрий (all outside
#    1252): every file installed, each path taken by its short name; an
#    installation under D:\Программы\Abacus found by its short name through
#    /DIR and updated.
#  - a search of every drive that has to walk D:\Программы itself: the
#    search's own listing takes such a directory by its short name;
#  - oupack.exe lists and extracts the package in C:\Пакет, and refuses an
#    output name that has no ANSI form.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail
export LC_ALL=C.UTF-8

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/signed-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "40-signed-and-names: missing $f (build both presets first)" >&2; exit 1; }
done
for tool in openssl osslsigncode; do
    command -v "$tool" >/dev/null || { echo "40-signed-and-names: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

dd=$WINEPREFIX/dosdevices
saved_d=
cleanup() {
    rm -f "$dd/d:"
    [[ -n $saved_d ]] && ln -s "$saved_d" "$dd/d:"
    fixture_end
    rm -rf "${cdir:-/nonexistent}" "${cyr_dirs[@]:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin
if [[ -L $dd/d: ]]; then saved_d=$(readlink "$dd/d:"); fi

fixture_c_dir oup-e2e-signed

# The throwaway signer: a self-signed certificate for code signing only.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=oupdate e2e signer" \
    -keyout "$work/key.pem" -out "$work/cert.pem" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -addext "basicConstraints=critical,CA:FALSE" >/dev/null 2>&1
sign() {  # sign IN OUT
    osslsigncode sign -certs "$work/cert.pem" -key "$work/key.pem" -n "oupdate e2e" \
        -in "$1" -out "$2" >"$out/signed-osslsigncode.log" 2>&1
}
verified() { osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$out/signed-verify.log" 2>&1; }
not_verified() { ! verified "$1"; }

# updater NAME PROGRAM ARGS...: runs a program on C: to its end with /S and
# this run's /LOG; sets status and log (a Linux path).
updater() {
    local name=$1
    shift
    log=$cdir/$name.log
    rm -f "$log"
    status=0
    timeout 600 wine "$@" /S "/LOG=$win\\$name.log" >"$out/signed-$name.wine.log" 2>&1 || status=$?
    [[ -f $log ]] && cp "$log" "$out/signed-$name.log"
    return 0
}
# log_matches LOG REGEX: a line of the log matches (extended regex).
log_matches() { tr -d '\r' <"$1" | grep -qE -- "$2"; }

# --- the signed bare updater with a package argument ---
sign "$exe" "$cdir/signed.exe"
expect "the signed updater verifies" verified "$cdir/signed.exe"
"$oupack" sign --cert "$work/cert.pem" --key "$work/key.pem" "$cdir/abacus.oup" >/dev/null
make_installations
name=signed-bare
updater $name "$win\\signed.exe" "$win\\abacus.oup"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect_log "Package $win\\abacus.oup"

# --- append, then sign ---
"$oupack" append "$exe" "$cdir/abacus.oup" -o "$cdir/appended.exe" >/dev/null
sign "$cdir/appended.exe" "$cdir/appended-signed.exe"
expect "append then sign: the result verifies" verified "$cdir/appended-signed.exe"
make_installations
name=append-then-sign
updater $name "$win\\appended-signed.exe"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect_log "Package appended to $win\\appended-signed.exe"
check_status=0
"$oupack" check "$cdir/appended-signed.exe" >"$out/signed-check.out" 2>&1 || check_status=$?
expect "oupack check of the signed update: exit status $check_status, want 0" test "$check_status" = 0
expect "oupack check of the signed update: the package's 7 entries, no findings" \
    grep -q "appended-signed.exe: no findings (7 package entries, 4 script entries" "$out/signed-check.out"

# Something appended behind the signature: refused, nothing installed.
cp "$cdir/appended-signed.exe" "$cdir/changed.exe"
printf 'later' >>"$cdir/changed.exe"
make_installations
name=changed-after-signing
updater $name "$win\\changed.exe"
expect "$name: exit status $status, want 2" test "$status" = 2
expect_log "Error: \"$win\\changed.exe\" was changed after it was signed: it has 5 bytes behind its signature. Append the package first and sign the result."
expect "$name: nothing installed" grep -q 'old abacus.exe 2.0' "$work/drive_m/Apps/Abacus/abacus.exe"

# --- append onto the signed stub ---
name=append-onto-signed
append_status=0
"$oupack" append "$cdir/signed.exe" "$cdir/abacus.oup" -o "$cdir/stub-appended.exe" \
    >"$out/signed-$name.out" 2>"$out/signed-$name.err" || append_status=$?
expect "$name: oupack exit status $append_status, want 0" test "$append_status" = 0
expect "$name: oupack warns that the signature was removed" \
    grep -q "signature was removed.*must be signed again" "$out/signed-$name.err"
expect "$name: the result carries no signature" not_verified "$cdir/stub-appended.exe"
make_installations
updater $name "$win\\stub-appended.exe"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect_log "Package appended to $win\\stub-appended.exe"

# --- names outside the code page ---
# Wine takes TEMP and TMP from its registry, so the run goes through cmd,
# which sets them for the updater alone.
cyr_prog=$WINEPREFIX/drive_c/Обновление
cyr_pkg=$WINEPREFIX/drive_c/Пакет
cyr_temp=$WINEPREFIX/drive_c/users/Дмитрий
cyr_dirs=("$cyr_prog" "$cyr_pkg" "$cyr_temp")
rm -rf "${cyr_dirs[@]}"
mkdir -p "$cyr_prog" "$cyr_pkg" "$cyr_temp/Temp"
cp "$exe" "$cyr_prog/oupdate.exe"
"$oupack" create -o "$cyr_pkg/Пакет.oup" --volume-size 50000 "$src"/* >/dev/null
expect "the package in C:\\Пакет has two volumes" test -f "$cyr_pkg/Пакет.002" -a ! -f "$cyr_pkg/Пакет.003"

# oupack.exe takes such paths by their short names too: it lists both
# volumes and extracts into a folder there; an output name with no ANSI form
# at all (a file that does not exist yet has no short name) is refused.
oupack_exe=${OUP_OUPACK_EXE:-$OUP_BUILD_WIN/tools/oupack/oupack.exe}
name=oupack-names
oupack_status=0
wine "$oupack_exe" list 'C:\Пакет\Пакет.oup' >"$out/signed-$name.out" 2>&1 || oupack_status=$?
expect "$name: list exit status $oupack_status, want 0" test "$oupack_status" = 0
expect "$name: list reads both volumes" grep -q ' entries, .* 2 volumes' "$out/signed-$name.out"
mkdir -p "$cyr_pkg/Выход"
oupack_status=0
wine "$oupack_exe" extract 'C:\Пакет\Пакет.oup' 'C:\Пакет\Выход' >>"$out/signed-$name.out" 2>&1 || oupack_status=$?
expect "$name: extract exit status $oupack_status, want 0" test "$oupack_status" = 0
expect "$name: extract wrote every file" cmp -s "$src/abacus.ex_" "$cyr_pkg/Выход/abacus.ex_"
oupack_status=0
wine "$oupack_exe" create -o 'C:\Пакет\Новый.oup' 'C:\Пакет\Пакет.oup' >"$out/signed-$name-create.out" 2>&1 || oupack_status=$?
expect "$name: an output name outside the code page: exit status $oupack_status, want 1" test "$oupack_status" = 1
expect "$name: the refusal names the argument" \
    grep -q 'cannot be written in this system.s ANSI code page' "$out/signed-$name-create.out"

drive_d=$work/drive_d
rm -f "$dd/d:"
ln -s "$drive_d" "$dd/d:"

# names NAME ARGS...: the updater from C:\Обновление with the temporary
# directory of Дмитрий, the package C:\Пакет\Пакет.oup and the log
# C:\Пакет\update.log; sets status and log.
names() {
    local name=$1
    shift
    log=$cyr_pkg/update.log
    rm -f "$log"
    rm -rf "$drive_d"
    mkdir -p "$drive_d/Программы/Abacus"
    printf 'old abacus.exe 1.9\r\n' >"$drive_d/Программы/Abacus/abacus.exe"
    touch -d '2001-01-01 10:00:00' "$drive_d/Программы/Abacus/abacus.exe"
    make_installations
    status=0
    timeout 600 wine cmd /c "set TEMP=C:\\users\\Дмитрий\\Temp&& set TMP=C:\\users\\Дмитрий\\Temp&& C:\\Обновление\\oupdate.exe C:\\Пакет\\Пакет.oup /S /LOG=C:\\Пакет\\update.log $*" \
        >"$out/signed-$name.wine.log" 2>&1 || status=$?
    [[ -f $log ]] && cp "$log" "$out/signed-$name.log"
    return 0
}
# The D: installation has the new abacus.exe with the script's date.
d_updated() {
    local f=$drive_d/Программы/Abacus/abacus.exe
    cmp -s "$src/abacus.ex_" "$f" && [[ $(file_date "$f") == "${want_date[abacus.exe]}" ]]
}
no_question_marks() { ! tr -d '\r' <"$1" | grep -q '?'; }

name=names
names $name '/DIR=M:\;N:\;D:\Программы'
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect "$name: D:\\Программы\\Abacus updated" d_updated
expect "$name: found under D: by a short name" log_matches "$log" '^Found D:\\[^\\]+~[^\\]*\\Abacus$'
expect "$name: the second volume by its short name" log_matches "$log" '^Volume C:\\[^\\]+~[^\\]*\\[^\\]+~[^\\]*\.002$'
expect "$name: the work directory under Дмитрий by its short name" \
    log_matches "$log" '^Work directory C:\\users\\[^\\]+~[^\\]*\\Temp\\oupdate-[0-9a-f]+\\$'
expect "$name: no path in the log with a lost character" no_question_marks "$log"
expect "$name: the work directory is gone" test -z "$(ls -A "$cyr_temp/Temp")"

name=names-search
names $name
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect "$name: D:\\Программы\\Abacus found by the search and updated" d_updated
expect "$name: no path in the log with a lost character" no_question_marks "$log"

echo "logs in $out"
echo "signed: $passed passed, $failed failed"
((failed == 0))
