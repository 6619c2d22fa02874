#include "overlay/dicom/outbox.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <utility>

#include "overlay/base/texts.h"
#include "overlay/decode/decoder_protocol.h"
#include "platform/file_write.h"
#include "platform/paths.h"

namespace overlay {

namespace {

// The largest object the outbox copies (the largest the decoder reads as one): an uncompressed
// photograph of a large sensor is some 200 MB; a file beyond this is no picture for the archive.
constexpr std::size_t MaxObjectBytes = std::size_t(decoder::MaxObjectBytes);

constexpr const char* ObjectSuffix = ".dcm";

// A run's hold on one outbox file: an exclusive lock on the file itself, taken only while the
// name still leads to the locked file (another run may have sent and removed it between the open
// and the lock). The kernel drops the lock when the descriptor closes, also when the run is
// killed, so a claim never outlives its run.
class TClaim {
 public:
  static std::optional<TClaim> Take(const std::string& Path) {
    const int fd = ::open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    TClaim claim(fd);
    struct stat held {
    }, named{};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &held) != 0 ||
        ::lstat(Path.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino) {
      return std::nullopt;
    }
    return claim;
  }
  TClaim(TClaim&& Other) noexcept : FFd(std::exchange(Other.FFd, -1)) {}
  TClaim& operator=(TClaim&&) = delete;
  ~TClaim() {
    if (FFd >= 0) ::close(FFd);
  }

