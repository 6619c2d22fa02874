// The texts the program shows that are no control's caption or hint: dialog titles, filter
// names, menu entries made at run time, messages. Each has its name in the language file's
// [Messages] section and its built-in German text; the language file, once applied, decides.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace overlay {

struct TText {
  std::string_view Name;    // "Messages.AllPictures"
  std::string_view German;  // the built-in text
};

inline constexpr TText OpenPictureTitle{"Messages.OpenPictureTitle", "Bild öffnen"};
inline constexpr TText AllPicturesText{"Messages.AllPictures", "Alle Bilder"};
inline constexpr TText AllFilesText{"Messages.AllFiles", "Alle Dateien"};
inline constexpr TText RecentPicturesText{"Messages.RecentPictures", "Zuletzt geöffnete Bilder"};
inline constexpr TText NoRecentPicturesText{"Messages.NoRecentPictures",
                                            "Keine zuletzt geöffneten Bilder"};
inline constexpr TText DropHelpText{
    "Messages.DropHelp",
    "Ein Bild auf die Zeile \"Bild 1\" oder \"Bild 2\" ziehen, oder zwei Bilder auf die Ansicht: "
    "das ältere wird Bild 1."};
// The alignment's refusals.
inline constexpr TText CoincidentPointsText{
    "Messages.CoincidentPoints", "Die zwei Punkte eines Bildes dürfen nicht zusammenfallen."};
inline constexpr TText NoReliableAlignmentText{"Messages.NoReliableAlignment",
                                               "Keine sichere Ausrichtung gefunden."};
// Why, on the line after it (AlignRefusalText): %1 and %2 are the figures.
inline constexpr TText AlignTooFewMatchesText{
    "Messages.AlignTooFewMatches",
    "Nur %1 Merkmale der beiden Bilder entsprechen einander; nötig sind mindestens %2."};
inline constexpr TText AlignInconsistentText{
    "Messages.AlignInconsistent",
    "Nur %1 der %2 einander entsprechenden Merkmale passen zu einer gemeinsamen Drehung, "
    "Vergrößerung und Verschiebung; zu wenige für eine sichere Lage."};
inline constexpr TText AlignNoOverlapText{
    "Messages.AlignNoOverlap", "Die gefundene Lage legt Bild 2 (fast ganz) neben Bild 1."};
inline constexpr TText AlignZoomOutsideText{
    "Messages.AlignZoomOutside", "Die gefundene Vergrößerung %1 liegt außerhalb von %2."};
inline constexpr TText AlignTooLargeText{"Messages.AlignTooLarge",
                                         "Bild 2 wäre mit der gefundenen Vergrößerung %1 zu groß."};
inline constexpr TText AlignFailedText{"Messages.AlignFailed",
                                       "Die Berechnung ist fehlgeschlagen (zu wenig Speicher?)."};
// Printing: %1 is the file or the reason.
inline constexpr TText PrintNoTemplateText{"Messages.PrintNoTemplate",
                                           "Cannot open input file: output.html"};
// The template, or the page made of it, exceeds its bound (%1: the template given).
inline constexpr TText PrintPageTooLargeText{
    "Messages.PrintPageTooLarge",
    "Die Vorlage %1 ist zu groß (höchstens 16 MiB, die Seite daraus höchstens 64 MiB)."};
inline constexpr TText PrintPageNotOpenedText{"Messages.PrintPageNotOpened",
                                              "Cannot open output file: %1"};
inline constexpr TText PrintNoFolderText{"Messages.PrintNoFolder",
                                         "Cannot create the temporary folder: %1"};
inline constexpr TText PrintCaptureNotWrittenText{"Messages.PrintCaptureNotWritten",
                                                  "Cannot write output file: %1"};
inline constexpr TText PrintPageNotWrittenText{"Messages.PrintPageNotWritten",
                                               "Error creating output file: %1"};
// The print page's texts where the shipped template has them, and its language (the page's
// lang attribute, and the language of the toolkit's own dialogs).
inline constexpr TText LanguageCodeText{"Messages.Language", "de"};
inline constexpr TText PrintTitleText{"Messages.PrintTitle", "Tessaly - Bildvergleich"};
inline constexpr TText PrintHintText{
    "Messages.PrintHint",
    "Bild 2 über Bild 1 gelegt, in gleichen Schritten von durchsichtig (Bild 1 allein) bis "
    "deckend."};
