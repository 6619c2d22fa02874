// The notes of a comparison, edited in a dialog of their own: free text of any length, kept as
// the user wrote it (line breaks, quotes, blanks at either end).
#pragma once

#include <QDialog>
#include <optional>
#include <string>

class QPlainTextEdit;

namespace overlay {

class TNotesDialog : public QDialog {
 public:
  TNotesDialog(QWidget* Parent, const std::string& Notes);
  // The text as it stands: Notes itself while the editor shows it unchanged, so that what the
  // editor cannot hold apart (a carriage return before a line feed) is not lost by looking.
  std::string Notes() const;
  QPlainTextEdit& Editor() const { return *FEditor; }

 private:
  std::string EditorText() const;

  QPlainTextEdit* FEditor = nullptr;
  std::string FNotes;  // as given
  std::string FShown;  // as the editor showed it at first
};

// Shows Notes in a TNotesDialog over Parent and waits: the text when the user confirms, nothing
// when they cancel.
std::optional<std::string> EditNotes(QWidget* Parent, const std::string& Notes);

}  // namespace overlay
