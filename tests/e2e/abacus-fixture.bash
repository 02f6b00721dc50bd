# Shared by the end-to-end scripts that run a whole update under Wine
# (sourced, not run: test.sh runs only *.sh). It provides:
#  - a package source for the made-up program "Abacus 2" (abacus.exe), with
#    one entry of every kind of target directory and dates with even seconds;
#  - two Wine drives M: and N: (dosdevices links to folders of a work
#    directory) holding installations, with z: taken away while the run lasts
#    so that a search of every drive does not walk the whole Linux tree; the
#    prefix is left as it was found on exit;
#  - fixture_c_dir, a fresh folder on C: with oupdate.exe and the package;
#  - checks: pass/fail counting, file content and last-write time;
#  - the wizard's helpers: wait_for, window_shown, logged, key;
#  - stored_package, a package written without oupack, which may come to
#    refuse the broken scripts some runs need.
#
# The sourcing script sets `work` (a directory of its own) and calls
# fixture_begin; fixture_end runs from its EXIT trap.

: "${OUP_BUILD_WIN:=$root/build/windows}"
: "${OUP_BUILD_HOST:=$root/build/host}"
: "${WINEPREFIX:=$OUP_BUILD_WIN/wine}"
export OUP_BUILD_WIN OUP_BUILD_HOST WINEPREFIX
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

exe=${OUP_OUPDATE_EXE:-$OUP_BUILD_WIN/src/app/win32/oupdate.exe}
oupack=${OUP_OUPACK:-$OUP_BUILD_HOST/tools/oupack/oupack}
out=$OUP_BUILD_WIN/e2e

passed=0 failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
# expect WHAT COMMAND...: one check.
expect() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}

# The script: file name in the package, installed name, mode, date, target
# directory. The system directory entry goes in once per run.
abacus_script() {
    printf '%s\r\n' "Abacus 2" "2.5.0" "Made-up Software" "abacus.exe" "30.12.1899" \
        "01.06.2004" "true" \
        "abacus.ex_" "abacus.exe" "Update if older or missing" "15.06.2004 12:34:56" '<installdir>\' \
        "abacus.hl_" "abacus.hlp" "Update if present" "02.03.2004 08:09:10" '<installdir>\' \
        "tables.dat" "tables.dat" "Always copy" "01.05.2004 00:00:00" ' <installdir>\data\ ' \
        "abacusrt.dl_" "abacusrt.dll" "Always update" "15.06.2004 12:30:00" '<winsysdir>\' |
        head -c -2  # no line break after the last line: it would start another entry
}

# Installed files and their dates (dd.mm.yyyy hh:mm:ss), relative to an
# installation; the system directory file separately.
declare -A want_date=(
    [abacus.exe]="15.06.2004 12:34:56"
    [abacus.hlp]="02.03.2004 08:09:10"
    [data/tables.dat]="01.05.2004 00:00:00"
)
sysdll_date="15.06.2004 12:30:00"

# Writes the package source into $1: script, notes, language file, payload.
make_source() {
    local src=$1
    mkdir -p "$src"
    abacus_script >"$src/oupdate.inf"
    printf 'Abacus 2.5.0\r\nFaster sums.\r\n' >"$src/oupdate.mem"
    cp "$root/examples/ledger/languages/english.ln_" "$src/english.ln_"
    printf 'new abacus.exe 2.5.0\r\n' >"$src/abacus.ex_"
    printf 'new help\r\n' >"$src/abacus.hl_"
    head -c 70000 /dev/urandom >"$src/tables.dat"  # spreads a package over volumes
    printf 'new runtime\r\n' >"$src/abacusrt.dl_"
}

