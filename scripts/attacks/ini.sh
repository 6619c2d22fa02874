# Attacks on the INI files: files that are no regular files, a huge Count, a planted link.
# Sourced by the attack runner, which sets $BUILD (the release build folder) and $WORK (a scratch
# folder). Each attack prints one line: "<attack>: <what it saw> -> ok|FAULT".

ini_bin() { echo "$BUILD/bin"; }

# A copy of the program folder with a receiver that records the size of the file it got.
ini_program_folder() {
  local dir=$1
  mkdir -p "$dir"
  cp "$(ini_bin)/kestrin" "$(ini_bin)/libexifreader.so" "$(ini_bin)/iniprofile" "$dir/"
  [ -e "$(ini_bin)/camera.ini" ] && cp "$(ini_bin)/camera.ini" "$dir/"
  printf '[Recorder]\nProgFile=record.sh\n' >"$dir/Kestrin.ini"
  printf '#!/bin/sh\nwc -c < "$1" > "$(dirname "$0")/received-size.txt"\n' >"$dir/record.sh"
  chmod +x "$dir/record.sh"
}

ini_get_unreadable() {  # NAME FILE
  local name=$1 file=$2 status err
  err=$(timeout 20 "$(ini_bin)/iniprofile" get "$file" S k 2>&1 >/dev/null)
  status=$?
  if [ $status -eq 1 ] && [ "$err" = "iniprofile: $file: not a regular file" ]; then
    echo "$name: exit 1, \"$err\" -> ok"
  else
    echo "$name: exit $status, \"$err\" -> FAULT"
  fi
}

attack_ini_get_dev_zero() {
  ini_get_unreadable "iniprofile get /dev/zero" /dev/zero
}

attack_ini_get_fifo() {
  local fifo="$WORK/ini-get.fifo"
  rm -f "$fifo" && mkfifo "$fifo"
  ini_get_unreadable "iniprofile get FIFO" "$fifo"
}

attack_ini_kestrin_fifo_record_data() {
  local dir="$WORK/ini-kestrin-fifo" status
  ini_program_folder "$dir"
  printf '[RecordData]\nfilename=/nowhere/a.jpg\n' >"$dir/rd.ini"
  mkfifo "$dir/rd.fifo"
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    timeout 30 "$dir/kestrin" "$dir/rd.ini" "$dir/rd.fifo" "$dir/rd.ini" >"$dir/out.txt" 2>&1
  status=$?
  if [ $status -eq 124 ]; then
    echo "kestrin with a FIFO record-data file: still running after 30 s -> FAULT"
  elif grep -q "Error: Cannot read $dir/rd.fifo: not a regular file" "$dir/Kestrin.log" 2>/dev/null; then
    echo "kestrin with a FIFO record-data file: ended ($status), logged why -> ok"
  else
    echo "kestrin with a FIFO record-data file: ended ($status) without the reason in its log -> FAULT"
  fi
}

attack_ini_tessaly_fifo_record_data() {
  local dir="$WORK/ini-tessaly-fifo" status
  mkdir -p "$dir"
  printf '[RecordData]\nfilename=/nowhere/a.jpg\n' >"$dir/rd.ini"
  mkfifo "$dir/rd.fifo"
  QT_QPA_PLATFORM=offscreen TESSALY_SNAPSHOT="$dir/snap.png" \
    timeout 60 "$(ini_bin)/tessaly" "$dir/rd.ini" "$dir/rd.fifo" "$dir/rd.ini" >"$dir/out.txt" 2>&1
  status=$?
  if [ $status -eq 124 ]; then
    echo "tessaly with a FIFO record-data file: no window after 60 s -> FAULT"
  elif grep -q "Cannot read $dir/rd.fifo: not a regular file" "$dir/out.txt" && [ -s "$dir/snap.png" ]; then
    echo "tessaly with a FIFO record-data file: told why, window shown -> ok"
  else
    echo "tessaly with a FIFO record-data file: ended ($status), $(head -c 200 "$dir/out.txt") -> FAULT"
  fi
}

attack_ini_kestrin_count_100000() {
  local dir="$WORK/ini-kestrin-count" status start seconds left
  ini_program_folder "$dir"
  printf '[General]\nCount=100000\nSender=Attack\nReceiver=Recorder\n' >"$dir/in.ini"
  start=$(date +%s%N)
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    timeout 300 "$dir/kestrin" "$dir/in.ini" >"$dir/out.txt" 2>&1
  status=$?
  seconds=$(( ($(date +%s%N) - start) / 1000000000 ))
  left=$(ls "$dir"/MVIni*.ini "$dir"/.MVIni* 2>/dev/null | wc -l)
  if [ $status -eq 0 ] && [ -s "$dir/received-size.txt" ] && [ "$left" = 0 ]; then
    echo "kestrin with Count=100000: ${seconds} s, receiver got $(cat "$dir/received-size.txt") bytes, no MVIni left -> ok"
  else
    echo "kestrin with Count=100000: exit $status after ${seconds} s, $left MVIni files left -> FAULT"
  fi
}

attack_ini_tessaly_ini_link() {
  local dir="$WORK/ini-link" victim
  mkdir -p "$dir"
  victim="$dir/victim.ini"
  printf '[Mine]\nSecret=1\n' >"$victim"
  ln -s "$victim" "$dir/Tessaly.ini"
  # The settings write of Tessaly's close button, through the same code path as the window.
  "$(ini_bin)/iniprofile" set "$dir/Tessaly.ini" AutoLoad FormProperties 1 2>/dev/null
  if [ "$(cat "$victim")" = "$(printf '[Mine]\nSecret=1')" ] && [ ! -L "$dir/Tessaly.ini" ] &&
    [ "$("$(ini_bin)/iniprofile" get "$dir/Tessaly.ini" AutoLoad FormProperties)" = 1 ]; then
    echo "Tessaly.ini planted as a link: link replaced by a file, victim unchanged -> ok"
  else
    echo "Tessaly.ini planted as a link: written through to its target -> FAULT"
  fi
}
