#include "overlay/scene/texts.h"

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
  static const std::vector<TText> all{OpenPictureTitle,   AllPicturesText,      AllFilesText,
                                      RecentPicturesText, NoRecentPicturesText, BlendModeText,
                                      DifferenceModeText, FlickerModeText,      BetweenStepsText,
                                      DropHelpText};
  return all;
}

std::string Tr(const TText& Text) {
  const std::lock_guard<std::mutex> one(TextsLock);
  const auto found = Texts().find(std::string(Text.Name));
  return found != Texts().end() ? found->second : std::string(Text.German);
}

void SetProgramTexts(std::unordered_map<std::string, std::string> NewTexts) {
  const std::lock_guard<std::mutex> one(TextsLock);
  Texts() = std::move(NewTexts);
}

}  // namespace overlay
