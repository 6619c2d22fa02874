# shellcheck shell=bash
# Attacks on where the tools write: an output that is one of the inputs (the photos in the
# report's folder under the names a report writes, `tessaly-render` told to write over its own
# picture, through another spelling, a hard link or a symbolic link), and relative folders,
# which once made the page's addresses "file://rrep/image1.jpg" (the folder taken for a host).
# Sourced by scripts/attack, which sets BUILD and WORK; every attack_* prints one line ending in
# "-> ok", "-> FAULT" or "-> skipped (why)".

_outputs_sample="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/data/sample"
_outputs_testdata=${TESTDATA:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/../shared/testdata}

# What is wrong with the page $1 of a run into the absolute folder $2: every picture it names
# must be a file: address of an absolute path in that folder, and each capture the run wrote
# must be named. Prints nothing when all is well.
_outputs_check_page() {
  local page=$1 folder=$2 src path named=0
  [ -f "$page" ] || { echo "no page"; return; }
  while IFS= read -r src; do
    case "$src" in
      file:///*) path="${src#file://}" ;;
      *) echo "names \"$src\""; return ;;
    esac
    path=$(printf '%b' "${path//%/\\x}")
    [ "$(cd "$(dirname "$path")" 2>/dev/null && pwd -P)" = "$folder" ] ||
      { echo "names $path, outside $folder"; return; }
    [ -f "$path" ] && named=$((named + 1))
  done < <(grep -o 'src="[^"]*"' "$page" | sed 's/^src="//; s/"$//')
  local written
  written=$(find "$folder" -maxdepth 1 -name 'image*.jpg' | wc -l)
  [ "$written" -gt 0 ] && [ "$named" = "$written" ] ||
    echo "names $named of the $written captures written"
}

# The input photos lie in OUTDIR under the names a report writes: image1.jpg, test1.jpg, and an
# output.html of the user's own. They survive byte for byte; the run refuses, or writes its
# page into a fresh folder.
attack_outputs_report_over_its_inputs() {
  local name="tessaly-report into the folder of its photos named image1.jpg, test1.jpg, output.html"
  local dir="$WORK/outputs-report" status before after page
  mkdir -p "$dir"
  cp "$_outputs_sample/NT96650_pcb_002.JPG" "$dir/image1.jpg"
  cp "$_outputs_sample/NT96650_pcb_004.JPG" "$dir/test1.jpg"
  printf '<html>the page of an earlier visit</html>\n' >"$dir/output.html"
  before=$(cd "$dir" && sha256sum image1.jpg test1.jpg output.html)
  XDG_DATA_HOME="$WORK/outputs-data" XDG_CONFIG_HOME="$WORK/outputs-config" timeout 120 \
    "$BUILD/bin/tessaly-report" "$dir/image1.jpg" "$dir/test1.jpg" "$dir" \
    >"$dir.out" 2>"$dir.err"
  status=$?
  after=$(cd "$dir" && sha256sum image1.jpg test1.jpg output.html 2>&1)
  page=$(sed -n 's/^wrote //p' "$dir.out")
  if [ "$before" != "$after" ]; then
    echo "$name: exit $status, the photos or the page in the folder were changed -> FAULT"
  elif [ "$status" != 0 ] && [ "$status" != 124 ] && grep -q '^tessaly-report: ' "$dir.err"; then
    echo "$name: refused (exit $status), all three byte-identical -> ok"
  elif [ "$status" = 0 ] && [ -n "$page" ] && [ "$page" != "$dir/output.html" ]; then
    echo "$name: all three byte-identical, the page written as $page -> ok"
  else
    echo "$name: exit $status, page ${page:-none} -> FAULT"
  fi
}

