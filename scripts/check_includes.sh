#!/usr/bin/env bash
# Fails when a source file includes a header of a folder above its own. From the ground up:
#   platform/ ; model/ ui/ hook/ zentrix/ ; protocol/ store/ sim/ dialogs/ ; macro/ ; page/ ; app/
# A folder may include its own level and the levels below. tests/, bench/ and fuzz/ sit on top.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A level=(
  [platform]=0
  [model]=1 [ui]=1 [hook]=1 [zentrix]=1
  [protocol]=2 [store]=2 [sim]=2 [dialogs]=2
  [macro]=3
  [page]=4
  [app]=5
)
bad=0
for folder in "${!level[@]}"; do
  [ -d "$folder" ] || continue
  while IFS=: read -r file line text; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
    [ -n "${level[$target]+set}" ] || continue
    if (( level[$target] > level[$folder] )); then
      echo "$file:$line: $folder/ (level ${level[$folder]}) includes $target/ (level ${level[$target]}): $text" >&2
      bad=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$folder" --include='*.h' --include='*.cpp' --include='*.inc' || true)
done
if (( bad )); then
  echo "includes that run upward: see above" >&2
  exit 1
fi
echo "includes run downward only"
