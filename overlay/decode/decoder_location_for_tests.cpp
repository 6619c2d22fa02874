// Linked into the test and benchmark programs, which do not lie beside the decoder program:
// the picture import finds the one of this build instead.
#include "overlay/decode/isolated_decode.h"

namespace {

const bool DecoderSet = [] {
  overlay::SetDecoderProgram(TESSALY_DECODE_EXE);
  return true;
}();

}  // namespace
