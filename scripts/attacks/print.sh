# shellcheck shell=bash
# Attacks on Tessaly's print: the real windows started through the program entry
# (tessaly-screenshots --print), the sample pair loaded and the print button clicked, with the
# page recorded instead of opened. Sourced by scripts/attack, which sets BUILD (the release
# build folder) and WORK (a scratch folder for the run); every attack_* prints one line.

_print_source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
_print_attacker_user=tessaly-attacker

# Prints the page the print opened (empty when none). Arguments: NAME=VALUE to set and -u NAME
# to unset in the environment. Settings come from an empty folder of their own unless given.
_print_run() {
  local unset=() set=()
  while [ $# -gt 0 ]; do
    if [ "$1" = -u ]; then
      unset+=(-u "$2")
      shift 2
    else
      set+=("$1")
      shift
    fi
  done
  # A print that does not end within the limit opens no page.
  env "${unset[@]}" QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$WORK/print-config" "${set[@]}" \
    timeout 300 "$BUILD/bin/tessaly-screenshots" --print \
    "$_print_source_dir/data/sample/NT96650_pcb_002.JPG" \
    "$_print_source_dir/data/sample/NT96650_pcb_004.JPG" 2>/dev/null | sed -n 's/^opened //p'
}

# The files the page's src attributes name, one a line: file: addresses decoded, anything else
# marked as such.
_print_sources() {
  grep -o 'src="[^"]*"' "$1" | sed 's/^src="//; s/"$//' | while IFS= read -r src; do
    case "$src" in
      file://*)
        src="${src#file://}"
        printf '%b\n' "${src//%/\\x}"
        ;;
      *) printf 'not a file: address: %s\n' "$src" ;;
    esac
  done
}

# Checks the page of a print: every picture it names lies in the page's own folder, the first
# one exists, and each one that exists belongs to the user who printed. Prints what is wrong.
_print_check_page() {
  local page="$1" dir count=0 path
  dir="$(dirname "$page")"
  [ -f "$page" ] || { echo "no page"; return; }
  while IFS= read -r path; do
    count=$((count + 1))
    [ "$(dirname "$path")" = "$dir" ] || { echo "names $path, outside $dir"; return; }
    if [ -e "$path" ] && [ "$(stat -c %u "$path")" != "$(id -u)" ]; then
      echo "shows $path of user $(stat -c %U "$path")"
      return
    fi
  done < <(_print_sources "$page")
  [ "$count" -gt 0 ] || { echo "no pictures named"; return; }
  [ -f "$dir/image1.jpg" ] || echo "no image1.jpg"
}

# True when the second user is there (made when missing); else prints the attack's line.
_print_second_user() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "$1: -> skipped (not root)"
    return 1
  fi
  if ! id -u "$_print_attacker_user" >/dev/null 2>&1 &&
    ! useradd -M -r "$_print_attacker_user" 2>/dev/null; then
    echo "$1: no second user -> skipped"
    return 1
  fi
}

# A folder that all users may write into, like /tmp (the run's WORK may be closed to the second
# user); removed by the attack that made it.
_print_shared_folder() {
  local dir
  dir="$(mktemp -d /tmp/tessaly-attack-print.XXXXXX)" || return 1
  chmod 1777 "$dir"
  printf '%s' "$dir"
}

attack_print_shared_temp() {
  local name="print into a sticky TEMP shared with another user's image1.jpg/test0.jpg/temp.bmp/output.html"
  _print_second_user "$name" || return
  local shared page wrong="" f
  shared="$(_print_shared_folder)"
  printf 'BM theirs' >"$WORK/print-theirs"
  for f in image1.jpg test0.jpg temp.bmp output.html; do
    runuser -u "$_print_attacker_user" -- sh -c "printf 'BM theirs' > '$shared/$f'"
  done
  page="$(_print_run TEMP="$shared")"
  for f in image1.jpg test0.jpg temp.bmp output.html; do
    if ! cmp -s "$WORK/print-theirs" "$shared/$f" ||
      [ "$(stat -c %U "$shared/$f")" != "$_print_attacker_user" ]; then
      wrong="their $f was changed or removed"
    fi
  done
  [ -n "$page" ] || wrong="${wrong:-no page opened}"
  [ -n "$wrong" ] || wrong="$(_print_check_page "$page")"
  if [ -n "$wrong" ]; then
    echo "$name: $wrong -> FAULT"
  else
    echo "$name: their 4 files untouched, the page names only its own 0700 folder's pictures -> ok"
  fi
  rm -rf "$shared"
}

