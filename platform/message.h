// The program's one way of telling the user something: a modal message box in interactive
// runs, standard error without a display, and a recorder in tests so that nothing ever blocks.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace platform {

enum class MessageIcon { None, Information, Warning, Error };

struct Message {
  std::string Text;
  std::string Caption;
  MessageIcon Icon = MessageIcon::Information;
};

// Shows Text and returns when the user has closed the box. With a QApplication on a real
// display this is a modal QMessageBox (an empty Caption shows the application's name); without
// a QApplication, or on the offscreen and minimal platforms, the text goes to standard error as
// one line "Caption: Text" (just "Text" without a caption). While a MessageRecorder is alive the
// message is only recorded.
void ShowMessage(const std::string& Text, const std::string& Caption = {},
                 MessageIcon Icon = MessageIcon::Information);

// A failure told (something not loaded, not written, not done): ShowMessage with the warning
// icon, so that it does not look like a mere note, which keeps the information icon.
void ShowWarning(const std::string& Text);

// Asks Text as a question with Yes and No; true for Yes. Without a display the question goes to
// standard error and the answer is No; while a MessageRecorder is alive the question is recorded
// as a message and the recorder's Answer is given.
bool AskYesNo(const std::string& Text);

// Tells the user why Status failed: ShowWarning(Status.Reason()), and nothing for a success or a
// failure without a reason.
void ShowFailure(const TStatus& Status);

// Captures every message shown while it is alive, in order, instead of showing it. Recorders
// nest; the most recently created one that is still alive receives the messages.
class MessageRecorder {
 public:
  MessageRecorder();
  ~MessageRecorder();
  MessageRecorder(const MessageRecorder&) = delete;
  MessageRecorder& operator=(const MessageRecorder&) = delete;

  std::vector<Message> Messages() const;
  // The texts alone, for short assertions.
  std::vector<std::string> Texts() const;
  void Clear();
  // What AskYesNo answers while this recorder records.
  bool Answer = false;

 private:
  friend void ShowMessage(const std::string&, const std::string&, MessageIcon);
  friend bool AskYesNo(const std::string&);
  std::vector<Message> FMessages;
};

}  // namespace platform
