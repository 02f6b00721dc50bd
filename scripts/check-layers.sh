#!/usr/bin/env bash
# Includes point down only. Each folder of src/ may include the folders
# listed for it below and nothing else, so no module knows the ones above it
# and no two folders include each other. Prints every offending include with
# its file and line; exit status 1 when there is one.
#   scripts/check-layers.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/src" || exit 1

declare -A allowed=(
  [common]="common"
  [platform]="common platform"
  [platform/host]="common platform platform/host"
  [platform/win32]="common platform platform/win32"
  [controls]="common controls"
  [package]="common platform package"
  [search]="common platform search"
  [update]="common platform update"
  [app]="common platform controls package search update app"
  [app/win32]="common platform platform/win32 controls package search update app app/win32"
)

bad=0
while IFS= read -r file; do
  folder=$(dirname "$file")
  if [ -z "${allowed[$folder]+set}" ]; then
    echo "check-layers: $file: folder $folder has no place in the layering (add it to $0)"
    bad=1
    continue
  fi
  while IFS=: read -r line text; do
    header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$text")
    target=$(dirname "$header")
    [ "$target" = . ] && continue  # a header beside the file
    case " ${allowed[$folder]} " in
      *" $target "*) ;;
      *) echo "check-layers: src/$file:$line: $folder may not include $target: $text"; bad=1 ;;
    esac
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file")
done < <(find . -name '*.h' -o -name '*.cpp' | sed 's|^\./||' | sort)

# The wizard's members live with the wizard.
while IFS= read -r hit; do
  echo "check-layers: src/$hit: TUpdate is defined under app/ only"
  bad=1
done < <(grep -rn --include='*.cpp' -E '\bTUpdate::' . | grep -vE '^\./app/' | sed 's|^\./||')

if [ "$bad" -eq 0 ]; then echo "check-layers: every include points down"; fi
exit "$bad"
