#include "overlay/decode/dicom_object.h"

#include <sys/stat.h>

// clang-format off
#include <dcmtk/config/osconfig.h>  // first, as the toolkit's headers expect
// clang-format on
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcmetinf.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/oflog/oflog.h>
#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

namespace overlay::detail {

namespace {

using decoder::TObjectStatus;

// Counts the elements of Item and the items below it, and finds whether its sequences nest
// deeper than the bound. Descends no further than one level past the bound, so that this walk
// recurses less deep than the parse that made the tree.
TObjectStatus Measure(DcmItem& Item, std::uint32_t Depth, std::uint32_t* Elements) {
  if (Depth > decoder::MaxObjectNesting) return TObjectStatus::TooDeep;
  for (unsigned long i = 0; i < Item.card(); ++i) {
    DcmElement* element = Item.getElement(i);
    if (++*Elements > decoder::MaxObjectElements) return TObjectStatus::TooMany;
    if (element == nullptr || element->ident() != EVR_SQ) continue;
    auto& sequence = static_cast<DcmSequenceOfItems&>(*element);
    for (unsigned long j = 0; j < sequence.card(); ++j) {
      if (DcmItem* item = sequence.getItem(j)) {
        const TObjectStatus status = Measure(*item, Depth + 1, Elements);
        if (status != TObjectStatus::Ok) return status;
      }
    }
  }
  return TObjectStatus::Ok;
}

}  // namespace

bool InflatesBeyond(const std::string& File, std::uint64_t Limit) {
  std::ifstream in(File, std::ios::binary);
  std::array<char, 132> head{};
  if (!in.read(head.data(), head.size()) || std::memcmp(head.data() + 128, "DICM", 4) != 0) {
    return false;
  }
  // The meta header's elements (group 2, explicit VR little endian) up to the data set, with
  // the transfer syntax among them.
  std::string syntax;
  for (;;) {
    unsigned char e[8];
    if (!in.read(reinterpret_cast<char*>(e), 8)) return false;
    if ((e[0] | e[1] << 8) != 2) {
      in.seekg(-8, std::ios::cur);
      break;
    }
    const unsigned element = e[2] | e[3] << 8;
    std::uint32_t length = e[6] | e[7] << 8;
    const std::string vr(reinterpret_cast<char*>(e) + 4, 2);
    if (vr == "OB" || vr == "OW" || vr == "UN" || vr == "SQ" || vr == "UT" || vr == "UC" ||
        vr == "UR") {
      unsigned char l[4];
      if (!in.read(reinterpret_cast<char*>(l), 4)) return false;
      length = std::uint32_t(l[0]) | std::uint32_t(l[1]) << 8 | std::uint32_t(l[2]) << 16 |
               std::uint32_t(l[3]) << 24;
    }
    if (element == 0x0010 && length <= 64) {
      syntax.resize(length);
      if (!in.read(syntax.data(), length)) return false;
      while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' ')) syntax.pop_back();
    } else if (length == 0xFFFFFFFFu || !in.seekg(length, std::ios::cur)) {
      return false;
    }
  }
  if (syntax != "1.2.840.10008.1.2.1.99") return false;
  // The data set is a raw deflate stream (no zlib header).
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
  std::vector<unsigned char> input(1 << 16), output(1 << 18);
  std::uint64_t total = 0;
  int status = Z_OK;
  while (status == Z_OK && total <= Limit) {
    if (z.avail_in == 0) {
      in.read(reinterpret_cast<char*>(input.data()), std::streamsize(input.size()));
      if (in.gcount() == 0) break;
      z.next_in = input.data();
      z.avail_in = uInt(in.gcount());
    }
    z.next_out = output.data();
    z.avail_out = uInt(output.size());
    status = inflate(&z, Z_NO_FLUSH);
    total += output.size() - z.avail_out;
  }
  inflateEnd(&z);
  return total > Limit;
}

decoder::TObjectReply ReadDicomObjectFile(const std::string& File) {
  decoder::TObjectReply reply;
  struct stat st {};
  if (::stat(File.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return reply;
  if (std::uint64_t(st.st_size) > decoder::MaxObjectBytes) {
    reply.Status = TObjectStatus::TooLarge;
    return reply;
  }
  if (InflatesBeyond(File, decoder::MaxObjectBytes)) {
    reply.Status = TObjectStatus::TooLarge;
    return reply;
  }
  // A damaged file is told through the reply, not in DCMTK's English on standard error.
  OFLog::configure(OFLogger::OFF_LOG_LEVEL);
  // Never freed: the process ends after its one reply, and the destructor of a tree that nests
  // deeply recurses as deep as the parse did.
  auto* file = new DcmFileFormat;
  // Long values (the pixel data) stay in the file until the whole load below.
  if (file->loadFile(File.c_str()).bad()) return reply;
  OFString syntax, sopClass, sopInstance;
  // A DICOM file has its meta header (a bare data set could be anything that parses).
  DcmDataset& data = *file->getDataset();
  if (file->getMetaInfo()->findAndGetOFString(DCM_TransferSyntaxUID, syntax).bad() ||
      data.findAndGetOFString(DCM_SOPClassUID, sopClass).bad() ||
      data.findAndGetOFString(DCM_SOPInstanceUID, sopInstance).bad()) {
    return reply;
  }
  const DcmXfer original(data.getOriginalXfer());
  std::uint32_t elements = 0;
  reply.Status = Measure(data, 0, &elements);
  if (reply.Status != TObjectStatus::Ok) return reply;
  // Every value read: a value that runs past the end of the file fails here, not halfway
  // through the send.
  if (data.loadAllDataIntoMemory().bad()) {
    reply.Status = TObjectStatus::Damaged;
    return reply;
  }
  decoder::TObjectReply object{TObjectStatus::Ok, sopClass.c_str(), sopInstance.c_str(),
                               original.getXferID()};
  if (original.getXfer() == EXS_Unknown || !decoder::ValidUid(object.SopClassUid) ||
      !decoder::ValidUid(object.SopInstanceUid) || object.SopClassUid.empty() ||
      object.SopInstanceUid.empty()) {
    return {};
  }
  return object;
}

}  // namespace overlay::detail
