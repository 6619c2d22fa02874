// What the PACS client needs to know of a DICOM file before it sends it, read in the decoder
// process (decoder::TRequestKind::ReadDicomObject): DCMTK's parser recurses once per nested
// sequence, so a file can overflow the stack of the process that parses it. The PACS client
// parses a file itself only after this has loaded it whole within the bounds of
// decoder_protocol.h.
#pragma once

#include <cstdint>
#include <string>

#include "overlay/decode/decoder_protocol.h"

namespace overlay::detail {

// Loads File's meta header and whole data set (every value read), and answers its SOP class,
// SOP instance UID and transfer syntax; or why it is none to send. Runs in the decoder process
// only: a file may end the process here.
decoder::TObjectReply ReadDicomObjectFile(const std::string& File);

// Whether File is in the Deflated Explicit VR Little Endian transfer syntax and its data set
// inflates to more than Limit bytes. DCMTK holds the whole inflated data set in memory (a
// deflated stream cannot be read again from the file), so 2 MB of zeros deflated would take
// 2 GiB: this inflates it first into nothing, stopping at the limit, and only counts.
bool InflatesBeyond(const std::string& File, std::uint64_t Limit);

}  // namespace overlay::detail
