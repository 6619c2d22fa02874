# Attacks on Kestrin, the launcher: stop signals during a run, two runs in one folder, the log's
# mode, control characters and absurd widths in a picture's EXIF data, files of ended runs.
# Sourced by the attack runner, which sets $BUILD (the release build folder) and $WORK (a scratch
# folder); every attack_* function prints one line ending in "-> ok", "-> FAULT" or "-> skipped".

KESTRIN_ATTACK_SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
KESTRIN_ATTACK_TESTDATA=${TESTDATA:-$KESTRIN_ATTACK_SOURCE/../shared/testdata}

# A program folder of its own with Kestrin, the EXIF reader, a camera table, and a receiver
# script NAME.sh with BODY (run with $d its folder): kestrin_folder DIR NAME BODY
kestrin_folder() {
  local dir=$1 name=$2 body=$3
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$BUILD/bin/kestrin" "$BUILD/bin/libexifreader.so" "$dir/"
  printf '[Linear]\nconst=20\nslopeFL=10\nslopeX=0.01\n' > "$dir/camera.ini"
  printf '[%s]\nProgFile=%s.sh\n' "$name" "$name" >> "$dir/Kestrin.ini"
  printf '#!/bin/sh\nd=$(dirname "$0")\n%s\n' "$body" > "$dir/$name.sh"
  chmod +x "$dir/$name.sh"
}

# An interface file for RECEIVER with one picture: kestrin_input FILE RECEIVER PICTURE
kestrin_input() {
  printf '[General]\nCount=1\nSender=Attack\nReceiver=%s\n[Subject0]\nName=Muster\nBirthDate=01.02.1960\n[Image0]\nImage=%s\nPp100MM=0\n' \
    "$2" "$3" > "$1"
}

# Polls COMMAND for at most 30 seconds.
kestrin_wait_for() {
  local i
  for ((i = 0; i < 600; i++)); do
    eval "$1" && return 0
    sleep 0.05
  done
  return 1
}