inline constexpr TText PrintCaptureText{"Messages.PrintCapture", "Aufnahme"};
// The page's note in a way of drawing other than the blend (%1: its name, "Differenz").
inline constexpr TText PrintModeHintText{
    "Messages.PrintModeHint",
    "Bild 2 über Bild 1, wie die Ansicht es in der Darstellung „%1“ zeigt (die Deckkraft spielt "
    "darin keine Rolle); dann Bild 1 allein und Bild 2 deckend darüber."};
// The report: a capture's opacity (%1 in percent), the headings and labels of its header block
// and measurement table (%1 the measure's number).
inline constexpr TText PrintOpacityText{"Messages.PrintOpacity", "Deckkraft %1 %"};
inline constexpr TText ReportPatientText{"Messages.ReportPatient", "Patient"};
inline constexpr TText ReportPlacementText{"Messages.ReportPlacement", "Lage von Bild 2"};
inline constexpr TText ReportAngleText{"Messages.ReportAngle", "Winkel"};
inline constexpr TText ReportZoomText{"Messages.ReportZoom", "Zoom"};
inline constexpr TText ReportColourMatchText{"Messages.ReportColourMatch", "Farbangleich"};
inline constexpr TText ReportOnText{"Messages.ReportOn", "ein"};
inline constexpr TText ReportOffText{"Messages.ReportOff", "aus"};
inline constexpr TText ReportMeasurementsText{"Messages.ReportMeasurements", "Messungen"};
inline constexpr TText ReportNoMeasurementsText{"Messages.ReportNoMeasurements", "Keine Messungen"};
inline constexpr TText ReportMeasureText{"Messages.ReportMeasure", "Messung"};
inline constexpr TText ReportPictureText{"Messages.ReportPicture", "Bild"};
inline constexpr TText ReportLengthText{"Messages.ReportLength", "Länge"};
inline constexpr TText ReportAreaText{"Messages.ReportArea", "Fläche"};
inline constexpr TText ReportChangeText{"Messages.ReportChange", "Änderung"};
inline constexpr TText ReportNotesText{"Messages.ReportNotes", "Notizen"};
// The settings file could not be written; %1 is the file.
inline constexpr TText SettingsNotWrittenText{"Messages.SettingsNotWritten",
                                              "nach %1 kann nicht geschrieben werden"};
// The comparison record: a saved comparison of the two pictures loaded, and one that is damaged
// (%1: where, and the file).
inline constexpr TText RestoreRecordText{
    "Messages.RestoreRecord",
    "Für diese zwei Bilder gibt es einen gespeicherten Vergleich. Wiederherstellen?"};
inline constexpr TText RecordDamagedText{"Messages.RecordDamaged",
                                         "Der gespeicherte Vergleich ist beschädigt: %1"};
inline constexpr TText InterfaceScaleOutsideText{
    "Messages.InterfaceScaleOutside",
    "Die Schnittstellendatei gibt %1 Pixel pro 100 mm an, außerhalb von 1..1000000: das Bild "
    "gilt als ohne Maßstab."};
inline constexpr TText RecordOtherPicturesText{
    "Messages.RecordOtherPictures",
    "Der gespeicherte Vergleich gehört zu anderen Bildern und wird nicht verwendet. %1"};
inline constexpr TText RecordPictureDiffersText{"Messages.RecordPictureDiffers",
                                                "Bild %1 hat einen anderen Inhalt."};
inline constexpr TText RecordOrientationDiffersText{
    "Messages.RecordOrientationDiffers",
    "Bild %1 ist anders gedreht (Einstellung [Display] ExifOrientation)."};
inline constexpr TText RecordNotSavedText{"Messages.RecordNotSaved",
                                          "Der Vergleich kann nicht gespeichert werden: %1"};
inline constexpr TText RecordSavedText{"Messages.RecordSaved", "Gespeichert um %1"};
inline constexpr TText RecordNotKeptText{"Messages.RecordNotKept", "Nicht gespeichert"};
inline constexpr TText RecordZoomTooLargeText{"Messages.RecordZoomTooLarge",
                                              "Bild 2 wäre so vergrößert zu groß"};
