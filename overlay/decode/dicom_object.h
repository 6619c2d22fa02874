// What the PACS client needs to know of a DICOM file before it sends it, read in the decoder
// process (decoder::TRequestKind::ReadDicomObject): DCMTK's parser recurses once per nested
// sequence, so a file can overflow the stack of the process that parses it. The PACS client
// parses a file itself only after this has loaded it whole within the bounds of
// decoder_protocol.h.
#pragma once

#include <string>

#include "overlay/decode/decoder_protocol.h"

namespace overlay::detail {

// Loads File's meta header and whole data set (every value read), and answers its SOP class,
// SOP instance UID and transfer syntax; or why it is none to send. Runs in the decoder process
// only: a file may end the process here.
decoder::TObjectReply ReadDicomObjectFile(const std::string& File);

}  // namespace overlay::detail
