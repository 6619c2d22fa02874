#!/usr/bin/env bash
# tessaly-align as a script uses it: the bundled pair aligns (exit 0, slider options that
# tessaly-render takes as they are, a JSON object with the same figures), a pair without common
# content is refused with the message on standard error (exit 1), a bad command line gives 2.
set -uo pipefail
bin=$1 sample=$2 testdata=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$bin/tessaly-align" "$sample/NT96650_pcb_002.JPG" "$sample/NT96650_pcb_004.JPG" >"$out/text" \
  || fail "the sample pair did not align"
options=$(head -1 "$out/text")
[[ $options =~ ^--x\ -?[0-9]+\ --y\ -?[0-9]+\ --angle\ -?[0-9]+\ --zoom-overlay\ -?[0-9]+$ ]] \
  || fail "first line is not slider options: $options"
precise=$(sed -n 2p "$out/text")
[[ $precise =~ ^--precise\ -?[0-9.]+,[0-9.]+,-?[0-9.]+,-?[0-9.]+$ ]] \
  || fail "second line is not the precise placement: $precise"
grep -Eq '^matches [0-9]+, inliers [0-9]+, residual [0-9]+\.[0-9]{2} picture-1 pixels, precise [0-9]+\.[0-9]{2}$' \
  "$out/text" || fail "no figures line: $(cat "$out/text")"
# shellcheck disable=SC2086
"$bin/tessaly-render" $options "$sample/NT96650_pcb_002.JPG" "$sample/NT96650_pcb_004.JPG" \
  "$out/aligned.png" >/dev/null || fail "tessaly-render refused the printed options"
# The printed precise placement is what --auto-align renders, to the bit (the figures read
# back exactly).
# shellcheck disable=SC2086
"$bin/tessaly-render" $precise "$sample/NT96650_pcb_002.JPG" "$sample/NT96650_pcb_004.JPG" \
  "$out/precise.png" >/dev/null || fail "tessaly-render refused the printed --precise"
"$bin/tessaly-render" --auto-align "$sample/NT96650_pcb_002.JPG" "$sample/NT96650_pcb_004.JPG" \
  "$out/auto.png" >/dev/null || fail "tessaly-render --auto-align failed"
cmp -s "$out/precise.png" "$out/auto.png" || fail "--precise as printed differs from --auto-align"
"$bin/tessaly-render" $precise --x 3 "$sample/NT96650_pcb_002.JPG" "$sample/NT96650_pcb_004.JPG" \
  "$out/both.png" >/dev/null 2>&1
[ $? -eq 2 ] || fail "--precise with --x is not a usage error"

"$bin/tessaly-align" --json "$sample/NT96650_pcb_002.JPG" "$sample/NT96650_pcb_004.JPG" >"$out/json" \
  || fail "--json: no alignment"
python3 - "$out/json" "$options" <<'PY' || fail "JSON does not agree with the text output"
import json, sys
r = json.load(open(sys.argv[1]))
words = sys.argv[2].split()
assert r["reliable"] is True
assert [r["x"], r["y"], r["angle"], r["zoom_overlay"]] == [int(w) for w in words[1::2]]
assert r["inliers"] <= r["matches"] and r["residual"] <= 1.5
assert r["precise_residual"] <= 0.05 < r["residual"]
p = r["precise"]
assert abs(p["angle"] - r["angle"]) <= 0.5 and abs(p["zoom"] - 10 ** (r["zoom_overlay"] / 1000)) < 0.002
PY

"$bin/tessaly-align" "$sample/NT96650_pcb_002.JPG" "$testdata/photos-large/Pixel_6_Pro_UltraHDR_01.jpg" \
  >"$out/none" 2>"$out/err"
[ $? -eq 1 ] || fail "a pair without common content was not refused with 1"
[ ! -s "$out/none" ] || fail "a refused pair printed slider options"
head -2 "$out/err" | diff - <(printf 'Keine sichere Ausrichtung gefunden.\nNo reliable alignment found.\n') \
  || fail "not the refusal message"

"$bin/tessaly-align" "$sample/NT96650_pcb_002.JPG" >/dev/null 2>&1
[ $? -eq 2 ] || fail "one picture is not a usage error"
"$bin/tessaly-align" "$sample/NT96650_pcb_002.JPG" "$out/missing.jpg" >/dev/null 2>&1
[ $? -eq 1 ] || fail "a missing picture 2 does not give 1"
echo "tessaly-align: all checks passed"