inline constexpr TText NoPatientText{"Messages.NoPatient", "kein Patient"};
// The status bar's modes.
inline constexpr TText BlendModeText{"Messages.StatusBlend", "Überblendung"};
inline constexpr TText DifferenceModeText{"Messages.StatusDifference", "Differenz"};
inline constexpr TText FlickerModeText{"Messages.StatusFlicker", "Blinken"};
inline constexpr TText BetweenStepsText{"Messages.StatusBetweenSteps", "zwischen den Stufen"};
inline constexpr TText MatchedText{"Messages.StatusMatched", "angeglichen"};
inline constexpr TText FlickerPicture1Text{"Messages.FlickerPicture1", "Bild 1"};
inline constexpr TText FlickerPicture2Text{"Messages.FlickerPicture2", "Bild 2"};
inline constexpr TText SwipeModeText{"Messages.StatusSwipe", "Vorhang"};
inline constexpr TText CheckerModeText{"Messages.StatusChecker", "Schachbrett"};
inline constexpr TText SideModeText{"Messages.StatusSide", "Nebeneinander"};
// What the measuring tools expect next, in the status bar.
inline constexpr TText MeasureRulerStartText{"Messages.MeasureRulerStart",
                                             "Lineal: den ersten Punkt anklicken"};
inline constexpr TText MeasureRulerEndText{"Messages.MeasureRulerEnd",
                                           "Lineal: den zweiten Punkt anklicken (Esc: abbrechen)"};
inline constexpr TText MeasureOutlineStartText{"Messages.MeasureOutlineStart",
                                               "Umriss: den ersten Punkt anklicken"};
inline constexpr TText MeasureOutlineNextText{
    "Messages.MeasureOutlineNext",
    "Umriss: weitere Punkte anklicken; schließen am ersten Punkt, mit Doppelklick oder Enter "
    "(Esc: abbrechen)"};
// A measure's default name, numbered per picture; renaming a measure.
inline constexpr TText MeasureRulerNameText{"Messages.MeasureRulerName", "Messstrecke %1"};
inline constexpr TText MeasureOutlineNameText{"Messages.MeasureOutlineName", "Umriss %1"};
inline constexpr TText MeasureRenameTitleText{"Messages.MeasureRenameTitle", "Messung umbenennen"};
inline constexpr TText MeasureRenameLabelText{
    "Messages.MeasureRenameLabel",
    "Name der Messung (Umrisse gleichen Namens auf Bild 1 und Bild 2 bilden ein Paar):"};
inline constexpr TText MeasureNameTakenText{"Messages.MeasureNameTaken",
                                            "Eine Messung dieses Bildes heißt schon „%1“."};
inline constexpr TText MeasureNameEmptyText{"Messages.MeasureNameEmpty",
                                            "Eine Messung braucht einen Namen."};

// The print button's menu, the export's save dialog and its failures (each sentence is followed
// by the file on a line of its own).
inline constexpr TText PrintMenuText{"Messages.MenuPrint", "Drucken…"};
inline constexpr TText ExportAlignedMenuText{"Messages.MenuExportAligned",
                                             "Ausgerichtetes Bild exportieren…"};
inline constexpr TText ExportSideMenuText{"Messages.MenuExportSide", "Nebeneinander exportieren…"};
inline constexpr TText ExportDifferenceMenuText{"Messages.MenuExportDifference",
                                                "Differenzbild exportieren…"};
inline constexpr TText ExportTitleText{"Messages.ExportTitle", "Bild exportieren"};
inline constexpr TText ExportPngFilterText{"Messages.ExportPngFilter", "PNG-Bild"};
inline constexpr TText ExportTiffFilterText{"Messages.ExportTiffFilter", "TIFF-Bild"};
inline constexpr TText ExportJpegFilterText{"Messages.ExportJpegFilter", "JPEG-Bild"};
inline constexpr TText ExportNothingText{"Messages.ExportNothing",
                                         "Zum Exportieren müssen beide Bilder geladen sein."};
inline constexpr TText ExportUnknownFormatText{
    "Messages.ExportUnknownFormat",
    "Exportiert wird als PNG, TIFF oder JPEG (Endung .png, .tif, .tiff, .jpg oder .jpeg)."};
inline constexpr TText ExportNotEncodedText{"Messages.ExportNotEncoded",
                                            "Das Bild kann nicht kodiert werden."};
inline constexpr TText ExportNotWrittenText{"Messages.ExportNotWritten",
                                            "Die Datei kann nicht geschrieben werden."};
// The DICOM export: its menu entry, the folder dialog's title, and its failures (the folder or
// the file follows on a line of its own).
inline constexpr TText DicomExportMenuText{"Messages.MenuExportDicom", "DICOM exportieren…"};
inline constexpr TText DicomFolderTitleText{"Messages.DicomFolderTitle",
                                            "Ordner für die DICOM-Dateien"};
