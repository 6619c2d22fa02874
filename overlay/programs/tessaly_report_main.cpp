// tessaly-report: the overlay program's print page and its captures made without a window.
#include "overlay/programs/comparison_input.h"
#include "overlay/programs/report_command.h"

int main(int argc, char** argv) {
  return overlay::RunComparisonTool("tessaly-report", argc, argv, overlay::RunReportCommand);
}
