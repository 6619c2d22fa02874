# shellcheck shell=bash
# Attacks with huge and absurd measures: a comparison record whose outline has 200 000 points
# (it took minutes a page), points at 1e308, a scale of 300 000 000 pixels per 100 mm. The
# tools must refuse them with a message within a minute, and no "inf" or "nan" may reach any
# output. Sourced by scripts/attack, which sets BUILD and WORK; every attack_* prints one line
# ending in "-> ok", "-> FAULT" or "-> skipped (why)".

_measures_sample="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/data/sample"
_measures_one="$_measures_sample/NT96650_pcb_002.JPG"
_measures_two="$_measures_sample/NT96650_pcb_004.JPG"

# A record of the sample pair with one outline on picture 1: _measures_record FILE POINTS.
_measures_record() {
  printf '[Pictures]\nPicture1=%s\nPicture2=%s\nSha1=%s\nSha2=%s\n[Placement]\nAngle=0\nZoom=1\nX=0\nY=0\n[View]\nMode=blend\nMatchColours=0\n[Outline1]\nPicture=1\nName=Umriss 1\nPoints=%s\n' \
    "$_measures_one" "$_measures_two" "$(sha256sum "$_measures_one" | cut -c1-64)" \
    "$(sha256sum "$_measures_two" | cut -c1-64)" "$2" >"$1"
}

# N points on a circle about the picture's middle, as a record writes them.
_measures_circle() {
  awk -v n="$1" 'BEGIN { for (i = 0; i < n; i++) { a = 6.283185307 * i / n
    printf "%s%.3f %.3f", (i ? ";" : ""), 1024 + 500 * cos(a), 768 + 500 * sin(a) } }'
}

# Runs a tool (its name, then its arguments) within 60 s with the user's folders in WORK;
# standard output and error in $WORK/measures-$1.out and .err. Prints the exit status.
_measures_run() {
  local tag=$1 tool=$2
  shift 2
  XDG_DATA_HOME="$WORK/measures-data" XDG_CONFIG_HOME="$WORK/measures-config" \
    timeout 60 "$BUILD/bin/$tool" "$@" >"$WORK/measures-$tag.out" 2>"$WORK/measures-$tag.err"
  echo $?
}

# The first "inf" or "nan" among the files given, with the file, or nothing.
_measures_non_number() {
  grep -HoiwE -m 1 -- '-?(inf|infinity|nan)' "$@" 2>/dev/null | head -n 1
}