inline constexpr TText DicomFolderOpenText{
    "Messages.DicomFolderOpen",
    "Andere Benutzer können den Ordner %1 lesen. Soll er nur für Sie lesbar werden? Sonst wird "
    "nichts exportiert."};
inline constexpr TText DicomFolderForeignText{
    "Messages.DicomFolderForeign",
    "Der Ordner %1 gehört einem anderen Benutzer; dorthin wird nichts exportiert."};
inline constexpr TText DicomFolderNotFolderText{
    "Messages.DicomFolderNotFolder",
    "%1 ist kein Ordner (eine Verknüpfung oder eine Datei); dorthin wird nichts exportiert."};
inline constexpr TText ExportDoneText{"Messages.ExportDone", "Gespeichert: %1"};
inline constexpr TText DicomExportDoneText{"Messages.DicomExportDone",
                                           "Der DICOM-Export liegt im Ordner %1."};
inline constexpr TText DicomNoFolderText{
    "Messages.DicomNoFolder",
    "Der Ordner kann nicht angelegt werden oder gehört nicht Ihnen allein."};
inline constexpr TText DicomNotWrittenText{"Messages.DicomNotWritten",
                                           "Die DICOM-Datei kann nicht geschrieben werden."};

// Sending to the clinic's PACS: the print button's two entries, the folder dialog, the settings'
// refusal, each way a check or a send can fail (a sentence, then what it concerns), and what a
// send did.
inline constexpr TText PacsSendMenuText{"Messages.MenuPacsSend", "An PACS senden"};
inline constexpr TText PacsEchoMenuText{"Messages.MenuPacsEcho", "PACS-Verbindung prüfen"};
inline constexpr TText PacsSettingRefusedText{"Messages.PacsSettingRefused",
                                              "Die PACS-Einstellung ist ungültig: %1"};
inline constexpr TText PacsUnreachableText{"Messages.PacsUnreachable",
                                           "Der PACS %1 ist nicht erreichbar."};
inline constexpr TText PacsConnectionRefusedText{
    "Messages.PacsConnectionRefused",
    "Dort nimmt niemand Verbindungen an (läuft der PACS, stimmt der Port?)."};
inline constexpr TText PacsHostUnknownText{"Messages.PacsHostUnknown",
                                           "Der Rechnername %1 ist unbekannt."};
inline constexpr TText PacsNoAnswerText{"Messages.PacsNoAnswer", "Keine Antwort in %1 s."};
inline constexpr TText PacsAssociationRefusedText{"Messages.PacsAssociationRefused",
                                                  "Der PACS hat die Verbindung abgelehnt: %1"};
inline constexpr TText PacsCallingAeUnknownText{"Messages.PacsCallingAeUnknown",
                                                "er kennt den eigenen AE-Titel %1 nicht."};
inline constexpr TText PacsCalledAeUnknownText{"Messages.PacsCalledAeUnknown",
                                               "er heißt nicht %1 (CalledAE)."};
inline constexpr TText PacsBusyText{"Messages.PacsBusy",
                                    "er ist ausgelastet; später noch einmal versuchen."};
inline constexpr TText PacsObjectRejectedText{"Messages.PacsObjectRejected",
                                              "Der PACS hat ein Objekt abgelehnt (Status %1)."};
inline constexpr TText PacsObjectNotTakenText{"Messages.PacsObjectNotTaken",
                                              "Der PACS nimmt diese Art Objekt nicht an (%1)."};
inline constexpr TText PacsFailedText{"Messages.PacsFailed",
                                      "Die Übertragung an den PACS ist abgebrochen: %1"};
inline constexpr TText PacsEchoOkText{"Messages.PacsEchoOk", "Der PACS %1 antwortet."};
inline constexpr TText PacsNotDicomText{"Messages.PacsNotDicom",
                                        "Die Datei ist kein DICOM-Objekt, das sich senden lässt."};
inline constexpr TText PacsOutboxNotMadeText{"Messages.PacsOutboxNotMade",
                                             "Der Postausgang kann nicht angelegt werden: %1"};
inline constexpr TText PacsOutboxNotWrittenText{
    "Messages.PacsOutboxNotWritten", "Das Objekt kann nicht in den Postausgang gelegt werden."};
