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

#define TESSALY_TEXT(Constant, Key, German) inline constexpr TText Constant{Key, German};
#include "overlay/base/texts.def"
#undef TESSALY_TEXT

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
