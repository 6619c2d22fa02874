#!/usr/bin/env bash
# The built launcher end to end, from a copy of the program folder:
#  1. with a receiver that records its arguments and the file it got: the computed scales,
#     the command line, the log and the clean-up; no display at all;
#  2. with the real overlay program, headless: its snapshot shows both pictures.
# Usage: kestrin_e2e_test.sh BIN-DIR SOURCE-DIR IMAGE-DIFF
set -euo pipefail
bin=$1 src=$2 image_diff=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# --- 1. a recording receiver, in a folder with a blank in its name -------------------------
prog="$work/kestrin dir"
mkdir -p "$prog/receivers"
cp "$bin/kestrin" "$bin/libexifreader.so" "$bin/iniprofile" "$src/data/camera.ini" "$prog/"
printf '[Recorder]\r\nProgFile=record.sh\r\nProgDir=receivers/\r\n' > "$prog/Kestrin.ini"
cat > "$prog/receivers/record.sh" <<'SH'
#!/bin/sh
d=$(dirname "$0")
printf '%s\n' "$@" > "$d/args.txt"
cp "$1" "$d/received.ini"
SH
chmod +x "$prog/receivers/record.sh"
pic1="$src/data/sample/NT96650_pcb_002.JPG" pic2="$src/data/sample/NT96650_pcb_004.JPG"
cat > "$work/in.ini" <<INI
[General]
Count=2
Sender=Test
Receiver=Recorder
[Image0]
Image=$pic1
Pp100MM=150
[Image1]
Image=$pic2
Pp100MM=0
ExclusionCircleRadiusInPixel=-1
INI
: > "$prog/MVIni0.ini"
status=0
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prog/kestrin" "$work/in.ini" \
  > "$work/out.txt" 2>&1 || status=$?
[ "$status" = 0 ] || { cat "$work/out.txt"; fail "kestrin ended with $status"; }
[ "$(cat "$prog/receivers/args.txt")" = "$prog/MVIni1.ini" ] || fail "receiver arguments"
[ ! -e "$prog/MVIni1.ini" ] || fail "MVIni1.ini left behind"
[ -e "$prog/MVIni0.ini" ] || fail "an earlier MVIni0.ini was removed"
get() { "$prog/iniprofile" get "$prog/receivers/received.ini" "$1" "$2"; }
# The sample camera: 200 * 2.5 + 0 + 0.5 * 2048 + 0.5 = 1524.5; the pictures are 2048 pixels
# wide, whatever their PixelXDimension (4032) says.
[ "$(get Image0 Pp100MM)" = 150 ] || fail "a positive input scale was replaced"
[ "$(get Image1 Pp100MM)" = 1524 ] || fail "computed scale: $(get Image1 Pp100MM)"
for key in ExclusionCircleRadiusInPixel ExclusionCircleX0InPixel; do
  [ "$(get Image1 $key)" = 1024 ] || fail "$key: $(get Image1 $key)"
done
[ "$(get Image1 ExclusionCircleY0InPixel)" = 768 ] || fail "circle centre y"
log=$(tr -d '\r' < "$prog/Kestrin.log")
expected="This program was called with:$prog/kestrin
This program was called with:$work/in.ini
IniAnaFile:$prog/Kestrin.ini
Warning: PixelXDimension 4032 is not the width of the picture, which is used instead: 2048
       - image file:$pic1
Warning: PixelXDimension 4032 is not the width of the picture, which is used instead: 2048
       - image file:$pic2
Programcall:\"$prog/receivers/record.sh\" \"$prog/MVIni1.ini\""
[ "$(echo "$log" | sed -n '2,9p')" = "$expected" ] || { echo "$log"; fail "log lines"; }
echo "$log" | sed -n 1p | grep -q ' Start$' || fail "Start line"
echo "$log" | sed -n 10p | grep -q ' Close$' || fail "Close line"
[ "$(echo "$log" | sed -n '11,$p')" = "---------------------" ] || fail "log end"

# --- 2. the real overlay program, headless ----------------------------------------------------
real="$work/bin"
cp -r "$bin" "$real"
rm -f "$real/Kestrin.log" "$real"/MVIni*.ini
export QT_QPA_PLATFORM=offscreen
snapshot() {  # snapshot FILE INTERFACE-FILE PROGRAM
  TESSALY_SNAPSHOT=$1 "$3" "$2" > "$work/snap-out.txt" 2>&1 ||
    { cat "$work/snap-out.txt"; fail "$3 $2"; }
}
sample="$work/sample"
mkdir "$sample"
cp "$src"/data/sample/*.JPG "$src/data/sample/patient.ini" "$sample/"
(cd "$sample" && snapshot "$work/both.png" patient.ini "$real/kestrin")
grep -q '^tessaly: snapshot of "Tessaly - \[Mustermann, Erika  \*12.08.1964\]"' "$work/snap-out.txt" ||
  { cat "$work/snap-out.txt"; fail "caption"; }
[ -z "$(ls "$real"/MVIni*.ini 2>/dev/null)" ] || fail "MVIni file left behind by the real run"
grep -q '^Programcall:"'"$real"'/tessaly" "'"$real"'/MVIni0.ini"$' <(tr -d '\r' < "$real/Kestrin.log") ||
  fail "real program call"
# The same picture twice shows that picture alone: the snapshot with both must differ
# clearly from each of them.
for pic in NT96650_pcb_002.JPG NT96650_pcb_004.JPG; do
  sed "s/NT96650_pcb_00[24].JPG/$pic/" "$sample/patient.ini" > "$sample/$pic.ini"
  (cd "$sample" && snapshot "$work/$pic.png" "$pic.ini" "$real/tessaly")
  percent=$("$image_diff" "$work/both.png" "$work/$pic.png")
  [ "$percent" -ge 10 ] || fail "the snapshot with both pictures differs in only $percent % from $pic alone"
  echo "snapshot differs from $pic over itself in $percent % of its pixels"
done
echo "kestrin end to end: all checks passed"
