#!/usr/bin/env bash
# The check of the tests' outside programs passes on this checkout, and on a small tree it finds
# a program whose package scripts/setup does not install and one its list does not know, and
# passes once setup installs the package.
source "$(dirname "$0")/check_support.sh"
checkout_passes "the checkout"
mkdir -p "$tree"/{scripts,tests/overlay}
printf '#!/usr/bin/env bash\npackages=(\n  dcmtk  # DICOM tools\n)\n' >"$tree/scripts/setup"
cat >"$tree/tests/overlay/tool_test.cpp" <<'CPP'
const std::string dump = ToolOutput("dcmdump '" + Path + "'");
if (FILE* pipe = ::popen(("exiv2 -pa '" + Path + "' 2>&1").c_str(), "r")) {
CPP
printf '#!/usr/bin/env bash\nout=$(mktemp -d)\nuname -a >"$out/u"  # the system\n' \
  >"$tree/tests/overlay/tool_test.sh"
tree_refused faults 'tests/overlay/tool_test.cpp:2: exiv2 (package exiv2) is run by a test but scripts/setup does not install exiv2
tests/overlay/tool_test.sh:3: uname is run by a test but not in PROGRAMS of scripts/check-test-programs (add it with its package)'
sed -i 's/^  dcmtk /  dcmtk exiv2 /' "$tree/scripts/setup"
rm "$tree/tests/overlay/tool_test.sh"
"$check" --root "$tree" >/dev/null || fail "exiv2 installed by setup still refused: $("$check" --root "$tree")"
echo "test programs check: passes here, finds both faults"
