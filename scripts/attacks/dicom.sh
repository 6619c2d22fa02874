# shellcheck shell=bash
# Attacks on the DICOM side: what `tessaly-dicom store` must refuse instead of reporting a false
# success (a SOP Instance UID that starts with a dot, a --config that is no settings file, a
# second object under a UID already waiting), a FIFO named like an object, and a deflated object
# that inflates to 2 GiB, given to the store and to the picture import. No PACS is needed: the
# settings name a loopback port nobody listens at, so an object that got into the outbox stays
# there and shows it. Sourced by scripts/attack, which sets BUILD and WORK; every attack_* prints
# one line ending in "-> ok", "-> FAULT" or "-> skipped (why)".

_dicom_sample="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/data/sample"

# The user's data folder (and with it the outbox) of an attack, inside WORK.
_dicom_data() { echo "$WORK/dicom-data-$1"; }
_dicom_outbox() { echo "$(_dicom_data "$1")/tessaly/outbox"; }

# What the outbox of attack $1 holds, hidden files included, as one line.
_dicom_outbox_files() {
  find "$(_dicom_outbox "$1")" -mindepth 1 -maxdepth 1 -printf '%f ' 2>/dev/null
}

# Runs `tessaly-dicom ARGS...` as attack $1's user, within 10 s; standard error in $WORK/$1.err.
_dicom_run() {
  local name=$1
  shift
  XDG_DATA_HOME="$(_dicom_data "$name")" XDG_CONFIG_HOME="$WORK/dicom-config" \
    timeout 10 "$BUILD/bin/tessaly-dicom" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
}

# A Tessaly.ini whose PACS is a loopback port nobody listens at; prints its path.
_dicom_config() {
  local config="$WORK/dicom-pacs.ini" port
  if [ ! -f "$config" ]; then
    port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    printf '[PACS]\nHost=127.0.0.1\nPort=%s\nTimeout=5\n' "$port" >"$config"
  fi
  echo "$config"
}

# The sample pair exported as DICOM by the project's own export: prints the first object's path.
_dicom_object() {
  local dir="$WORK/dicom-objects"
  if [ ! -d "$dir/out" ]; then
    mkdir -p "$dir"
    printf '[General]\nCount=2\n[Subject0]\nName=Muster\nFirstName=Erika\nBirthDate=01.02.1960\n[Image0]\nImage=%s\n[Image1]\nImage=%s\n[Additional]\nAdd0Name=PatientID\nAdd0Value=ATT-1\n' \
      "$_dicom_sample/NT96650_pcb_002.JPG" "$_dicom_sample/NT96650_pcb_004.JPG" >"$dir/start.ini"
    XDG_DATA_HOME="$dir/data" XDG_CONFIG_HOME="$dir/config" \
      "$BUILD/bin/tessaly-dicom" export --count 0 "$dir/start.ini" "$dir/out" >/dev/null 2>&1
  fi
  find "$dir/out" -name '*.dcm' 2>/dev/null | sort | head -n 1
}

# A copy of the exported object at $1 with dcmodify's changes $2...: copy FILE ASSIGNMENT...
_dicom_modified() {
  local file=$1
  shift
  cp "$(_dicom_object)" "$file" || return 1
  local assignment
  for assignment in "$@"; do
    dcmodify -nb -i "$assignment" "$file" >/dev/null 2>&1 || return 1
  done
}

# A deflated DICOM file of 2 MB whose private element (0009,1000) holds 2^31 zero bytes.
_dicom_bomb() {
  python3 - "$1" <<'PY'
import sys, zlib
syntax = b"1.2.840.10008.1.2.1.99"  # Deflated Explicit VR Little Endian
z = zlib.compressobj(9, zlib.DEFLATED, -zlib.MAX_WBITS, 9)
head = z.compress(b"\x09\x00\x00\x10OB\0\0\0\0\0\x80") + z.flush(zlib.Z_FULL_FLUSH)
zeros = z.compress(bytes(1 << 20)) + z.flush(zlib.Z_FULL_FLUSH)  # repeatable: flushed whole
with open(sys.argv[1], "wb") as f:
    f.write(bytes(128) + b"DICM" + b"\x02\x00\x10\x00UI\x16\x00" + syntax + head)
    for _ in range(2048):
        f.write(zeros)
    f.write(z.flush(zlib.Z_FINISH))
PY
}

