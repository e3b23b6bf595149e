// The navigator's rules without a widget: order, new layout names, moves.

#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"
#include "model/NavigatorRules.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace zv;

TEST(NavigatorRules, NamesCompareWithAsciiCaseFolded) {
  const struct {
    const char *A, *B;
    int Sign;
  } cases[] = {{"abc", "ABC", 0}, {"a", "b", -1},         {"B", "a", 1}, {"ab", "abc", -1},
               {"", "", 0},       {"_", "a", 1}, // '_' (0x5F) after 'A' (0x41) once folded
               {"\xC4", "z", 1},  {"Map 10", "map 9", -1}};
  for (const auto& c : cases) {
    const int got = CompareNavigatorNames(c.A, c.B);
    EXPECT_EQ((got > 0) - (got < 0), c.Sign) << c.A << " / " << c.B;
  }
  // Among equal names the active row comes first; otherwise the name decides.
  EXPECT_TRUE(NavigatorRowBefore("map", true, "MAP", false));
  EXPECT_FALSE(NavigatorRowBefore("map", false, "MAP", true));
  EXPECT_FALSE(NavigatorRowBefore("map", false, "MAP", false));
  EXPECT_FALSE(NavigatorRowBefore("b", true, "a", false));
}

TEST(NavigatorRules, UniqueLayoutNames) {
  TDisplayMapsCore view;
  EXPECT_EQ(UniqueLayoutName(*view.Layouts), "New Layout");
  view.Layouts->AddLayout("new layout");
  EXPECT_EQ(UniqueLayoutName(*view.Layouts), "New Layout (2)");
  view.Layouts->AddLayout("New Layout (2)");
  view.Layouts->AddLayout("New Layout (4)");
  EXPECT_EQ(UniqueLayoutName(*view.Layouts), "New Layout (3)");
}

TEST(NavigatorRules, MovingAMapKeepsItAndTheActiveLayoutFollows) {
  TDisplayMapsCore view;
  std::vector<std::string> heard;
  view.Hooks.OnMapAreasChange = [&](TMapArea* a, TListChange c) {
    heard.push_back((c == lcAdded ? "+" : "-") + a->Name + "@" + a->Layout->Name);
  };
  TMapLayout* from = view.Layouts->AddLayout("From");
  TMapLayout* to = view.Layouts->AddLayout("To");
  auto make = [&](const std::string& name) {
    auto area = std::make_unique<TMapArea>(&view, from);
    area->Name = name;
    return from->Areas->Add(std::move(area));
  };
  TMapArea* shown = make("shown");
  TMapArea* other = make("other");
  view.ShowMapArea(shown);
  ASSERT_EQ(view.ActiveLayout(), from);
  heard.clear();

  EXPECT_TRUE(MoveMapArea(view, *other, *to)); // not active: the active layout stays
  EXPECT_EQ(other->Layout, to);
  EXPECT_EQ(view.ActiveLayout(), from);
  EXPECT_TRUE(MoveMapArea(view, *shown, *to)); // the shown map takes the active layout along
  EXPECT_EQ(view.ActiveLayout(), to);
  EXPECT_EQ(view.ActiveMapArea(), shown);
  EXPECT_TRUE(shown->Shown);
  EXPECT_EQ(heard, (std::vector<std::string>{"+other@To", "+shown@To"})); // only the additions
  EXPECT_EQ(from->Areas->Count(), 0);
  EXPECT_EQ(to->Areas->Count(), 2);

  EXPECT_FALSE(MoveMapArea(view, *shown, *to)); // already there
  EXPECT_EQ(to->Areas->Count(), 2);
  view.Hooks = {};
}
