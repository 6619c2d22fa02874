// The ordered list of layers an image control draws over its bitmap, the layer base class, and
// the view mapping through which layers that follow a view's zoom and scroll learn where the
// view's bitmap lies.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "controls/controls.h"
#include "raster/core.h"

namespace raster {

// An index outside a list's items.
class EListError : public ERasterError {
 public:
  using ERasterError::ERasterError;
};

// Bitmap-to-control mapping of a view. The identity has all four scales FixedOne and both shifts
// 0; a view with an empty bitmap uses it.
struct TViewMapping {
  TFixed ScaleX = FixedOne;  // 16.16 control pixels per bitmap pixel
  TFixed ScaleY = FixedOne;
  std::int32_t ShiftX = 0;  // the control pixel where bitmap pixel (0, 0) lands
  std::int32_t ShiftY = 0;
  TFixed InvScaleX = FixedOne;  // 16.16 bitmap pixels per control pixel
  TFixed InvScaleY = FixedOne;
  friend bool operator==(const TViewMapping&, const TViewMapping&) = default;
};
constexpr TViewMapping IdentityMapping{};

// Layer option word bits.
constexpr std::uint32_t loVisible = 0x80000000u;      // painted by the default layers stage
constexpr std::uint32_t loGdiOverlay = 0x40000000u;   // PaintGDI after the buffer is shown
constexpr std::uint32_t loMouseEvents = 0x20000000u;  // hit-tested and given mouse input
constexpr std::uint32_t loNoUpdate = 0x10000000u;     // changes do not notify the collection
constexpr std::uint32_t loNoCapture = 0x08000000u;    // a left press does not make it listener

// Set of the mouse buttons held down on a layer.
using TLayerStates = std::uint32_t;
constexpr TLayerStates lsMouseLeft = 1, lsMouseRight = 2, lsMouseMiddle = 4;

class TCustomLayer;
class TLayerCollection;

// Creates a layer of one class in a collection; the C++ form of a layer class reference.
using TLayerClass = TCustomLayer* (*)(TLayerCollection* Collection);
template <class T>
TCustomLayer* CreateLayer(TLayerCollection* Collection) {
  return new T(Collection);
}

using THitTestEvent =
    std::function<void(TObject* Sender, std::int32_t X, std::int32_t Y, bool& Passed)>;
using TLayerMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift,
                                            std::int32_t X, std::int32_t Y)>;
using TLayerMouseMoveEvent =
    std::function<void(TObject* Sender, TShiftState Shift, std::int32_t X, std::int32_t Y)>;
using TPaintLayerEvent = std::function<void(TObject* Sender, TBitmap32* Buffer)>;

// Owns its layers: Delete, Clear and the destructor free them; a layer freed elsewhere leaves
// the collection by itself. Index 0 is painted first (bottom).
class TLayerCollection : public TPersistent {
 public:
  // Owner is the component the collection belongs to (an image control, or nullptr).
  explicit TLayerCollection(TObject* Owner = nullptr);
  ~TLayerCollection() override;
  TLayerCollection(const TLayerCollection&) = delete;
  TLayerCollection& operator=(const TLayerCollection&) = delete;
  const char* ClassName() const override { return "TLayerCollection"; }

  // The new layer goes on top.
  TCustomLayer* Add(TLayerClass LayerClass);
  template <class T>
  T* Add() {
    return static_cast<T*>(Add(&CreateLayer<T>));
  }
  TCustomLayer* Insert(std::int32_t Index, TLayerClass LayerClass);
  void Delete(std::int32_t Index);
  // Takes Layer out of the collection and frees it, as Delete with its index: the layer reports
  // to its notify list and leaves, which the collection announces once. Raises EListError for a
  // layer that is not one of this collection's.
  void DeleteLayer(TCustomLayer* Layer);
  void Clear();
  std::int32_t Count() const { return std::int32_t(FItems.size()); }
  // Raise EListError for an index outside 0 .. Count - 1.
  TCustomLayer* Items(std::int32_t Index) const;
  // Assigns Value's properties to the layer already at Index.
  void SetItems(std::int32_t Index, const TCustomLayer* Value);

  // Another collection: its layers are recreated here (same classes, assigned properties).
  void Assign(const TPersistent* Source) override;

  void BeginUpdate();
  void EndUpdate();
  void Changed();
  void Changing();
  void GDIUpdate();

  void InsertItem(TCustomLayer* Layer);
  void RemoveItem(TCustomLayer* Layer);

