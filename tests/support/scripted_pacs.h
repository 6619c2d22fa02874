// The PACS and the window tests' scripted PACS, on a loopback port of its own.
#pragma once

#include <dcmtk/config/osconfig.h>  // first, as the toolkit's headers expect
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmnet/assoc.h>
#include <dcmtk/dcmnet/dimse.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "tests/support/orthanc.h"

namespace testsupport {

// A PACS of the test's own for what Orthanc does not do on demand: it refuses the association
// (as for a called AE title it does not know), or takes it and answers every C-STORE with
// Status. It serves one association.
class TScriptedPacs {
 public:
  static constexpr Uint16 Takes = 0;
  // No answer to a C-STORE at all: the sender waits until it is killed, or the PACS ends.
  static constexpr Uint16 Hangs = 0xFFFF;
  // The data set taken whole, and then no answer.
  static constexpr Uint16 TakesAndHangs = 0xFFFE;
  // AnswerFor: the instance its answers name (empty: the one sent, as a PACS should).
  // Associations: how many it serves, one after the other.
  // Delay: how long it takes over each data set before it answers (a slow PACS).
  TScriptedPacs(bool Refuse, Uint16 Status, std::string AnswerFor = {}, int Associations = 1,
                std::chrono::milliseconds Delay = {})
      : FRefuse(Refuse),
        FStatus(Status),
        FAnswerFor(std::move(AnswerFor)),
        FAssociations(Associations),
        FDelay(Delay),
        FPort(FreeLoopbackPort()) {
    if (ASC_initializeNetwork(NET_ACCEPTOR, FPort, 5, &FNetwork).bad()) return;
    FThread = std::thread([this] { Serve(); });
  }
  ~TScriptedPacs() {
    FRelease.set_value();
    if (FThread.joinable()) FThread.join();
    if (FNetwork != nullptr) ASC_dropNetwork(&FNetwork);
  }
  int Port() const { return FPort; }
  // Whether a C-STORE request has arrived.
  bool StoreArrived() const { return FStoreArrived; }
  bool Listening() const { return FNetwork != nullptr; }
  // The C-STORE requests answered.
  int Stores() const { return FStores; }
  // Whether a data set has been taken whole (TakesAndHangs).
  bool Taken() const { return FTaken; }

 private:
  void Serve() {
    for (int n = 0; n < FAssociations; ++n) ServeOne();
  }
  void ServeOne() {
    T_ASC_Association* a = nullptr;
    if (ASC_receiveAssociation(FNetwork, &a, ASC_DEFAULTMAXPDU, nullptr, nullptr, OFFalse,
                               DUL_NOBLOCK, 20)
            .good()) {
      if (FRefuse) {
        T_ASC_RejectParameters refusal{ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
                                       ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED};
        ASC_rejectAssociation(a, &refusal);
      } else {
        const char* syntaxes[] = {UID_JPEGProcess1TransferSyntax,
                                  UID_LittleEndianExplicitTransferSyntax,
                                  UID_LittleEndianImplicitTransferSyntax};
        ASC_acceptContextsWithPreferredTransferSyntaxes(
            a->params, dcmAllStorageSOPClassUIDs, numberOfDcmAllStorageSOPClassUIDs, syntaxes, 3);
        const char* verification[] = {UID_VerificationSOPClass};
        ASC_acceptContextsWithPreferredTransferSyntaxes(a->params, verification, 1, syntaxes, 3);
        ASC_acknowledgeAssociation(a);
        T_ASC_PresentationContextID id = 0;
        T_DIMSE_Message message{};
        // Until the release request (or the end of the connection) ends the receiving.
        while (DIMSE_receiveCommand(a, DIMSE_BLOCKING, 0, &id, &message, nullptr).good()) {
          if (message.CommandField == DIMSE_C_ECHO_RQ) {
            DIMSE_sendEchoResponse(a, id, &message.msg.CEchoRQ, FStatus, nullptr);
            continue;
          }
          if (message.CommandField != DIMSE_C_STORE_RQ) break;
          FStoreArrived = true;
          if (FStatus == Hangs) {
            FHeld.wait();
            break;
          }
          DcmDataset* received = nullptr;
          const OFCondition c = DIMSE_storeProvider(a, id, &message.msg.CStoreRQ, nullptr, 0,
                                                    &received, Answer, this, DIMSE_BLOCKING, 0);
          delete received;
          if (c.bad()) break;
          ++FStores;
        }
        ASC_acknowledgeRelease(a);
      }
      ASC_dropSCPAssociation(a);
    }
    ASC_destroyAssociation(&a);
  }
  static void Answer(void* Pacs, T_DIMSE_StoreProgress* Progress, T_DIMSE_C_StoreRQ* Request, char*,
                     DcmDataset**, T_DIMSE_C_StoreRSP* Response, DcmDataset**) {
    const TScriptedPacs& pacs = *static_cast<TScriptedPacs*>(Pacs);
    if (Progress->state == DIMSE_StoreEnd && pacs.FStatus == TakesAndHangs) {
      pacs.FTaken = true;
      pacs.FHeld.wait();
    }
    if (Progress->state == DIMSE_StoreEnd) {
      // Held back, but given up as soon as the test ends.
      if (pacs.FDelay.count() > 0) pacs.FHeld.wait_for(pacs.FDelay);
      Response->DimseStatus = pacs.FStatus;
      if (!pacs.FAnswerFor.empty()) {
        // The toolkit answers for the request's instance.
        OFStandard::strlcpy(Request->AffectedSOPInstanceUID, pacs.FAnswerFor.c_str(),
                            sizeof Request->AffectedSOPInstanceUID);
      }
    }
  }

  bool FRefuse;
  Uint16 FStatus;
  std::string FAnswerFor;
  int FAssociations;
  std::chrono::milliseconds FDelay;
  std::atomic<int> FStores{0};
  int FPort;
  T_ASC_Network* FNetwork = nullptr;
  std::atomic<bool> FStoreArrived{false};
  mutable std::atomic<bool> FTaken{false};
  std::promise<void> FRelease;
  std::shared_future<void> FHeld = FRelease.get_future().share();
  std::thread FThread;
};

}  // namespace testsupport
