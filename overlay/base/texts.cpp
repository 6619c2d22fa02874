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
  static const std::vector<TText> all{
#define TESSALY_TEXT(Constant, Key, German) Constant,
#include "overlay/base/texts.def"
#undef TESSALY_TEXT
  };
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