_dicom_no_object() {
  [ -n "$(_dicom_object)" ] && command -v dcmodify >/dev/null && return 1
  echo "$1: no DICOM object could be made (tessaly-dicom export, dcmodify of dcmtk) -> FAULT"
}

attack_dicom_store_dotted_uid() {
  local name="store of an object whose SOP Instance UID starts with a dot"
  _dicom_no_object "$name" && return
  local file="$WORK/dicom-dotted.dcm" uid=.1.2.826.0.1.3680043.9.7777.5 status
  _dicom_modified "$file" "SOPInstanceUID=$uid" || {
    echo "$name: dcmodify failed -> FAULT"
    return
  }
  _dicom_run dotted store --config "$(_dicom_config)" "$file"
  status=$?
  local queued
  queued=$(_dicom_outbox_files dotted)
  if [ "$status" -ne 0 ] && [ "$status" -ne 124 ] && [ -z "$queued" ] &&
    grep -qF "$uid" "$WORK/dotted.err"; then
    echo "$name: exit $status, the UID named, nothing queued -> ok"
  else
    echo "$name: exit $status, outbox: ${queued:-empty}, told: $(head -c 120 "$WORK/dotted.err" | tr '\n' ' ') -> FAULT"
  fi
}

# A settings file that is missing, /dev/zero, a FIFO or a folder: its defaults (localhost:4242)
# are no setting. Refused, and the object never reaches the outbox.
attack_dicom_store_config_no_settings() {
  local name="store --config naming a missing file, /dev/zero, a FIFO, a folder"
  _dicom_no_object "$name" && return
  local fifo="$WORK/dicom-config.fifo" wrong="" config status queued
  rm -f "$fifo" && mkfifo "$fifo"
  mkdir -p "$WORK/dicom-config-folder"
  for config in "$WORK/dicom-no-such.ini" /dev/zero "$fifo" "$WORK/dicom-config-folder"; do
    rm -rf "$(_dicom_data config)"
    _dicom_run config store --config "$config" "$(_dicom_object)"
    status=$?
    queued=$(_dicom_outbox_files config)
    if [ "$status" -eq 0 ] || [ "$status" -eq 124 ] || [ -n "$queued" ] ||
      ! grep -qF "$config" "$WORK/config.err"; then
      wrong+="$config: exit $status, outbox: ${queued:-empty}; "
    fi
  done
  if [ -z "$wrong" ]; then
    echo "$name: each refused naming it, nothing queued or sent -> ok"
  else
    echo "$name: $wrong-> FAULT"
  fi
}

# Another patient's object under the UID of one waiting in the outbox, and two such objects in
# one store: refused naming both files; the waiting object stays as it was.
attack_dicom_store_same_uid_other_content() {
  local name="store of an object under a UID already waiting, with other content"
  _dicom_no_object "$name" && return
  local mine="$WORK/dicom-mine.dcm" other="$WORK/dicom-other.dcm" status wrong="" waiting
  cp "$(_dicom_object)" "$mine"
  _dicom_modified "$other" "PatientName=Andere^Eva" || {
    echo "$name: dcmodify failed -> FAULT"
    return
  }
  # Mine waits: the PACS is not reached.
  _dicom_run same store --config "$(_dicom_config)" "$mine"
  waiting="$(_dicom_outbox same)/$(_dicom_outbox_files same | tr -d ' ')"
  if ! cmp -s "$mine" "$waiting"; then
    echo "$name: the first object did not wait in the outbox ($(_dicom_outbox_files same)) -> FAULT"
    return
  fi
  _dicom_run same store --config "$(_dicom_config)" "$other"
  status=$?
  if [ "$status" -eq 0 ] || ! grep -qF "$waiting" "$WORK/same.err" ||
    ! grep -qF "$other" "$WORK/same.err"; then
    wrong="exit $status, told: $(tr '\n' ' ' <"$WORK/same.err" | head -c 160); "
  fi
  cmp -s "$mine" "$waiting" || wrong+="the waiting object was replaced; "
  [ "$(_dicom_outbox_files same | wc -w)" = 1 ] || wrong+="outbox: $(_dicom_outbox_files same); "
  # Both in one store, into an empty outbox.
  _dicom_run twice store --config "$(_dicom_config)" "$mine" "$other"
  status=$?
  if [ "$status" -eq 0 ] || [ -n "$(_dicom_outbox_files twice)" ] ||
    ! grep -qF "$mine" "$WORK/twice.err" || ! grep -qF "$other" "$WORK/twice.err"; then
    wrong+="both at once: exit $status, outbox: $(_dicom_outbox_files twice), told: $(tr '\n' ' ' <"$WORK/twice.err" | head -c 160)"
  fi
  if [ -z "$wrong" ]; then
    echo "$name: refused naming both files, alone and two at once; the waiting object kept -> ok"
  else
    echo "$name: $wrong -> FAULT"
  fi
}

