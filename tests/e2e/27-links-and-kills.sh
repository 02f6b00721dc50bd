#!/usr/bin/env bash
# Writes that cannot be redirected, torn or left behind, under Wine with the
# "Abacus 2" installations of tests/e2e/abacus-fixture.bash (Unix symbolic
# links stand in for junctions; Wine runs every program as one user, so this
# shows the mechanism, not the privilege boundary):
#  - a user-made installation M:\Fake whose `data` is a link to the system
#    directory: nothing is written through it, the entry fails with the reason;
#  - N:\AbacusLink, a link to N:\Abacus: one installation, updated once, with
#    a "Same as" line;
#  - M:\Ledger, a link to an installation whose abacus.exe a program holds,
#    re-pointed to the system directory while the run waits for the file:
#    nothing is written into the system directory, and the new copy waits in
#    the folder the run resolved;
#  - /LOG= naming a link to a .cmd file: exit status 2, the reason on
#    standard error, the .cmd untouched;
#  - /ATOMIC with a read-only target in one of two installations: that one
#    byte for byte as before, the other fully updated, exit status 1, the
#    "Left unchanged" line in the log;
#  - a kill sweep: a run of 60 files into two installations killed at ten
#    moments (a temporary file there, then 6, 12, ... 54 files new); right
#    after each kill every file is old or new and no ~oup file is left; a
#    complete run then leaves every file new and nothing else;
#  - the same with /ATOMIC: a kill in a swap leaves .oupold files, which the
#    complete run puts back before it updates.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/links-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "27-links-and-kills: missing $f (build both presets first)" >&2; exit 1; }
done