  // The topmost layer sharing a bit with OptionMask that is hit at (X, Y), or nullptr.
  TCustomLayer* FindLayerAtPos(std::int32_t X, std::int32_t Y, std::uint32_t OptionMask);
  // Route one mouse event (control pixels); each returns the layer that took it, or nullptr.
  TCustomLayer* MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y);
  TCustomLayer* MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y);
  TCustomLayer* MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y);

  bool MouseEvents() const { return FMouseEvents; }
  void SetMouseEvents(bool Value);
  TCustomLayer* MouseListener() const { return FMouseListener; }
  void SetMouseListener(TCustomLayer* Value);

  // The owning view's mapping, or nullptr when the owner is no image control.
  TViewMapping* Mapping() const { return FMapping; }
  void SetMapping(TViewMapping* Value) { FMapping = Value; }
  std::int32_t UpdateCount() const { return FUpdateCount; }
  TObject* GetOwner() const { return FOwner; }
  // Sets the cursor shown on screen, through the owning control (nothing without one).
  void SetScreenCursor(TCursor Cursor);

  TNotifyEvent OnChanging;
  TNotifyEvent OnChange;
  TNotifyEvent OnGDIUpdate;

 private:
  friend class TCustomLayer;

  // Frees a layer after its OnDestroy.
  static void FreeLayer(TCustomLayer* Layer);

  TViewMapping* FMapping = nullptr;
  std::vector<TCustomLayer*> FItems;
  bool FMouseEvents = true;
  TCustomLayer* FMouseListener = nullptr;
  std::int32_t FUpdateCount = 0;
  TObject* FOwner = nullptr;
};

class TCustomLayer : public TPersistent {
 public:
  // Puts the layer on top of Collection (which may be nullptr); options loVisible only.
  explicit TCustomLayer(TLayerCollection* Collection);
  // Tells the layers in the notify list, then leaves the collection. OnDestroy runs first
  // (BeforeDestruction, unless an owner or a derived destructor ran it already).
  ~TCustomLayer() override;
  TCustomLayer(const TCustomLayer&) = delete;
  TCustomLayer& operator=(const TCustomLayer&) = delete;
  const char* ClassName() const override { return "TCustomLayer"; }
  // Every layer class overrides this with &CreateLayer<ItsClass>, so that a collection's Assign
  // recreates layers of the right class.
  virtual TLayerClass GetLayerClass() const { return &CreateLayer<TCustomLayer>; }

  // Fires OnDestroy, once, while the layer is still whole: a C++ destructor has already
  // destroyed the derived parts when the base's runs, so owners call this before they free a
  // layer (the collection does), and every layer class of the engine calls it first thing in
  // its own destructor, so that a layer freed by a plain delete reports while whole as well.
  void BeforeDestruction();

  void AddNotification(TCustomLayer* Layer);
  void RemoveNotification(TCustomLayer* Layer);

  void Changing();
  void Changed();
  void DoPaint(TBitmap32* Buffer);
  bool HitTest(std::int32_t X, std::int32_t Y);
  void BringToFront();
  void SendToBack();
  void SetAsMouseListener();

  std::int32_t GetIndex() const;
  virtual void SetIndex(std::int32_t NewIndex);
  TLayerCollection* LayerCollection() const { return FLayerCollection; }
  void SetLayerCollection(TLayerCollection* Value);
  std::uint32_t LayerOptions() const { return FLayerOptions; }
  void SetLayerOptions(std::uint32_t Value);
  TLayerStates LayerStates() const { return FLayerStates; }
  bool GetVisible() const { return (FLayerOptions & loVisible) != 0; }
  void SetVisible(bool Value);
  bool GetMouseEvents() const { return (FLayerOptions & loMouseEvents) != 0; }
  void SetMouseEvents(bool Value);
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);

  // Called by other layers' destructors for layers that asked through AddNotification.
  virtual void Notification(TCustomLayer* ALayer);
  virtual void Paint(TBitmap32* Buffer);
  // Draws onto the window through Canvas (its Blit) after the buffer was shown.
  virtual void PaintGDI(TControl& Canvas);
  virtual bool DoHitTest(std::int32_t X, std::int32_t Y);
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y);
  virtual void MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y);

  THitTestEvent OnHitTest;
  TLayerMouseEvent OnMouseDown;
  TLayerMouseMoveEvent OnMouseMove;
  TLayerMouseEvent OnMouseUp;
  TPaintLayerEvent OnPaint;
  TNotifyEvent OnDestroy;

 protected:
  // Copies the base properties (Cursor, LayerOptions) into another layer.
  void AssignTo(TPersistent* Dest) const override;

 private:
  friend class TLayerCollection;

  bool FDestroyNotified = false;
  TCursor FCursor = crDefault;
  std::unique_ptr<std::vector<TCustomLayer*>> FNotifyList;
  TLayerCollection* FLayerCollection = nullptr;
  TLayerStates FLayerStates = 0;
  std::uint32_t FLayerOptions = 0;
};

}  // namespace raster
