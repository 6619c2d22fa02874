// The program's texts from a language file ("TsLang.ini" beside the program or a copy placed by
// platform/paths.h): one section per window, entries "Window.Component.Caption" and the like. The
// windows carry the built-in German texts; whatever the file names replaces them when the windows
// are created.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class QObject;
class QWidget;

namespace overlay {

// A language file read whole into memory. Lines "[Name]" open a section, lines beginning with
// ";" are comments, empty lines and lines before the first section are ignored; an entry's
// name is the text before its first "=", its value the rest, both exactly as they stand (a
// line's CR before its LF is not part of it). Names compare without regard to letter case;
// of two entries with the same name the first counts, also across two sections of one name.
// The text is UTF-8 (a leading byte-order mark is dropped), or Latin-1 when it is not valid
// UTF-8; values come back as UTF-8.
class TLanguageFile {
 public:
  static TLanguageFile FromBytes(std::string Bytes);

  // The entry's value, or Default when the section or the entry does not exist.
  std::string ReadString(std::string_view Section, std::string_view Name,
                         std::string_view Default) const;
  // Section and entry names as written, in file order, each once.
  std::vector<std::string> SectionNames() const;
  std::vector<std::string> EntryNames(std::string_view Section) const;

 private:
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Entries;  // name, value
    std::unordered_map<std::string, std::size_t> Index;        // folded name -> entry
  };
  const TSection* Find(std::string_view Section) const;

  std::vector<TSection> FSections;
  std::unordered_map<std::string, std::size_t> FIndex;  // folded section name -> section
};

// The file FileName in the program's directory, or nothing when no such regular file exists
// (or it cannot be read).
std::unique_ptr<TLanguageFile> OpenLanguageFile(const std::string& FileName);
// The same for an explicit path.
std::unique_ptr<TLanguageFile> OpenLanguageFileAt(const std::string& Path);

// Sets the published text property PropertyName of Component when Value is not empty and the
// component has it: "Caption" is the text of a label or button and the title of a window,
// "Hint" the tool tip of any widget. Returns whether it set something.
bool SetTextProperty(QObject& Component, const std::string& PropertyName, const std::string& Value);

// Applies File to Window (section = the window's object name) and to every named object inside
// it, in creation order; windows inside it (dialogs it parents) are left to their own sections.
void TranslateForm(QWidget& Window, const TLanguageFile& File);

// The program's windows in the order they were created; a window leaves the list when it is
// destroyed. Registering a window twice or a null pointer changes nothing.
void RegisterProgramWindow(QWidget* Window);
std::vector<QWidget*> ProgramWindows();

// The section of the messages' texts: "Messages.PictureMissing", "Messages.PictureCannotRead",
// "Messages.NotAPicture", "Messages.PictureDamaged", "Messages.PictureTooLarge" (%1 x %2
// pixels) and "Messages.PictureNotLoaded", the sentences of TPictureFailureTexts
// (overlay/decode/picture_import.h). An entry the file lacks keeps the built-in German text.
inline constexpr std::string_view MessagesSection = "Messages";
void ApplyMessageTexts(const TLanguageFile& File);

// Applies the language file FileName from the program's directory to all program windows, in
// creation order, and its messages' texts; false, changing nothing, when the file does not
// exist.
bool ApplyLanguage(const std::string& FileName);
void ApplyLanguage(const TLanguageFile& File, const std::vector<QWidget*>& Windows);

}  // namespace overlay