holder=
cleanup() {
    [[ -n $holder ]] && kill "$holder" 2>/dev/null
    wine reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin
fixture_c_dir oup-e2e-links
i686-w64-mingw32-gcc -O2 -s -o "$cdir/holdfile.exe" "$root/tests/e2e/holdfile.c"
sys=$(system32_dir)

# update NAME ARGS...: oupdate.exe /S with its own log; sets status.
update() {
    local name=$1
    shift
    status=0
    timeout 600 wine "$cdir/oupdate.exe" "$win\\abacus.oup" /S "$@" \
        >"$out/links-$name.stdout" 2>"$out/links-$name.stderr" || status=$?
}
log_count() { tr -d '\r' <"$1" | grep -cxF -- "$2" || true; }

# --- a link inside a user-made installation; one installation by two paths ---
make_installations
mkdir -p "$work/drive_m/Fake"
printf 'user-made\r\n' >"$work/drive_m/Fake/abacus.exe"
touch -d '2001-01-01 10:00:00' "$work/drive_m/Fake/abacus.exe"
ln -s "$sys" "$work/drive_m/Fake/data"
ln -s "$work/drive_n/Abacus" "$work/drive_n/AbacusLink"
name=links
log=$cdir/$name.log
update $name "/LOG=$win\\$name.log"
cp "$log" "$out/links-$name.log"
expect "$name: exit status $status, want 1" test "$status" = 1
expect "$name: nothing was written through the link" test ! -e "$sys/tables.dat"
expect_log "Could not update the file M:\\Fake\\data\\tables.dat: reaches outside the installation through a link"
same=$(tr -d '\r' <"$log" | grep -E '^Same as N:\\Abacus(Link)?: N:\\Abacus(Link)?$' || true)
echo "  $same"
expect "$name: one \"Same as\" line names both paths" test "$(wc -l <<<"$same")" = 1 -a -n "$same"
first=${same#Same as }
first=${first%: *}
expect "$name: $first updated once" test "$(log_count "$log" "Installed $first\\abacus.exe")" = 1
expect "$name: the other path updated never" \
    test -z "$(tr -d '\r' <"$log" | grep -F 'Installed N:\Abacus' | grep -vF "Installed $first\\")"
expect "$name: the real N:\\Abacus holds the new files" \
    cmp -s "$src/tables.dat" "$work/drive_n/Abacus/data/tables.dat"

# --- a link re-pointed while the run waits for a held file ---
# The real folder is hidden (a dot folder under Wine): the search finds the
# installation only by the link.
make_installations
real=$work/drive_m/.real
mkdir -p "$real"
cp -p "$work/drive_m/Apps/Abacus/abacus.exe" "$real/"
rm -rf "$work/drive_m/Apps" "$work/drive_m/.old"
ln -s "$real" "$work/drive_m/Ledger"
rm -f "$cdir/held" "$cdir/release"
wine "$cdir/holdfile.exe" 'M:\.real\abacus.exe' "$win\\held" "$win\\release" >/dev/null 2>&1 &
holder=$!
for _ in $(seq 600); do [[ -f $cdir/held ]] && break; sleep 0.1; done
name=repointed
log=$cdir/$name.log
update $name "/LOG=$win\\$name.log" '/DIR=M:\' &
runner=$!
# The temporary file waits beside the held one for about two seconds.
for _ in $(seq 400); do compgen -G "$real/~oup*" >/dev/null && break; sleep 0.05; done
ln -sfn "$sys" "$work/drive_m/Ledger"
wait "$runner" || true
touch "$cdir/release"
timeout 60 tail --pid="$holder" -f /dev/null || kill "$holder" 2>/dev/null || true
holder=
cp "$log" "$out/links-$name.log"
expect "$name: nothing went into the folder the link names now" \
    test ! -e "$sys/data" -a ! -e "$sys/abacus.exe" -a ! -e "$sys/abacus.exe.oupnew"
expect "$name: the new copy waits in the folder the run resolved" \
    cmp -s "$src/abacus.ex_" "$real/abacus.exe.oupnew"
expect "$name: the rest went in there too" cmp -s "$src/tables.dat" "$real/data/tables.dat"
expect_log "Scheduled M:\\Ledger\\abacus.exe for replacement at restart"
list=$(wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations 2>/dev/null | tr -d '\r' | grep Pending || true)
expect "$name: the restart renames by the resolved path" \
    grep -qF '\??\M:\.real\abacus.exe.oupnew\0!\??\M:\.real\abacus.exe' <<<"$list"
wine reg delete 'HKLM\System\CurrentControlSet\Control\Session Manager' \
    /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
rm -f "$work/drive_m/Ledger"

# --- a log that is a link ---
printf '@echo nightly\r\n' >"$cdir/nightly.cmd"
ln -s "$cdir/nightly.cmd" "$cdir/evil.log"
name=log-link
update $name "/LOG=$win\\evil.log"
expect "$name: exit status $status, want 2" test "$status" = 2
expect "$name: the reason on standard error" grep -qF "The log file \"$win\\evil.log\" is refused" \
    "$out/links-$name.stderr"
expect "$name: the .cmd is untouched" test "$(tr -d '\r' <"$cdir/nightly.cmd")" = "@echo nightly"

# --- /ATOMIC: a target that cannot be replaced leaves its installation as it was ---
make_installations
chmod 444 "$work/drive_n/Abacus/abacus.exe"  # Wine shows it read-only
snapshot() { (cd "$1" && find . -printf '%p %y %s %T@\n' | sort && find . -type f -exec md5sum {} + | sort); }
before=$(snapshot "$work/drive_n/Abacus")
name=atomic
log=$cdir/$name.log
update $name "/LOG=$win\\$name.log" /ATOMIC
cp "$log" "$out/links-$name.log"
expect "$name: exit status $status, want 1" test "$status" = 1
expect "$name: N:\\Abacus byte for byte as before" test "$before" = "$(snapshot "$work/drive_n/Abacus")"
expect_log "Left unchanged: N:\\Abacus: N:\\Abacus\\abacus.exe: read-only: it cannot be replaced"
m_updated() {
    local m=$work/drive_m/Apps/Abacus
    cmp -s "$src/abacus.ex_" "$m/abacus.exe" && cmp -s "$src/abacus.hl_" "$m/abacus.hlp" &&
        cmp -s "$src/tables.dat" "$m/data/tables.dat" && cmp -s "$src/abacusrt.dl_" "$sysdll"
}
expect "$name: M:\\Apps\\Abacus fully updated" m_updated
expect "$name: no ~oup or .oupold file anywhere" \
    test -z "$(find "$work" \( -name '~oup*' -o -name '*.oupold' \) -print)"
chmod 644 "$work/drive_n/Abacus/abacus.exe"

# --- the kill sweep ---
many=$work/many-src
mkdir -p "$many"
{
    printf '%s\r\n' "Abacus 2" "2.5.0" "Made-up Software" "abacus.exe" "30.12.1899" "01.06.2004" "true"
    for i in $(seq -w 1 30); do
        printf '%s\r\n' "f$i.bin" "f$i.bin" "Always copy" "15.06.2004 12:34:56" '<installdir>\'
    done
} | head -c -2 >"$many/oupdate.inf"
cp "$root/examples/ledger/languages/english.ln_" "$many/"
for i in $(seq -w 1 30); do head -c 400000 /dev/urandom >"$many/f$i.bin"; done
"$oupack" create -o "$cdir/abacus.oup" "$many"/* >/dev/null
# Two installations of 30 old files each.
make_many() {
    local d i
    rm -rf "$work/drive_m" "$work/drive_n"
    for d in "$work/drive_m/One" "$work/drive_n/Two"; do
        mkdir -p "$d"
        printf 'old\r\n' >"$d/abacus.exe"
        for i in $(seq -w 1 30); do printf 'old %s\r\n' "$i" >"$d/f$i.bin"; done
    done
}
# Every file old or new (never torn), and the counts.
count_files() {
    local d i f
    new=0 old=0 torn=0 litter=0
    for d in "$work/drive_m/One" "$work/drive_n/Two"; do
        for i in $(seq -w 1 30); do
            f=$d/f$i.bin
            if cmp -s "$f" "$many/f$i.bin"; then new=$((new + 1))
            elif [[ $(tr -d '\r' <"$f") == "old $i" ]]; then old=$((old + 1))
            else torn=$((torn + 1)); fi
        done
        find "$d" \( -name '~oup*' -o -name '*.oupnew' -o -name '*.oupold' \) -printf '  left over: %p (%s bytes)\n'
        litter=$((litter + $(find "$d" \( -name '~oup*' -o -name '*.oupnew' -o -name '*.oupold' \) | wc -l)))
    done
}
# sweep LABEL OPTIONS...: ten runs, each on fresh installations, killed at
# moments spread over the writing: the first as soon as a temporary file is
# there, the others once 6, 12, ... 54 files are new; then one complete run
# on what the last kill left.
sweep() {
    local label=$1 k pid want
    shift
    local total_new=0 total_old=0 total_torn=0 total_litter=0
    for k in $(seq 1 10); do
        make_many
        # $! is the Windows process itself: Wine's loader becomes it.
        wine "$cdir/oupdate.exe" "$win\\abacus.oup" /S "$@" >/dev/null 2>&1 &
        pid=$!
        want=$(((k - 1) * 6))
        # With /ATOMIC the last kill comes inside a swap, so that the
        # complete run has something to put back.
        [[ $label == atomic && $k == 10 ]] && want=-1
        for _ in $(seq 3000); do
            kill -0 "$pid" 2>/dev/null || break
            if ((want == -1)); then
                compgen -G "$work/drive_n/Two/*.oupold" >/dev/null && break
            elif ((want == 0)); then
                compgen -G "$work/drive_m/One/~oup*" >/dev/null && break
            elif (($(find "$work/drive_m" "$work/drive_n" -name 'f*.bin' -size 400000c 2>/dev/null | wc -l) >= want)); then
                break
            fi
            sleep 0.02
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        sleep 0.5  # the Wine server closes what the killed process held
        count_files
        echo "  $label kill $k (at $want new): $new new, $old old, $torn torn, $litter left over"
        total_new=$((total_new + new)) total_old=$((total_old + old))
        total_torn=$((total_torn + torn)) total_litter=$((total_litter + litter))
    done
    echo "  $label sweep: $total_new new, $total_old old, $total_torn torn, $total_litter left over in 10 kills"
    expect "$label: no file was ever torn" test "$total_torn" = 0
    local kept
    kept=$(find "$work/drive_n/Two" -name '*.oupold' | wc -l)
    update "$label-after" "$@" "/LOG=$win\\$label-after.log"
    cp "$cdir/$label-after.log" "$out/links-$label-after.log"
    if ((kept > 0)); then
        expect "$label-after: the $kept files the last kill kept are put back first" \
            test "$(tr -d '\r' <"$cdir/$label-after.log" | grep -c '^Put back ')" = "$kept"
    fi
    count_files
    expect "$label-after: exit status $status, want 0" test "$status" = 0
    expect "$label-after: all 60 files new ($new)" test "$new" = 60
    expect "$label-after: nothing left over" test "$litter" = 0 -a \
        "$(find "$work/drive_m" "$work/drive_n" -type f | wc -l)" = 62
    sweep_litter=$total_litter
}
sweep plain
expect "plain: no temporary file was left by any kill" test "$sweep_litter" = 0
sweep atomic /ATOMIC

echo "logs in $out"
echo "links-and-kills: $passed passed, $failed failed"
((failed == 0))
