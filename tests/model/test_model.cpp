// Ownership and notification order of the map model and the view core.

#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <string>
#include <vector>

using namespace zv;

namespace {

// Records every hook call as text; objects are named when announced, so a
// removed (destroyed) object is still reported by the name it had.
class Recorder {
public:
  // The view outlives the recorder in the fixtures, so the recorder unhooks itself.
  ~Recorder() { view_.Hooks = {}; }
  explicit Recorder(TDisplayMapsCore& view) : view_(view) {
    view.Hooks.OnLayoutsChange = [this](TMapLayout* l, TListChange c) {
      if (c == lcAdded) names_[l] = l->Name;
      events.push_back(std::string(c == lcAdded ? "+L " : "-L ") + NameOf(l));
    };
    view.Hooks.OnMapAreasChange = [this](TMapArea* a, TListChange c) {
      if (c == lcAdded) names_[a] = a->Name;
      events.push_back(std::string(c == lcAdded ? "+A " : "-A ") + NameOf(a));
    };
    view.Hooks.OnActiveMapAreaChange = [this](TDisplayMapsCore* v) {
      events.push_back("activeArea " + (v->ActiveMapArea() ? NameOf(v->ActiveMapArea()) : std::string("none")));
    };
    view.Hooks.OnActiveLayoutChange = [this](TDisplayMapsCore* v) {
      events.push_back("activeLayout " + (v->ActiveLayout() ? NameOf(v->ActiveLayout()) : std::string("none")));
    };
  }
  std::string NameOf(const void* p) {
    auto it = names_.find(p);
    return it == names_.end() ? "?" : it->second;
  }
  std::vector<std::string> Take() { return std::exchange(events, {}); }
  std::vector<std::string> events;

private:
  TDisplayMapsCore& view_;
  std::map<const void*, std::string> names_;
};

using Events = std::vector<std::string>;

// An area made through the only public road, loaded from a file that does
// not exist (silent: no lines, no picture).
TMapArea* NewArea(TMapLayout* layout, const std::string& name, const std::string& fileName) {
  return layout->Areas->AddMapArea(name, "", fileName);
}

struct ModelTest : ::testing::Test {
  TDisplayMapsCore view;
  Recorder rec{view};
  TMapLayout* AddLayout(const std::string& name) {
    return view.Layouts->AddLayout(name);
  }
};

} // namespace

TEST_F(ModelTest, FreshObjectsAreEmpty) {
  TMapLayout* l = AddLayout("L");
  TMapArea area(&view, l);
  EXPECT_TRUE(area.Points.empty() && area.Lines.empty() && area.Images.empty());
  EXPECT_EQ(area.Width, 0);
  EXPECT_EQ(area.Height, 0);
  EXPECT_FALSE(area.Shown);
  TMapImage image(&view, &area);
  EXPECT_EQ(image.X, 0);
  EXPECT_EQ(image.Y, 0);
  EXPECT_TRUE(image.Bitmap.Empty());
  TCalibrationPoint p;
  EXPECT_EQ(p.X, 0);
  EXPECT_EQ(p.Lat, 0);
  TMapLayout bare(&view);
  EXPECT_TRUE(bare.Name.empty());
  EXPECT_EQ(bare.Areas->Layout, &bare);
}

TEST_F(ModelTest, RemovingActiveAreaClearsActiveStateAfterRemovalHook) {
  TMapLayout* l = AddLayout("L");
  TMapArea* a = NewArea(l, "a", "/nonexistent/a.map");
  view.ShowMapArea(a);
  EXPECT_EQ((Events{"+L L", "+A a", "activeLayout L", "activeArea a"}), rec.Take());
  l->Areas->Remove(a, true);
  EXPECT_EQ((Events{"-A a", "activeLayout none", "activeArea none"}), rec.Take());
  EXPECT_EQ(view.ActiveMapArea(), nullptr);
  EXPECT_EQ(view.ActiveLayout(), nullptr);
}

TEST_F(ModelTest, RemovingActiveLayoutWithoutActiveAreaClearsActiveLayout) {
  TMapLayout* l = AddLayout("L");
  view.SetActiveLayout(l);
  view.SetActiveLayout(l); // no change, no hook
  EXPECT_EQ((Events{"+L L", "activeLayout L"}), rec.Take());
  view.Layouts->Remove(l);
  EXPECT_EQ((Events{"activeLayout none", "-L L"}), rec.Take());
  EXPECT_EQ(view.ActiveLayout(), nullptr);
  EXPECT_EQ(view.Layouts->Count(), 0);
}

