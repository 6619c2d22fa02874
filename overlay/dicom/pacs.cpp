#include "overlay/dicom/pacs.h"

// clang-format off
#include <dcmtk/config/osconfig.h>  // first, as the toolkit's headers expect
// clang-format on
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dcmtrans.h>
#include <dcmtk/dcmnet/dimse.h>
#include <dcmtk/dcmnet/diutil.h>
#include <dcmtk/dcmnet/dul.h>
#include <dcmtk/oflog/oflog.h>
#include <fcntl.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <numeric>
#include <optional>

#include "overlay/base/texts.h"
#include "overlay/comparison/dicom_values.h"
#include "overlay/decode/isolated_decode.h"

namespace overlay {

namespace {

// The most presentation contexts one association may propose (their IDs are the odd numbers
// 1 to 255). Objects of kinds beyond them go in a further association of the same store.
constexpr std::size_t MaxContexts = 128;

// The toolkit writes its own English warnings to standard error; the user hears of a failure
// once, through the status, in the window's language.
void QuietToolkit() {
  static std::once_flag once;
  std::call_once(once, [] { OFLog::configure(OFLogger::OFF_LOG_LEVEL); });
}

// Whether File is something other than a regular file (a FIFO, a device, a folder): opened
// without waiting, so that a FIFO nobody writes to cannot hold the store, and never read. A
// path that cannot be opened is left to the reading, which names it no DICOM file.
bool NoRegularFile(const std::string& File) {
  const int fd = ::open(File.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return !regular;
}

platform::TStatus FailureAbout(const std::string& Reason, const std::string& File) {
  return platform::TStatus::Failure(Reason + "\n" + File);
}

struct TContext {
  std::string AbstractSyntax;
  std::vector<std::string> TransferSyntaxes;
};

// The answer the PACS gave to an association request it refused, in the user's words.
std::string RefusalReason(const T_ASC_RejectParameters& Refusal, const TPacsSettings& Settings) {
  switch (Refusal.reason) {
    case ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED:
      return Tr(PacsCallingAeUnknownText, Settings.CallingAE);
    case ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED:
      return Tr(PacsCalledAeUnknownText, Settings.CalledAE);
    case ASC_REASON_SP_PRES_TEMPORARYCONGESTION:
    case ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED:
      return Tr(PacsBusyText);
    default:
      break;
  }
  if (Refusal.result == ASC_RESULT_REJECTEDTRANSIENT) return Tr(PacsBusyText);
  // The toolkit's own naming of result, source and reason, on one line.
  OFString printed;
  ASC_printRejectParameters(printed, &Refusal);
  std::string text(printed.c_str());
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

// Why an association could not be had: the PACS could not be reached (nothing listens, the host
// is unknown, no answer in time), it refused, or something else went wrong on the way.
std::string ConnectionFailure(const OFCondition& Condition, const TPacsSettings& Settings,
                              T_ASC_Parameters* Params) {
  const std::string unreachable = Tr(PacsUnreachableText, PacsAddress(Settings)) + "\n";
  const std::string text = Condition.text();
  if (Condition == DUL_ASSOCIATIONREJECTED) {
    T_ASC_RejectParameters refusal;
    if (ASC_getRejectParameters(Params, &refusal).good()) {
      return Tr(PacsAssociationRefusedText, RefusalReason(refusal, Settings));
    }
    return Tr(PacsAssociationRefusedText, text);
  }
  if (Condition.module() == OFM_dcmnet && Condition.code() == DULC_UNKNOWNHOST) {
    return unreachable + Tr(PacsHostUnknownText, Settings.Host);
  }
  const std::string seconds = std::to_string(Settings.TimeoutSeconds);
  if (Condition == DUL_READTIMEOUT || Condition == DIMSE_NODATAAVAILABLE) {
    return unreachable + Tr(PacsNoAnswerText, seconds);
  }
  if (Condition.module() == OFM_dcmnet && Condition.code() == DULC_TCPINITERROR) {
    if (text.find("refused") != std::string::npos) {
      return unreachable + Tr(PacsConnectionRefusedText);
    }
    if (text.find("timed out") != std::string::npos || text.find("imeout") != std::string::npos) {
      return unreachable + Tr(PacsNoAnswerText, seconds);
    }
    return unreachable + text;
  }
  return Tr(PacsFailedText, text);
}

bool NoAnswer(const OFCondition& Condition) {
  return Condition == DIMSE_NODATAAVAILABLE || Condition == DUL_READTIMEOUT;
}

// Why an association that stood broke off during an exchange.
std::string ExchangeFailure(const OFCondition& Condition, const TPacsSettings& Settings) {
  if (NoAnswer(Condition)) {
    return Tr(PacsFailedText, Tr(PacsNoAnswerText, std::to_string(Settings.TimeoutSeconds)));
  }
  return Tr(PacsFailedText, Condition.text());
}

// One association from the request to its release (or abort, on every other way out).
class TAssociation {
 public:
  TAssociation() = default;
  TAssociation(const TAssociation&) = delete;
  TAssociation& operator=(const TAssociation&) = delete;
  ~TAssociation() {
    if (FAssociation != nullptr) {
      if (FOpen) ASC_abortAssociation(FAssociation);
      ASC_destroyAssociation(&FAssociation);  // also the parameters it holds
    } else if (FParams != nullptr) {
      ASC_destroyAssociationParameters(&FParams);
    }
    if (FNetwork != nullptr) ASC_dropNetwork(&FNetwork);
  }

  platform::TStatus Open(const TPacsSettings& Settings, const std::vector<TContext>& Contexts) {
    QuietToolkit();
    const int timeout = Settings.TimeoutSeconds;
    // Read when the socket is made: the connection and every read and write wait this long.
    dcmConnectionTimeout.set(timeout);
    dcmSocketSendTimeout.set(timeout);
    dcmSocketReceiveTimeout.set(timeout);
    OFCondition c = ASC_initializeNetwork(NET_REQUESTOR, 0, timeout, &FNetwork);
    if (c.good()) c = ASC_createAssociationParameters(&FParams, ASC_DEFAULTMAXPDU);
    if (c.good()) {
      c = ASC_setAPTitles(FParams, Settings.CallingAE.c_str(), Settings.CalledAE.c_str(), nullptr);
    }
    if (c.good()) {
      c = ASC_setPresentationAddresses(FParams, "localhost", PacsAddress(Settings).c_str());
    }
    T_ASC_PresentationContextID id = 1;
    for (const TContext& context : Contexts) {
      if (!c.good()) break;
      std::vector<const char*> syntaxes;
      for (const std::string& s : context.TransferSyntaxes) syntaxes.push_back(s.c_str());
      c = ASC_addPresentationContext(FParams, id, context.AbstractSyntax.c_str(), syntaxes.data(),
                                     int(syntaxes.size()));
      id = T_ASC_PresentationContextID(id + 2);
    }
    if (!c.good()) return platform::TStatus::Failure(Tr(PacsFailedText, c.text()));
    c = ASC_requestAssociation(FNetwork, FParams, &FAssociation, nullptr, nullptr, DUL_BLOCK,
                               timeout);
    if (c.bad()) return platform::TStatus::Failure(ConnectionFailure(c, Settings, FParams));
    FOpen = true;
    return {};
  }

  T_ASC_Association* Get() const { return FAssociation; }

  // The accepted context for an object of this SOP class and transfer syntax: one whose
  // transfer syntax is the file's, or, for an uncompressed file, any uncompressed one (the data
  // set is written in it as it goes out). 0 when there is none.
  T_ASC_PresentationContextID ContextFor(const TPacsObject& Object) const {
    const T_ASC_PresentationContextID id = ASC_findAcceptedPresentationContextID(
        FAssociation, Object.SopClassUid.c_str(), Object.TransferSyntaxUid.c_str());
    if (id == 0) return 0;
    T_ASC_PresentationContext context;
    if (ASC_findAcceptedPresentationContext(FAssociation->params, id, &context).bad()) return 0;
    const std::string accepted = context.acceptedTransferSyntax;
    if (accepted == Object.TransferSyntaxUid) return id;
    const bool bothPlain = !DcmXfer(accepted.c_str()).isEncapsulated() &&
                           !DcmXfer(Object.TransferSyntaxUid.c_str()).isEncapsulated();
    return bothPlain ? id : 0;
  }

  // The end of an association whose PACS did not answer in time: the connection closed without
  // the abort, whose sending waits once more for the PACS (the timeout again) to close its end.
  // One timeout bounds the whole wait for an answer.
  void Drop() {
    if (FOpen) ASC_dropAssociation(FAssociation);
    FOpen = false;
  }

  // An orderly end; an association that broke off is aborted by the destructor instead.
  void Release() {
    if (FOpen && ASC_releaseAssociation(FAssociation).good()) FOpen = false;
  }

 private:
  T_ASC_Network* FNetwork = nullptr;
  T_ASC_Parameters* FParams = nullptr;
  T_ASC_Association* FAssociation = nullptr;
  bool FOpen = false;
};

// Adds to Contexts what Object needs, when it is not there yet: per SOP class, its files'
// compressed transfer syntaxes one context each, and one context with both little-endian syntaxes
// (the file's own first) for its uncompressed files. False when a new context would be one more
// than an association may propose: the object goes in the next association.
bool AddContextFor(std::vector<TContext>& Contexts, const TPacsObject& Object) {
  const bool plain = !DcmXfer(Object.TransferSyntaxUid.c_str()).isEncapsulated();
  const auto same = [&](const TContext& C) {
    if (C.AbstractSyntax != Object.SopClassUid) return false;
    // An uncompressed file fits a context of uncompressed syntaxes, whatever its first one.
    return plain ? !DcmXfer(C.TransferSyntaxes.front().c_str()).isEncapsulated()
                 : C.TransferSyntaxes.front() == Object.TransferSyntaxUid;
  };
  if (std::any_of(Contexts.begin(), Contexts.end(), same)) return true;
  if (Contexts.size() == MaxContexts) return false;
  std::vector<std::string> syntaxes{Object.TransferSyntaxUid};
  if (plain) {
    for (const char* s :
         {UID_LittleEndianExplicitTransferSyntax, UID_LittleEndianImplicitTransferSyntax}) {
      if (Object.TransferSyntaxUid != s) syntaxes.emplace_back(s);
    }
  }
  Contexts.push_back({Object.SopClassUid, syntaxes});
  return true;
}

// "0xA700 Refused: OutOfResources": the code as the standard writes it, and the toolkit's name.
std::string StatusText(Uint16 Status, bool Echo = false) {
  char code[8];
  std::snprintf(code, sizeof code, "0x%04X", unsigned(Status));
  return std::string(code) + " " +
         (Echo ? DU_cechoStatusString(Status) : DU_cstoreStatusString(Status));
}

}  // namespace

std::string PacsAddress(const TPacsSettings& Settings) {
  return Settings.Host + ":" + std::to_string(Settings.Port);
}

TPacsObjectRead CheckPacsObject(const std::string& File) {
  const std::string notDicom = Tr(PacsNotDicomText);
  const auto refused = [&](const std::string& Why) {
    return TPacsObjectRead{FailureAbout(Why.empty() ? notDicom : notDicom + " " + Why, File), true};
  };
  if (NoRegularFile(File)) return refused(Tr(PacsNotRegularFileText));
  const TIsolatedObject read = ReadDicomObjectIsolated(File);
  using decoder::TObjectStatus;
  switch (read.Check) {
    case TObjectCheck::NoDecoder:
      return {FailureAbout(Tr(PacsNotCheckedText, Tr(PacsCheckerMissingText)), File), false};
    case TObjectCheck::TimedOut: {
      const std::string seconds = std::to_string(int(DecoderTimeoutSeconds() + 0.5));
      return {FailureAbout(Tr(PacsNotCheckedText, Tr(PacsNoAnswerText, seconds)), File), false};
    }
    case TObjectCheck::Died: {
      if (read.Signal == 0) return refused({});
      const char* name = ::sigabbrev_np(read.Signal);
      return refused(Tr(PacsParserDiedText,
                        name != nullptr ? std::string("SIG") + name : std::to_string(read.Signal)));
    }
    case TObjectCheck::Answered:
      break;
  }
  switch (read.Reply.Status) {
    case TObjectStatus::Ok:
      break;
    case TObjectStatus::NotDicom:
      return refused({});
    case TObjectStatus::TooDeep:
      return refused(Tr(PacsNestedTooDeepText, std::to_string(decoder::MaxObjectNesting)));
    case TObjectStatus::TooMany:
      return refused(Tr(PacsTooManyElementsText, std::to_string(decoder::MaxObjectElements)));
    case TObjectStatus::Damaged:
      return refused(Tr(PacsObjectDamagedText));
    case TObjectStatus::TooLarge:
      return refused(Tr(PacsObjectTooLargeText, std::to_string(decoder::MaxObjectBytes >> 20)));
  }
  TPacsObject object{File, read.Reply.SopClassUid, read.Reply.SopInstanceUid,
                     read.Reply.TransferSyntaxUid};
  // The decoder's reply holds UIDs of digits and dots, but the outbox names the object by its
  // instance UID: one that is no UID by the rules of the standard (".1.2", "1..2", "1.02") is
  // refused, as a name starting with a dot would hide it there. The syntax must also be one the
  // toolkit can send (a table look-up, no parse).
  if (!IsValidDicomUid(object.SopInstanceUid)) {
    return refused(Tr(PacsUidInvalidText, object.SopInstanceUid));
  }
  if (!IsValidDicomUid(object.SopClassUid) ||
      DcmXfer(object.TransferSyntaxUid.c_str()).getXfer() == EXS_Unknown) {
    return refused({});
  }
  return {std::move(object), false};
}

platform::TResult<TPacsObject> ReadPacsObject(const std::string& File) {
  return CheckPacsObject(File).Object;
}

platform::TStatus EchoPacs(const TPacsSettings& Settings) {
  TAssociation association;
  const platform::TStatus opened = association.Open(
      Settings, {{UID_VerificationSOPClass, {UID_LittleEndianImplicitTransferSyntax}}});
  if (!opened) return opened;
  T_ASC_Association* a = association.Get();
  if (ASC_findAcceptedPresentationContextID(a, UID_VerificationSOPClass) == 0) {
    return platform::TStatus::Failure(
        Tr(PacsObjectNotTakenText, dcmFindNameOfUID(UID_VerificationSOPClass, "")));
  }
  DIC_US status = 0;
  DcmDataset* detail = nullptr;
  const OFCondition c = DIMSE_echoUser(a, a->nextMsgID++, DIMSE_NONBLOCKING,
                                       Settings.TimeoutSeconds, &status, &detail);
  delete detail;
  if (NoAnswer(c)) association.Drop();
  if (c.bad()) return platform::TStatus::Failure(ExchangeFailure(c, Settings));
  association.Release();
  if (status != STATUS_Success) {
    return platform::TStatus::Failure(Tr(PacsEchoFailedText, StatusText(status, true)));
  }
  return {};
}

namespace {

// The association's socket, -1 when it has none. The toolkit keeps the accessor protected; a
// pointer to it taken through a class derived for no other purpose reaches it.
int ConnectionSocket(T_ASC_Association* Association) {
  struct TSocketOf : DcmTransportConnection {
    static int Of(DcmTransportConnection& Connection) {
      return (Connection.*&TSocketOf::getSocket)();
    }
  };
  DcmTransportConnection* connection = DUL_getTransportConnection(Association->DULassociation);
  return connection != nullptr ? int(TSocketOf::Of(*connection)) : -1;
}

// Stores the objects Objects[Indices] in one association proposing Contexts, each outcome to
// Done. Why the association could not be made or broke off (every object not yet done then has
// that reason), or nothing when it stood to its release.
std::optional<std::string> StoreInOneAssociation(const TPacsSettings& Settings,
                                                 const std::vector<TPacsObject>& Objects,
                                                 const std::vector<std::size_t>& Indices,
                                                 const std::vector<TContext>& Contexts,
                                                 const std::function<void(TStoreOutcome)>& Done,
                                                 platform::TCancel* Cancel) {
  const auto cancelled = [&] { return Cancel != nullptr && Cancel->Cancelled(); };
  // Every object from the n-th on not sent, for Reason.
  const auto restNotSent = [&](std::size_t From, const std::string& Reason) {
    for (std::size_t rest = From; rest < Indices.size(); ++rest) {
      Done({Indices[rest], false, FailureAbout(Reason, Objects[Indices[rest]].File)});
    }
    return Reason;
  };
  if (cancelled()) return restNotSent(0, Tr(PacsCancelledText));
  TAssociation association;
  const platform::TStatus opened = association.Open(Settings, Contexts);
  if (!opened) return restNotSent(0, opened.Reason());
  T_ASC_Association* a = association.Get();
  // A cancel ends the wait for an answer at once: reading is shut (never writing, which would
  // raise SIGPIPE in the middle of a data set), the read in progress returns, and the
  // connection is dropped below.
  const int socket = ConnectionSocket(a);
  const platform::TCancelHook hook(socket >= 0 ? Cancel : nullptr,
                                   [socket] { ::shutdown(socket, SHUT_RD); });
  for (std::size_t n = 0; n < Indices.size(); ++n) {
    const std::size_t i = Indices[n];
    if (cancelled()) {
      // What was sent stays sent; the rest waits for the next send.
      association.Drop();
      return restNotSent(n, Tr(PacsCancelledText));
    }
    const TPacsObject& object = Objects[i];
    const T_ASC_PresentationContextID id = association.ContextFor(object);
    if (id == 0) {
      const std::string kind =
          std::string(dcmFindNameOfUID(object.SopClassUid.c_str(), object.SopClassUid.c_str())) +
          ", " +
          dcmFindNameOfUID(object.TransferSyntaxUid.c_str(), object.TransferSyntaxUid.c_str());
      Done({i, false, FailureAbout(Tr(PacsObjectNotTakenText, kind), object.File)});
      continue;
    }
    DcmFileFormat file;
    if (file.loadFile(object.File.c_str()).bad()) {
      Done({i, false, FailureAbout(Tr(PacsNotDicomText), object.File)});
      continue;
    }
    T_DIMSE_C_StoreRQ request{};
    request.MessageID = a->nextMsgID++;
    OFStandard::strlcpy(request.AffectedSOPClassUID, object.SopClassUid.c_str(),
                        sizeof request.AffectedSOPClassUID);
    OFStandard::strlcpy(request.AffectedSOPInstanceUID, object.SopInstanceUid.c_str(),
                        sizeof request.AffectedSOPInstanceUID);
    request.DataSetType = DIMSE_DATASET_PRESENT;
    request.Priority = DIMSE_PRIORITY_MEDIUM;
    T_DIMSE_C_StoreRSP response{};
    DcmDataset* detail = nullptr;
    const OFCondition c =
        DIMSE_storeUser(a, id, &request, nullptr, file.getDataset(), nullptr, nullptr,
                        DIMSE_NONBLOCKING, Settings.TimeoutSeconds, &response, &detail);
    delete detail;
    if (c.bad()) {
      // Whether this object arrived is not known: it stays, and a second copy later is the
      // same instance to the PACS.
      if (NoAnswer(c) || cancelled()) association.Drop();
      return restNotSent(n, cancelled() ? Tr(PacsCancelledText) : ExchangeFailure(c, Settings));
    }
    const Uint16 status = response.DimseStatus;
    const bool named = (response.opts & O_STORE_AFFECTEDSOPINSTANCEUID) != 0 &&
                       object.SopInstanceUid == response.AffectedSOPInstanceUID;
    if ((status == STATUS_Success || DICOM_WARNING_STATUS(status)) && !named) {
      // An answer for another instance (or for none) says nothing about this one: it stays.
      const std::string other = (response.opts & O_STORE_AFFECTEDSOPINSTANCEUID) != 0
                                    ? std::string(response.AffectedSOPInstanceUID)
                                    : std::string("-");
      Done({i, false, FailureAbout(Tr(PacsOtherInstanceText, other), object.File)});
    } else if (status == STATUS_Success || DICOM_WARNING_STATUS(status)) {
      Done({i, true, {}});
    } else {
      Done({i, false, FailureAbout(Tr(PacsObjectRejectedText, StatusText(status)), object.File)});
    }
  }
  association.Release();
  return std::nullopt;
}

}  // namespace

std::vector<TStoreOutcome> StoreToPacs(const TPacsSettings& Settings,
                                       const std::vector<TPacsObject>& Objects,
                                       const std::function<void(const TStoreOutcome&)>& Progress,
                                       platform::TCancel* Cancel) {
  std::vector<TStoreOutcome> outcomes;
  const auto done = [&](TStoreOutcome Outcome) {
    if (Progress) Progress(Outcome);
    outcomes.push_back(std::move(Outcome));
  };
  std::vector<std::size_t> waiting(Objects.size());
  std::iota(waiting.begin(), waiting.end(), std::size_t(0));
  while (!waiting.empty()) {
    // The objects whose kinds fit in one association's contexts; the others in the next.
    std::vector<TContext> contexts;
    std::vector<std::size_t> now, later;
    for (const std::size_t i : waiting) {
      (AddContextFor(contexts, Objects[i]) ? now : later).push_back(i);
    }
    const std::optional<std::string> broken =
        StoreInOneAssociation(Settings, Objects, now, contexts, done, Cancel);
    if (broken) {
      // A PACS that cannot be reached now is not asked again for the rest.
      for (const std::size_t i : later) done({i, false, FailureAbout(*broken, Objects[i].File)});
      break;
    }
    waiting = std::move(later);
  }
  std::sort(outcomes.begin(), outcomes.end(),
            [](const TStoreOutcome& A, const TStoreOutcome& B) { return A.Index < B.Index; });
  return outcomes;
}

}  // namespace overlay