# Each output that is an input, however it is named, is refused and the input stays as it was.
attack_outputs_render_over_its_inputs() {
  local name="tessaly-render writing over its input: --export-aligned P1 P1 P2, OUT=P1, ./, hard link, link"
  local dir="$WORK/outputs-render" wrong="" one two args status
  one="$_outputs_testdata/formats/png/basn2c08.png"
  two="$_outputs_testdata/formats/png/basn6a08.png"
  if [ ! -f "$one" ] || [ ! -f "$two" ]; then
    echo "$name: no test pictures at $_outputs_testdata -> skipped (no test data)"
    return
  fi
  mkdir -p "$dir"
  cp "$one" "$dir/p1.png" && cp "$two" "$dir/p2.png"
  ln "$dir/p1.png" "$dir/hard.png"
  ln -s p1.png "$dir/link.png"
  local -a cases=(
    "--export-aligned $dir/p1.png $dir/p1.png $dir/p2.png"
    "--export-side $dir/p2.png $dir/p1.png $dir/p2.png"
    "$dir/p1.png $dir/p2.png $dir/p1.png"
    "$dir/p1.png $dir/p2.png $dir/./p1.png"
    "$dir/p1.png $dir/p2.png $dir/hard.png"
    "$dir/p1.png $dir/p2.png $dir/link.png"
    "--export-difference $dir/link.png $dir/p1.png $dir/p2.png"
  )
  for args in "${cases[@]}"; do
    # shellcheck disable=SC2086 # each case is a list of words without blanks
    timeout 120 "$BUILD/bin/tessaly-render" $args >/dev/null 2>"$dir.err"
    status=$?
    if [ "$status" = 0 ] || [ "$status" = 124 ] || ! grep -q '^tessaly-render: ' "$dir.err"; then
      wrong+="\"$args\" exit $status; "
    fi
  done
  cmp -s "$one" "$dir/p1.png" || wrong+="p1.png changed; "
  cmp -s "$two" "$dir/p2.png" || wrong+="p2.png changed; "
  [ "$(readlink "$dir/link.png")" = p1.png ] || wrong+="link.png replaced; "
  [ "$(stat -c %h "$dir/p1.png")" = 2 ] || wrong+="the hard link broken; "
  if [ -z "$wrong" ]; then
    echo "$name: all ${#cases[@]} refused, the pictures and links as they were -> ok"
  else
    echo "$name: $wrong-> FAULT"
  fi
}

# A relative OUTDIR, and a relative TEMP, for tessaly-report and for the window's print: the page
# names its captures by absolute file: addresses that exist, or the run fails.
attack_outputs_relative_folders() {
  local name="relative OUTDIR and TEMP for tessaly-report and the window's print"
  local dir="$WORK/outputs-relative" wrong="" status run page folder pages="" failed=""
  mkdir -p "$dir/rtmp"
  for run in outdir temp print; do
    status=0
    case $run in
      outdir)
        (cd "$dir" && XDG_DATA_HOME=data XDG_CONFIG_HOME=config timeout 120 \
          "$BUILD/bin/tessaly-report" --count 2 "$_outputs_sample/NT96650_pcb_002.JPG" \
          "$_outputs_sample/NT96650_pcb_004.JPG" rrep >"$run.out" 2>&1) || status=$?
        page=$dir/rrep/output.html
        ;;
      temp)
        (cd "$dir" && TEMP=rtmp TMPDIR=rtmp XDG_DATA_HOME=data XDG_CONFIG_HOME=config \
          timeout 120 "$BUILD/bin/tessaly-report" --count 2 \
          "$_outputs_sample/NT96650_pcb_002.JPG" "$_outputs_sample/NT96650_pcb_004.JPG" \
          ./rrep2/ >"$run.out" 2>&1) || status=$?
        page=$dir/rrep2/output.html
        ;;
      print)
        (cd "$dir" && TEMP=rtmp QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=print-config \
          timeout 300 "$BUILD/bin/tessaly-screenshots" --print \
          "$_outputs_sample/NT96650_pcb_002.JPG" "$_outputs_sample/NT96650_pcb_004.JPG" \
          >"$run.out" 2>&1) || status=$?
        page=$(sed -n 's/^opened //p' "$dir/$run.out")
        [ -z "$page" ] || [ "${page#/}" != "$page" ] || page=$dir/$page
        ;;
    esac
    if [ "$status" != 0 ]; then  # a run that fails names no page
      failed+=" $run (exit $status)"
      continue
    fi
    pages+=" $run"
    folder=$(dirname "$page")
    folder=$(cd "$folder" 2>/dev/null && pwd -P)
    local problem
    problem=$(_outputs_check_page "$page" "$folder")
    [ -z "$problem" ] || wrong+="$run: $problem; "
  done
  if [ -z "$wrong" ]; then
    echo "$name: the pages of${pages:- none} name their captures by absolute addresses that exist${failed:+; failed:$failed} -> ok"
  else
    echo "$name: $wrong-> FAULT"
  fi
}
