// tessaly-dicom: the overlay program's comparison as DICOM, without a window.
#include "overlay/programs/comparison_input.h"
#include "overlay/programs/dicom_command.h"

int main(int argc, char** argv) {
  return overlay::RunComparisonTool("tessaly-dicom", argc, argv, overlay::RunDicomCommand);
}