inline constexpr TText PacsSentText{"Messages.PacsSent", "An den PACS gesendet: %1"};
inline constexpr TText PacsLeftText{
    "Messages.PacsLeft",
    "Im Postausgang bleiben: %1. Sie werden beim nächsten Senden mitgeschickt."};
inline constexpr TText PacsNothingText{"Messages.PacsNothing",
                                       "Nichts zu senden: der Postausgang ist leer."};
// Why a file is no object to send (after PacsNotDicomText), why it could not be checked, and
// the quarantine folder that takes an outbox file that cannot be sent.
inline constexpr TText PacsNestedTooDeepText{
    "Messages.PacsNestedTooDeep", "Ihre Sequenzen sind tiefer als %1 Ebenen verschachtelt."};
inline constexpr TText PacsTooManyElementsText{"Messages.PacsTooManyElements",
                                               "Sie hat mehr als %1 Datenelemente."};
inline constexpr TText PacsObjectDamagedText{"Messages.PacsObjectDamaged",
                                             "Ihre Daten lassen sich nicht vollständig lesen."};
inline constexpr TText PacsObjectTooLargeText{"Messages.PacsObjectTooLarge",
                                              "Sie ist größer als %1 MB."};
inline constexpr TText PacsParserDiedText{"Messages.PacsParserDied",
                                          "Das Lesen hat den prüfenden Prozess beendet (%1)."};
inline constexpr TText PacsNotCheckedText{"Messages.PacsNotChecked",
                                          "Die Datei kann nicht geprüft werden: %1"};
inline constexpr TText PacsCheckerMissingText{
    "Messages.PacsCheckerMissing", "der prüfende Prozess (tessaly-decode) startet nicht."};
inline constexpr TText PacsQuarantineNoteText{"Messages.PacsQuarantineNote",
                                              "Sie liegt jetzt im Quarantäne-Ordner %1."};
inline constexpr TText PacsQuarantinedText{
    "Messages.PacsQuarantined", "Nicht sendbar, in den Quarantäne-Ordner verschoben: %1"};
// What a store refuses before it sends (an instance UID that is no UID, a second object under a
// UID already waiting, a path that is no regular file), an answer for another instance, a host
// that is no host name or address, and a check the PACS answered with a failure.
inline constexpr TText PacsUidInvalidText{"Messages.PacsUidInvalid",
                                          "Ihre SOP Instance UID %1 ist ungültig."};
inline constexpr TText PacsUidTakenText{
    "Messages.PacsUidTaken",
    "Ein anderes Objekt mit derselben SOP Instance UID wartet schon (UID, Datei): %1"};
inline constexpr TText PacsNotRegularFileText{
    "Messages.PacsNotRegularFile",
    "Sie ist keine gewöhnliche Datei (ein Ordner, eine Pipe, ein Gerät)."};
inline constexpr TText PacsOtherInstanceText{"Messages.PacsOtherInstance",
                                             "Der PACS hat den Empfang eines anderen Objekts "
                                             "bestätigt (%1); das Objekt bleibt im Postausgang."};
inline constexpr TText PacsHostInvalidText{
    "Messages.PacsHostInvalid",
    "Host muss ein Rechnername oder eine IPv4-Adresse ohne Port sein, höchstens 64 Zeichen."};
inline constexpr TText PacsEchoFailedText{
    "Messages.PacsEchoFailed", "Der PACS beantwortet die Prüfung mit einem Fehler (Status %1)."};
// A send or an export the user cancelled (an object's reason, the summary's first line, the
// export's failure); a comparison sent before as it is now (asked); the progress of the long
// work (%1: "3 / 20") and its cancel button.
inline constexpr TText PacsCancelledText{"Messages.PacsCancelled",
                                         "Abgebrochen; das Objekt bleibt im Postausgang."};
inline constexpr TText PacsRunCancelledText{"Messages.PacsRunCancelled",
                                            "Das Senden wurde abgebrochen."};
inline constexpr TText DicomExportCancelledText{
    "Messages.DicomExportCancelled",
    "Der DICOM-Export wurde abgebrochen; seine Dateien sind wieder entfernt."};
inline constexpr TText PacsUnchangedText{
    "Messages.PacsUnchanged",
    "Dieser Vergleich ging unverändert schon an den PACS. Noch einmal als neue Serie senden?"};
inline constexpr TText DicomProgressText{"Messages.DicomProgress",
                                         "DICOM-Objekte werden erstellt: %1"};
