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
// The status bar's modes.
inline constexpr TText BlendModeText{"Messages.StatusBlend", "Überblendung"};
inline constexpr TText DifferenceModeText{"Messages.StatusDifference", "Differenz"};
inline constexpr TText FlickerModeText{"Messages.StatusFlicker", "Blinken"};
inline constexpr TText BetweenStepsText{"Messages.StatusBetweenSteps", "zwischen den Stufen"};

// Every text above, for the check that each language file has them all.
const std::vector<TText>& ProgramTexts();

// The language's text of Text, or its German one.
std::string Tr(const TText& Text);
// Replaces the language's texts: name -> text, names as ProgramTexts gives them.
void SetProgramTexts(std::unordered_map<std::string, std::string> Texts);

}  // namespace overlay
