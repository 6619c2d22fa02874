// The print page writer on random templates: the page must be the template read in pieces of
// at most 1023 bytes up to and with each line break, the first "#Image#" of every piece
// replaced by the file: address of the folder + "image" + n + ".jpg" (n counting the replaced
// pieces from 1), then each "#Name#" of the page's words (ReportPageTexts) replaced by its text
// in one pass from the left. The expected page is built here byte by byte, apart from the code
// under test.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_common.h"
#include "overlay/output/report.h"
#include "overlay/windows/print_page.h"
#include "platform/message.h"

namespace {

// Every byte but A-Z, a-z, 0-9, "-._~" and "/" as %XX.
std::string Address(const std::string& Path) {
  const auto kept = [](unsigned char c) {
    return std::isalnum(c) != 0 || std::strchr("-._~/", c) != nullptr;
  };
  return "file://" + fuzz::EscapeBytes(Path, kept, "%");
}

std::string ExpectedPage(const std::string& Template, const std::string& Dir) {
  std::string page, piece;
  int n = 0;
  auto flush = [&] {
    const std::size_t at = piece.find("#Image#");
    if (at != std::string::npos) {
      ++n;
      piece = piece.substr(0, at) + Address(Dir + "image" + std::to_string(n) + ".jpg") +
              piece.substr(at + 7);
    }
    page += piece;
    piece.clear();
  };
  for (const char c : Template) {
    piece += c;
    if (c == '\n' || piece.size() == 1023) flush();
  }
  if (!piece.empty()) flush();
  // The page's words, the closing "#" of a name that is none may open the next.
  std::string filled;
  std::size_t pos = 0;
  for (std::size_t open; (open = page.find('#', pos)) != std::string::npos;) {
    const std::size_t close = page.find('#', open + 1);
    if (close == std::string::npos) break;
    filled += page.substr(pos, open - pos);
    const std::string name = page.substr(open + 1, close - open - 1);
    std::string text;
    for (const overlay::TText& t : overlay::ReportPageTexts()) {
      if ("Messages." + name == t.Name) text = overlay::Tr(t);
    }
    if (text.empty()) {
      filled += '#';
      pos = open + 1;
    } else {
      for (const char c : text) {
        filled += c == '&'    ? "&amp;"
                  : c == '<'  ? "&lt;"
                  : c == '>'  ? "&gt;"
                  : c == '"'  ? "&quot;"
                  : c == '\'' ? "&apos;"
                              : std::string(1, c);
      }
      pos = close + 1;
    }
  }
  return filled + page.substr(pos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  platform::MessageRecorder messages;
  const std::string& dir = fuzz::ScratchDir();
  const std::string templ(reinterpret_cast<const char*>(Data), Size);
  const std::string templatePath = dir + "template.html";
  fuzz::WriteFile(templatePath, templ);
  fuzz::Check(overlay::WritePrintPageFrom(templatePath, dir) == 0, "the page was not written");
  fuzz::Check(messages.Texts().empty(), "a message for a page that was written");
  fuzz::Check(fuzz::ReadFile(dir + "output.html") == ExpectedPage(templ, dir),
              "the page differs from the template with its placeholders replaced");
  return 0;
}
