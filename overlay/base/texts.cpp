#include "overlay/base/texts.h"

#include <initializer_list>
#include <mutex>

namespace overlay {

namespace {

// Set once by the language file, read from any thread (the alignment's worker tells its
// result through these texts too).
std::mutex TextsLock;
std::unordered_map<std::string, std::string>& Texts() {
  static std::unordered_map<std::string, std::string> texts;
  return texts;
}

}  // namespace

const std::vector<TText>& ProgramTexts() {
  // clang-format off
  static const std::vector<TText> all{
      OpenPictureTitle, AllPicturesText, AllFilesText, RecentPicturesText, NoRecentPicturesText,
      BlendModeText, DifferenceModeText, FlickerModeText, BetweenStepsText, DropHelpText,
      CoincidentPointsText, NoReliableAlignmentText, AlignTooFewMatchesText,
      AlignInconsistentText, AlignNoOverlapText, AlignZoomOutsideText, AlignTooLargeText,
      AlignFailedText,
      PrintNoTemplateText, PrintPageTooLargeText, PrintPageNotOpenedText, PrintNoFolderText,
      PrintPageNotWrittenText,
      PrintCaptureNotWrittenText,
      LanguageCodeText, PrintTitleText, PrintHintText, PrintCaptureText, PrintModeHintText,
      SettingsNotWrittenText, MatchedText, SwipeModeText, CheckerModeText,
      FlickerPicture1Text, FlickerPicture2Text, SideModeText, RestoreRecordText,
      RecordDamagedText, InterfaceScaleOutsideText, RecordOtherPicturesText,
      RecordPictureDiffersText, RecordOrientationDiffersText, RecordNotSavedText, RecordSavedText,
      RecordNotKeptText, RecordZoomTooLargeText, NoPatientText, DicomFolderOpenText,
      DicomFolderForeignText, DicomFolderNotFolderText, ExportDoneText, DicomExportDoneText,
      PrintOpacityText, ReportPatientText, ReportPlacementText,
      ReportAngleText, ReportZoomText, ReportColourMatchText, ReportOnText, ReportOffText,
      ReportMeasurementsText, ReportNoMeasurementsText, ReportMeasureText, ReportPictureText,
      ReportLengthText, ReportAreaText, ReportChangeText,
      ReportNotesText, MeasureRulerStartText, MeasureRulerEndText, MeasureOutlineStartText,
      MeasureOutlineNextText, MeasureRulerNameText, MeasureOutlineNameText, MeasureRenameTitleText,
      MeasureRenameLabelText, MeasureNameTakenText, MeasureNameEmptyText,
      PrintMenuText, ExportAlignedMenuText, ExportSideMenuText, ExportDifferenceMenuText,
      ExportTitleText, ExportPngFilterText, ExportTiffFilterText, ExportJpegFilterText,
      ExportNothingText, ExportUnknownFormatText, ExportNotEncodedText, ExportNotWrittenText,
      PacsSendMenuText, PacsEchoMenuText, PacsSettingRefusedText,
      PacsUnreachableText, PacsConnectionRefusedText, PacsHostUnknownText, PacsNoAnswerText,
      PacsAssociationRefusedText, PacsCallingAeUnknownText, PacsCalledAeUnknownText,
      PacsBusyText, PacsObjectRejectedText, PacsObjectNotTakenText, PacsFailedText,
      PacsEchoOkText, PacsNotDicomText, PacsOutboxNotMadeText, PacsOutboxNotWrittenText,
      PacsSentText, PacsLeftText, PacsNothingText,
      PacsNestedTooDeepText, PacsTooManyElementsText, PacsObjectDamagedText,
      PacsObjectTooLargeText, PacsParserDiedText, PacsNotCheckedText, PacsCheckerMissingText,
      PacsQuarantineNoteText, PacsQuarantinedText,
      PacsUidInvalidText, PacsUidTakenText, PacsNotRegularFileText, PacsOtherInstanceText,
      PacsHostInvalidText, PacsEchoFailedText,
      PacsCancelledText, PacsRunCancelledText, DicomExportCancelledText, PacsUnchangedText,
      DicomProgressText, PacsProgressText, CancelButtonText, PacsObjectPicture1Text,
      PacsObjectAlignedText, PacsObjectPhotoText, PacsObjectReportText, PacsObjectOtherText,
      DicomExportMenuText, DicomFolderTitleText, DicomNoFolderText, DicomNotWrittenText,
      MultiFrameText,
      FullResolutionTooLargeText, NotesTitleText, NotesLabelText,

      DicomValueTooLongText, DicomValueControlText, DicomValueBackslashText,
      DicomValueInvalidText, DicomTooManyValuesText, DicomNoPatientText, DicomOtherPatientText,
      DicomTwoPatientsText, DicomPicturePatientText, DicomExportPatientText,
      DicomPatientDiffersText, DetectorSpacingText};
  // clang-format on
  return all;
}

std::string Tr(const TText& Text) {
  const std::lock_guard<std::mutex> one(TextsLock);
  const auto found = Texts().find(std::string(Text.Name));
  return found != Texts().end() ? found->second : std::string(Text.German);
}

namespace {

// Text with each "%1" replaced by Arguments[0], each "%2" by Arguments[1], in one pass, so that
// an argument is never searched again.
std::string Fill(const std::string& Text, std::initializer_list<std::string_view> Arguments) {
  std::string out;
  out.reserve(Text.size());
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const std::size_t n = i + 1 < Text.size() ? std::size_t(Text[i + 1] - '1') : Arguments.size();
    if (Text[i] == '%' && n < Arguments.size()) {
      out += Arguments.begin()[n];
      ++i;
    } else {
      out += Text[i];
    }
  }
  return out;
}

}  // namespace

std::string Tr(const TText& Text, std::string_view Argument) {
  return Fill(Tr(Text), {Argument});
}

std::string Tr(const TText& Text, std::string_view Argument, std::string_view Argument2) {
  return Fill(Tr(Text), {Argument, Argument2});
}

void SetProgramTexts(std::unordered_map<std::string, std::string> NewTexts) {
  const std::lock_guard<std::mutex> one(TextsLock);
  Texts() = std::move(NewTexts);
}

}  // namespace overlay