attack_print_squatted_folder() {
  local name="print with tessaly-UID in TEMP squatted (another user's folder, or a link)"
  _print_second_user "$name" || return
  local shared linked page1 page2 wrong=""
  shared="$(_print_shared_folder)"
  linked="$(_print_shared_folder)"
  mkdir -p "$WORK/print-squat-target"
  runuser -u "$_print_attacker_user" -- sh -c \
    "mkdir -m 0777 '$shared/tessaly-$(id -u)' && printf 'BM theirs' > '$shared/tessaly-$(id -u)/image1.jpg'"
  ln -s "$WORK/print-squat-target" "$linked/tessaly-$(id -u)"
  page1="$(_print_run TEMP="$shared")"
  page2="$(_print_run TEMP="$linked")"
  printf 'BM theirs' >"$WORK/print-theirs"
  if ! cmp -s "$WORK/print-theirs" "$shared/tessaly-$(id -u)/image1.jpg"; then
    wrong="their image1.jpg in the squatted folder was changed"
  elif [ -n "$(ls -A "$WORK/print-squat-target")" ]; then
    wrong="the print went through the link"
  elif [ -z "$page1" ] || [ -z "$page2" ]; then
    wrong="no page opened"
  elif [ "$(dirname "$page1")" = "$shared/tessaly-$(id -u)" ]; then
    wrong="the print used the other user's folder"
  else
    wrong="$(_print_check_page "$page1")$(_print_check_page "$page2")"
  fi
  if [ -n "$wrong" ]; then
    echo "$name: $wrong -> FAULT"
  else
    echo "$name: left alone, fresh folders $(basename "$(dirname "$page1")") and $(basename "$(dirname "$page2")") taken -> ok"
  fi
  rm -rf "$shared" "$linked"
}

attack_print_temp_markup() {
  local name="print with TEMP named with quotes, markup, &, #, % and blanks"
  local marked="$WORK/print-markup/a \"><script>alert(1)</script> &amp; #1 %41 b" page wrong
  mkdir -p "$marked"
  page="$(_print_run TEMP="$marked")"
  if [ -z "$page" ]; then
    echo "$name: no page opened -> FAULT"
    return
  fi
  wrong="$(_print_check_page "$page")"
  if [ -z "$wrong" ] && grep -q '<script>alert' "$page"; then wrong="the folder's markup is in the page"; fi
  if [ -n "$wrong" ]; then
    echo "$name: $wrong -> FAULT"
  else
    echo "$name: no markup of the name in the page, every src decodes to this print's file -> ok"
  fi
}

attack_print_home_missing() {
  local name="print with TEMP and TMPDIR unset and HOME naming no folder (a service user)"
  local home="$WORK/print-no-such-home" page wrong existed=""
  [ -e "/tmp/tessaly-$(id -u)" ] && existed=yes
  page="$(_print_run -u TEMP -u TMPDIR -u XDG_CACHE_HOME HOME="$home")"
  if [ -z "$page" ]; then
    echo "$name: no page opened -> FAULT"
    return
  fi
  wrong="$(_print_check_page "$page")"
  [ ! -e "$home" ] || wrong="${wrong:-HOME was made}"
  case "$(dirname "$page")" in
    /tmp/tessaly-"$(id -u)"*) ;;
    *) wrong="${wrong:-the page lies in $(dirname "$page")}" ;;
  esac
  [ "$(stat -c %a "$(dirname "$page")")" = 700 ] || wrong="${wrong:-its folder is not 0700}"
  if [ -n "$wrong" ]; then
    echo "$name: $wrong -> FAULT"
  else
    echo "$name: printed into $(dirname "$page") (0700) -> ok"
  fi
  # The system's folder keeps nothing of the attack that was not there before it.
  [ -n "$existed" ] || [ -z "$page" ] || rm -rf "$(dirname "$page")"
}

attack_print_huge_image_count() {
  local name="print with ImageCount=2000000000 in Tessaly.ini"
  local config="$WORK/print-count-config" temp="$WORK/print-count" page dir n
  mkdir -p "$config/tessaly" "$temp"
  printf '[Output]\nImageCount=2000000000\n' >"$config/tessaly/Tessaly.ini"
  page="$(_print_run XDG_CONFIG_HOME="$config" TEMP="$temp")"
  if [ -z "$page" ]; then
    echo "$name: no page opened within 300 s -> FAULT"
    return
  fi
  dir="$(dirname "$page")"
  n="$(find "$dir" -maxdepth 1 -name 'test*.jpg' | wc -l)"
  if [ "$n" -eq 100 ] && [ -f "$dir/test99.jpg" ]; then
    echo "$name: 100 captures taken, test0.jpg to test99.jpg -> ok"
  else
    echo "$name: $n captures -> FAULT"
  fi
}

attack_print_killed_capture() {
  local name="print killed in the middle of its captures"
  local config="$WORK/print-kill-config" temp="$WORK/print-kill" dir pid left
  mkdir -p "$config/tessaly" "$temp"
  printf '[Output]\nImageCount=100\n' >"$config/tessaly/Tessaly.ini"
  # What an older version may have left: its uncompressed capture beside the captures.
  printf 'BM an earlier capture' >"$temp/temp.bmp"
  env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$config" TEMP="$temp" \
    "$BUILD/bin/tessaly-screenshots" --print \
    "$_print_source_dir/data/sample/NT96650_pcb_002.JPG" \
    "$_print_source_dir/data/sample/NT96650_pcb_004.JPG" >/dev/null 2>&1 &
  pid=$!
  local i
  for ((i = 0; i < 600; i++)); do
    dir="$(find "$temp" -name test3.jpg -printf '%h' -quit)"
    [ -n "$dir" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  # Everything left must be a JPEG (a capture, or a capture's unfinished temporary file).
  left="$(find "$temp" -type f ! -name '*.jpg' ! -name '.*.jpg.*' -printf '%P ')"
  if [ -z "$dir" ]; then
    echo "$name: the print never reached its fourth capture -> FAULT"
  elif [ -n "$left" ]; then
    echo "$name: left $left-> FAULT"
  else
    echo "$name: killed after $(find "$dir" -name 'test*.jpg' | wc -l) captures, only JPEG files left, the older temp.bmp gone -> ok"
  fi
}