TEST_F(ModelTest, RemovingLayoutRemovesAreasLastFirst) {
  TMapLayout* l = AddLayout("L");
  TMapLayout* other = AddLayout("Other");
  NewArea(l, "1", "1.map");
  NewArea(l, "2", "2.map");
  TMapArea* third = NewArea(l, "3", "3.map");
  view.ShowMapArea(third);
  rec.Take();
  view.Layouts->Remove(l);
  EXPECT_EQ((Events{"-A 3", "activeLayout none", "activeArea none", "-A 2", "-A 1", "-L L"}), rec.Take());
  ASSERT_EQ(view.Layouts->Count(), 1);
  EXPECT_EQ((*view.Layouts)[0], other);
}

TEST_F(ModelTest, DuplicateQuestion) {
  TMapLayout* l = AddLayout("Topo");
  TMapArea* old = NewArea(l, "north", "north.map");
  rec.Take();
  std::vector<std::string> asked;
  bool answer = false;
  view.Question = [&](const std::string& text) {
    asked.push_back(text);
    return answer;
  };
  // No: the very same area, nothing fires.
  EXPECT_EQ(l->Areas->AddMapArea("again", "", "north.map"), old);
  EXPECT_EQ((std::vector<std::string>{"[Topo.north] already exists. Do you want to reload it ?"}), asked);
  EXPECT_TRUE(rec.Take().empty());
  // Letter case counts, and so does the layout.
  TMapArea* upper = NewArea(l, "N", "NORTH.map");
  TMapLayout* l2 = AddLayout("Other");
  TMapArea* inOther = NewArea(l2, "north2", "north.map");
  EXPECT_NE(upper, old);
  EXPECT_NE(inOther, old);
  EXPECT_EQ(asked.size(), 1u);
  rec.Take();
  // Yes: the old one goes, the new one is announced.
  answer = true;
  TMapArea* fresh = l->Areas->AddMapArea("fresh", "", "north.map");
  EXPECT_EQ((Events{"-A north", "+A fresh"}), rec.Take());
  EXPECT_EQ(l->Areas->Count(), 2);
  EXPECT_EQ((*l->Areas)[1], fresh);
}

TEST_F(ModelTest, DuplicateQuestionWithoutAnswererKeepsOldAndEmptyNamesMatch) {
  TMapLayout* l = AddLayout("L");
  TMapArea* a = NewArea(l, "a", "");
  EXPECT_EQ(l->Areas->AddMapArea("b", "", ""), a);
  EXPECT_EQ(l->Areas->Count(), 1);
}

TEST_F(ModelTest, FindLayoutIgnoresCaseAndAddLayoutNeverChecks) {
  TMapLayout* d = AddLayout("Default");
  EXPECT_EQ(view.Layouts->FindLayout("default"), d);
  EXPECT_EQ(view.Layouts->FindLayout("DEFAULT"), d);
  EXPECT_EQ(view.Layouts->FindLayout("Defaul"), nullptr);
  TMapLayout* d2 = AddLayout("Default");
  EXPECT_NE(d2, d);
  EXPECT_EQ(view.Layouts->Count(), 2);
  EXPECT_EQ(view.Layouts->FindLayout("Default"), d);
  EXPECT_EQ(view.Layouts->IndexOf(d2), 1);
}

TEST_F(ModelTest, ExtractAndAddMoveAnAreaBetweenLayouts) {
  TMapLayout* a = AddLayout("A");
  TMapLayout* b = AddLayout("B");
  TMapArea* m = NewArea(a, "m", "m.map");
  rec.Take();
  std::unique_ptr<TMapArea> owned = a->Areas->Extract(m);
  EXPECT_TRUE(rec.Take().empty());
  b->Areas->Add(std::move(owned));
  EXPECT_EQ((Events{"+A m"}), rec.Take());
  EXPECT_EQ(m->Layout, b);
  EXPECT_EQ(a->Areas->Count(), 0);
  EXPECT_EQ(b->Areas->IndexOf(m), 0);
  // Remove without freeing hands the area back, announced as removed.
  std::unique_ptr<TMapArea> back = b->Areas->Remove(m, false);
  EXPECT_EQ(back.get(), m);
  EXPECT_EQ((Events{"-A m"}), rec.Take());
}

