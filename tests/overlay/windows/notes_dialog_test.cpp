// The notes dialog as the user drives it: what they write comes back byte for byte when they
// confirm, nothing when they cancel, and notes only looked at come back as they were.
#include "overlay/windows/notes_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace overlay {
namespace {

// EditNotes over Start; while it waits, the editor's text becomes Typed (when given) and the
// button Button is pressed.
std::optional<std::string> Edit(const std::string& Start, const std::optional<std::string>& Typed,
                                QDialogButtonBox::StandardButton Button) {
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    if (Typed) {
      dialog->findChild<QPlainTextEdit*>("MemoNotes")->setPlainText(QString::fromStdString(*Typed));
    }
    dialog->findChild<QDialogButtonBox*>("ButtonsNotes")->button(Button)->click();
  });
  return EditNotes(nullptr, Start);
}

TEST(NotesDialog, GivesBackTheTextWholeOnOkAndNothingOnCancel) {
  const std::vector<std::string> texts{
      "", "  blanks at both ends\t \n",
      "\"double\" and 'single' quotes, a back\\slash, <b>&amp;</b>",
      "line 1\n\nline 3\n\n" + std::string(20000, 'x'),
      "no\u00a0break space, Umlaut \u00fc, \U0001F600"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 40));
    EXPECT_EQ(Edit("earlier notes", text, QDialogButtonBox::Ok), text);
    EXPECT_EQ(Edit(text, std::nullopt, QDialogButtonBox::Ok), text);
    EXPECT_EQ(Edit(text, "changed", QDialogButtonBox::Cancel), std::nullopt);
  }
  // Line ends the editor shows alike come back as they were while nothing is changed.
  EXPECT_EQ(Edit("one\r\ntwo\rthree", std::nullopt, QDialogButtonBox::Ok), "one\r\ntwo\rthree");
}

}  // namespace
}  // namespace overlay