attack_measures_outline_of_200000_points() {
  local name="a record outline of 200 000 points (the bound is 10 000)"
  local huge="$WORK/measures-huge.ini" wrong="" tag status kept
  _measures_record "$huge" "$(_measures_circle 200000)"
  # Named with --record: refused naming the outline, nothing written.
  for tag in report export; do
    if [ "$tag" = report ]; then
      status=$(_measures_run huge-$tag tessaly-report --record "$huge" "$_measures_one" \
        "$_measures_two" "$WORK/measures-huge-$tag")
    else
      status=$(_measures_run huge-$tag tessaly-dicom export --record "$huge" "$_measures_one" \
        "$_measures_two" "$WORK/measures-huge-$tag")
    fi
    if [ "$status" = 124 ]; then
      wrong+="$tag still running after 60 s; "
    elif [ "$status" = 0 ] || ! grep -q 'Outline1.*10000' "$WORK/measures-huge-$tag.err" ||
      [ -n "$(ls -A "$WORK/measures-huge-$tag" 2>/dev/null)" ]; then
      wrong+="$tag: exit $status, $(tr '\n' ' ' <"$WORK/measures-huge-$tag.err" | head -c 100); "
    fi
  done
  # Kept for the pictures (found by their contents): left out with the reason, the page made.
  kept="$WORK/measures-data/tessaly/records"
  mkdir -p "$kept" && chmod 0700 "$WORK/measures-data" "$WORK/measures-data/tessaly" "$kept"
  cp "$huge" "$kept/$(sha256sum "$_measures_one" | cut -c1-64)-$(sha256sum "$_measures_two" | cut -c1-64).ini"
  chmod 0600 "$kept"/*.ini
  status=$(_measures_run huge-kept tessaly-report --count 1 "$_measures_one" "$_measures_two" \
    "$WORK/measures-huge-kept")
  if [ "$status" != 0 ] || ! grep -q 'Outline1.*10000' "$WORK/measures-huge-kept.err" ||
    grep -q 'Umriss 1' "$WORK/measures-huge-kept/output.html"; then
    wrong+="kept: exit $status, $(tr '\n' ' ' <"$WORK/measures-huge-kept.err" | head -c 100)"
  fi
  rm -rf "$kept"
  if [ -z "$wrong" ]; then
    echo "$name: report and export refuse it naming [Outline1], the kept one is left out and the page made -> ok"
  else
    echo "$name: $wrong -> FAULT"
  fi
}

attack_measures_absurd_values() {
  local name="points at 1e308, Pp100MM=300000000, --pp100mm 300000000, --precise 0,1,1e308,0"
  local far="$WORK/measures-far.ini" fine="$WORK/measures-fine.ini" wrong="" status found
  _measures_record "$far" "1000 700;1e308 700;1100 800"
  status=$(_measures_run far tessaly-report --record "$far" "$_measures_one" "$_measures_two" \
    "$WORK/measures-far")
  if [ "$status" = 0 ] || [ "$status" = 124 ] || ! grep -q 'Outline1' "$WORK/measures-far.err"; then
    wrong+="1e308: exit $status; "
  fi
  # The absurd scale from the interface file is no scale, and said so; the page is made of the
  # measure in pixels.
  _measures_record "$fine" "1000 700;1200 700;1200 900;1000 900"
  printf '[General]\nCount=2\n[Subject0]\nName=Muster\n[Image0]\nImage=%s\nPp100MM=300000000\n[Image1]\nImage=%s\nPp100MM=300000000\n' \
    "$_measures_one" "$_measures_two" >"$WORK/measures-scale.ini"
  status=$(_measures_run scale tessaly-report --count 1 --record "$fine" \
    "$WORK/measures-scale.ini" "$WORK/measures-scale")
  if [ "$status" = 124 ] || { [ "$status" = 0 ] && ! grep -q '300000000' "$WORK/measures-scale.err"; }; then
    wrong+="Pp100MM=300000000: exit $status, not told; "
  elif [ "$status" = 0 ] && [ ! -f "$WORK/measures-scale/output.html" ]; then
    wrong+="Pp100MM=300000000: no page; "
  fi
  # On the command line: refused as a usage error.
  status=$(_measures_run pp-report tessaly-report --pp100mm 300000000,300000000 \
    "$_measures_one" "$_measures_two" "$WORK/measures-pp")
  [ "$status" = 2 ] || wrong+="tessaly-report --pp100mm 300000000: exit $status; "
  status=$(_measures_run pp-render tessaly-render --pp100mm 300000000 --export-aligned \
    "$WORK/measures-pp.png" "$_measures_one" "$_measures_two")
  [ "$status" = 2 ] || wrong+="tessaly-render --pp100mm 300000000: exit $status; "
  status=$(_measures_run precise tessaly-render --precise 0,1,1e308,0 "$_measures_one" \
    "$_measures_two" "$WORK/measures-precise.png")
  [ "$status" = 2 ] || wrong+="tessaly-render --precise 0,1,1e308,0: exit $status; "
  found=$(_measures_non_number "$WORK"/measures-*.out "$WORK"/measures-*.err \
    "$WORK"/measures-scale/output.html)
  [ -z "$found" ] || wrong+="\"$found\" in the output"
  if [ -z "$wrong" ]; then
    echo "$name: each refused (the interface file's scale told as none), no inf or nan in any output -> ok"
  else
    echo "$name: $wrong -> FAULT"
  fi
}
