// The outbox: nothing meant for the PACS is lost. A send first copies the objects into the
// user's outbox folder, then sends everything waiting there (also what an earlier try left), and
// removes an object only once the PACS has accepted it. Runs at the same time (two windows, a
// window and a script) share the folder: each object is claimed with a lock on its file before
// it is sent, so no object is sent or removed twice, and a run that is killed drops its claims
// with its descriptors.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "overlay/base/settings.h"
#include "overlay/dicom/pacs.h"
#include "platform/status.h"

namespace overlay {

// What one send through the outbox did.
struct TOutboxRun {
  std::vector<std::string> Sent;  // the outbox files the PACS accepted in this run (now gone)
  std::vector<std::string> Left;  // the outbox files waiting when the run ended
  // The outbox files that are no object to send (their parser refused them or died on them),
  // moved into the quarantine folder in this run: their paths there.
  std::vector<std::string> Quarantined;
  // Why each object of this run was not sent: its reason, then its file on a line of its own.
  std::vector<platform::TStatus> Failures;
  // The SOP class of each outbox file read in this run, so that it can be named by its kind.
  std::map<std::string, std::string> SopClasses;
  bool Cancelled = false;  // the run ended at a cancel; what was not sent waits
};

// Names for objects, by SOP instance UID, where the caller knows what they show ("Bild 1",
// "Aufnahme (Deckkraft 50 %)"): the objects of an export just made.
using TPacsObjectNames = std::map<std::string, std::string>;

// One object done: its number (from 1) of Count, and what became of it.
using TOutboxProgress =
    std::function<void(std::size_t Number, std::size_t Count, const TPacsObject& Object,
                       const TStoreOutcome& Outcome)>;

class TOutbox {
 public:
  // Folder ends in "/".
  explicit TOutbox(std::string Folder) : FFolder(std::move(Folder)) {}
  // The user's: platform::UserFolder(Data) + "outbox/"; empty when there is no such folder.
  static std::string UserOutboxFolder();
  const std::string& Folder() const { return FFolder; }
  // Beside the outbox: "quarantine/" in the outbox folder's parent, made 0700 when a file goes
  // there.
  std::string QuarantineFolder() const;

  // Makes the folder the user's own (0700, platform::MakePrivateFolder), the folders above it
  // too. Fails with PacsOutboxNotMadeText and the reason.
  platform::TStatus Open() const;
  // Copies each object into the outbox, named by its SOP instance UID (no patient data in the
  // name), 0600, appearing whole or not at all. An object already waiting under its name with
  // the same bytes stays as it is: it is the same instance. One with other bytes (or two such
  // among Objects) refuses all before anything is copied (PacsUidTakenText naming the UID and
  // the other file, then the file). Stops at the first that cannot be copied
  // (PacsOutboxNotWrittenText, then the file); those copied before it stay.
  platform::TStatus Add(const std::vector<TPacsObject>& Objects) const;
  // The outbox files waiting, oldest first.
  std::vector<std::string> Waiting() const;
  // Sends every waiting object that no other run holds, in one association, and removes those
  // the PACS accepted. Each file is read in the decoder process first (CheckPacsObject), so no
  // file can end this process; one that is no object to send, or whose parser died on it, is
  // moved into the quarantine folder (a failure with its reason, PacsQuarantineNoteText and the
  // file), so that it cannot stop the others, now or in later sends. A file that could not be
  // checked now stays, with its reason.
  // A Cancel (from any thread) ends the run before the next object, and a wait for an answer at
  // once: what was not confirmed waits for the next send (StoreToPacs).
  TOutboxRun Send(const TPacsSettings& Settings, const TOutboxProgress& Progress = {},
                  platform::TCancel* Cancel = nullptr) const;

 private:
  std::string FFolder;
};

// The objects put into Outbox (made first when missing), then everything waiting there sent.
// Fails, with nothing sent, only when the outbox cannot be made or an object cannot be put in.
platform::TResult<TOutboxRun> SendThroughOutbox(const TPacsSettings& Settings,
                                                const std::vector<TPacsObject>& Objects,
                                                const TOutbox& Outbox,
                                                const TOutboxProgress& Progress = {},
                                                platform::TCancel* Cancel = nullptr);

// Files as the command line and the window name them, read as objects (ReadPacsObject); the
// first that is none refuses all.
platform::TResult<std::vector<TPacsObject>> ReadPacsObjects(const std::vector<std::string>& Files);
// The DICOM objects among the regular files directly in Folder, by name; the other files are
// passed over (a folder of exports may hold pictures and pages too).
std::vector<TPacsObject> PacsObjectsInFolder(const std::string& Folder);

// An outbox file by what it shows, never by its name (a UID) or path: Names' name for its UID,
// else its kind by its SOP class (a photograph, a capture, a measurement report), else "another
// DICOM object".
std::string PacsObjectName(const std::string& File, const TOutboxRun& Run,
                           const TPacsObjectNames& Names = {});
// What the user is told after a send, each in a sentence of the window's language: that it was
// cancelled, how many were sent, what is left in the outbox and what went into the quarantine
// (PacsObjectName, several of one name as "3 × Aufnahme"); or that there was nothing to send.
std::string PacsRunSummary(const TOutboxRun& Run, const TPacsObjectNames& Names = {});
// The summary and, after a blank line, the first failure's reason, its object named as above in
// place of its file: what the window shows.
std::string PacsRunMessage(const TOutboxRun& Run, const TPacsObjectNames& Names = {});

}  // namespace overlay
