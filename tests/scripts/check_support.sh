# Shared by the tests of the checkout's checks, each run as `bash TEST CHECK REPO` and sourcing
# this: fail, the first step (CHECK passes on the checkout itself) and $tree, a fresh folder for
# the test's own small tree, removed when the test ends.
set -uo pipefail
check=$1 repo=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

# checkout_passes WHAT: CHECK passes on REPO, or the test fails with WHAT and the check's words.
checkout_passes() {
  "$check" --root "$repo" >/dev/null || fail "$1: $("$check" --root "$repo")"
}

# tree_refused WHAT EXPECTED: CHECK refuses $tree (exit 1) with exactly the lines EXPECTED.
tree_refused() {
  local out status
  out=$("$check" --root "$tree" 2>/dev/null)
  status=$?
  [ $status -eq 1 ] || fail "$1 not refused (exit $status): $out"
  [ "$out" = "$2" ] || fail "$1 found:
$out"
}

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
