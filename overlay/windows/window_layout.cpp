#include "overlay/windows/window_layout.h"

#include <algorithm>
#include <cctype>

namespace overlay {

TBottomPanelLayout PanelControlsLayout(int ClientWidth, int GaugeBar1Left, int EditXWidth,
                                       int EditZoomWidth, int BitBtnInfoWidth,
                                       int BitBtnPrintWidth) {
  TBottomPanelLayout l{};
  const int half = ClientWidth / 2;
  l.SliderWidth = half - GaugeBar1Left - EditXWidth - 48;
  l.LeftEditLeft = GaugeBar1Left + l.SliderWidth + 8;
  l.RightColumn = half;
  l.RightSliderLeft = half + 80;
  // Below the right column's labels, ending 8 pixels before ButtonAssistent.
  l.ButtonAutoAlignLeft = half - 8;
  l.RightEditLeft = l.LeftEditLeft + half;
  l.ButtonCloseWidth = 80;
  l.ButtonCloseLeft = l.RightEditLeft + EditZoomWidth - l.ButtonCloseWidth;
  l.BitBtnInfoLeft = l.ButtonCloseLeft - BitBtnInfoWidth - 8;
  l.BitBtnPrintLeft = l.BitBtnInfoLeft - BitBtnPrintWidth - 8;
  return l;
}

TMainPanelsLayout MainPanelsLayout(int ClientWidth, int ClientHeight, int SavedWidth) {
  const int w = ClientWidth;
  TMainPanelsLayout l{};
  l.ControlsTop = std::max(0, ClientHeight - PanelControlsHeight);
  l.NameTop = std::max(0, l.ControlsTop - PanelNameHeight);
  l.StatusTop = std::max(0, l.NameTop - StatusBarHeight);
  // 8 pixels in from the edges.
  l.PositionWidth = w / 2 - 8;
  l.SavedWidth = std::min(SavedWidth, std::max(0, w / 4));
  l.SavedLeft = w - 8 - l.SavedWidth;
  l.ModeLeft = w / 2;
  l.ModeWidth = std::max(0, w - w / 2 - 24 - l.SavedWidth);
  return l;
}

TStoredPlacement PlaceStoredBounds(const TWindowBounds& Bounds,
                                   const std::vector<TScreenArea>& Screens, int MinClientWidth,
                                   int MinClientHeight) {
  TStoredPlacement p{false, std::max(Bounds.Width - MainFrameExtraWidth, MinClientWidth),
                     std::max(Bounds.Height - MainFrameExtraHeight, MinClientHeight)};
  for (const TScreenArea& s : Screens) {
    const int seenWidth =
        std::min(s.Left + s.Width, Bounds.Left + Bounds.Width) - std::max(s.Left, Bounds.Left);
    const int seenHeight =
        std::min(s.Top + s.Height, Bounds.Top + Bounds.Height) - std::max(s.Top, Bounds.Top);
    p.Move = p.Move || (seenWidth >= 50 && seenHeight >= 30);
  }
  return p;
}

TDicomFolderUse DicomFolderUse(platform::TFolderPrivacy Privacy, const std::string& Folder) {
  switch (Privacy) {
    case platform::TFolderPrivacy::OwnOpen:
      return {Tr(DicomFolderOpenText, Folder), {}};
    case platform::TFolderPrivacy::Foreign:
      return {{}, Tr(DicomFolderForeignText, Folder)};
    case platform::TFolderPrivacy::NotFolder:
      return {{}, Tr(DicomFolderNotFolderText, Folder)};
    case platform::TFolderPrivacy::Missing:
    case platform::TFolderPrivacy::Private:
      break;
  }
  return {};
}

TPacsSendChoice ChoosePacsSend(const std::string& Digest, const std::string& SentDigest,
                               bool Waiting, const std::function<bool()>& Ask) {
  if (Digest != SentDigest) return TPacsSendChoice::ExportAnew;
  if (Waiting) return TPacsSendChoice::WaitingOnly;
  return Ask() ? TPacsSendChoice::ExportAnew : TPacsSendChoice::Nothing;
}

const char* const OpenPictureFilter =
    "*.jpg, *.bmp|*.jpg;*.jpeg;*.bmp|*.jpg|*.jpg|*.jpeg|*.jpeg|*.bmp|*.bmp|*.png|*.png|*.tif|*.tif|"
    "*.tga|*.tga";

std::vector<std::string> NameFilters(const std::string& PipeFilter) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= PipeFilter.size()) {
    const std::size_t bar = PipeFilter.find('|', start);
    const std::size_t end = bar == std::string::npos ? PipeFilter.size() : bar;
    parts.push_back(PipeFilter.substr(start, end - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  std::vector<std::string> filters;
  for (std::size_t i = 0; i + 1 < parts.size(); i += 2) {
    std::string patterns = parts[i + 1];
    std::replace(patterns.begin(), patterns.end(), ';', ' ');
    filters.push_back(parts[i] + " (" + patterns + ")");
  }
  return filters;
}

std::vector<std::string> PictureDialogFilters(const std::vector<std::string>& Extensions,
                                              const std::string& AllPictures,
                                              const std::string& AllFiles) {
  std::string patterns;
  for (const std::string& e : Extensions) {
    std::string upper = e;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char C) { return char(std::toupper(C)); });
    patterns += (patterns.empty() ? "*." : " *.") + e + " *." + upper;
  }
  std::vector<std::string> filters{AllPictures + " (" + patterns + ")"};
  for (std::string& f : NameFilters(OpenPictureFilter)) filters.push_back(std::move(f));
  filters.push_back(AllFiles + " (*)");
  return filters;
}

std::string FilterPatterns(const std::string& NameFilter) {
  const std::size_t open = NameFilter.rfind('(');
  if (open == std::string::npos || NameFilter.back() != ')') return NameFilter;
  return NameFilter.substr(open + 1, NameFilter.size() - open - 2);
}

TDropPlan PlanDrop(TDropTarget Target, std::vector<TDroppedFile> Files) {
  TDropPlan plan;
  const bool allFiles =
      std::all_of(Files.begin(), Files.end(), [](const TDroppedFile& F) { return F.RegularFile; });
  if (!allFiles) Target = TDropTarget::Elsewhere;
  if ((Target == TDropTarget::Row1 || Target == TDropTarget::Row2) && Files.size() == 1) {
    (Target == TDropTarget::Row1 ? plan.Picture1 : plan.Picture2) = Files.front().Path;
  } else if (Target == TDropTarget::View && Files.size() == 2) {
    // Of two alike times the order of the drop stands.
    if (Files[1].Modified < Files[0].Modified) std::swap(Files[0], Files[1]);
    plan.Picture1 = Files[0].Path;
    plan.Picture2 = Files[1].Path;
  } else {
    plan.Refused = true;
  }
  return plan;
}

}  // namespace overlay