TEST_F(ModelTest, ShowMapAreaMarksOnlyOneAndFollowsLayout) {
  TMapLayout* l1 = AddLayout("L1");
  TMapLayout* l2 = AddLayout("L2");
  TMapArea* a1 = NewArea(l1, "a1", "a1.map");
  TMapArea* a2 = NewArea(l2, "a2", "a2.map");
  a1->Width = 3000;
  a1->Height = 2000;
  a2->Width = 500;
  a2->Height = 400;
  view.ShowMapArea(a1);
  EXPECT_EQ(view.ExtentWidth, 3000);
  view.SetOffsetX(77);
  view.SetOffsetY(55);
  rec.Take();
  view.ShowMapArea(a2);
  EXPECT_EQ((Events{"activeLayout L2", "activeArea a2"}), rec.Take());
  EXPECT_FALSE(a1->Shown);
  EXPECT_TRUE(a2->Shown);
  EXPECT_EQ(view.ActiveLayout(), l2);
  EXPECT_EQ(view.ExtentWidth, 500);
  EXPECT_EQ(view.ExtentHeight, 400);
  EXPECT_EQ(view.OffsetX(), 0);
  EXPECT_EQ(view.OffsetY(), 0);
  // Again: no hook, offsets reset anyway.
  view.SetOffsetX(9);
  view.ShowMapArea(a2);
  EXPECT_TRUE(rec.Take().empty());
  EXPECT_EQ(view.OffsetX(), 0);
  // An area in no layout: nothing shown, extent 0.
  TMapArea stray(&view, nullptr);
  view.ShowMapArea(&stray);
  EXPECT_FALSE(a2->Shown);
  EXPECT_EQ(view.ExtentWidth, 0);
  EXPECT_EQ(view.ActiveMapArea(), a2);
}

TEST_F(ModelTest, CloseAllClearsEverything) {
  TMapLayout* l1 = AddLayout("L1");
  AddLayout("L2");
  NewArea(l1, "a", "a.map");
  view.SetActiveLayout(l1);
  rec.Take();
  view.CloseAll();
  EXPECT_EQ((Events{"-L L2", "-A a", "activeLayout none", "-L L1"}), rec.Take());
  EXPECT_EQ(view.Layouts->Count(), 0);
  EXPECT_EQ(view.ActiveLayout(), nullptr);
  EXPECT_EQ(view.ActiveMapArea(), nullptr);
}

TEST(ModelDestruction, EveryRemovalHookFiresWhileHooksAreSet) {
  std::vector<std::string> events;
  {
    TDisplayMapsCore view;
    view.Hooks.OnLayoutsChange = [&](TMapLayout* l, TListChange c) {
      if (c == lcRemoved) events.push_back("-L");
      (void)l;
    };
    view.Hooks.OnMapAreasChange = [&](TMapArea*, TListChange c) {
      if (c == lcRemoved) events.push_back("-A");
    };
    view.Hooks.OnActiveMapAreaChange = [&](TDisplayMapsCore* v) {
      events.push_back(v->ActiveMapArea() ? "area" : "area none");
    };
    view.Hooks.OnActiveLayoutChange = [&](TDisplayMapsCore* v) {
      events.push_back(v->ActiveLayout() ? "layout" : "layout none");
    };
    TMapLayout* l = view.Layouts->AddLayout("L");
    TMapArea* a = l->Areas->AddMapArea("a", "", "a.map");
    l->Areas->AddMapArea("b", "", "b.map");
    view.ShowMapArea(a);
    events.clear();
  }
  EXPECT_EQ((std::vector<std::string>{"-A", "-A", "layout none", "area none", "-L"}), events);
}

TEST(ModelOptions, OptionBitsAndSetters) {
  TDisplayMapsCore view;
  EXPECT_EQ(view.Options(), 0);
  view.SetOptions(OptionBit(mpoShowImageBorder));
  EXPECT_TRUE(view.HasOption(mpoShowImageBorder));
  EXPECT_FALSE(view.HasOption(mpoShowCalibrationPoints));
  EXPECT_EQ(OptionBit(mpoShowCalibrationPoints), 1);
  EXPECT_EQ(OptionBit(mpoShowImageBorder), 2);
}
