// The putter: every value checked against its element before DCMTK takes it.
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdicent.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcistrmf.h>
#include <dcmtk/dcmdata/dcpixel.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "overlay/comparison/dicom_values.h"
#include "overlay/dicom/dicom_export_p.h"
#include "platform/file_io.h"
#include "platform/file_write.h"

namespace overlay {

namespace {

// The value representations this export writes as text, by DCMTK's dictionary.
bool TextVr(DcmEVR Vr, TDicomVr* Out) {
  constexpr std::pair<DcmEVR, TDicomVr> Vrs[] = {
      {EVR_AE, TDicomVr::AE}, {EVR_CS, TDicomVr::CS}, {EVR_DA, TDicomVr::DA},
      {EVR_DS, TDicomVr::DS}, {EVR_DT, TDicomVr::DT}, {EVR_IS, TDicomVr::IS},
      {EVR_LO, TDicomVr::LO}, {EVR_LT, TDicomVr::LT}, {EVR_PN, TDicomVr::PN},
      {EVR_SH, TDicomVr::SH}, {EVR_ST, TDicomVr::ST}, {EVR_TM, TDicomVr::TM},
      {EVR_UI, TDicomVr::UI}, {EVR_UT, TDicomVr::UT}};
  for (const auto& [evr, vr] : Vrs) {
    if (evr == Vr) {
      *Out = vr;
      return true;
    }
  }
  return false;
}

}  // namespace

void TPutter::Put(const DcmTagKey& Tag, const std::string& Value) {
  if (!FStatus) return;
  DcmTag tag(Tag);
  TDicomVr vr{};
  if (!TextVr(tag.getEVR(), &vr)) {
    Fail(tag, "no text value representation");
    return;
  }
  int maxValues = 1;
  {
    const DcmDataDictionary& dictionary = dcmDataDict.rdlock();
    if (const DcmDictEntry* entry = dictionary.findEntry(Tag, nullptr)) {
      maxValues = entry->getVMMax() == DcmVariableVM ? INT_MAX : entry->getVMMax();
    }
    dcmDataDict.rdunlock();
  }
  const bool text = vr == TDicomVr::LT || vr == TDicomVr::ST || vr == TDicomVr::UT;
  FStatus = maxValues > 1 && !text ? CheckDicomValues(vr, tag.getTagName(), Value, maxValues)
                                   : CheckDicomValue(vr, tag.getTagName(), Value);
  if (FStatus) Taken(tag, FItem.putAndInsertString(Tag, Value.c_str()));
}

void TPutter::PutUint16(const DcmTagKey& Tag, Uint16 Value) {
  if (FStatus) Taken(DcmTag(Tag), FItem.putAndInsertUint16(Tag, Value));
}

void TPutter::PutPixelData(std::size_t RowBytes, int Rows,
                           const std::function<void(int Y, Uint8* Out)>& Row) {
  if (!FStatus) return;
  const std::size_t size = RowBytes * std::size_t(Rows);
  // DICOM values are of even length: an odd one ends with a pad byte.
  const std::size_t length = size + (size & 1);
  if (length > 0xFFFFFFFEu) return Taken(DcmTag(DCM_PixelData), EC_TooManyBytesRequested);
  auto element = std::make_unique<DcmPixelData>(DcmTag(DCM_PixelData, EVR_OB));
  OFCondition c = EC_Normal;
  const int fd = PixelFile(RowBytes, Rows, Row, length);
  if (fd >= 0) {
    FFiles.push_back(fd);
    c = element->createValueFromTempFile(
        new DcmInputFileStreamFactory(("/proc/self/fd/" + std::to_string(fd)).c_str(), 0),
        Uint32(length), EBO_LittleEndian);
  } else {
    Uint8* bytes = nullptr;
    c = element->createUint8Array(Uint32(size), bytes);
    for (int y = 0; c.good() && y < Rows; ++y) Row(y, bytes + std::size_t(y) * RowBytes);
  }
  if (c.good()) {
    c = FItem.insert(element.get(), true);
    if (c.good()) element.release();  // the item's now
  }
  Taken(DcmTag(DCM_PixelData), c);
}

TPutter::~TPutter() {
  for (const int fd : FFiles) ::close(fd);
}

void TPutter::PutEmptySequence(const DcmTagKey& Tag) {
  if (FStatus) Taken(DcmTag(Tag), FItem.insertEmptyElement(Tag));
}

void TPutter::Taken(DcmTag Tag, const OFCondition& Condition) {
  if (Condition.bad()) Fail(Tag, Condition.text());
}

void TPutter::Fail(DcmTag Tag, const std::string& Why) {
  FStatus = platform::TStatus::Failure(std::string(Tag.getTagName()) + ": " + Why);
}

int TPutter::PixelFile(std::size_t RowBytes, int Rows,
                       const std::function<void(int Y, Uint8* Out)>& Row, std::size_t Length) {
  const std::string folder = platform::TempDirectory();
  if (folder.empty() || ::access("/proc/self/fd", F_OK) != 0) return -1;
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // A band of rows at a time: a megabyte or one row.
  const std::size_t band =
      std::max<std::size_t>(1, (std::size_t(1) << 20) / std::max<std::size_t>(RowBytes, 1));
  std::vector<Uint8> buffer(band * RowBytes + 1, 0);
  off_t offset = 0;
  bool ok = true;
  for (int y = 0; ok && y < Rows; y += int(band)) {
    const int rows = std::min(int(band), Rows - y);
    for (int r = 0; r < rows; ++r) Row(y + r, buffer.data() + std::size_t(r) * RowBytes);
    std::size_t bytes = std::size_t(rows) * RowBytes;
    if (y + rows == Rows && Length > std::size_t(offset) + bytes) buffer[bytes++] = 0;  // pad
    ok = platform::WriteAt(fd, buffer.data(), bytes, offset);
    offset += off_t(bytes);
  }
  if (!ok) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace overlay
