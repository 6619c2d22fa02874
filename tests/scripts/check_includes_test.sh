#!/usr/bin/env bash
# The include check passes on this checkout, and on a small tree it finds exactly the includes
# that break the rule: upwards, between the two programs, a toolkit in the engine and Qt in the
# comparison's state.
source "$(dirname "$0")/check_support.sh"
checkout_passes "the checkout breaks the dependency rule"
mkdir -p "$tree"/{raster,controls,platform,launcher,overlay/comparison,overlay/scene,overlay/windows,overlay/programs}
printf '#include "controls/view.h"\n#include <QImage>\n#include <vector>\n' >"$tree/raster/core.h"
printf '#include "raster/core.h"\n' >"$tree/controls/view.h"
printf '#include "overlay/windows/form.h"\n#include "platform/paths.h"\n' >"$tree/overlay/scene/scene.cpp"
printf '#include "overlay/scene/scene.h"\n#include "controls/view.h"\n' >"$tree/overlay/programs/main.cpp"
printf '#include "overlay/scene/scene.h"\n#include "platform/paths.h"\n' >"$tree/launcher/run.cpp"
printf '#include <QString>\n#include "overlay/scene/scene.h"\n#include <string>\n' >"$tree/overlay/comparison/record.cpp"
tree_refused breaches 'launcher/run.cpp:1: launcher/ includes overlay/scene/scene.h of overlay/scene/ beside it
overlay/comparison/record.cpp:1: overlay/comparison/ includes <QString>, a Qt header
overlay/comparison/record.cpp:2: overlay/comparison/ includes overlay/scene/scene.h of overlay/scene/ above it
overlay/scene/scene.cpp:1: overlay/scene/ includes overlay/windows/form.h of overlay/windows/ above it
raster/core.h:1: raster/ includes controls/view.h of controls/ above it
raster/core.h:2: raster/ includes <QImage>, a toolkit or codec'
echo "include check: passes here, finds all six breaches"
