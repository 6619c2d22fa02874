#include "overlay/windows/notes_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

#include "overlay/base/texts.h"
#include "overlay/windows/widget_factory.h"

namespace overlay {

TNotesDialog::TNotesDialog(QWidget* Parent, const std::string& Notes)
    : QDialog(Parent), FNotes(Notes) {
  SetComponentName(*this, "FormNotes");
  setWindowTitle(QString::fromStdString(Tr(NotesTitleText)));
  auto* layout = new QVBoxLayout(this);
  auto* label = MakeNamed<QLabel>("LabelNotes", QString::fromStdString(Tr(NotesLabelText)), this);
  FEditor = MakeNamed<QPlainTextEdit>("MemoNotes", this);
  // Notes are prose: long lines wrap in the window, and are kept as one line in the text.
  FEditor->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  FEditor->setTabChangesFocus(true);
  FEditor->setPlainText(QString::fromStdString(Notes));
  label->setBuddy(FEditor);
  auto* buttons = MakeNamed<QDialogButtonBox>(
      "ButtonsNotes", QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(label);
  layout->addWidget(FEditor);
  layout->addWidget(buttons);
  resize(480, 320);
  FShown = EditorText();
}

std::string TNotesDialog::EditorText() const {
  // The raw text: the plain text would turn no-break spaces into spaces. Blocks are separated by
  // U+2029, which a line break stands for.
  QString text = FEditor->document()->toRawText();
  text.replace(QChar(QChar::ParagraphSeparator), QLatin1Char('\n'));
  return text.toStdString();
}

std::string TNotesDialog::Notes() const {
  std::string text = EditorText();
  return text == FShown ? FNotes : text;
}

std::optional<std::string> EditNotes(QWidget* Parent, const std::string& Notes) {
  TNotesDialog dialog(Parent, Notes);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Notes();
}

}  // namespace overlay
