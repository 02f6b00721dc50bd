#!/usr/bin/env bash
# The run report (/REPORT) and one update at a time, under Wine, with the
# bundled example examples/ledger packed into a self-contained update (as
# scripts/demo.sh packs it) and two old Ledger installations on M: and N:
# (the drives of tests/e2e/abacus-fixture.bash):
#  - /PREVIEW /S /REPORT: a report that validates against
#    docs/report.schema.json, says preview, and has one file record per
#    "Would ..." line of the log, in order;
#  - /S /REPORT: the same with every Installed/Skipped line, and the exit
#    status of the program (read inside Wine, by exitstatus.exe) in it;
#  - two runs at once: while the first waits in its in-use retries for the
#    files that holdfile.exe holds, a second /S run exits 1618 before the
#    first has finished, with its log line and its report; the first
#    finishes normally (3010), its report naming the held files as
#    scheduled, with the reason the Restart Manager allows (Wine's answers
#    nothing, so "in use" alone: what this script prints says so).
# The report is checked with Python's json and jsonschema (Debian:
# python3-jsonschema).
#
# Environment (scripts/test.sh exports it): OUP_BUILD_WIN, OUP_BUILD_HOST,
# WINEPREFIX. Logs and reports of each run go to $OUP_BUILD_WIN/e2e/.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
: "${OUP_BUILD_WIN:=$root/build/windows}"
work=$OUP_BUILD_WIN/e2e/report-work
# shellcheck source=abacus-fixture.bash
source "$root/tests/e2e/abacus-fixture.bash"

for f in "$exe" "$oupack"; do
    [[ -f $f ]] || { echo "47-report-and-lock: missing $f (build both presets first)" >&2; exit 1; }
done

session_manager='HKLM\System\CurrentControlSet\Control\Session Manager'
holders=()
cleanup() {
    [[ -n ${cdir:-} ]] && touch "$cdir/release"
    for pid in "${holders[@]}" ${first:-}; do kill "$pid" 2>/dev/null || true; done
    wine reg delete "$session_manager" /v PendingFileRenameOperations /f >/dev/null 2>&1 || true
    fixture_end
    rm -f "${sys_files[@]:-/nonexistent}"
    rm -rf "${cdir:-/nonexistent}"
}
trap cleanup EXIT
fixture_begin

