// TInterfaceBA::Read of both file forms, from files named on the command line as a calling
// application would name them. The input holds the files cut by fuzz::PartSeparator: every
// part but the last is one command-line file (a part "<missing>" names a file that does not
// exist), the last is the camera table beside the program; a single part is the one file.
// A file read in the interface form and written again with WriteIni must read back the same.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "interface/interfaceba.h"
#include "platform/command_line.h"
#include "platform/message.h"
#include "platform/paths.h"

namespace {

using fuzz::Check;

bool InReadForm(const std::string& S) {
  if (S.empty()) return true;
  const char f = S.front(), b = S.back();
  if (f == ' ' || f == '\t' || b == ' ' || b == '\t') return false;
  return !((f == '"' || f == '\'') && S.size() >= 2 && b == f);
}

bool RecordsComparable(const iface::TInterfaceBA& I) {
  if (I.GetCount() > 50) return false;
  for (const std::string* s : {&I.GetSender(), &I.GetReceiver()})
    if (!InReadForm(*s)) return false;
  for (std::int32_t i = 0; i < I.GetCount(); ++i) {
    const iface::TImageData image = I.GetImage(i);
    const iface::TSubjectData subject = I.GetSubject(i);
    for (const std::string* s : {&image.Image, &image.Date, &image.Time, &image.ResultFileDB,
                                 &subject.Name, &subject.Firstname, &subject.Birthdate})
      if (!InReadForm(*s)) return false;
  }
  return true;
}

void CheckSameRecords(const iface::TInterfaceBA& A, const iface::TInterfaceBA& B) {
  Check(A.GetCount() == B.GetCount(), "Count changed in the round trip");
  Check(A.GetSender() == B.GetSender() && A.GetReceiver() == B.GetReceiver(),
        "Sender or Receiver changed in the round trip");
  for (std::int32_t i = 0; i < A.GetCount(); ++i) {
    const iface::TImageData a = A.GetImage(i), b = B.GetImage(i);
    Check(a.Image == b.Image && a.Date == b.Date && a.Time == b.Time &&
              a.ResultFileDB == b.ResultFileDB,
          "a picture's texts changed in the round trip");
    Check(a.Pp100MM == b.Pp100MM &&
              a.ExclusionCircleRadiusInPixel == b.ExclusionCircleRadiusInPixel &&
              a.ExclusionCircleX0InPixel == b.ExclusionCircleX0InPixel &&
              a.ExclusionCircleY0InPixel == b.ExclusionCircleY0InPixel,
          "a picture's numbers changed in the round trip");
    const iface::TSubjectData sa = A.GetSubject(i), sb = B.GetSubject(i);
    Check(sa.Name == sb.Name && sa.Firstname == sb.Firstname && sa.Birthdate == sb.Birthdate,
          "a subject changed in the round trip");
  }
  Check(A.GetAutomatic() == B.GetAutomatic() && A.GetResult() == B.GetResult() &&
            A.GetResultDetail() == B.GetResultDetail() &&
            A.GetResultImage() == B.GetResultImage() && A.GetStoppAtEnd() == B.GetStoppAtEnd() &&
            A.GetResultRequest() == B.GetResultRequest() &&
            A.GetResultFileAppend() == B.GetResultFileAppend(),
        "a flag changed in the round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string& dir = fuzz::ScratchDir();
  platform::OverrideProgramDirectory(dir);
  platform::MessageRecorder messages;

  const std::vector<std::string_view> parts = fuzz::SplitParts(
      std::string_view(reinterpret_cast<const char*>(Data), Size), fuzz::PartSeparator, 6);
  const std::size_t files = parts.size() == 1 ? 1 : parts.size() - 1;
  const std::string cameraTable = dir + "camera.ini";
  std::remove(cameraTable.c_str());
  if (parts.size() > 1) fuzz::WriteFile(cameraTable, parts.back());

  std::vector<std::string> parameters;
  for (std::size_t i = 0; i < files; ++i) {
    const std::string path = dir + "record" + std::to_string(i) + ".ini";
    std::remove(path.c_str());
    if (parts[i] != "<missing>") fuzz::WriteFile(path, parts[i]);
    parameters.push_back(path);
  }
  platform::SetProgramParameters(parameters);

  iface::TInterfaceBA receiver(iface::miReceive);
  const bool found = receiver.Read();
  Check(found == (receiver.GetCount() > 0), "Read's answer differs from the count");
  Check(receiver.GetCount() >= 0 && receiver.GetCount() <= iface::MaxInterfaceCount,
        "a count outside the limits");
  for (std::int32_t i = -1; i <= receiver.GetCount(); ++i) {
    receiver.GetImage(i);
    receiver.GetSubject(i);
  }

  // The sending side: what it read from an interface-form file it writes back unchanged.
  iface::TInterfaceBA sender(iface::miSend);
  sender.Read();
  if (!sender.GetSender().empty() && receiver.GetCount() == sender.GetCount() &&
      parts.size() == 1 && RecordsComparable(sender)) {
    const std::string written = dir + "written.ini";
    std::remove(written.c_str());
    if (sender.WriteIni(written)) {
      platform::SetProgramParameters({written});
      iface::TInterfaceBA again(iface::miSend);
      again.Read();
      CheckSameRecords(sender, again);
    }
  }
  return 0;
}
