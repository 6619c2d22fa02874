# shellcheck shell=bash
# Attacks on Tessaly's picture loading: pictures named by an interface file that do not load,
# and two that keep their reader waiting. Tessaly runs with the offscreen platform, where its
# messages go to standard error, and writes a snapshot instead of waiting for a user. Sourced
# by scripts/attack, which sets BUILD and WORK.

_pictures_sample="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/data/sample"

# Runs Tessaly on the interface file $1 (further NAME=VALUE settings after it); standard error
# goes to $1.err. Settings come from an empty folder of their own.
_pictures_run() {
  local file=$1
  shift
  env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$WORK/pictures-config" \
    TESSALY_SNAPSHOT="$file.png" "$@" timeout 120 "$BUILD/bin/tessaly" "$file" \
    >/dev/null 2>"$file.err"
}

# A text file named .jpg, a missing file, a PNG named .jpg: one message each, naming the file.
attack_pictures_that_do_not_load() {
  local d=$WORK/pictures-unloadable
  mkdir -p "$d"
  echo "Dear colleague, please find attached" >"$d/letter.jpg"
  printf '[General]\nCount=2\n[Image0]\nImage=%s\n[Image1]\nImage=%s\n' \
    "$d/letter.jpg" "$d/missing.jpg" >"$d/start.ini"
  _pictures_run "$d/start.ini"
  local letter missing
  letter=$(grep -c "^\[$d/letter.jpg\]$" "$d/start.ini.err")
  missing=$(grep -c "^\[$d/missing.jpg\]$" "$d/start.ini.err")
  if [ "$letter" = 1 ] && [ "$missing" = 1 ] && grep -q "kein Bild" "$d/start.ini.err" &&
    grep -q "gibt es nicht" "$d/start.ini.err"; then
    echo "pictures that do not load: a letter named .jpg and a missing file told once each, with the file and why -> ok"
  else
    echo "pictures that do not load: letter told $letter time(s), missing $missing time(s) -> FAULT"
  fi
}

# Two pictures under a file lease that nobody breaks: each read waits for the decoder's time
# limit. Loaded one after the other the start would wait twice the limit; side by side once.
attack_pictures_under_a_lease() {
  local d=$WORK/pictures-lease
  mkdir -p "$d"
  cp "$_pictures_sample/NT96650_pcb_002.JPG" "$d/one.jpg"
  cp "$_pictures_sample/NT96650_pcb_004.JPG" "$d/two.jpg"
  python3 - "$d/one.jpg" "$d/two.jpg" "$d/leased" <<'PY' &
import fcntl, os, signal, sys, time
signal.signal(signal.SIGIO, signal.SIG_IGN)  # told of each break, and keeps the lease anyway
fds = [os.open(p, os.O_RDONLY) for p in sys.argv[1:3]]
for fd in fds:
    fcntl.fcntl(fd, fcntl.F_SETLEASE, fcntl.F_WRLCK)
open(sys.argv[3], "w").close()
time.sleep(40)
PY
  local holder=$! i
  for ((i = 0; i < 100; i++)); do
    [ -e "$d/leased" ] && break
    sleep 0.05
  done
  if [ ! -e "$d/leased" ]; then
    kill "$holder" 2>/dev/null
    echo "pictures under a lease: no lease could be taken here -> skipped (no leases)"
    return
  fi
  printf '[General]\nCount=2\n[Image0]\nImage=%s\n[Image1]\nImage=%s\n' \
    "$d/one.jpg" "$d/two.jpg" >"$d/start.ini"
  local start end seconds
  start=$(date +%s.%N)
  _pictures_run "$d/start.ini" TESSALY_DECODE_TIMEOUT=4
  end=$(date +%s.%N)
  kill "$holder" 2>/dev/null
  wait "$holder" 2>/dev/null
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  # Twice the limit would be 8 s and more; one limit and the start, well under 7.
  if awk -v s="$seconds" 'BEGIN { exit !(s < 7) }'; then
    echo "pictures under a lease: with a 4 s decoder limit the start took ${seconds} s (both waited at once) -> ok"
  else
    echo "pictures under a lease: with a 4 s decoder limit the start took ${seconds} s (one after the other) -> FAULT"
  fi
}

# A picture of another user, readable by that user alone, named in this user's interface file.
attack_pictures_of_another_user() {
  if [ "$(id -u)" != 0 ] || ! id tessaly-attacker >/dev/null 2>&1; then
    echo "pictures of another user: needs root to act as a second user -> skipped (not root)"
    return
  fi
  local d=$WORK/pictures-other
  mkdir -p "$d"
  chmod 0777 "$d"
  # The programs and the other picture where the second user reaches them: the build may lie
  # under a folder only its owner can enter (root's home), and then the attack would only find
  # that Tessaly cannot be started.
  cp -a "$BUILD/bin" "$d/bin"
  chmod -R a+rX "$d/bin"
  cp "$_pictures_sample/NT96650_pcb_004.JPG" "$d/other.jpg"
  chmod 0644 "$d/other.jpg"
  cp "$_pictures_sample/NT96650_pcb_002.JPG" "$d/private.jpg"
  chmod 0600 "$d/private.jpg"
  printf '[General]\nCount=2\n[Image0]\nImage=%s\n[Image1]\nImage=%s\n' \
    "$d/private.jpg" "$d/other.jpg" >"$d/start.ini"
  chmod 0644 "$d/start.ini"
  runuser -u tessaly-attacker -- env QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$d/config" \
    HOME="$d" TESSALY_SNAPSHOT="$d/snap.png" timeout 120 "$d/bin/tessaly" "$d/start.ini" \
    >/dev/null 2>"$d/err"
  if [ "$(grep -c "^\[$d/private.jpg\]$" "$d/err")" = 1 ] && grep -q "nicht gelesen" "$d/err"; then
    echo "pictures of another user: told once that it cannot be read, with the file -> ok"
  else
    echo "pictures of another user: not told as unreadable ($(tr '\n' ' ' <"$d/err" | cut -c1-80)) -> FAULT"
  fi
}
