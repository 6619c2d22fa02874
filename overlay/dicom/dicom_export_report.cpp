// The measurements' report: a Basic Text SR of the export's findings, referring to its images.
#include <dcmtk/dcmsr/codes/dcm.h>
#include <dcmtk/dcmsr/dsrdoc.h>

#include "overlay/dicom/dicom_export_p.h"

namespace overlay {

platform::TResult<std::string> MakeMeasurementReport(
    DcmFileFormat& File, const TShared& Shared, const std::vector<std::string>& Findings,
    const std::vector<std::pair<std::string, std::string>>& Images) {
  DSRDocument report(DSRTypes::DT_BasicTextSR);
  // Every setter's refusal is the export's failure: an SR without its patient's ID must never
  // reach the archive.
  platform::TStatus made;
  const auto accepted = [&made](const char* What, const OFCondition& Condition) {
    if (made && Condition.bad()) {
      made = platform::TStatus::Failure(std::string(What) + ": " + Condition.text());
    }
  };
  const auto added = [&made](const char* What, std::size_t Node) {
    if (made && Node == 0) made = platform::TStatus::Failure(std::string(What) + ": not added");
  };
  accepted("SpecificCharacterSet", report.setSpecificCharacterSetType(DSRTypes::CS_UTF8));
  accepted("PatientName", report.setPatientName(Shared.PatientName.c_str()));
  accepted("PatientID", report.setPatientID(Shared.PatientId.c_str()));
  accepted("PatientBirthDate", report.setPatientBirthDate(Shared.BirthDate.c_str()));
  accepted("StudyDate", report.setStudyDate(Shared.Study.Date.c_str()));
  accepted("StudyTime", report.setStudyTime(Shared.Study.Time.c_str()));
  accepted("Manufacturer", report.setManufacturer(Manufacturer));
  accepted("SoftwareVersions", report.setSoftwareVersions(TESSALY_VERSION));
  accepted("StudyInstanceUID", report.createNewSeriesInStudy(Shared.StudyUid.c_str()));
  accepted("SeriesNumber", report.setSeriesNumber("2"));
  accepted("InstanceNumber", report.setInstanceNumber("1"));
  DSRDocumentTree& tree = report.getTree();
  added("root container", tree.addContentItem(DSRTypes::RT_isRoot, DSRTypes::VT_Container));
  accepted("ConceptNameCodeSequence",
           tree.getCurrentContentItem().setConceptName(
               DSRCodedEntryValue("18748-4", "LN", "Diagnostic Imaging Report")));
  DSRTypes::E_AddMode mode = DSRTypes::AM_belowCurrent;
  for (const std::string& finding : Findings) {
    added("finding", tree.addContentItem(DSRTypes::RT_contains, DSRTypes::VT_Text, mode));
    mode = DSRTypes::AM_afterCurrent;
    accepted("ConceptNameCodeSequence",
             tree.getCurrentContentItem().setConceptName(CODE_DCM_Finding));
    accepted("TextValue", tree.getCurrentContentItem().setStringValue(finding.c_str(), false));
  }
  // The pictures and captures measured on, so that the archive's viewer links the report to
  // them; the evidence lists what the report refers to.
  for (const auto& image : Images) {
    added("image", tree.addContentItem(DSRTypes::RT_contains, DSRTypes::VT_Image,
                                       DSRTypes::AM_afterCurrent));
    accepted("ReferencedSOPSequence",
             tree.getCurrentContentItem().setImageReference(
                 DSRImageReferenceValue(image.first.c_str(), image.second.c_str()), false));
    accepted("CurrentRequestedProcedureEvidenceSequence",
             report.getCurrentRequestedProcedureEvidence().addItem(
                 Shared.StudyUid.c_str(), Shared.SeriesUid.c_str(), image.first.c_str(),
                 image.second.c_str()));
  }
  accepted("completeDocument", report.completeDocument());
  if (!made) return made;
  if (const OFCondition written = report.write(*File.getDataset()); written.bad()) {
    return platform::TStatus::Failure(written.text());
  }
  OFString seriesUid;
  report.getSeriesInstanceUID(seriesUid);
  return std::string(seriesUid.c_str());
}

}  // namespace overlay
