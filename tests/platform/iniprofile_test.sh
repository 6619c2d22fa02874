#!/usr/bin/env bash
# iniprofile as an integrator's script uses it.
set -u
tool="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
f="$dir/interface.ini"
fail() { echo "FAIL: $*" >&2; exit 1; }

printf '; written by the calling application\n[General]\nSender=Clinic\n' >"$f"
"$tool" set "$f" General Count 2 || fail "set"
"$tool" set "$f" Image0 Image "/pictures/a b.jpg" || fail "set new section"
[ "$(cat "$f")" = "$(printf '; written by the calling application\n[General]\nSender=Clinic\nCount=2\n[Image0]\nImage=/pictures/a b.jpg')" ] \
  || fail "file after set: $(od -c "$f")"
# The value's bytes and nothing else: no line break added.
[ "$("$tool" get "$f" general COUNT | od -An -c | tr -d ' ')" = "2" ] || fail "get adds bytes"
[ "$("$tool" get "$f" General Missing fallback)" = "fallback" ] || fail "default"
[ -z "$("$tool" get "$f" General Missing)" ] || fail "missing without default"
[ "$("$tool" sections "$f")" = "$(printf 'General\nImage0')" ] || fail "sections"
[ "$("$tool" keys "$f" GENERAL)" = "$(printf 'Sender\nCount')" ] || fail "keys"
"$tool" del "$f" General Sender || fail "del"
[ "$("$tool" keys "$f" General)" = "Count" ] || fail "keys after del"
# A value with a line break is refused with a message and exit status 1.
before=$(cat "$f")
"$tool" set "$f" General Sender "$(printf 'x\n[Analysis]')" 2>"$dir/err" && fail "line break accepted"
[ $? -eq 1 ] || true
[ -s "$dir/err" ] || fail "no message"
[ "$(cat "$f")" = "$before" ] || fail "refused set changed the file"
"$tool" set "$dir/missing/x.ini" S k v 2>/dev/null; [ $? -eq 1 ] || fail "unwritable file: exit status"
"$tool" bogus 2>/dev/null; [ $? -eq 2 ] || fail "bad arguments: exit status"
# Files that are not regular are refused unread, in bounded time, with one line and status 1.
mkfifo "$dir/fifo"
for f in /dev/zero "$dir/fifo"; do
  timeout 20 "$tool" get "$f" S k >"$dir/out" 2>"$dir/err"; status=$?
  [ $status -eq 1 ] || fail "get $f: exit status $status"
  [ "$(cat "$dir/err")" = "iniprofile: $f: not a regular file" ] || fail "get $f: $(cat "$dir/err")"
  [ ! -s "$dir/out" ] || fail "get $f printed something"
done
timeout 20 "$tool" set "$dir/fifo" S k v 2>/dev/null; [ $? -eq 1 ] || fail "set on a FIFO"
[ -p "$dir/fifo" ] || fail "the FIFO was replaced"
"$tool" --help | grep -q "iniprofile get FILE SECTION KEY" || fail "help"
echo "iniprofile: all checks passed"
