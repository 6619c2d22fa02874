#include "platform/message.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

namespace platform {
namespace {

TEST(MessageRecorder, CapturesTextCaptionAndIconInOrder) {
  MessageRecorder recorder;
  ShowMessage("Unknown file format *.gif");
  ShowMessage("Das Bild ist zu groß", "Tessaly", MessageIcon::Error);
  const std::vector<Message> messages = recorder.Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].Text, "Unknown file format *.gif");
  EXPECT_EQ(messages[0].Caption, "");
  EXPECT_EQ(messages[0].Icon, MessageIcon::Information);
  EXPECT_EQ(messages[1].Text, "Das Bild ist zu groß");
  EXPECT_EQ(messages[1].Caption, "Tessaly");
  EXPECT_EQ(messages[1].Icon, MessageIcon::Error);
  recorder.Clear();
  EXPECT_TRUE(recorder.Texts().empty());
}

TEST(MessageRecorder, TheInnermostLiveRecorderReceives) {
  MessageRecorder outer;
  ShowMessage("one");
  {
    MessageRecorder inner;
    ShowMessage("two");
    EXPECT_EQ(inner.Texts(), std::vector<std::string>{"two"});
  }
  ShowMessage("three");
  EXPECT_EQ(outer.Texts(), (std::vector<std::string>{"one", "three"}));
}

// A failure's reason is shown with the warning icon, never as a mere note; a success and a
// failure without a reason show nothing.
TEST(ShowFailure, ShowsTheReasonOfAFailureOnly) {
  MessageRecorder recorder;
  ShowFailure(TStatus());
  ShowFailure(TStatus::Failure());
  ShowFailure(TStatus::Failure("Unknown file format *.gif"));
  const std::vector<Message> messages = recorder.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].Text, "Unknown file format *.gif");
  EXPECT_EQ(messages[0].Caption, "");
  EXPECT_EQ(messages[0].Icon, MessageIcon::Warning);

  const TResult<std::string> jpeg = std::string("bytes");
  EXPECT_TRUE(jpeg.Ok());
  EXPECT_EQ(jpeg.Value(), "bytes");
  const TResult<std::string> none = TStatus::Failure("why");
  EXPECT_FALSE(none.Ok());
  EXPECT_EQ(none.Reason(), "why");
  EXPECT_EQ(none.Value(), "");
}

TEST(ShowMessage, WithoutARecorderOrDisplayTheTextGoesToStandardError) {
  testing::internal::CaptureStderr();
  ShowMessage("plain");
  ShowMessage("with caption", "Kestrin", MessageIcon::Warning);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "plain\nKestrin: with caption\n");
}

TEST(ShowMessage, AnOffscreenApplicationNeverBlocks) {
  // Without this the test could open a real, modal box when run by hand on a desktop.
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "message_test";
  char* argv[] = {name, nullptr};
  auto app = std::make_unique<QApplication>(argc, argv);
  testing::internal::CaptureStderr();
  ShowMessage("offscreen", "Tessaly");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Tessaly: offscreen\n");
  {
    MessageRecorder recorder;
    testing::internal::CaptureStderr();
    ShowMessage("recorded");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"recorded"});
  }
}

}  // namespace
}  // namespace platform
