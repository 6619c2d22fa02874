#include "overlay/windows/sprache.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>
#include <QString>
#include <QStringList>
#include <QTranslator>
#include <QWidget>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "overlay/base/texts.h"
#include "overlay/decode/picture_import.h"
#include "platform/paths.h"

namespace overlay {

namespace {

std::string Fold(std::string_view Text) {
  return QString::fromUtf8(Text.data(), qsizetype(Text.size())).toCaseFolded().toStdString();
}

QString ToQString(std::string_view Text) {
  return QString::fromUtf8(Text.data(), qsizetype(Text.size()));
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view Text) {
  std::size_t i = 0;
  while (i < Text.size()) {
    const auto c = static_cast<unsigned char>(Text[i]);
    int extra = 0;
    char32_t code = 0, min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1, code = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, code = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, code = c & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (Text.size() - i <= std::size_t(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto t = static_cast<unsigned char>(Text[i + std::size_t(k)]);
      if ((t & 0xC0) != 0x80) return false;
      code = (code << 6) | (t & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += std::size_t(extra) + 1;
  }
  return true;
}

std::string Latin1ToUtf8(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (const char ch : Text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

TLanguageFile TLanguageFile::FromBytes(std::string Bytes) {
  if (!IsValidUtf8(Bytes)) {
    Bytes = Latin1ToUtf8(Bytes);
  } else if (Bytes.starts_with("\xEF\xBB\xBF")) {
    // Editors on other systems start UTF-8 files with a byte-order mark; left in place it
    // would hide the first section.
    Bytes.erase(0, 3);
  }
  TLanguageFile file;
  TSection* section = nullptr;
  std::string_view rest(Bytes);
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || line.front() == ';') continue;
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view name = line.substr(1, line.size() - 2);
      // A section written twice is one section; its first entries still win.
      const auto [it, added] = file.FIndex.emplace(Fold(name), file.FSections.size());
      if (added) file.FSections.push_back(TSection{std::string(name), {}, {}});
      section = &file.FSections[it->second];
      continue;
    }
    if (section == nullptr) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, eq);
    if (section->Index.emplace(Fold(name), section->Entries.size()).second) {
      section->Entries.emplace_back(std::string(name), std::string(line.substr(eq + 1)));
    }
  }
  return file;
}

const TLanguageFile::TSection* TLanguageFile::Find(std::string_view Section) const {
  const auto it = FIndex.find(Fold(Section));
  return it == FIndex.end() ? nullptr : &FSections[it->second];
}

std::string TLanguageFile::ReadString(std::string_view Section, std::string_view Name,
                                      std::string_view Default) const {
  if (const TSection* section = Find(Section)) {
    const auto it = section->Index.find(Fold(Name));
    if (it != section->Index.end()) return section->Entries[it->second].second;
  }
  return std::string(Default);
}

std::vector<std::string> TLanguageFile::SectionNames() const {
  std::vector<std::string> names;
  for (const TSection& s : FSections) names.push_back(s.Name);
  return names;
}

std::vector<std::string> TLanguageFile::EntryNames(std::string_view Section) const {
  std::vector<std::string> names;
  if (const TSection* section = Find(Section)) {
    for (const auto& entry : section->Entries) names.push_back(entry.first);
  }
  return names;
}

std::unique_ptr<TLanguageFile> OpenLanguageFileAt(const std::string& Path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Path, ec)) return nullptr;
  std::ifstream in(Path, std::ios::binary);
  if (!in) return nullptr;
  std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return nullptr;
  return std::make_unique<TLanguageFile>(TLanguageFile::FromBytes(std::move(bytes)));
}

std::unique_ptr<TLanguageFile> OpenLanguageFile(const std::string& FileName) {
  // Beside the program, unless the user or an administrator keeps a copy of their own.
  return OpenLanguageFileAt(platform::LocateProgramFile(FileName).Read);
}

bool SetTextProperty(QObject& Component, const std::string& PropertyName,
                     const std::string& Value) {
  if (Value.empty()) return false;
  auto* widget = qobject_cast<QWidget*>(&Component);
  const char* property = nullptr;
  if (PropertyName == "Caption") {
    if (widget != nullptr && widget->isWindow()) {
      property = "windowTitle";
    } else if (qobject_cast<QLabel*>(&Component) || qobject_cast<QAbstractButton*>(&Component) ||
               qobject_cast<QAction*>(&Component)) {
      property = "text";  // an action's text is its menu entry
    }
  } else if (PropertyName == "Hint" && widget != nullptr) {
    property = "toolTip";
  }
  if (property == nullptr) return false;
  // A label that was sized to its text keeps fitting it, so a longer translation is not cut
  // off; a label given fixed bounds (a marker, a box) keeps them.
  auto* label = qobject_cast<QLabel*>(&Component);
  const bool fitted = label != nullptr && property[0] == 't' && !label->isWindow() &&
                      label->size() == label->sizeHint();
  if (!Component.setProperty(property, ToQString(Value))) return false;
  if (fitted) label->adjustSize();
  return true;
}

namespace {

// Lines of a memo as a line list counts them: a final line break opens no further line.
QStringList MemoLines(const QPlainTextEdit& Memo) {
  QString text = Memo.toPlainText();
  if (text.isEmpty()) return {};
  if (text.endsWith(u'\n')) text.chop(1);
  return text.split(u'\n');
}

// The Qt counterparts of the item-list controls, matched by exact class as the rules are: the
// memo (a plain text edit, by line), the check list (a list widget), the radio group (a group
// box with radio buttons) and the combo box. Missing memo and check-list entries read as
// "fsdef", so only those can blank an item; the other two replace only with a non-empty text.
struct TItemRule {
  const char* ClassName;
  const char* Entry;
  const char* Default;
  int (*Count)(QObject&);
  void (*Set)(QObject&, int, const QString&);
};

QList<QRadioButton*> RadioItems(QObject& Box) {
  return Box.findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
}

const TItemRule ItemRules[] = {
    {"QPlainTextEdit", ".Lines[", "fsdef",
     [](QObject& c) { return int(MemoLines(static_cast<QPlainTextEdit&>(c)).size()); },
     [](QObject& c, int k, const QString& v) {
       auto& memo = static_cast<QPlainTextEdit&>(c);
       QStringList lines = MemoLines(memo);
       const bool lineBreakAtEnd = memo.toPlainText().endsWith(u'\n');
       lines[k] = v;
       memo.setPlainText(lines.join(u'\n') + (lineBreakAtEnd ? QStringLiteral("\n") : QString()));
     }},
    {"QListWidget", ".Items[", "fsdef",
     [](QObject& c) { return static_cast<QListWidget&>(c).count(); },
     [](QObject& c, int k, const QString& v) { static_cast<QListWidget&>(c).item(k)->setText(v); }},
    {"QGroupBox", ".Items[", "", [](QObject& c) { return int(RadioItems(c).size()); },
     [](QObject& c, int k, const QString& v) { RadioItems(c)[k]->setText(v); }},
    {"QComboBox", ".Items[", "", [](QObject& c) { return static_cast<QComboBox&>(c).count(); },
     [](QObject& c, int k, const QString& v) { static_cast<QComboBox&>(c).setItemText(k, v); }},
};

void TranslateItems(QObject& Component, const std::string& Section, const std::string& Prefix,
                    const TLanguageFile& File) {
  for (const TItemRule& rule : ItemRules) {
    if (std::strcmp(Component.metaObject()->className(), rule.ClassName) != 0) continue;
    // The count is read again for every item: replacing one may change it.
    for (int k = 0; k < rule.Count(Component); ++k) {
      const std::string v =
          File.ReadString(Section, Prefix + rule.Entry + std::to_string(k) + "]", rule.Default);
      if (v != rule.Default) rule.Set(Component, k, ToQString(v));
    }
  }
}

// The named objects inside Parent in creation order (parent before its children, as
// findChildren lists them), without windows of their own and what they hold.
void CollectComponents(QObject& Parent, std::vector<QPointer<QObject>>& Out) {
  for (QObject* child : Parent.children()) {
    if (auto* w = qobject_cast<QWidget*>(child); w != nullptr && w->isWindow()) continue;
    if (!child->objectName().isEmpty()) Out.emplace_back(child);
    CollectComponents(*child, Out);
  }
}

}  // namespace

void TranslateForm(QWidget& Window, const TLanguageFile& File) {
  const std::string w = Window.objectName().toStdString();
  const std::string caption = File.ReadString(w, w + ".Caption", "");
  if (!caption.empty()) Window.setWindowTitle(ToQString(caption));
  std::vector<QPointer<QObject>> components;
  CollectComponents(Window, components);
  for (const QPointer<QObject>& c : components) {
    // A handler run by an earlier text change may have removed a control.
    if (c.isNull()) continue;
    const std::string prefix = w + "." + c->objectName().toStdString();
    SetTextProperty(*c, "Caption", File.ReadString(w, prefix + ".Caption", ""));
    if (c.isNull()) continue;
    SetTextProperty(*c, "Hint", File.ReadString(w, prefix + ".Hint", ""));
    if (c.isNull()) continue;
    TranslateItems(*c, w, prefix, File);
  }
}

namespace {
std::vector<QPointer<QWidget>>& Registry() {
  static std::vector<QPointer<QWidget>> windows;
  return windows;
}
}  // namespace

void RegisterProgramWindow(QWidget* Window) {
  if (Window == nullptr) return;
  auto& windows = Registry();
  // A QPointer clears itself when its window is destroyed; the cleared ones go here.
  std::erase_if(windows, [](const QPointer<QWidget>& w) { return w.isNull(); });
  for (const QPointer<QWidget>& w : windows) {
    if (w.data() == Window) return;
  }
  windows.emplace_back(Window);
}

std::vector<QWidget*> ProgramWindows() {
  std::vector<QWidget*> alive;
  for (const QPointer<QWidget>& w : Registry()) {
    if (!w.isNull()) alive.push_back(w.data());
  }
  return alive;
}

void ApplyMessageTexts(const TLanguageFile& File) {
  TPictureFailureTexts texts;
  const auto read = [&](std::string_view Name, std::string& Text) {
    Text = File.ReadString(MessagesSection, Name, Text);
  };
  read("Messages.PictureMissing", texts.Missing);
  read("Messages.PictureCannotRead", texts.CannotRead);
  read("Messages.NotAPicture", texts.NotPicture);
  read("Messages.PictureDamaged", texts.Damaged);
  read("Messages.PictureTooLarge", texts.TooLarge);
  read("Messages.PictureNotLoaded", texts.NotLoaded);
  SetPictureFailureTexts(std::move(texts));
  std::unordered_map<std::string, std::string> program;
  for (const TText& text : ProgramTexts()) {
    program[std::string(text.Name)] = File.ReadString(MessagesSection, text.Name, text.German);
  }
  // The toolkit's own texts (the buttons of its dialogs, "Look in" of the open dialog) in the
  // same language, where the system has its translation; its built-in texts are English.
  static std::unique_ptr<QTranslator> toolkit;
  if (toolkit != nullptr) QCoreApplication::removeTranslator(toolkit.get());
  toolkit.reset();
  const std::string code = program[std::string(LanguageCodeText.Name)];
  if (QCoreApplication::instance() != nullptr && !code.empty() && code != "en") {
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_") + QString::fromStdString(code),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
        QCoreApplication::installTranslator(translator.get())) {
      toolkit = std::move(translator);
    }
  }
  SetProgramTexts(std::move(program));
}

void ApplyLanguage(const TLanguageFile& File, const std::vector<QWidget*>& Windows) {
  ApplyMessageTexts(File);
  std::vector<QPointer<QWidget>> windows(Windows.begin(), Windows.end());
  for (const QPointer<QWidget>& w : windows) {
    if (!w.isNull()) TranslateForm(*w, File);
  }
}

bool ApplyLanguage(const std::string& FileName) {
  const std::unique_ptr<TLanguageFile> file = OpenLanguageFile(FileName);
  if (file == nullptr) return false;
  ApplyLanguage(*file, ProgramWindows());
  return true;
}

}  // namespace overlay
