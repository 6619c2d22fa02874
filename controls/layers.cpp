#include "controls/layers.h"

#include <algorithm>
#include <string>

#include "controls/image_view.h"

namespace raster {

namespace {
TLayerStates ButtonState(TMouseButton Button) {
  switch (Button) {
    case mbLeft:
      return lsMouseLeft;
    case mbRight:
      return lsMouseRight;
    case mbMiddle:
      return lsMouseMiddle;
  }
  return 0;
}

[[noreturn]] void IndexError(std::int32_t Index) {
  throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
}
}  // namespace

// ---------------------------------------------------------------------------------------
// TLayerCollection

TLayerCollection::TLayerCollection(TObject* Owner) : FOwner(Owner) {}

TLayerCollection::~TLayerCollection() {
  // No notifications while the layers go: every layer's RemoveItem then ends at count 1.
  FUpdateCount = 1;
  while (!FItems.empty()) FreeLayer(FItems.back());
}

TCustomLayer* TLayerCollection::Add(TLayerClass LayerClass) {
  return LayerClass(this);
}

TCustomLayer* TLayerCollection::Insert(std::int32_t Index, TLayerClass LayerClass) {
  BeginUpdate();
  TCustomLayer* layer = nullptr;
  try {
    layer = Add(LayerClass);
    layer->SetIndex(Index);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return layer;
}

void TLayerCollection::Delete(std::int32_t Index) {
  FreeLayer(Items(Index));
}

void TLayerCollection::DeleteLayer(TCustomLayer* Layer) {
  if (Layer == nullptr || Layer->FLayerCollection != this) {
    throw EListError("Layer is not in the list");
  }
  FreeLayer(Layer);
}

void TLayerCollection::FreeLayer(TCustomLayer* Layer) {
  Layer->BeforeDestruction();
  delete Layer;
}

void TLayerCollection::Clear() {
  BeginUpdate();
  while (!FItems.empty()) FreeLayer(FItems.back());
  EndUpdate();
}

TCustomLayer* TLayerCollection::Items(std::int32_t Index) const {
  if (Index < 0 || Index >= Count()) IndexError(Index);
  return FItems[std::size_t(Index)];
}

void TLayerCollection::SetItems(std::int32_t Index, const TCustomLayer* Value) {
  Items(Index)->Assign(Value);
}

void TLayerCollection::Assign(const TPersistent* Source) {
  const auto* source = dynamic_cast<const TLayerCollection*>(Source);
  if (source == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  if (source == this) return;
  BeginUpdate();
  try {
    while (!FItems.empty()) FreeLayer(FItems.back());
    for (TCustomLayer* from : source->FItems) {
      TCustomLayer* layer = Add(from->GetLayerClass());
      layer->Assign(from);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLayerCollection::BeginUpdate() {
  if (FUpdateCount == 0) Changing();
  ++FUpdateCount;
}

void TLayerCollection::EndUpdate() {
  if (FUpdateCount <= 0) throw EAssertionFailed("Unpaired EndUpdate");
  if (FUpdateCount == 1) {
    FUpdateCount = 0;
    Changed();
    return;
  }
  --FUpdateCount;
}

void TLayerCollection::Changed() {
  if (OnChange) OnChange(this);
}

void TLayerCollection::Changing() {
  if (OnChanging) OnChanging(this);
}

void TLayerCollection::GDIUpdate() {
  if (FUpdateCount == 0 && OnGDIUpdate) OnGDIUpdate(this);
}

void TLayerCollection::InsertItem(TCustomLayer* Layer) {
  BeginUpdate();
  FItems.push_back(Layer);
  Layer->FLayerCollection = this;
  EndUpdate();
}

void TLayerCollection::RemoveItem(TCustomLayer* Layer) {
  BeginUpdate();
  FItems.erase(std::remove(FItems.begin(), FItems.end(), Layer), FItems.end());
  Layer->FLayerCollection = nullptr;
  EndUpdate();
}

TCustomLayer* TLayerCollection::FindLayerAtPos(std::int32_t X, std::int32_t Y,
                                               std::uint32_t OptionMask) {
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
    TCustomLayer* layer = *it;
    if ((layer->FLayerOptions & OptionMask) != 0 && layer->HitTest(X, Y)) return layer;
  }
  return nullptr;
}

TCustomLayer* TLayerCollection::MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X,
                                          std::int32_t Y) {
  TCustomLayer* layer = FMouseListener;
  if (layer == nullptr) layer = FindLayerAtPos(X, Y, loMouseEvents);
  if (Button == mbLeft && layer != FMouseListener &&
      (layer == nullptr || (layer->FLayerOptions & loNoCapture) == 0)) {
    SetMouseListener(layer);
  }
  if (FMouseListener != nullptr) {
    FMouseListener->FLayerStates |= ButtonState(Button);
    FMouseListener->MouseDown(Button, Shift, X, Y);
  }
  return layer;
}

TCustomLayer* TLayerCollection::MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) {
  TCustomLayer* layer = FMouseListener;
  if (layer == nullptr) layer = FindLayerAtPos(X, Y, loMouseEvents);
  if (layer != nullptr) {
    layer->MouseMove(Shift, X, Y);
  } else if (auto* owner = dynamic_cast<TCustomPaintBox32*>(FOwner)) {
    owner->SetCursor(owner->DefaultCursor());
  } else {
    SetScreenCursor(crDefault);
  }
  return layer;
}

TCustomLayer* TLayerCollection::MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X,
                                        std::int32_t Y) {
  TCustomLayer* layer = FMouseListener;
  if (layer == nullptr) layer = FindLayerAtPos(X, Y, loMouseEvents);
  if (layer != nullptr) {
    layer->FLayerStates &= ~ButtonState(Button);
    layer->MouseUp(Button, Shift, X, Y);
  }
  if (FMouseListener != nullptr &&
      (FMouseListener->FLayerStates & (lsMouseLeft | lsMouseRight | lsMouseMiddle)) == 0) {
    SetMouseListener(nullptr);
  }
  return layer;
}

void TLayerCollection::SetMouseEvents(bool Value) {
  FMouseEvents = Value;
  SetMouseListener(nullptr);
}

void TLayerCollection::SetMouseListener(TCustomLayer* Value) {
  if (Value == FMouseListener) return;
  if (FMouseListener != nullptr) {
    FMouseListener->FLayerStates &= ~(lsMouseLeft | lsMouseRight | lsMouseMiddle);
  }
  FMouseListener = Value;
}

void TLayerCollection::SetScreenCursor(TCursor Cursor) {
  if (auto* control = dynamic_cast<TControl*>(FOwner)) control->SetCursor(Cursor);
}

// ---------------------------------------------------------------------------------------
// TCustomLayer

TCustomLayer::TCustomLayer(TLayerCollection* Collection) {
  SetLayerCollection(Collection);
  FLayerOptions = loVisible;
}

TCustomLayer::~TCustomLayer() {
  // Only for a layer class of its own that neither an owner nor its destructor prepared: the
  // derived parts are gone by now, so OnDestroy then sees only the base layer.
  BeforeDestruction();
  if (FNotifyList) {
    for (std::size_t i = FNotifyList->size(); i-- > 0;) {
      (*FNotifyList)[i]->Notification(this);
      // A notified layer may have removed itself, or emptied and dropped the whole list.
      if (!FNotifyList) break;
      i = std::min(i, FNotifyList->size());
    }
    FNotifyList.reset();
  }
  SetLayerCollection(nullptr);
}

void TCustomLayer::BeforeDestruction() {
  if (FDestroyNotified) return;
  FDestroyNotified = true;
  if (OnDestroy) OnDestroy(this);
}

void TCustomLayer::AssignTo(TPersistent* Dest) const {
  auto* layer = dynamic_cast<TCustomLayer*>(Dest);
  if (layer == nullptr) {
    TPersistent::AssignTo(Dest);
    return;
  }
  layer->SetCursor(FCursor);
  layer->SetLayerOptions(FLayerOptions);
}

void TCustomLayer::AddNotification(TCustomLayer* Layer) {
  if (!FNotifyList) FNotifyList = std::make_unique<std::vector<TCustomLayer*>>();
  if (std::find(FNotifyList->begin(), FNotifyList->end(), Layer) == FNotifyList->end()) {
    FNotifyList->push_back(Layer);
  }
}

void TCustomLayer::RemoveNotification(TCustomLayer* Layer) {
  if (!FNotifyList) return;
  FNotifyList->erase(std::remove(FNotifyList->begin(), FNotifyList->end(), Layer),
                     FNotifyList->end());
  if (FNotifyList->empty()) FNotifyList.reset();
}

void TCustomLayer::Changing() {
  if (GetVisible() && FLayerCollection != nullptr && (FLayerOptions & loNoUpdate) == 0) {
    FLayerCollection->Changing();
  }
}

void TCustomLayer::Changed() {
  if (FLayerCollection == nullptr || (FLayerOptions & loNoUpdate) != 0) return;
  if (GetVisible()) {
    FLayerCollection->Changed();
  } else if ((FLayerOptions & loGdiOverlay) != 0) {
    FLayerCollection->GDIUpdate();
  }
}

void TCustomLayer::DoPaint(TBitmap32* Buffer) {
  Paint(Buffer);
  if (OnPaint) OnPaint(this, Buffer);
}

bool TCustomLayer::HitTest(std::int32_t X, std::int32_t Y) {
  bool passed = DoHitTest(X, Y);
  if (OnHitTest) OnHitTest(this, X, Y, passed);
  return passed;
}

void TCustomLayer::BringToFront() {
  if (FLayerCollection != nullptr) SetIndex(FLayerCollection->Count());
}

void TCustomLayer::SendToBack() {
  SetIndex(0);
}

void TCustomLayer::SetAsMouseListener() {
  if (FLayerCollection == nullptr) return;
  FLayerCollection->SetMouseListener(this);
  FLayerCollection->SetScreenCursor(FCursor);
}

std::int32_t TCustomLayer::GetIndex() const {
  if (FLayerCollection == nullptr) return -1;
  const auto& items = FLayerCollection->FItems;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : std::int32_t(it - items.begin());
}

void TCustomLayer::SetIndex(std::int32_t NewIndex) {
  if (FLayerCollection == nullptr) return;
  const std::int32_t current = GetIndex();
  if (NewIndex == current) return;
  NewIndex = std::clamp(NewIndex, 0, FLayerCollection->Count() - 1);
  if (NewIndex == current) return;
  const bool visible = GetVisible();
  if (visible) FLayerCollection->BeginUpdate();
  auto& items = FLayerCollection->FItems;
  items.erase(items.begin() + current);
  items.insert(items.begin() + NewIndex, this);
  if (visible) FLayerCollection->EndUpdate();
}

void TCustomLayer::SetLayerCollection(TLayerCollection* Value) {
  if (Value == FLayerCollection) return;
  if (FLayerCollection != nullptr) {
    if (FLayerCollection->FMouseListener == this) FLayerCollection->SetMouseListener(nullptr);
    FLayerCollection->RemoveItem(this);
  }
  if (Value != nullptr) Value->InsertItem(this);
}

void TCustomLayer::SetLayerOptions(std::uint32_t Value) {
  Changing();
  const bool wasVisible = GetVisible();
  FLayerOptions = Value;
  // Hiding a layer must repaint what lay under it; Changed alone only reaches visible layers.
  if (wasVisible && !GetVisible() && FLayerCollection != nullptr &&
      (FLayerOptions & loNoUpdate) == 0) {
    FLayerCollection->Changed();
    return;
  }
  Changed();
}

void TCustomLayer::SetVisible(bool Value) {
  SetLayerOptions(Value ? (FLayerOptions | loVisible) : (FLayerOptions & ~loVisible));
}

void TCustomLayer::SetMouseEvents(bool Value) {
  SetLayerOptions(Value ? (FLayerOptions | loMouseEvents) : (FLayerOptions & ~loMouseEvents));
}

void TCustomLayer::SetCursor(TCursor Value) {
  if (Value == FCursor) return;
  FCursor = Value;
  if (FLayerCollection != nullptr && FLayerCollection->FMouseListener == this) {
    FLayerCollection->SetScreenCursor(FCursor);
  }
}

void TCustomLayer::Notification(TCustomLayer*) {}

void TCustomLayer::Paint(TBitmap32*) {}

void TCustomLayer::PaintGDI(TControl&) {}

bool TCustomLayer::DoHitTest(std::int32_t, std::int32_t) {
  return true;
}

void TCustomLayer::MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X,
                             std::int32_t Y) {
  if (OnMouseDown) OnMouseDown(this, Button, Shift, X, Y);
}

void TCustomLayer::MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) {
  if (FLayerCollection != nullptr) FLayerCollection->SetScreenCursor(FCursor);
  if (OnMouseMove) OnMouseMove(this, Shift, X, Y);
}

void TCustomLayer::MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) {
  if (FLayerCollection != nullptr) FLayerCollection->SetScreenCursor(crDefault);
  if (OnMouseUp) OnMouseUp(this, Button, Shift, X, Y);
}

}  // namespace raster