 private:
  explicit TClaim(int Fd) : FFd(Fd) {}
  int FFd;
};

// Moves a claimed outbox file into Quarantine, under its own name or, when that is taken (an
// instance quarantined before), the name with a number; never over another file. Its path
// there, or empty when it could not be moved.
std::string MoveIntoQuarantine(const std::string& Path, const std::string& Quarantine) {
  std::string error;
  const std::string folder = Quarantine.substr(0, Quarantine.size() - 1);
  if (!platform::MakePrivateFolder(folder, &error)) return {};
  const std::string name = std::filesystem::path(Path).filename().string();
  constexpr int MaxTries = 100;
  for (int n = 0; n < MaxTries; ++n) {
    std::string target = Quarantine + name;
    if (n > 0) target.append(".").append(std::to_string(n));
    if (::renameat2(AT_FDCWD, Path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return target;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameBytes(const std::string& A, const std::string& B) {
  std::string a, b;
  return platform::ReadWholeFile(A, &a, nullptr, MaxObjectBytes) &&
         platform::ReadWholeFile(B, &b, nullptr, MaxObjectBytes) && a == b;
}

}  // namespace

std::string TOutbox::QuarantineFolder() const {
  const std::filesystem::path folder(FFolder.empty() ? FFolder
                                                     : FFolder.substr(0, FFolder.size() - 1));
  return (folder.parent_path() / "quarantine").string() + "/";
}

std::string TOutbox::UserOutboxFolder() {
  const std::string data = platform::UserFolder(platform::TFileKind::Data);
  return data.empty() ? std::string() : data + "outbox/";
}

platform::TStatus TOutbox::Open() const {
  std::string error;
  const std::string folder = FFolder.empty() ? FFolder : FFolder.substr(0, FFolder.size() - 1);
  if (folder.empty()) error = "XDG_DATA_HOME, HOME";  // neither is set
  const std::string parent = std::filesystem::path(folder).parent_path().string();
  if (!folder.empty() && platform::MakeFolders(parent, &error) &&
      platform::MakePrivateFolder(folder, &error)) {
    return {};
  }
  return platform::TStatus::Failure(Tr(PacsOutboxNotMadeText, error));
}

platform::TStatus TOutbox::Add(const std::vector<TPacsObject>& Objects) const {
  // The outbox knows an object by its instance UID alone. Another object under a UID that is
  // already waiting (or twice among these) would leave one of them unsent while the store
  // reports this one sent: refused before anything is copied, naming both files.
  std::map<std::string, std::string> given;  // instance UID -> the file that brings it
  for (const TPacsObject& object : Objects) {
    const std::string target = FFolder + object.SopInstanceUid + ObjectSuffix;
    const auto [earlier, first] = given.emplace(object.SopInstanceUid, object.File);
    std::string other;
    if (!first && !SameBytes(earlier->second, object.File)) other = earlier->second;
    if (other.empty() && platform::FileExists(target) && !SameBytes(target, object.File)) {
      other = target;
    }
    if (!other.empty()) {
      return platform::TStatus::Failure(Tr(PacsUidTakenText, object.SopInstanceUid + ", " + other) +
                                        "\n" + object.File);
    }
  }
  for (const TPacsObject& object : Objects) {
    const std::string target = FFolder + object.SopInstanceUid + ObjectSuffix;
    if (platform::FileExists(target)) continue;
    std::string bytes;
    platform::TFileWriteOptions options;
    options.Mode = 0600;
    options.FollowSymlink = false;
    options.Replace = false;  // a copy another run put there first is the same instance
    const bool copied = platform::ReadWholeFile(object.File, &bytes, nullptr, MaxObjectBytes) &&
                        (platform::WriteFileAtomically(target, bytes, nullptr, options) ||
                         platform::FileExists(target));
    if (!copied) {
      return platform::TStatus::Failure(Tr(PacsOutboxNotWrittenText) + "\n" + object.File);
    }
  }
  return {};
}

std::vector<std::string> TOutbox::Waiting() const {
  struct TWaiting {
    std::filesystem::file_time_type Time;
    std::string Path;
  };
  std::vector<TWaiting> waiting;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(FFolder, ec)) {
    const std::string name = entry.path().filename().string();
    const bool object = name.size() > 4 && name.front() != '.' &&
                        name.compare(name.size() - 4, 4, ObjectSuffix) == 0;
    if (!object || !entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
    waiting.push_back({entry.last_write_time(ec), entry.path().string()});
  }
  std::sort(waiting.begin(), waiting.end(), [](const TWaiting& A, const TWaiting& B) {
    return A.Time != B.Time ? A.Time < B.Time : A.Path < B.Path;
  });
  std::vector<std::string> paths;
  for (const TWaiting& w : waiting) paths.push_back(w.Path);
  return paths;
}

TOutboxRun TOutbox::Send(const TPacsSettings& Settings, const TOutboxProgress& Progress,
                         platform::TCancel* Cancel) const {
  TOutboxRun run;
  std::vector<TClaim> claims;
  std::vector<TPacsObject> objects;
  for (const std::string& path : Waiting()) {
    if (Cancel != nullptr && Cancel->Cancelled()) break;  // the rest is not claimed at all
    std::optional<TClaim> claim = TClaim::Take(path);
    if (!claim) continue;  // another run is sending it, or has sent it
    TPacsObjectRead read = CheckPacsObject(path);
    if (!read.Object) {
      std::string reason = read.Object.Reason();
      if (read.FileAtFault) {
        // Moved while the claim holds. The reason keeps its file (the name it had in the
        // outbox) on the last line; where it lies now goes into the sentence before.
        const std::string moved = MoveIntoQuarantine(path, QuarantineFolder());
        if (!moved.empty()) {
          run.Quarantined.push_back(moved);
          std::string note = " ";
          note += Tr(PacsQuarantineNoteText, moved);
          const std::size_t line = reason.rfind('\n');
          reason.insert(line == std::string::npos ? reason.size() : line, note);
        }
      }
      run.Failures.push_back(platform::TStatus::Failure(reason));
      continue;
    }
    claims.push_back(std::move(*claim));
    run.SopClasses[path] = read.Object.Value().SopClassUid;
    objects.push_back(std::move(read.Object).Value());
  }
  const std::size_t count = objects.size();
  StoreToPacs(
      Settings, objects,
      [&](const TStoreOutcome& Outcome) {
        const TPacsObject& object = objects[Outcome.Index];
        // Removed while the claim holds, so that no other run can have taken it meanwhile.
        if (Outcome.Stored && ::unlink(object.File.c_str()) == 0) {
          run.Sent.push_back(object.File);
        } else if (!Outcome.Stored) {
          run.Failures.push_back(Outcome.Status);
        }
        if (Progress) Progress(Outcome.Index + 1, count, object, Outcome);
      },
      Cancel);
  run.Cancelled = Cancel != nullptr && Cancel->Cancelled();
  claims.clear();
  run.Left = Waiting();
  return run;
}

platform::TResult<TOutboxRun> SendThroughOutbox(const TPacsSettings& Settings,
                                                const std::vector<TPacsObject>& Objects,
                                                const TOutbox& Outbox,
                                                const TOutboxProgress& Progress,
                                                platform::TCancel* Cancel) {
  platform::TStatus queued = Outbox.Open();
  if (queued) queued = Outbox.Add(Objects);
  if (!queued) return queued;
  return Outbox.Send(Settings, Progress, Cancel);
}

platform::TResult<std::vector<TPacsObject>> ReadPacsObjects(const std::vector<std::string>& Files) {
  std::vector<TPacsObject> objects;
  for (const std::string& file : Files) {
    platform::TResult<TPacsObject> object = ReadPacsObject(file);
    if (!object) return object.Status();
    objects.push_back(std::move(object).Value());
  }
  return objects;
}

std::vector<TPacsObject> PacsObjectsInFolder(const std::string& Folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(Folder, ec)) {
    if (entry.is_regular_file(ec)) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  std::vector<TPacsObject> objects;
  for (const std::string& file : files) {
    platform::TResult<TPacsObject> object = ReadPacsObject(file);
    if (object) objects.push_back(std::move(object).Value());
  }
  return objects;
}

std::string PacsObjectName(const std::string& File, const TOutboxRun& Run,
                           const TPacsObjectNames& Names) {
  const std::filesystem::path path(File);
  if (const auto named = Names.find(path.stem().string()); named != Names.end()) {
    return named->second;
  }
  const auto read = Run.SopClasses.find(File);
  if (read == Run.SopClasses.end()) return Tr(PacsObjectOtherText);
  const std::string& sopClass = read->second;
  // VL Photographic Image, Secondary Capture Image, and the structured reports.
  if (sopClass == "1.2.840.10008.5.1.4.1.1.77.1.4") return Tr(PacsObjectPhotoText);
  if (sopClass == "1.2.840.10008.5.1.4.1.1.7") return Tr(PrintCaptureText);
  if (sopClass.rfind("1.2.840.10008.5.1.4.1.1.88.", 0) == 0) return Tr(PacsObjectReportText);
  return Tr(PacsObjectOtherText);
}

std::string PacsRunSummary(const TOutboxRun& Run, const TPacsObjectNames& Names) {
  if (Run.Sent.empty() && Run.Left.empty() && Run.Quarantined.empty() && !Run.Cancelled) {
    return Tr(PacsNothingText);
  }
  // Several of one name as "3 × name", in the order they first come.
  const auto names = [&](const std::vector<std::string>& Paths) {
    std::vector<std::pair<std::string, int>> counted;
    for (const std::string& path : Paths) {
      const std::string name = PacsObjectName(path, Run, Names);
      const auto same = std::find_if(counted.begin(), counted.end(),
                                     [&](const auto& Entry) { return Entry.first == name; });
      if (same == counted.end()) {
        counted.emplace_back(name, 1);
      } else {
        ++same->second;
      }
    }
    std::string text;
    for (const auto& [name, count] : counted) {
      if (!text.empty()) text += ", ";
      text += (count > 1 ? std::to_string(count) + " × " : std::string()) + name;
    }
    return text;
  };
  std::string text;
  const auto add = [&](const std::string& Sentence) {
    if (!text.empty()) text += "\n";
    text += Sentence;
  };
  if (Run.Cancelled) add(Tr(PacsRunCancelledText));
  if (!Run.Sent.empty()) add(Tr(PacsSentText, std::to_string(Run.Sent.size())));
  if (!Run.Left.empty()) add(Tr(PacsLeftText, names(Run.Left)));
  if (!Run.Quarantined.empty()) add(Tr(PacsQuarantinedText, names(Run.Quarantined)));
  return text;
}

std::string PacsRunMessage(const TOutboxRun& Run, const TPacsObjectNames& Names) {
  std::string text = PacsRunSummary(Run, Names);
  if (Run.Failures.empty()) return text;
  std::string reason = Run.Failures.front().Reason();
  // The reason's last line is the file: the object's name instead.
  if (const std::size_t line = reason.rfind('\n'); line != std::string::npos) {
    reason = reason.substr(0, line + 1) + PacsObjectName(reason.substr(line + 1), Run, Names);
  }
  return text + "\n\n" + reason;
}

}  // namespace overlay
