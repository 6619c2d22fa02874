// Talking to the clinic's PACS as a DICOM client: the check (C-ECHO) and the store (C-STORE) of
// DICOM files, each failure with its reason in the window's language (overlay/base/texts.h).
// Nothing here keeps a file or shows anything; overlay/dicom/outbox.h keeps the objects until
// the PACS has taken them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "overlay/base/settings.h"
#include "platform/cancel.h"
#include "platform/status.h"

namespace overlay {

// A DICOM file as the store needs to know it: what it is and how its data set is encoded.
struct TPacsObject {
  std::string File;
  std::string SopClassUid, SopInstanceUid, TransferSyntaxUid;
};

// What reading a file as an object to send came to.
struct TPacsObjectRead {
  platform::TResult<TPacsObject> Object = platform::TStatus::Failure();
  // A failure's cause: the file itself (it is none, or its parser died on it), or only that it
  // could not be checked now (no decoder process started, or it gave no answer in time).
  bool FileAtFault = false;
};

// Reads File's meta header and whole data set in the decoder process (ReadDicomObjectIsolated),
// never in this one: DCMTK's parser recurses per nested sequence, and a file that overflows its
// stack ends only that process. Refused (PacsNotDicomText and what is wrong, then the file on a
// line of its own) when it is no regular file (a FIFO, a device, a folder: not read at all), no
// DICOM file, lacks a SOP class, a SOP instance UID valid by the DICOM rules (IsValidDicomUid)
// or a transfer syntax the toolkit knows, nests or holds more than the protocol's bounds,
// does not load whole, or ends its parser's process. Only an object read here is parsed in this
// process, by the store.
TPacsObjectRead CheckPacsObject(const std::string& File);
// The same, the object or the refusal alone.
platform::TResult<TPacsObject> ReadPacsObject(const std::string& File);

// The check: an association proposing the verification class, one C-ECHO, the release.
// Success when the PACS answers success; else the reason (unreachable, association refused, the
// PACS answering a failure status, the rest).
platform::TStatus EchoPacs(const TPacsSettings& Settings);

// What became of one object of a store.
struct TStoreOutcome {
  std::size_t Index = 0;     // in the Objects given
  bool Stored = false;       // the PACS answered success or a warning: it has the object
  platform::TStatus Status;  // why not, followed by the file on a line of its own
};

// Stores Objects (as ReadPacsObject read them: this process parses each file again as it sends
// it) in one association that proposes, for each SOP class, the transfer syntax of
// its files (an uncompressed one together with both little-endian syntaxes, so the PACS may take
// either); objects of more kinds than one association may propose (128 contexts) go in a further
// one. Each answer within Settings.TimeoutSeconds, and a PACS that gives none has its connection
// closed then. Progress hears of each object as it is done; when an association cannot be made
// or breaks off, every object not yet done gets that reason. Returns one outcome per object, in
// the order of Objects. A Cancel (from any thread) ends the send before the next object, and a
// wait for an answer at once; the objects not confirmed then are told PacsCancelledText.
std::vector<TStoreOutcome> StoreToPacs(
    const TPacsSettings& Settings, const std::vector<TPacsObject>& Objects,
    const std::function<void(const TStoreOutcome&)>& Progress = {},
    platform::TCancel* Cancel = nullptr);

// "host:port", as the messages name the PACS.
std::string PacsAddress(const TPacsSettings& Settings);

}  // namespace overlay
