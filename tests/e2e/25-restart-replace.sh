#!/usr/bin/env bash
# Files in use, replaced when Windows restarts, and the deployment files of
# examples/deploy, under Wine with the "Abacus 2" installations of
# tests/e2e/abacus-fixture.bash:
#  - abacus.exe held open without sharing by a running program (holdfile.exe),
#    in a folder only its owner may write to (Wine keeps rights as Unix mode
#    bits: 755 admits write to this account alone): oupdate.exe /S exits with 3010, logs "Scheduled ... for replacement at
#    restart", installs every other file, leaves the held file as it was with
#    its dated new copy beside it, and the pending-rename list in the Wine
#    registry names both; once the holder has ended, a Windows restart
#    (wineboot -r) puts the new copy in place with the package's date;
#  - the same in a folder open to every user (mode 777): nothing is staged,
#    the file fails as "in use" with the reason, exit status 1;
#  - examples/deploy/install.cmd passes the updater's exit status through
#    (0, and 3010 with the file held), making its log folder when it is
#    missing; a log folder that is there already is refused (status 2,
#    nothing run) unless PowerShell names SYSTEM or the Administrators as
#    its owner. Wine's PowerShell is a stub that names no owner, so here every
#    existing folder is refused, and Wine's icacls is a stub too: the rights
#    the script gives a new folder cannot be seen under Wine;
#  - examples/deploy/update-ledger.yml passes yamllint and names only modules
#    of the ansible.windows collection.
# Exit statuses are read inside Wine (exitstatus.exe): a Linux parent sees
# only their low 8 bits. The wineserver is kept running from the update to
# the restart, because every fresh start of it boots the Wine machine, which
# carries out the pending renames. No pending rename is left behind.
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/restart-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "25-restart-replace: missing $f (build both presets first)" >&2; exit 1; }
done

session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'
# The pending-rename list as reg prints it (one line), empty when there is none.
pending_renames() {
    wine reg query "$session_manager" /v PendingFileRenameOperations 2>/dev/null |
        tr -d '\r' | grep PendingFileRenameOperations || true
}

