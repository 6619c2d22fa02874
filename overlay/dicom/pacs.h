// Talking to the clinic's PACS as a DICOM client: the check (C-ECHO) and the store (C-STORE) of
// DICOM files, each failure with its reason in the window's language (overlay/scene/texts.h).
// Nothing here keeps a file or shows anything; overlay/dicom/outbox.h keeps the objects until
// the PACS has taken them.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "overlay/scene/settings.h"
#include "platform/status.h"

namespace overlay {

// A DICOM file as the store needs to know it: what it is and how its data set is encoded.
struct TPacsObject {
  std::string File;
  std::string SopClassUid, SopInstanceUid, TransferSyntaxUid;
};

// Reads File's meta header and data set. Refused (PacsNotDicomText, then the file on a line of
// its own) when it is no DICOM file, or lacks a SOP class, a SOP instance UID of digits and dots
// or a transfer syntax the toolkit knows.
platform::TResult<TPacsObject> ReadPacsObject(const std::string& File);

// The check: an association proposing the verification class, one C-ECHO, the release.
// Success when the PACS answers; else the reason (unreachable, association refused, the rest).
platform::TStatus EchoPacs(const TPacsSettings& Settings);

// What became of one object of a store.
struct TStoreOutcome {
  std::size_t Index = 0;     // in the Objects given
  bool Stored = false;       // the PACS answered success or a warning: it has the object
  platform::TStatus Status;  // why not, followed by the file on a line of its own
};

// Stores Objects in one association that proposes, for each SOP class, the transfer syntax of
// its files (an uncompressed one together with both little-endian syntaxes, so the PACS may take
// either). Each answer within Settings.TimeoutSeconds. Progress hears of each object as it is
// done, in order; when the association cannot be made or breaks off, every object not yet done
// gets that reason. Returns one outcome per object, in the order of Objects.
std::vector<TStoreOutcome> StoreToPacs(
    const TPacsSettings& Settings, const std::vector<TPacsObject>& Objects,
    const std::function<void(const TStoreOutcome&)>& Progress = {});

// "host:port", as the messages name the PACS.
std::string PacsAddress(const TPacsSettings& Settings);

}  // namespace overlay