kestrin_le16() { printf '\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)); }
kestrin_le32() { printf '%s%s' "$(kestrin_le16 $(($1 & 65535)))" "$(kestrin_le16 $((($1 >> 16) & 65535)))"; }
kestrin_ifd_entry() { printf '%s%s%s%s' "$(kestrin_le16 "$1")" "$(kestrin_le16 "$2")" "$(kestrin_le32 "$3")" "$(kestrin_le32 "$4")"; }

# A JPEG of the 128-pixel-wide test picture with EXIF Model, PixelXDimension (LONG) and
# FocalLength (RATIONAL) as given: kestrin_exif_jpeg OUT MODEL WIDTH NUMERATOR DENOMINATOR
kestrin_exif_jpeg() {
  local out=$1 model=$2 width=$3 num=$4 den=$5
  local base=$KESTRIN_ATTACK_TESTDATA/formats/jpeg/hopper.jpg
  [ -f "$base" ] || return 1
  local mlen=$((${#model} + 1)) pad
  pad=$((mlen % 2))
  local model_at=38 exif_at=$((38 + mlen + pad))
  local rational_at=$((exif_at + 30)) tiff_len=$((exif_at + 30 + 8))
  local app1_len=$((2 + 6 + tiff_len))
  {
    printf '\xff\xd8\xff\xe1'
    printf "$(printf '\\x%02x\\x%02x' $((app1_len >> 8)) $((app1_len & 255)))"
    printf 'Exif\0\0II*\0'
    printf "$(kestrin_le32 8)"
    # IFD0: Model, the pointer to the Exif IFD.
    printf "$(kestrin_le16 2)$(kestrin_ifd_entry 0x0110 2 "$mlen" "$model_at")"
    printf "$(kestrin_ifd_entry 0x8769 4 1 "$exif_at")$(kestrin_le32 0)"
    printf '%s\0' "$model"
    [ "$pad" = 1 ] && printf '\0'
    # Exif IFD: FocalLength, PixelXDimension.
    printf "$(kestrin_le16 2)$(kestrin_ifd_entry 0x920A 5 1 "$rational_at")"
    printf "$(kestrin_ifd_entry 0xA002 4 1 "$width")$(kestrin_le32 0)"
    printf "$(kestrin_le32 "$num")$(kestrin_le32 "$den")"
    tail -c +3 "$base"
  } > "$out"
}

# A Quick run's folder and input file over PICTURE, a JPEG with EXIF Model MODEL and
# PixelXDimension WIDTH: kestrin_exif_case DIR PICTURE MODEL WIDTH WHAT. Without the test picture
# it prints WHAT's skipped line and returns 1.
kestrin_exif_case() {
  local dir=$1 picture=$2 model=$3 width=$4 what=$5
  kestrin_folder "$dir" Quick 'exit 0'
  if ! kestrin_exif_jpeg "$dir/$picture" "$model" "$width" 72 10; then
    echo "$what: no test picture at $KESTRIN_ATTACK_TESTDATA -> skipped"
    return 1
  fi
  kestrin_input "$dir/in.ini" Quick "$dir/$picture"
}

attack_kestrin_sigterm_during_run() {
  local dir=$WORK/kestrin-sigterm
  kestrin_folder "$dir" Sleeper 'echo $$ > "$d/pid.new"; mv "$d/pid.new" "$d/pid"; exec sleep 1000'
  : > "$dir/a.jpg"
  kestrin_input "$dir/in.ini" Sleeper "$dir/a.jpg"
  "$dir/kestrin" "$dir/in.ini" > "$dir/out.txt" 2>&1 &
  local kestrin=$!
  if ! kestrin_wait_for '[ -s "$dir/pid" ]'; then
    kill -KILL "$kestrin" 2> /dev/null
    echo "SIGTERM during a run: the receiver never started -> FAULT"
    return
  fi
  local receiver
  receiver=$(cat "$dir/pid")
  local had_file=no
  [ -e "$dir/MVIni0.ini" ] && had_file=yes
  kill -TERM "$kestrin"
  local status=0
  wait "$kestrin" || status=$?
  local receiver_alive=no
  kill -0 "$receiver" 2> /dev/null && receiver_alive=yes && kill -KILL "$receiver"
  local left=no
  [ -e "$dir/MVIni0.ini" ] && left=yes
  local close=no
  tr -d '\r' < "$dir/Kestrin.log" | tail -n 2 | head -n 1 | grep -q ' Close$' && close=yes
  local verdict=ok
  [ "$had_file" = yes ] && [ "$left" = no ] && [ "$close" = yes ] && [ "$receiver_alive" = no ] &&
    [ "$status" = 143 ] || verdict=FAULT
  echo "SIGTERM during a run: MVIni0.ini left behind: $left, Close line: $close, receiver still running: $receiver_alive, exit status $status -> $verdict"
}

attack_kestrin_two_runs_at_once() {
  local dir=$WORK/kestrin-two
  kestrin_folder "$dir" Waiter 'touch "$d/waiting"; while [ ! -e "$d/go-on" ]; do sleep 0.02; done'
  printf '[Quick]\nProgFile=Quick.sh\n' >> "$dir/Kestrin.ini"
  printf '#!/bin/sh\nexit 0\n' > "$dir/Quick.sh"
  chmod +x "$dir/Quick.sh"
  : > "$dir/a.jpg"
  kestrin_input "$dir/first.ini" Waiter "$dir/a.jpg"
  kestrin_input "$dir/second.ini" Quick "$dir/a.jpg"
  "$dir/kestrin" "$dir/first.ini" > /dev/null 2>&1 &
  local first=$!
  kestrin_wait_for '[ -e "$dir/waiting" ]'
  "$dir/kestrin" "$dir/second.ini" > /dev/null 2>&1
  : > "$dir/go-on"
  wait "$first"
  # Each run's block: its Start line, then its own lines up to its separator, nothing between.
  local blocks
  blocks=$(tr -d '\r' < "$dir/Kestrin.log" | awk '
    / Start$/ { run = ""; inside = 1; next }
    /^This program was called with:/ { if (inside && $0 ~ /\.ini$/) run = $0; next }
    /^---------------------$/ { if (run != "") print run; inside = 0; next }
    inside && /^(IniAnaFile:|Programcall:|.* Close$)/ { next }
    inside { print "foreign line inside a block: " $0 }' | sed 's/.*called with:.*\///')
  local verdict=FAULT
  [ "$(printf '%s\n' "$blocks" | sort | tr '\n' ' ')" = "first.ini second.ini " ] &&
    [ "$(tr -d '\r' < "$dir/Kestrin.log" | grep -c ' Start$')" = 2 ] && verdict=ok
  echo "two Kestrins at once in one folder: runs whose lines are whole and together in the log: $(printf '%s' "$blocks" | tr '\n' ' ') -> $verdict"
}

attack_kestrin_log_mode() {
  local dir=$WORK/kestrin-mode
  kestrin_folder "$dir" Quick 'exit 0'
  : > "$dir/a.jpg"
  kestrin_input "$dir/in.ini" Quick "$dir/a.jpg"
  (umask 022 && "$dir/kestrin" "$dir/in.ini" > /dev/null 2>&1)
  local fresh
  fresh=$(stat -c %a "$dir/Kestrin.log")
  # A log written by an earlier version, readable by everybody.
  chmod 0644 "$dir/Kestrin.log"
  (umask 022 && "$dir/kestrin" "$dir/in.ini" > /dev/null 2>&1)
  local old
  old=$(stat -c %a "$dir/Kestrin.log")
  local verdict=FAULT
  [ "$fresh" = 600 ] && [ "$old" = 600 ] && verdict=ok
  echo "Kestrin.log mode: new log $fresh, an earlier 0644 log after a run $old -> $verdict"
}

attack_kestrin_crlf_in_exif_model() {
  local dir=$WORK/kestrin-crlf
  kestrin_exif_case "$dir" evil.jpg $'Evil\r\nError: forged line\r\n' 128 \
    "CR/LF in an EXIF Model" || return 0
  "$dir/kestrin" "$dir/in.ini" > /dev/null 2>&1
  local forged lines
  forged=$(tr -d '\r' < "$dir/Kestrin.log" | grep -c '^Error: forged line')
  lines=$(grep -a "No entry for camera" "$dir/Kestrin.log" | tr -d '\r')
  local verdict=FAULT
  [ "$forged" = 0 ] && [ -n "$lines" ] && verdict=ok
  echo "CR/LF in an EXIF Model: forged log lines: $forged, the model's line: ${lines:-none} -> $verdict"
}

attack_kestrin_absurd_pixel_x_dimension() {
  local dir=$WORK/kestrin-width
  kestrin_exif_case "$dir" wide.jpg Linear 2147483647 "absurd PixelXDimension" || return 0
  KESTRIN_COPY_TO=$dir/copy.ini "$dir/kestrin" "$dir/in.ini" > /dev/null 2>&1
  local scale radius
  scale=$(sed -n 's/^Pp100MM=//p' "$dir/copy.ini" | tr -d '\r')
  radius=$(sed -n 's/^ExclusionCircleRadiusInPixel=//p' "$dir/copy.ini" | tr -d '\r')
  # 10 * 7.2 + 20 + 0.01 * 128 + 0.5 = 93.78 on the picture's 128 pixels.
  local verdict=FAULT
  [ "$scale" = 93 ] && [ "$radius" = 64 ] && verdict=ok
  echo "absurd PixelXDimension 2147483647 on a 128-pixel picture: Pp100MM $scale, circle radius $radius -> $verdict"
}

attack_kestrin_files_of_ended_runs() {
  local dir=$WORK/kestrin-stale
  kestrin_folder "$dir" Quick 'exit 0'
  : > "$dir/a.jpg"
  kestrin_input "$dir/in.ini" Quick "$dir/a.jpg"
  # A run killed outright leaves its file and its (free) lock file.
  kestrin_folder "$dir.killed" Sleeper 'echo $$ > "$d/pid.new"; mv "$d/pid.new" "$d/pid"; exec sleep 1000'
  cp "$dir.killed/Sleeper.sh" "$dir/"
  printf '[Sleeper]\nProgFile=Sleeper.sh\n' >> "$dir/Kestrin.ini"
  kestrin_input "$dir/killed.ini" Sleeper "$dir/a.jpg"
  "$dir/kestrin" "$dir/killed.ini" > /dev/null 2>&1 &
  local kestrin=$!
  kestrin_wait_for '[ -s "$dir/pid" ]'
  kill -KILL "$kestrin"
  wait "$kestrin" 2> /dev/null
  kill -KILL "$(cat "$dir/pid")" 2> /dev/null
  local killed_left=no
  [ -e "$dir/MVIni0.ini" ] && killed_left=yes
  local foreign=skipped
  if [ "$(id -u)" = 0 ]; then
    id tessaly-attacker > /dev/null 2>&1 || useradd -M -r tessaly-attacker
    printf 'Name=Other\n' > "$dir/MVIni7.ini"
    : > "$dir/MVIni7.lock"
    chown tessaly-attacker "$dir/MVIni7.ini" "$dir/MVIni7.lock"
  fi
  "$dir/kestrin" "$dir/in.ini" > /dev/null 2>&1
  local removed=no
  [ -e "$dir/MVIni0.ini" ] || removed=yes
  [ "$(id -u)" = 0 ] && { [ -e "$dir/MVIni7.ini" ] && foreign=kept || foreign=removed; }
  local verdict=FAULT
  [ "$killed_left" = yes ] && [ "$removed" = yes ] && [ "$foreign" != removed ] && verdict=ok
  echo "files of a killed run: left by the kill: $killed_left, removed by the next run: $removed, another user's: $foreign -> $verdict"
}