# The bundled example as a self-contained update, and the helpers, on C:.
cdir=$WINEPREFIX/drive_c/oup-e2e-report
win='C:\oup-e2e-report'
rm -rf "$cdir"
mkdir -p "$cdir/package"
cp "$root"/examples/ledger/package/* "$root/examples/ledger/languages/english.ln_" "$cdir/package/"
(cd "$cdir/package" && "$oupack" create -o "$cdir/ledger.oup" ./* >/dev/null)
"$oupack" append "$exe" "$cdir/ledger.oup" -o "$cdir/ledger-update.exe" >/dev/null
i686-w64-mingw32-gcc -O2 -s -o "$cdir/holdfile.exe" "$root/tests/e2e/holdfile.c"
i686-w64-mingw32-gcc -O2 -s -o "$cdir/exitstatus.exe" "$root/tests/e2e/exitstatus.c"
windows=$WINEPREFIX/drive_c/windows
sys_files=("$(system32_dir)/ledgerrt.dll" "$windows/Fonts/nordvik.fon")
rm -f "${sys_files[@]}"

# Two old installations of Ledger 3, as the demo lays them out.
make_ledger() {
    rm -rf "$work/drive_m" "$work/drive_n"
    mkdir -p "$work/drive_m/Program Files/Ledger" "$work/drive_n/Apps/Ledger"
    printf 'Ledger 3.1 (old)\r\n' >"$work/drive_m/Program Files/Ledger/ledger.exe"
    printf 'Ledger 3.1 help (old)\r\n' >"$work/drive_m/Program Files/Ledger/ledger.hlp"
    printf 'Ledger 3.0 (old)\r\n' >"$work/drive_n/Apps/Ledger/ledger.exe"
    touch -d '2004-06-01 12:00' "$work"/drive_m/Program\ Files/Ledger/* "$work"/drive_n/Apps/Ledger/*
}

# run NAME ARGS...: the update to its end with /LOG and /REPORT; sets
# status (the whole exit status), log and report (Linux paths).
run() {
    local name=$1
    shift
    log=$cdir/$name.log report=$cdir/$name.json
    rm -f "$log" "$report"
    timeout 600 wine "$win\\exitstatus.exe" "$win\\ledger-update.exe" /S '/DIR=M:\;N:\' \
        "/LOG=$win\\$name.log" "/REPORT=$win\\$name.json" "$@" >"$out/report-$name.wine.log" 2>&1 || true
    status=$(tr -d '\r' <"$out/report-$name.wine.log" | sed -n 's/^status=//p' | tail -n 1)
    keep
}
keep() {
    [[ -f $log ]] && cp "$log" "$out/report-$name.log"
    [[ -f $report ]] && cp "$report" "$out/report-$name.json"
    return 0
}

# check_report STATUS PREVIEW: the report of run $name validates against the
# schema, has this exit status and preview flag, and one file record for
# each decision line of the log, in order, with the log's target and
# outcome. Prints what differs, and the outcomes with their reasons.
check_report() {
    python3 - "$report" "$root/docs/report.schema.json" "$log" "$1" "$2" <<'EOF'
import json, re, sys
import jsonschema

report_path, schema_path, log_path, status, preview = sys.argv[1:6]
report = json.load(open(report_path, encoding="utf-8"))
jsonschema.Draft202012Validator(json.load(open(schema_path))).validate(report)
problems = []
if report["exitStatus"] != int(status):
    problems.append(f"exitStatus {report['exitStatus']}, the program's {status}")
if report["preview"] != (preview == "true"):
    problems.append(f"preview {report['preview']}")
lines = [l.rstrip("\r\n") for l in open(log_path, encoding="cp1252")]
kinds = [("Installed ", "installed"), ("Scheduled ", "scheduled"),
         ("Could not update the file ", "failed"), ("Skipped ", "skipped"),
         ("Would install ", "would-install"), ("Would skip ", "would-skip"),
         ("Would fail ", "would-fail")]
logged = []
for line in lines:
    for start, outcome in kinds:
        if line.startswith(start):
            target = re.split(r": | for replacement at restart", line[len(start):])[0]
            logged.append((target, outcome))
records = [(f["target"], f["outcome"]) for i in report["installations"] for f in i["files"]]
if records != logged:
    problems.append(f"records {records}\n  log {logged}")
for i in report["installations"]:
    for f in i["files"]:
        print(f"  {f['outcome']:13} {f['target']}" + (f": {f['reason']}" if "reason" in f else ""))
print(f"  {len(records)} records, exitStatus {report['exitStatus']}, errors {report['errors']}")
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
EOF
}
# reason_of TARGET: the reason the report of run $name gives for the file.
reason_of() {
    python3 -c 'import json, sys
for i in json.load(open(sys.argv[1], encoding="utf-8"))["installations"]:
    for f in i["files"]:
        if f["target"] == sys.argv[2]: print(f.get("outcome"), f.get("reason", ""))' "$report" "$1"
}

# --- a preview, then the update ---
make_ledger
name=preview
run $name /PREVIEW
expect "$name: exit status $status, want 0" test "$status" = 0
expect "$name: the report validates, says preview and lists every decision of the log" \
    check_report "$status" true

name=update
run $name
expect "$name: exit status $status, want 0" test "$status" = 0
expect "$name: the report validates and lists every decision of the log" check_report "$status" false
expect "$name: the package is the update itself, appended" \
    grep -qF '"signature": "appended"' "$report"

# --- two runs at once ---
# hold PATH...: a running program holds each file (Windows paths) without sharing.
hold() {
    local n=0 path
    rm -f "$cdir"/held* "$cdir/release"
    for path in "$@"; do
        n=$((n + 1))
        wine "$win\\holdfile.exe" "$path" "$win\\held$n" "$win\\release" \
            >"$out/report-holdfile$n.wine.log" 2>&1 &
        holders+=($!)
    done
    for _ in $(seq 600); do
        [[ $(find "$cdir" -maxdepth 1 -name 'held*' | wc -l) -ge $n ]] && return 0
        sleep 0.1
    done
    return 1
}
# Each held file keeps the first run in its retries for about two seconds:
# three of them leave the second run six to start up in.
held_m='M:\Program Files\Ledger\ledger.exe'
make_ledger
if hold "$held_m" 'M:\Program Files\Ledger\ledger.hlp' 'N:\Apps\Ledger\ledger.exe'; then
    rm -f "$cdir/first.log" "$cdir/first.json"
    timeout 600 wine "$win\\exitstatus.exe" "$win\\ledger-update.exe" /S '/DIR=M:\;N:\' \
        "/LOG=$win\\first.log" "/REPORT=$win\\first.json" >"$out/report-first.wine.log" 2>&1 &
    first=$!
    for _ in $(seq 1200); do
        [[ -f $cdir/first.log ]] && tr -d '\r' <"$cdir/first.log" | grep -q '^Updating ' && break
        kill -0 "$first" 2>/dev/null || break
        sleep 0.05
    done
    started=$(date +%s%N)
    name=second
    run $name
    took=$((($(date +%s%N) - started) / 1000000))
    first_done=$(tr -d '\r' <"$cdir/first.log" | grep -c '^Update finished' || true)
    expect "$name: exit status $status, want 1618 (after $took ms)" test "$status" = 1618
    expect "$name: the first run had not finished when the second ended" test "$first_done" = 0
    expect_log "Error: Another update is running on this computer. Try again when it has finished."
    # Which lock this system allows (none of this line: the private namespace).
    tr -d '\r' <"$log" | sed -n 's/^One update at a time: /  the lock: /p'
    expect "$name: the report validates and says 1618" check_report "$status" false

    timeout 120 tail --pid="$first" -f /dev/null || true
    first=
    touch "$cdir/release"
    name=first log=$cdir/first.log report=$cdir/first.json
    status=$(tr -d '\r' <"$out/report-first.wine.log" | sed -n 's/^status=//p' | tail -n 1)
    keep
    expect "$name: exit status $status, want 3010" test "$status" = 3010
    expect_log "Update finished: 4 installed, 0 failed, 3 waiting for a restart"
    expect "$name: the report validates and lists every decision of the log" \
        check_report "$status" false
    held_reason=$(reason_of "$held_m")
    echo "  the report of $held_m: $held_reason"
    expect "$name: the held file is scheduled, in use" grep -q '^scheduled in use' <<<"$held_reason"
    if [[ $held_reason == "scheduled in use" ]]; then
        echo "  Wine's Restart Manager names no program that holds a file: the reason stays \"in use\"," \
            "as the log line does; the holders' names are shown by the unit tests only"
    fi
else
    fail "holdfile.exe did not open the files"
fi

echo "logs in $out"
echo "report-and-lock: $passed passed, $failed failed"
((failed == 0))
