#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan/UBSan) and runs every fuzz
# target in turn, the given number of seconds (default 60) shared between
# them, each from its seeds:
#   restore  the restore engine, from a freshly written seed corpus;
#   text     the script, notes and language readers, from tests/fuzz/text-seeds
#            (which keeps the inputs of fixed findings) and the bundled example;
#   image    the image-end and certificate rule over executable bytes, from a
#            freshly written seed corpus;
#   signature  the readers of a package's signature (manifest, certificate
#            table, OpenSSL's decoding, the whole check), from a manifest, a
#            signature made here by openssl and the fake machine's stand-in.
# Exits non-zero on any finding.
#   scripts/fuzz.sh [SECONDS]
# OUP_FUZZ_BUILD overrides the build directory (default build/fuzz).
set -euo pipefail

seconds=${1:-60}
case $seconds in ''|*[!0-9]*) echo "fuzz.sh: seconds must be a number, not '$seconds'" >&2; exit 2;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OUP_FUZZ_BUILD:-$root/build/fuzz}
targets=(restore text image signature)
share=$((seconds / ${#targets[@]}))
((share > 0)) || share=1

cd "$root"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target restore_fuzzer restore_fuzz_seeds text_fuzzer image_fuzzer \
  image_fuzz_seeds signature_fuzzer

findings=$build/fuzz-findings
mkdir -p "$findings"

# Seed directories of each target, read-only inputs beside its corpus.
seeds_restore() {
    local seeds=$build/fuzz-seeds/restore
    rm -rf "$seeds"
    mkdir -p "$seeds"
    "$build/tests/fuzz/restore_fuzz_seeds" "$seeds"
    echo "$seeds"
}
seeds_image() {
    local seeds=$build/fuzz-seeds/image
    rm -rf "$seeds"
    mkdir -p "$seeds"
    "$build/tests/fuzz/image_fuzz_seeds" "$seeds"
    echo "$seeds"
}
seeds_signature() {
    local seeds=$build/fuzz-seeds/signature digest
    rm -rf "$seeds"
    mkdir -p "$seeds"
    digest=$(printf 'volume one' | sha256sum | cut -d' ' -f1)
    printf 'oupdate-package-manifest 1\nprogram Seed\nversion 1.0\nvolume 10 %s x.oup\nvolume 10 %s x.002\n' \
        "$digest" "$(printf 'volume two' | sha256sum | cut -d' ' -f1)" >"$seeds/manifest"
    openssl req -x509 -newkey rsa:1024 -nodes -days 1 -subj /CN=Seed -keyout "$seeds/.key" \
        -out "$seeds/.pem" >/dev/null 2>&1
    openssl cms -sign -binary -nodetach -noattr -md sha256 -outform DER -signer "$seeds/.pem" \
        -inkey "$seeds/.key" -in "$seeds/manifest" -out "$seeds/signed-manifest"
    rm -f "$seeds/.key" "$seeds/.pem"
    # A certificate table of one PKCS_SIGNED_DATA entry holding it.
    local n=$(($(stat -c %s "$seeds/signed-manifest") + 8))
    { printf "$(printf '\\%03o\\%03o' $((n & 255)) $((n >> 8 & 255)))\0\0\0\2\2\0"
      cat "$seeds/signed-manifest"; } >"$seeds/certificate-table"
    # The fake machine's signed data (see TFakeMachine::FakeSignedData).
    local body
    body=$(printf 'FAKE-SIGNED-DATA\nCN=Seed\n1.2.840.113549.1.1.1\nkey\nholds\n'; cat "$seeds/manifest"; echo x)
    body=${body%x}
    { printf "\\060\\202$(printf '\\%03o\\%03o' $((${#body} >> 8)) $((${#body} & 255)))"
      printf '%s' "$body"; } >"$seeds/fake-signed-manifest"
    echo "$seeds"
}
seeds_text() {
    local seeds=$build/fuzz-seeds/text
    rm -rf "$seeds"
    mkdir -p "$seeds"
    cp examples/ledger/package/oupdate.inf "$seeds/example-script"
    cp examples/ledger/package/oupdate.mem "$seeds/example-notes"
    cp examples/ledger/languages/*.ln_ "$seeds/"
    echo "$seeds $root/tests/fuzz/text-seeds"
}

status=0
for target in "${targets[@]}"; do
    corpus=$build/fuzz-corpus/$target
    log=$build/fuzz-$target.log
    mkdir -p "$corpus"
    read -r -a seeds <<<"$(seeds_$target)"
    echo "fuzz.sh: $target fuzzer for ${share}s"
    # New inputs go to the corpus; findings (crash-*, leak-*, timeout-*) to findings/.
    "$build/tests/fuzz/${target}_fuzzer" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
      -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" \
      2>"$log" || status=$?
    tail -n 15 "$log"
done
if [ "$status" -ne 0 ] || ls "$findings" | grep -q .; then
  echo "fuzz.sh: FINDINGS (status $status), see $findings and $build/fuzz-*.log" >&2
  exit 1
fi

echo "fuzz.sh: no findings"