attack_dicom_store_fifo() {
  local name="store of a FIFO named x.dcm"
  local fifo="$WORK/dicom-fifo/x.dcm" status
  mkdir -p "$(dirname "$fifo")" && mkfifo "$fifo"
  _dicom_run fifo store --config "$(_dicom_config)" "$fifo"
  status=$?
  if [ "$status" -eq 124 ]; then
    echo "$name: still waiting after 10 s -> FAULT"
  elif [ "$status" -ne 0 ] && [ -z "$(_dicom_outbox_files fifo)" ] &&
    grep -qF "$fifo" "$WORK/fifo.err"; then
    echo "$name: refused at once (exit $status), naming it -> ok"
  else
    echo "$name: exit $status, outbox: $(_dicom_outbox_files fifo) -> FAULT"
  fi
}

# The bomb given to the store (the PACS client's read in the decoder process) and as a picture
# (the picture import, in the decoder process too): refused with a message, and no process of
# the run ever holds more than 256 MB. GNU time's %M is the largest of the program and the
# children it waited for.
attack_dicom_deflate_bomb() {
  local name="a 2 MB deflated DICOM inflating to 2 GiB, to store and as a picture"
  if [ ! -x /usr/bin/time ]; then
    echo "$name: -> skipped (no GNU time; scripts/setup installs it)"
    return
  fi
  local bomb="$WORK/dicom-bomb.dcm" wrong="" peaks="" run status kb
  _dicom_bomb "$bomb" || {
    echo "$name: the file could not be made -> FAULT"
    return
  }
  for run in store render; do
    if [ "$run" = store ]; then
      set -- "$BUILD/bin/tessaly-dicom" store --config "$(_dicom_config)" "$bomb"
    else
      set -- "$BUILD/bin/tessaly-render" "$bomb" "$_dicom_sample/NT96650_pcb_002.JPG" \
        "$WORK/dicom-bomb.png"
    fi
    XDG_DATA_HOME="$(_dicom_data bomb)" XDG_CONFIG_HOME="$WORK/dicom-config" \
      /usr/bin/time -o "$WORK/bomb-$run.kb" -f %M timeout 60 "$@" >/dev/null 2>"$WORK/bomb-$run.err"
    status=$?
    kb=$(tail -n 1 "$WORK/bomb-$run.kb")
    peaks+="$run $((kb / 1024)) MB, "
    if [ "$status" -eq 0 ] || [ "$status" -eq 124 ] || ! grep -qF "$bomb" "$WORK/bomb-$run.err" ||
      [ "$kb" -ge $((256 * 1024)) ]; then
      wrong+="$run: exit $status, peak ${kb} kB; "
    fi
  done
  [ -z "$(_dicom_outbox_files bomb)" ] || wrong+="queued: $(_dicom_outbox_files bomb)"
  if [ -z "$wrong" ]; then
    echo "$name: refused naming the file, peak memory ${peaks%, } -> ok"
  else
    echo "$name: $wrong -> FAULT"
  fi
}
