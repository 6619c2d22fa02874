#include "controls/layers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controls/controls.h"

namespace raster {
namespace {

// A layer hit inside a rectangle, recording what reaches it.
class TRectLayer : public TCustomLayer {
 public:
  explicit TRectLayer(TLayerCollection* Collection) : TCustomLayer(Collection) {}
  const char* ClassName() const override { return "TRectLayer"; }
  TLayerClass GetLayerClass() const override { return &CreateLayer<TRectLayer>; }

  TRect Bounds{0, 0, 10, 10};
  std::vector<std::string> Log;
  std::vector<TCustomLayer*> Notified;

  bool DoHitTest(std::int32_t X, std::int32_t Y) override { return PtInRect(Bounds, {X, Y}); }
  void Notification(TCustomLayer* ALayer) override { Notified.push_back(ALayer); }
  void MouseDown(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override {
    Log.push_back("down " + std::to_string(X) + "," + std::to_string(Y));
    TCustomLayer::MouseDown(Button, Shift, X, Y);
  }
  void MouseMove(TShiftState Shift, std::int32_t X, std::int32_t Y) override {
    Log.push_back("move " + std::to_string(X) + "," + std::to_string(Y));
    TCustomLayer::MouseMove(Shift, X, Y);
  }
  void MouseUp(TMouseButton Button, TShiftState Shift, std::int32_t X, std::int32_t Y) override {
    Log.push_back("up " + std::to_string(X) + "," + std::to_string(Y));
    TCustomLayer::MouseUp(Button, Shift, X, Y);
  }
};

// Counts the collection's notifications.
struct TCollectionSpy {
  explicit TCollectionSpy(TLayerCollection& C) {
    C.OnChange = [this](TObject*) { ++Changes; };
    C.OnChanging = [this](TObject*) { ++Changings; };
    C.OnGDIUpdate = [this](TObject*) { ++GDIUpdates; };
  }
  int Changes = 0, Changings = 0, GDIUpdates = 0;
};

// An owner control of Size x Size, sized before anything is built on it.
struct TSizedOwner {
  explicit TSizedOwner(std::int32_t Size) { owner.SetBounds(0, 0, Size, Size); }
  TControl owner;
};
// Layers on such an owner in a headless host, which shows the listener's cursor.
struct THostedLayers : TSizedOwner {
  explicit THostedLayers(std::int32_t Size) : TSizedOwner(Size) {}
  THeadlessHost host{owner};
  TLayerCollection layers{&owner};
};

TEST(LayerCollection, NewLayersGoOnTopAndStartVisibleOnly) {
  TLayerCollection layers;
  auto* a = layers.Add<TRectLayer>();
  auto* b = layers.Add<TRectLayer>();
  auto* c = layers.Add<TRectLayer>();
  ASSERT_EQ(layers.Count(), 3);
  EXPECT_EQ(a->GetIndex(), 0);
  EXPECT_EQ(b->GetIndex(), 1);
  EXPECT_EQ(c->GetIndex(), 2);
  EXPECT_EQ(layers.Items(2), c);
  EXPECT_EQ(c->LayerCollection(), &layers);
  EXPECT_EQ(c->LayerOptions(), loVisible);
  EXPECT_EQ(layers.Mapping(), nullptr);
  EXPECT_TRUE(layers.MouseEvents());

  TCustomLayer loose(nullptr);
  EXPECT_EQ(loose.GetIndex(), -1);
  loose.SetIndex(3);  // no collection: nothing to move
  EXPECT_EQ(loose.GetIndex(), -1);
}

TEST(LayerCollection, EachStructuralChangeNotifiesOnce) {
  TLayerCollection layers;
  TCollectionSpy spy(layers);
  auto* a = layers.Add<TRectLayer>();
  EXPECT_EQ(spy.Changes, 1);
  EXPECT_EQ(spy.Changings, 1);
  layers.Add<TRectLayer>();
  auto* c = layers.Add<TRectLayer>();
  EXPECT_EQ(spy.Changes, 3);

  // The top layer brought to the front: nothing moves, nothing is sent.
  c->BringToFront();
  EXPECT_EQ(c->GetIndex(), 2);
  EXPECT_EQ(spy.Changes, 3);
  EXPECT_EQ(spy.Changings, 3);

  // The third layer sent to the back: one notification.
  c->SendToBack();
  EXPECT_EQ(c->GetIndex(), 0);
  EXPECT_EQ(a->GetIndex(), 1);
  EXPECT_EQ(spy.Changes, 4);

  // Out-of-range indices are clamped.
  c->SetIndex(99);
  EXPECT_EQ(c->GetIndex(), 2);
  c->SetIndex(-7);
  EXPECT_EQ(c->GetIndex(), 0);
  EXPECT_EQ(spy.Changes, 6);

  // Moving an invisible layer is not bracketed, so it sends nothing.
  c->SetVisible(false);
  const int before = spy.Changes;
  c->SetIndex(2);
  EXPECT_EQ(c->GetIndex(), 2);
  EXPECT_EQ(spy.Changes, before);

  // Insert is one bracket around Add and SetIndex.
  const int beforeInsert = spy.Changes;
  auto* bottom = layers.Insert(0, &CreateLayer<TRectLayer>);
  EXPECT_EQ(bottom->GetIndex(), 0);
  EXPECT_EQ(spy.Changes, beforeInsert + 1);

  // Delete, DeleteLayer and Clear: one each.
  layers.Delete(1);
  EXPECT_EQ(layers.Count(), 3);
  EXPECT_EQ(spy.Changes, beforeInsert + 2);
  const int changings = spy.Changings;
  layers.DeleteLayer(bottom);
  EXPECT_EQ(layers.Count(), 2);
  EXPECT_EQ(spy.Changes, beforeInsert + 3);
  EXPECT_EQ(spy.Changings, changings + 1);
  layers.Clear();
  EXPECT_EQ(layers.Count(), 0);
  EXPECT_EQ(spy.Changes, beforeInsert + 4);
}

TEST(LayerCollection, LayerChangesReachTheCollectionByOption) {
  TLayerCollection layers;
  auto* layer = layers.Add<TRectLayer>();
  TCollectionSpy spy(layers);

  layer->Changed();
  EXPECT_EQ(spy.Changes, 1);
  EXPECT_EQ(spy.GDIUpdates, 0);

  // Hiding a shown layer must repaint what lay beneath it.
  layer->SetVisible(false);
  EXPECT_FALSE(layer->GetVisible());
  EXPECT_EQ(spy.Changes, 2);
  // Hidden: its own changes no longer matter to the picture.
  layer->Changed();
  EXPECT_EQ(spy.Changes, 2);

  // A hidden window-overlay layer asks for an immediate repaint from the buffer instead.
  layer->SetLayerOptions(loGdiOverlay);
  EXPECT_EQ(spy.GDIUpdates, 1);
  layer->Changed();
  EXPECT_EQ(spy.GDIUpdates, 2);
  layers.BeginUpdate();
  layer->Changed();  // GDIUpdate waits for the update to end
  EXPECT_EQ(spy.GDIUpdates, 2);
  layers.EndUpdate();

  // loNoUpdate silences it entirely.
  layer->SetLayerOptions(loVisible | loNoUpdate);
  const int changes = spy.Changes;
  layer->Changed();
  layer->SetVisible(false);
  EXPECT_EQ(spy.Changes, changes);

  layer->SetLayerOptions(loVisible);
  layer->SetMouseEvents(true);
  EXPECT_TRUE(layer->GetMouseEvents());
  EXPECT_EQ(layer->LayerOptions(), loVisible | loMouseEvents);
}

TEST(LayerCollection, UpdateBracketsNestAndMustPair) {
  TLayerCollection layers;
  TCollectionSpy spy(layers);
  layers.BeginUpdate();
  layers.BeginUpdate();
  EXPECT_EQ(spy.Changings, 1);
  layers.Add<TRectLayer>();
  layers.EndUpdate();
  EXPECT_EQ(spy.Changes, 0);
  layers.EndUpdate();
  EXPECT_EQ(spy.Changes, 1);
  EXPECT_EQ(layers.UpdateCount(), 0);
  try {
    layers.EndUpdate();
    FAIL() << "an unpaired EndUpdate must fail";
  } catch (const EAssertionFailed& e) {
    EXPECT_STREQ(e.what(), "Unpaired EndUpdate");
  }
}

TEST(LayerCollection, FindLayerAtPosTakesTheTopmostLayerWithTheMask) {
  TLayerCollection layers;
  auto* low = layers.Add<TRectLayer>();
  auto* high = layers.Add<TRectLayer>();
  auto* plain = layers.Add<TRectLayer>();  // on top, but without loMouseEvents
  low->Bounds = {0, 0, 20, 20};
  high->Bounds = {10, 10, 30, 30};
  plain->Bounds = {0, 0, 100, 100};
  low->SetMouseEvents(true);
  high->SetMouseEvents(true);

  EXPECT_EQ(layers.FindLayerAtPos(15, 15, loMouseEvents), high);
  EXPECT_EQ(layers.FindLayerAtPos(5, 5, loMouseEvents), low);
  EXPECT_EQ(layers.FindLayerAtPos(50, 50, loMouseEvents), nullptr);
  EXPECT_EQ(layers.FindLayerAtPos(50, 50, loVisible), plain);

  // OnHitTest has the last word.
  high->OnHitTest = [](TObject*, std::int32_t, std::int32_t, bool& Passed) { Passed = false; };
  EXPECT_EQ(layers.FindLayerAtPos(15, 15, loMouseEvents), low);
  EXPECT_FALSE(high->HitTest(15, 15));
  // The base layer is hit everywhere.
  TCustomLayer base(&layers);
  EXPECT_TRUE(base.HitTest(-1000, 1000));
}

TEST(LayerCollection, LeftPressCapturesTheLayerUntilAllButtonsAreUp) {
  THostedLayers hosted(100);
  TLayerCollection& layers = hosted.layers;
  const THeadlessHost& host = hosted.host;
  auto* a = layers.Add<TRectLayer>();
  auto* b = layers.Add<TRectLayer>();
  a->Bounds = {0, 0, 10, 10};
  b->Bounds = {50, 50, 60, 60};
  a->SetMouseEvents(true);
  b->SetMouseEvents(true);
  a->SetCursor(crHandPoint);

  EXPECT_EQ(layers.MouseDown(mbLeft, 0, 5, 5), a);
  EXPECT_EQ(layers.MouseListener(), a);
  EXPECT_EQ(a->LayerStates(), lsMouseLeft);
  EXPECT_EQ(layers.MouseDown(mbRight, 0, 6, 6), a);
  EXPECT_EQ(a->LayerStates(), lsMouseLeft | lsMouseRight);

  // The listener gets moves anywhere, also over another layer, and shows its cursor.
  EXPECT_EQ(layers.MouseMove(0, 55, 55), a);
  EXPECT_EQ(host.Cursor(), crHandPoint);
  EXPECT_TRUE(b->Log.empty());

  EXPECT_EQ(layers.MouseUp(mbLeft, 0, 55, 55), a);
  EXPECT_EQ(layers.MouseListener(), a);  // the right button is still down
  EXPECT_EQ(layers.MouseUp(mbRight, 0, 56, 56), a);
  EXPECT_EQ(layers.MouseListener(), nullptr);
  EXPECT_EQ(a->LayerStates(), 0u);
  EXPECT_EQ(host.Cursor(), crDefault);
  const std::vector<std::string> expected = {"down 5,5", "down 6,6", "move 55,55", "up 55,55",
                                             "up 56,56"};
  EXPECT_EQ(a->Log, expected);

  // Without a listener, moves go to the layer under the mouse, or nowhere.
  EXPECT_EQ(layers.MouseMove(0, 55, 55), b);
  EXPECT_EQ(layers.MouseMove(0, 30, 30), nullptr);
}

TEST(LayerCollection, NoCaptureAndDisabledMouseEvents) {
  TLayerCollection layers;
  auto* a = layers.Add<TRectLayer>();
  a->SetLayerOptions(loVisible | loMouseEvents | loNoCapture);
  EXPECT_EQ(layers.MouseDown(mbLeft, 0, 1, 1), a);
  EXPECT_EQ(layers.MouseListener(), nullptr);
  EXPECT_TRUE(a->Log.empty());  // only a listener receives presses

  a->SetLayerOptions(loVisible | loMouseEvents);
  layers.MouseDown(mbLeft, 0, 1, 1);
  EXPECT_EQ(layers.MouseListener(), a);
  // Turning mouse events off drops the listener and its pressed buttons.
  layers.SetMouseEvents(false);
  EXPECT_EQ(layers.MouseListener(), nullptr);
  EXPECT_EQ(a->LayerStates(), 0u);

  // A listener that is freed leaves no dangling pointer behind.
  layers.SetMouseEvents(true);
  layers.MouseDown(mbLeft, 0, 1, 1);
  ASSERT_EQ(layers.MouseListener(), a);
  delete a;
  EXPECT_EQ(layers.MouseListener(), nullptr);
  EXPECT_EQ(layers.Count(), 0);
  EXPECT_EQ(layers.MouseMove(0, 1, 1), nullptr);
}

TEST(LayerCollection, SetAsMouseListenerShowsTheLayerCursor) {
  THostedLayers hosted(10);
  TLayerCollection& layers = hosted.layers;
  const THeadlessHost& host = hosted.host;
  auto* a = layers.Add<TRectLayer>();
  a->SetCursor(crCross);
  EXPECT_EQ(host.Cursor(), crDefault);  // not the listener yet
  a->SetAsMouseListener();
  EXPECT_EQ(layers.MouseListener(), a);
  EXPECT_EQ(host.Cursor(), crCross);
  a->SetCursor(crSizeAll);
  EXPECT_EQ(host.Cursor(), crSizeAll);
}

TEST(LayerCollection, FreeingAndMovingLayersBetweenCollections) {
  auto* layers = new TLayerCollection;
  TCollectionSpy spy(*layers);
  int destroyed = 0;
  for (int i = 0; i < 3; ++i) {
    layers->Add<TRectLayer>()->OnDestroy = [&destroyed](TObject*) { ++destroyed; };
  }
  auto* other = new TLayerCollection;
  TCustomLayer* moved = layers->Items(1);
  moved->SetLayerCollection(other);
  EXPECT_EQ(layers->Count(), 2);
  EXPECT_EQ(other->Count(), 1);
  EXPECT_EQ(moved->GetIndex(), 0);

  EXPECT_THROW(layers->Items(2), EListError);
  EXPECT_THROW(layers->Delete(-1), EListError);
  // Only a layer of its own: one of another collection stays where it is.
  EXPECT_THROW(layers->DeleteLayer(moved), EListError);
  EXPECT_EQ(other->Count(), 1);
  EXPECT_EQ(destroyed, 0);

  // The destructor frees every layer without a notification.
  const int changes = spy.Changes;
  delete layers;
  EXPECT_EQ(destroyed, 2);
  EXPECT_EQ(spy.Changes, changes);
  delete other;
  EXPECT_EQ(destroyed, 3);
}

// Records the order in which destroyed layers are reported, optionally leaving the list.
struct TWatcher : TCustomLayer {
  using TCustomLayer::TCustomLayer;
  std::vector<TCustomLayer*>* Order = nullptr;
  TCustomLayer* LeaveOnNotify = nullptr;
  void Notification(TCustomLayer* ALayer) override {
    Order->push_back(this);
    EXPECT_NE(ALayer, nullptr);
    if (LeaveOnNotify != nullptr) LeaveOnNotify->RemoveNotification(this);
  }
};

TEST(LayerCollection, DestroyedLayerTellsItsNotifyListLastFirst) {
  TLayerCollection layers;
  std::vector<TCustomLayer*> order;
  auto* subject = layers.Add<TRectLayer>();
  auto* first = new TWatcher(&layers);
  auto* second = new TWatcher(&layers);
  auto* third = new TWatcher(&layers);
  for (TWatcher* w : {first, second, third}) w->Order = &order;
  subject->AddNotification(first);
  subject->AddNotification(second);
  subject->AddNotification(second);  // listed once
  subject->AddNotification(third);
  subject->RemoveNotification(third);
  subject->AddNotification(third);
  // The second one removes itself while being told; the first is still told afterwards.
  second->LeaveOnNotify = subject;
  delete subject;
  const std::vector<TCustomLayer*> expected = {third, second, first};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(layers.Count(), 3);

  // A notified layer that empties the list (and so drops it) ends the round.
  auto* subject2 = layers.Add<TRectLayer>();
  subject2->AddNotification(first);
  first->LeaveOnNotify = subject2;
  order.clear();
  delete subject2;
  EXPECT_EQ(order, std::vector<TCustomLayer*>{first});
}

TEST(LayerCollection, AssignRecreatesLayersOfTheSameClass) {
  TLayerCollection source;
  auto* a = source.Add<TRectLayer>();
  auto* b = source.Add<TCustomLayer>();
  a->SetLayerOptions(loVisible | loMouseEvents);
  a->SetCursor(crHandPoint);
  b->SetVisible(false);

  TLayerCollection copy;
  copy.Add<TCustomLayer>();
  std::vector<int> countsSeen;
  copy.OnChange = [&](TObject*) { countsSeen.push_back(copy.Count()); };
  copy.Assign(&source);
  // Layer property changes notify as they happen; the closing bracket sees the finished copy.
  ASSERT_FALSE(countsSeen.empty());
  EXPECT_EQ(countsSeen.back(), 2);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_STREQ(copy.Items(0)->ClassName(), "TRectLayer");
  EXPECT_STREQ(copy.Items(1)->ClassName(), "TCustomLayer");
  EXPECT_EQ(copy.Items(0)->LayerOptions(), loVisible | loMouseEvents);
  EXPECT_EQ(copy.Items(0)->Cursor(), crHandPoint);
  EXPECT_FALSE(copy.Items(1)->GetVisible());
  EXPECT_EQ(source.Count(), 2);

  // Setting Items assigns properties to the layer that is there.
  copy.SetItems(1, a);
  EXPECT_EQ(copy.Items(1)->LayerOptions(), loVisible | loMouseEvents);
  EXPECT_STREQ(copy.Items(1)->ClassName(), "TCustomLayer");

  TBitmap32 notLayers;
  EXPECT_THROW(copy.Assign(&notLayers), EConvertError);
}

}  // namespace
}  // namespace raster