inline constexpr TText PacsProgressText{"Messages.PacsProgress", "An den PACS gesendet: %1"};
inline constexpr TText CancelButtonText{"Messages.CancelButton", "Abbrechen"};
// The objects a send names, by picture and kind (never by file): this export's, and those an
// earlier send left, by their SOP class.
inline constexpr TText PacsObjectPicture1Text{"Messages.PacsObjectPicture1", "Bild 1"};
inline constexpr TText PacsObjectAlignedText{"Messages.PacsObjectAligned", "Bild 2 ausgerichtet"};
inline constexpr TText PacsObjectPhotoText{"Messages.PacsObjectPhoto", "Foto"};
inline constexpr TText PacsObjectReportText{"Messages.PacsObjectReport", "Messbericht"};
inline constexpr TText PacsObjectOtherText{"Messages.PacsObjectOther", "anderes DICOM-Objekt"};
// A note on a picture that loaded: a multi-frame file (%1 its frames) shows its first frame only.
inline constexpr TText MultiFrameText{"Messages.MultiFrame",
                                      "Die Datei enthält %1 Einzelbilder; gezeigt wird das erste."};
// A full-resolution capture whose scene no bitmap can hold (%1: its size, "16370 x 16370").
inline constexpr TText FullResolutionTooLargeText{
    "Messages.FullResolutionTooLarge", "Zu groß für eine Aufnahme in voller Auflösung: %1"};
// The notes of a comparison: the dialog's title and its label.
inline constexpr TText NotesTitleText{"Messages.NotesTitle", "Notizen"};
inline constexpr TText NotesLabelText{"Messages.NotesLabel", "Notizen zu diesem Vergleich:"};

// A value refused before it is put into a DICOM object (overlay/scene/dicom_values.h), after
// "Field: "; the export's refusals of a patient that is not the pictures' (dicom_export.h).
inline constexpr TText DicomValueTooLongText{"Messages.DicomValueTooLong",
                                             "länger als erlaubt (höchstens %1 Zeichen)"};
inline constexpr TText DicomValueControlText{"Messages.DicomValueControl",
                                             "enthält ein Steuerzeichen"};
inline constexpr TText DicomValueBackslashText{
    "Messages.DicomValueBackslash",
    "enthält einen umgekehrten Schrägstrich, der in DICOM Werte trennt"};
inline constexpr TText DicomValueInvalidText{"Messages.DicomValueInvalid",
                                             "kein gültiger Wert der DICOM-Art %1"};
inline constexpr TText DicomTooManyValuesText{"Messages.DicomTooManyValues", "mehr als %1 Werte"};
inline constexpr TText DicomNoPatientText{
    "Messages.DicomNoPatient",
    "Kein Patient: Die Schnittstellendatei nennt keine Patienten-ID, und Bild 1 ist kein "
    "DICOM-Bild eines Patienten."};
inline constexpr TText DicomOtherPatientText{
    "Messages.DicomOtherPatient", "Bild %1 gehört zu einem anderen Patienten als der Export:"};
inline constexpr TText DicomTwoPatientsText{
    "Messages.DicomTwoPatients", "Die beiden DICOM-Bilder gehören zu verschiedenen Patienten:"};
inline constexpr TText DicomPicturePatientText{"Messages.DicomPicturePatient", "Bild %1"};
inline constexpr TText DicomExportPatientText{"Messages.DicomExportPatient", "Export"};
inline constexpr TText DicomPatientDiffersText{"Messages.DicomPatientDiffers", "Verschieden: %1"};
// A note on a DICOM picture that loaded: its spacing is the detector's, the scale unknown.
inline constexpr TText DetectorSpacingText{
    "Messages.DetectorSpacing",
    "Die Datei gibt ihren Pixelabstand nur am Detektor an (Imager Pixel Spacing ohne "
    "Vergrößerungsfaktor); der Maßstab ist unbekannt."};

// Every text above, for the check that each language file has them all.
const std::vector<TText>& ProgramTexts();

// The language's text of Text, or its German one.
std::string Tr(const TText& Text);
// The same with every "%1" replaced by Argument.
std::string Tr(const TText& Text, std::string_view Argument);
// The same with "%2" replaced by Argument2 too.
std::string Tr(const TText& Text, std::string_view Argument, std::string_view Argument2);
// Replaces the language's texts: name -> text, names as ProgramTexts gives them.
void SetProgramTexts(std::unordered_map<std::string, std::string> Texts);

}  // namespace overlay