holder=
cleanup() {
    [[ -n $holder ]] && kill "$holder" 2>/dev/null
    wine reg delete "$session_manager" /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
    fixture_end
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin
wineserver -k 2>/dev/null || true
wineserver -p

fixture_c_dir oup-e2e-restart
mkdir -p "$cdir/deploy"
i686-w64-mingw32-gcc -O2 -s -o "$cdir/holdfile.exe" "$root/tests/e2e/holdfile.c"
i686-w64-mingw32-gcc -O2 -s -o "$cdir/exitstatus.exe" "$root/tests/e2e/exitstatus.c"
# install.cmd runs the update named in it, beside it.
"$oupack" append "$cdir/oupdate.exe" "$cdir/abacus.oup" -o "$cdir/deploy/ledger-update.exe" >/dev/null
cp "$root/examples/deploy/install.cmd" "$cdir/deploy/"

# run NAME COMMAND...: runs a Windows command line to its end; sets status
# to its whole exit status (empty when it could not be read).
run() {
    local name=$1
    shift
    timeout 600 wine "$win\\exitstatus.exe" "$@" >"$out/restart-$name.wine.log" 2>&1 || true
    status=$(tr -d '\r' <"$out/restart-$name.wine.log" | sed -n 's/^status=//p' | tail -n 1)
}

# hold PATH: a running program holds the file (Windows path) without sharing.
hold() {
    rm -f "$cdir/held" "$cdir/release"
    wine "$win\\holdfile.exe" "$1" "$win\\held" "$win\\release" \
        >"$out/restart-holdfile.wine.log" 2>&1 &
    holder=$!
    for _ in $(seq 600); do
        [[ -f $cdir/held ]] || ! kill -0 "$holder" 2>/dev/null && break
        sleep 0.1
    done
    [[ -f $cdir/held ]]
}
let_go() {
    touch "$cdir/release"
    if [[ -n $holder ]]; then
        timeout 60 tail --pid="$holder" -f /dev/null || kill "$holder" 2>/dev/null || true
    fi
    holder=
}

held=$work/drive_m/Apps/Abacus/abacus.exe
staged=$held.oupnew
held_win='M:\Apps\Abacus\abacus.exe'

# is_package_file FILE SOURCE DATE: the package's content with its date.
is_package_file() { cmp -s "$2" "$1" && [[ $(file_date "$1") == "$3" ]]; }

# Every file of the package but the held one is in place, with its date.
others_installed() {
    is_package_file "$work/drive_n/Abacus/abacus.exe" "$src/abacus.ex_" "${want_date[abacus.exe]}" &&
        is_package_file "$work/drive_m/Apps/Abacus/abacus.hlp" "$src/abacus.hl_" "${want_date[abacus.hlp]}" &&
        is_package_file "$work/drive_m/Apps/Abacus/data/tables.dat" "$src/tables.dat" "${want_date[data/tables.dat]}" &&
        is_package_file "$work/drive_n/Abacus/data/tables.dat" "$src/tables.dat" "${want_date[data/tables.dat]}" &&
        is_package_file "$sysdll" "$src/abacusrt.dl_" "$sysdll_date"
}

# --- a held file waits for the restart; the restart puts it in ---
make_installations
chmod 755 "$work/drive_m/Apps/Abacus"
name=held
if hold "$held_win"; then
    run $name "$win\\oupdate.exe" "$win\\abacus.oup" /S "/LOG=$win\\$name.log"
    log=$cdir/$name.log
    [[ -f $log ]] && cp "$log" "$out/restart-$name.log"
    expect "$name: exit status $status, want 3010" test "$status" = 3010
    expect "$name: log line \"Scheduled $held_win for replacement at restart\"" \
        log_has "$log" "Scheduled $held_win for replacement at restart"
    expect "$name: log line of the totals" \
        log_has "$log" "Update finished: 5 installed, 0 failed, 1 waiting for a restart"
    expect "$name: every other file is installed with its date" others_installed
    expect "$name: the held file keeps its old content" grep -q 'old abacus.exe 2.0' "$held"
    expect "$name: the new copy waits beside it, with its date" \
        is_package_file "$staged" "$src/abacus.ex_" "${want_date[abacus.exe]}"
    expect "$name: no temporary file is left" no_temporary_files
    list=$(pending_renames)
    echo "  $list"
    expect "$name: the pending-rename list moves the new copy over the held file" \
        grep -qF "\\??\\$held_win.oupnew\\0!\\??\\$held_win" <<<"$list"

    let_go
    timeout 300 wine wineboot -r >"$out/restart-wineboot.log" 2>&1 || true
    expect "restart: the file has the new content and the package's date" \
        is_package_file "$held" "$src/abacus.ex_" "${want_date[abacus.exe]}"
    expect "restart: no staged copy and no temporary file are left" \
        test ! -e "$staged" -a -z "$(ls "$work"/drive_m/Apps/Abacus/~oup* 2>/dev/null)"
    expect "restart: the pending-rename list is empty" test -z "$(pending_renames)"
else
    fail "$name: holdfile.exe did not open the file"
    let_go
fi

# --- a held file in a folder every user may write to is not staged ---
make_installations
chmod 777 "$work/drive_m/Apps/Abacus"
name=open-folder
if hold "$held_win"; then
    run $name "$win\\oupdate.exe" "$win\\abacus.oup" /S "/LOG=$win\\$name.log"
    let_go
    log=$cdir/$name.log
    [[ -f $log ]] && cp "$log" "$out/restart-$name.log"
    expect "$name: exit status $status, want 1" test "$status" = 1
    expect "$name: the log names the file and why" log_has "$log" \
        "Could not update the file $held_win: in use: its folder admits write to other users, so it is not left to be replaced at restart"
    expect "$name: nothing staged, nothing scheduled" test ! -e "$staged" -a -z "$(pending_renames)"
    expect "$name: the held file keeps its old content" grep -q 'old abacus.exe 2.0' "$held"
else
    fail "$name: holdfile.exe did not open the file"
    let_go
fi

# --- install.cmd passes the status through; its log folder is made ---
export OUP_LOG_DIR="$win\\deploy\\logs"
deploy_log=$cdir/deploy/logs/ledger-update.exe.log
make_installations
name=install-0
run $name cmd /c "$win\\deploy\\install.cmd"
expect "$name: exit status $status, want 0" test "$status" = 0
installed_everywhere $name
expect "$name: the log is in the folder it made" \
    log_has "$deploy_log" "Update finished: 6 installed, 0 failed"

# The folder from the run before: its owner cannot be confirmed here.
make_installations
name=install-existing-folder
run $name cmd /c "$win\\deploy\\install.cmd"
expect "$name: exit status $status, want 2" test "$status" = 2
expect "$name: the update did not run" grep -q 'old abacus.exe 2.1' "$work/drive_n/Abacus/abacus.exe"
expect "$name: the message names the folder" \
    grep -qF 'logs" is owned by "", not by SYSTEM or the Administrators: refused.' "$out/restart-$name.wine.log"
rm -rf "$cdir/deploy/logs"

make_installations
name=install-3010
if hold "$held_win"; then
    run $name cmd /c "$win\\deploy\\install.cmd" '/DIR=M:\Apps'
    let_go
    expect "$name: exit status $status, want 3010" test "$status" = 3010
    expect "$name: the log names the held file" \
        log_has "$deploy_log" "Scheduled $held_win for replacement at restart"
else
    fail "$name: holdfile.exe did not open the file"
    let_go
fi
unset OUP_LOG_DIR

# --- the Ansible playbook ---
playbook=$root/examples/deploy/update-ledger.yml
expect "playbook: yamllint -s" yamllint -s "$playbook"
# Every task names one module, and each is one of ansible.windows.
modules_of() {
    python3 - "$1" <<'EOF'
import sys, yaml
keywords = {"name", "register", "when", "changed_when", "failed_when", "args", "vars",
            "notify", "become", "become_user", "tags", "loop", "ignore_errors", "retries",
            "delay", "until", "environment", "no_log", "delegate_to", "run_once"}
for play in yaml.safe_load(open(sys.argv[1])):
    for section in ("pre_tasks", "tasks", "post_tasks", "handlers"):
        for task in play.get(section) or []:
            modules = [key for key in task if key not in keywords]
            print(modules[0] if len(modules) == 1 else "?" + ",".join(modules))
EOF
}
modules=$(modules_of "$playbook" | sort -u | tr '\n' ' ')
expect "playbook: modules $modules all of ansible.windows" \
    test -n "$modules" -a -z "$(tr ' ' '\n' <<<"$modules" | grep -v '^ansible\.windows\.' | grep .)"

echo "logs in $out"
echo "restart-replace: $passed passed, $failed failed"
((failed == 0))