# fixture_c_dir NAME: a fresh folder C:\NAME for the run's programs and
# packages: sets cdir (its Linux path), win (its Windows path) and src (the
# package source, made in $work/src), and holds oupdate.exe and abacus.oup.
fixture_c_dir() {
    cdir=$WINEPREFIX/drive_c/$1
    win="C:\\$1"
    rm -rf "$cdir"
    mkdir -p "$cdir"
    cp "$exe" "$cdir/oupdate.exe"
    src=$work/src
    make_source "$src"
    "$oupack" create -o "$cdir/abacus.oup" "$src"/* >/dev/null
}

# (Re)creates the installations: M:\Apps\Abacus with an old abacus.exe and
# abacus.hlp, N:\Abacus with abacus.exe only. M:\.old holds an abacus.exe
# too, but Wine shows dot directories as hidden, and a hidden directory is
# no installation.
make_installations() {
    rm -rf "$work/drive_m" "$work/drive_n"
    mkdir -p "$work/drive_m/Apps/Abacus" "$work/drive_m/Docs" "$work/drive_m/.old" \
        "$work/drive_n/Abacus"
    printf 'old abacus.exe 2.0\r\n' >"$work/drive_m/Apps/Abacus/abacus.exe"
    printf 'old help\r\n' >"$work/drive_m/Apps/Abacus/abacus.hlp"
    printf 'old abacus.exe 2.1\r\n' >"$work/drive_n/Abacus/abacus.exe"
    printf 'old abacus.exe 1.0\r\n' >"$work/drive_m/.old/abacus.exe"
    printf 'notes\r\n' >"$work/drive_m/Docs/readme.txt"
    touch -d '2001-01-01 10:00:00' "$work"/drive_m/Apps/Abacus/* "$work"/drive_n/Abacus/*
    rm -f "$sysdll"
}

# Where Wine keeps the 32-bit system directory of this prefix.
system32_dir() {
    if [[ -d $WINEPREFIX/drive_c/windows/syswow64 ]]; then
        echo "$WINEPREFIX/drive_c/windows/syswow64"
    else
        echo "$WINEPREFIX/drive_c/windows/system32"
    fi
}

saved_z=
fixture_begin() {
    mkdir -p "$out"
    if [[ ! -d $WINEPREFIX/drive_c ]]; then
        echo "creating the Wine prefix $WINEPREFIX"
        timeout 600 wine wineboot -i >/dev/null 2>&1
    fi
    sysdll=$(system32_dir)/abacusrt.dll
    local dd=$WINEPREFIX/dosdevices
    if [[ -L $dd/z: ]]; then
        saved_z=$(readlink "$dd/z:")
        rm "$dd/z:"
    fi
    rm -rf "$work"
    mkdir -p "$work"
    ln -sfn "$work/drive_m" "$dd/m:"
    ln -sfn "$work/drive_n" "$dd/n:"
}

fixture_end() {
    wineserver -k 2>/dev/null || true
    local dd=$WINEPREFIX/dosdevices
    rm -f "$dd/m:" "$dd/n:"
    [[ -n $saved_z && ! -e $dd/z: ]] && ln -s "$saved_z" "$dd/z:"
    rm -f "${sysdll:-/nonexistent}"
    rm -rf "${work:?}"
}

# file_date PATH: last-write time as the script writes dates.
file_date() { date -r "$1" '+%d.%m.%Y %H:%M:%S'; }

# installed_everywhere WHAT: every installation has every file of the package
# with the script's date, and the system directory its file.
installed_everywhere() {
    local what=$1 dir f bad=0
    for dir in "$work/drive_m/Apps/Abacus" "$work/drive_n/Abacus"; do
        for f in abacus.exe data/tables.dat; do
            if ! cmp -s "$src/$(src_name "$f")" "$dir/$f"; then
                echo "  $dir/$f: not the package's file"
                bad=1
            elif [[ $(file_date "$dir/$f") != "${want_date[$f]}" ]]; then
                echo "  $dir/$f: dated $(file_date "$dir/$f"), want ${want_date[$f]}"
                bad=1
            fi
        done
    done
    # "Update if present": only where the help file was.
    local hlp=$work/drive_m/Apps/Abacus/abacus.hlp
    if ! cmp -s "$src/abacus.hl_" "$hlp" || [[ $(file_date "$hlp") != "${want_date[abacus.hlp]}" ]]; then
        echo "  $hlp: not updated with its date"
        bad=1
    fi
    if [[ -e $work/drive_n/Abacus/abacus.hlp ]]; then
        echo "  N:\\Abacus\\abacus.hlp was created"
        bad=1
    fi
    if ! cmp -s "$src/abacusrt.dl_" "$sysdll" || [[ $(file_date "$sysdll") != "$sysdll_date" ]]; then
        echo "  $sysdll: not installed with its date"
        bad=1
    fi
    if ! no_temporary_files; then
        echo "  a temporary file was left behind"
        bad=1
    fi
    expect "$what: every file installed with the script's date" test $bad = 0
}

src_name() {
    case $1 in
        abacus.exe) echo abacus.ex_ ;;
        abacus.hlp) echo abacus.hl_ ;;
        data/tables.dat) echo tables.dat ;;
    esac
}

# log_has LOG LINE: the log (Windows text) holds exactly this line.
log_has() { tr -d '\r' <"$1" | grep -qxF -- "$2"; }
log_lacks() { ! log_has "$@"; }
# expect_log LINE...: each line is in this run's log ($log, for run $name).
expect_log() {
    local line
    for line in "$@"; do
        expect "$name: log line \"$line\"" log_has "$log" "$line"
    done
}

# --- the wizard on a display, for the scripts that drive it ---
# wait_for SECONDS TEST...: polls until the test holds; false on timeout or
# when the program ($pid) has ended.
wait_for() {
    local seconds=$1
    shift
    for ((i = 0; i < seconds * 4; i++)); do
        "$@" && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.25
    done
    return 1
}
window_shown() { xdotool search --onlyvisible --name '^Ostrel Update 2002$' >/dev/null 2>&1; }
logged() { [[ -f $log ]] && log_has "$log" "$1"; }
# key KEY: a key pressed in the wizard's window.
key() {
    local id
    id=$(xdotool search --onlyvisible --name '^Ostrel Update 2002$' | head -1)
    xdotool windowfocus --sync "$id" 2>/dev/null || true
    xdotool key --window "$id" "$1" 2>/dev/null || xdotool key "$1"
}

no_temporary_files() {
    ! ls "$work"/drive_m/Apps/Abacus/~oup* "$work"/drive_n/Abacus/~oup* >/dev/null 2>&1
}

# le32 N: N as four little-endian bytes (negative N in two's complement).
le32() {
    local v=$(($1 & 0xFFFFFFFF))
    printf "$(printf '\\%03o\\%03o\\%03o\\%03o' $((v & 255)) $((v >> 8 & 255)) \
        $((v >> 16 & 255)) $((v >> 24 & 255)))"
}

# stored_package OUT FILE...: a package holding the files unchanged.
stored_package() {
    local out=$1 f name size at n total=0
    shift
    for f in "$@"; do total=$((total + $(stat -c %s "$f"))); done
    {
        le32 0
        le32 "$total"
        le32 $#
        for f in "$@"; do
            name=$(basename "$f")
            le32 ${#name}
            printf '%s' "$name"
            le32 0x325C86FA  # 28.02.2005 16:55:52
            printf 'EC2\0'
            size=$(stat -c %s "$f")
            for ((at = 0; at < size; at += 16384)); do
                n=$((size - at < 16384 ? size - at : 16384))
                le32 $((-n))
                dd if="$f" bs=16384 skip=$((at / 16384)) count=1 status=none
            done
            le32 0
        done
        le32 0
    } >"$out"
}
