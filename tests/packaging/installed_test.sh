#!/usr/bin/env bash
# An installed tree run by a user who cannot write to it, as after a package installation:
#  1. Kestrin started with the bundled interface file runs Tessaly from the installed folder;
#     the log and the generated interface file go to the user's state folder, and the
#     generated file is removed when Tessaly ends;
#  2. an administrator's camera table is read before the shipped example, a user's before both;
#  3. nothing in the installed tree has changed.
# Usage: installed_test.sh PREFIX   (PREFIX/bin/kestrin and the rest; as root it runs as nobody
# on a copy, since root may write anywhere)
set -euo pipefail
# The folder as the programs see it (/proc/self/exe has every link resolved), so that a build
# folder reached through a link compares equal.
prefix=$(cd "$1" && pwd -P)
if [ "$(id -u)" = 0 ]; then
  # nobody may not reach the build folder (a home folder of mode 0700), so it gets a copy of
  # the script and of the tree, modes kept, in the folder all users share.
  shared=$(mktemp -d /tmp/installed_test.XXXXXX)
  cp "$0" "$shared/installed_test.sh"
  cp -a "$prefix" "$shared/prefix"
  chmod 755 "$shared"
  status=0
  setpriv --reuid=65534 --regid=65534 --clear-groups \
    bash "$shared/installed_test.sh" "$shared/prefix" || status=$?
  chmod -R u+w "$shared"
  rm -rf "$shared"
  exit "$status"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

listing() { (cd "$prefix" && find . -printf '%p %s %T@ %m\n' | sort); }
listing > "$work/before.txt"
home="$work/home"
mkdir -p "$home" "$work/case" "$work/etc"
cp "$prefix"/share/tessaly/sample/* "$work/case/"

run() {  # run NAME: Kestrin with the sample interface file, headless, from the case folder
  (cd "$work/case" && env -i PATH="$PATH" HOME="$home" XDG_CONFIG_DIRS="$work/etc" \
    QT_QPA_PLATFORM=offscreen TESSALY_SNAPSHOT="$work/$1.png" \
    KESTRIN_COPY_TO="$work/$1.ini" "$prefix/bin/kestrin" patient.ini) \
    > "$work/$1.out" 2>&1 || { cat "$work/$1.out"; fail "kestrin ended with $?"; }
  [ -s "$work/$1.png" ] || { cat "$work/$1.out"; fail "$1: no snapshot of Tessaly's window"; }
}
scale() { "$prefix/bin/iniprofile" get "$work/$1.ini" Image0 Pp100MM; }

# --- 1. the shipped tables ------------------------------------------------------------------
run shipped
state="$home/.local/state/tessaly"
program=$(readlink -f "$prefix/bin/tessaly")
[ "$program" = "$prefix/lib/tessaly/tessaly" ] || fail "tessaly lies at $program"
log=$(tr -d '\r' < "$state/Kestrin.log")
echo "$log" | grep -qxF "Programcall:\"$program\" \"$state/MVIni0.ini\"" ||
  { echo "$log" >&2; fail "Tessaly was not started from the installed folder with its file"; }
# The table named in the log is the installed one (compared as files: the log names it as the
# program finds its own folder).
table=$(echo "$log" | sed -n 's/^IniAnaFile://p')
[ -n "$table" ] && [ "$(readlink -f "$table")" = "$prefix/lib/tessaly/Kestrin.ini" ] ||
  { echo "$log" >&2; fail "Kestrin.ini was not read from $prefix/lib/tessaly"; }
[ -z "$(ls "$state"/MVIni*.ini 2>/dev/null)" ] || fail "the generated interface file was left"
grep -q '^tessaly: snapshot of "Tessaly - \[Mustermann, Erika  \*12.08.1964\]"' \
  "$work/shipped.out" || { cat "$work/shipped.out"; fail "Tessaly's caption"; }
# The sample camera: slopeFL 200 * 2.5 mm + slopeX 0.5 * 2048 pixels = 1524 (the pictures are
# 2048 pixels wide; their PixelXDimension still says 4032).
[ "$(scale shipped)" = 1524 ] || fail "scale from the shipped table: $(scale shipped)"

# --- 2. an administrator's table, then a user's ---------------------------------------------
mkdir -p "$work/etc/tessaly" "$home/.config/tessaly"
sed 's/^slopeFL=200$/slopeFL=100/' "$prefix/lib/tessaly/camera.ini" > "$work/etc/tessaly/camera.ini"
run admin
[ "$(scale admin)" = 1274 ] || fail "scale from the administrator's table: $(scale admin)"
sed 's/^slopeX=0.5$/slopeX=0.25/' "$work/etc/tessaly/camera.ini" > "$home/.config/tessaly/camera.ini"
run user
[ "$(scale user)" = 762 ] || fail "scale from the user's table: $(scale user)"

# --- 3. the tree ----------------------------------------------------------------------------
listing > "$work/after.txt"
diff "$work/before.txt" "$work/after.txt" || fail "the installed tree changed"
echo "installed tree: Kestrin ran Tessaly from $prefix/lib/tessaly; files written to $home only"
