// The calibration table's rules without widgets: record states, commands,
// renumbering, the picking order, and coordinates typed as maps print them.

#include "model/CalibrationEdit.h"
#include "model/CalibrationRecords.h"
#include "model/CalibrationText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

using namespace zv;

namespace {

using R = TCalibrationRecords;

class CountingListener : public TRecordListener {
public:
  int posts = 0;
  void AfterPost() override { ++posts; }
};

// Steps: A append, I insert, E edit, P post, C cancel, D delete, N renumber,
// Mr move to row r, Xv set X, Lv set Lat, Gv set Easting, Sv show Lat as
// derived, Kx,y pick, V Down on the current row.
void RunScript(R& records, const std::string& script) {
  std::istringstream in(script);
  std::string step;
  while (in >> step) {
    const std::string arg = step.substr(1);
    switch (step[0]) {
    case 'A': records.Append(); break;
    case 'I': records.Insert(); break;
    case 'E': records.Edit(); break;
    case 'P': records.Post(); break;
    case 'C': records.Cancel(); break;
    case 'D': records.Delete(); break;
    case 'N': records.Renumber(); break;
    case 'M': records.MoveTo(std::stoi(arg)); break;
    case 'X': records.SetField(R::fX, std::stod(arg)); break;
    case 'L': records.SetField(R::fLat, std::stod(arg)); break;
    case 'G': records.SetField(R::fEasting, std::stod(arg)); break;
    case 'S': records.ShowDerived(records.Cursor(), R::fLat, std::stod(arg)); break;
    case 'K': records.Pick(std::stoi(arg), std::stoi(arg.substr(arg.find(',') + 1))); break;
    case 'V': records.DownFromLastRow(records.Cursor()); break;
    default: FAIL() << "unknown step " << step;
    }
  }
}

std::string Column(const R& records, R::TField field) {
  std::string out;
  for (int row = 0; row < records.RowCount(); ++row) {
    if (!out.empty()) out += ' ';
    const R::TCell cell = records.Field(row, field);
    out += cell ? std::to_string(static_cast<long long>(*cell)) : "-";
  }
  return out;
}

std::string Commands(const R& records) {
  std::string out;
  for (int c = 0; c < 5; ++c) out += records.Enabled(static_cast<TRecordCommand>(c)) ? '1' : '0';
  return out;
}

char StateLetter(TRecordState state) {
  switch (state) {
  case TRecordState::Inactive: return '-';
  case TRecordState::Browse: return 'B';
  case TRecordState::Edit: return 'E';
  case TRecordState::Insert: return 'I';
  }
  return '?';
}

struct RecordCase {
  const char* name;
  const char* script; // after opening with three placed rows, the cursor on row 0
  const char* numbers;
  const char* xs;
  int cursor;
  char state;
  const char* commands; // Insert, Delete, Edit, Post, Cancel
  int posts;
};

const RecordCase kRecordCases[] = {
    {"browsing", "", "1 2 3", "10 20 30", 0, 'B', "11100", 0},
    {"insert goes before the current row", "M1 I", "1 4 2 3", "10 - 20 30", 1, 'I', "11011", 0},
    {"the inserted row keeps its default until renumbered", "M1 I X5 P", "1 4 2 3", "10 5 20 30", 1, 'B', "11100", 1},
    {"renumbering gives every row its place", "M1 I X5 P N", "1 2 3 4", "10 5 20 30", 1, 'B', "11100", 1},
    {"an untouched insert goes when moving on", "M1 I M3", "1 2 3", "10 20 30", 2, 'B', "11100", 0},
    {"a typed insert is saved when moving on", "I X7 M2", "4 1 2 3", "7 10 20 30", 2, 'B', "11100", 1},
    {"cancel restores an edit", "M2 E X99 C", "1 2 3", "10 20 30", 2, 'B', "11100", 0},
    {"typing starts editing", "X99", "1 2 3", "99 20 30", 0, 'E', "11011", 0},
    {"delete of an insert only drops it", "I D", "1 2 3", "10 20 30", 0, 'B', "11100", 0},
    {"delete removes the current row", "M1 D", "1 3", "10 30", 1, 'B', "11100", 0},
    {"Down below the last row appends", "M2 V", "1 2 3 4", "10 20 30 -", 3, 'I', "11011", 0},
    {"Down on an untouched new last row adds none", "M2 V V", "1 2 3 4", "10 20 30 -", 3, 'I', "11011", 0},
    {"Down elsewhere does nothing", "V", "1 2 3", "10 20 30", 0, 'B', "11100", 0},
    {"a pick on a placed row appends", "M1 K5,6", "1 2 3 4", "10 20 30 5", 3, 'B', "11100", 1},
    {"a pick fills a new unplaced row", "M1 I K5,6", "1 4 2 3", "10 5 20 30", 1, 'B', "11100", 1},
    {"picks in a row go in order", "K1,1 L46 K2,2 K3,3", "1 2 3 4 5 6", "10 20 30 1 2 3", 5, 'B', "11100", 4},
};

// Which pair of coordinates each row is given by: the one typed last; the
// other only shows it, and showing it is no edit.
struct PairCase {
  const char* name;
  const char* script;   // on three placed rows, the cursor on row 0
  const char* gridRows; // per row: g given by easting and northing, l by latitude and longitude
  const char* lats;
  char state;
};

const PairCase kPairCases[] = {
    {"rows start with latitude and longitude", "", "lll", "- - -", 'B'},
    {"typing an easting makes the grid the row's", "G612000 P", "gll", "- - -", 'B'},
    {"typing a latitude takes it back", "G612000 P L48 P", "lll", "48 - -", 'B'},
    {"a derived latitude is shown without editing", "G612000 P S49", "gll", "49 - -", 'B'},
    {"a latitude row shows no derived latitude", "S49", "lll", "- - -", 'B'},
    {"cancel gives the pair back", "M1 E G5 C", "lll", "- - -", 'B'},
};

class PairRules : public testing::TestWithParam<PairCase> {};

TEST_P(PairRules, TheTypedPairIsTheRows) {
  const PairCase& c = GetParam();
  R records;
  records.Open();
  for (int x : {10, 20, 30}) RunScript(records, "A X" + std::to_string(x) + " P");
  records.MoveTo(0);
  RunScript(records, c.script);
  std::string grid;
  for (int row = 0; row < records.RowCount(); ++row) {
    grid += records.GridTyped(row) ? 'g' : 'l';
    EXPECT_EQ(records.Derived(row, R::fLat), records.GridTyped(row));
    EXPECT_EQ(records.Derived(row, R::fEasting), !records.GridTyped(row));
  }
  EXPECT_EQ(grid, c.gridRows);
  EXPECT_EQ(records.PickTypingField(1), c.gridRows[0] == 'g' ? R::fEasting : R::fLat);
  EXPECT_EQ(Column(records, R::fLat), c.lats);
  EXPECT_EQ(StateLetter(records.State()), c.state);
}

INSTANTIATE_TEST_SUITE_P(Table, PairRules, testing::ValuesIn(kPairCases), [](const auto& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
});

class RecordRules : public testing::TestWithParam<RecordCase> {};

TEST_P(RecordRules, StatesNumbersAndCommands) {
  const RecordCase& c = GetParam();
  R records;
  CountingListener listener;
  records.SetListener(&listener);
  records.Open();
  for (int x : {10, 20, 30}) RunScript(records, "A X" + std::to_string(x) + " P");
  records.MoveTo(0);
  listener.posts = 0;
  RunScript(records, c.script);
  EXPECT_EQ(Column(records, R::fNo), c.numbers);
  EXPECT_EQ(Column(records, R::fX), c.xs);
  EXPECT_EQ(records.Cursor(), c.cursor);
  EXPECT_EQ(StateLetter(records.State()), c.state);
  EXPECT_EQ(Commands(records), c.commands);
  EXPECT_EQ(listener.posts, c.posts);
}

INSTANTIATE_TEST_SUITE_P(Table, RecordRules, testing::ValuesIn(kRecordCases), [](const auto& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
});

TEST(RecordRules, ClosedRecordsTakeNoCommand) {
  R records;
  EXPECT_EQ(Commands(records), "00000");
  RunScript(records, "A I K1,2");
  EXPECT_EQ(records.RowCount(), 0);
  records.Open();
  EXPECT_EQ(records.PickRow(), 0);
  RunScript(records, "K1,2");
  EXPECT_EQ(Column(records, R::fNo), "1");
  records.Close();
  EXPECT_EQ(StateLetter(records.State()), '-');
  EXPECT_EQ(records.Cursor(), -1);
}

struct CoordinateCase {
  const char* text;
  bool latitude;
  double value; // NaN: refused
};

const double kNo = std::nan("");

const CoordinateCase kCoordinateCases[] = {
    {"46.425", true, 46.425},
    {"-70.5", false, -70.5},
    {"46,4166", true, 46.4166},
    {"46\xC2\xB0" "25.5'N", true, 46.425},
    {"46 25 30 N", true, 46 + 25 / 60.0 + 30 / 3600.0},
    {"N46.425", true, 46.425},
    {"n 46.425", true, 46.425},
    {"70\xC2\xB0" "30'W", false, -70.5},
    {"46\xC2\xB0" "25'30\"S", true, -(46 + 25 / 60.0 + 30 / 3600.0)},
    {"17\xC2\xB0 6' E", false, 17.1},
    {"W 70 30", false, -70.5},
    {"-46 25", true, -(46 + 25 / 60.0)},
    {"90", true, 90},
    {"-180", false, -180},
    {"46\xC2\xB0" "25.000' N", true, 46 + 25 / 60.0},
    {"46 25,5 N", true, 46.425},
    // Refused:
    {"46.425E", true, kNo},   // a longitude's letter
    {"17 N", false, kNo},     // a latitude's letter
    {"-46 N", true, kNo},     // sign and letter
    {"91", true, kNo},        // out of range
    {"180.5 E", false, kNo},  // out of range
    {"46 60 N", true, kNo},   // minutes of 60
    {"46 25 60", true, kNo},  // seconds of 60
    {"46.5 30", true, kNo},   // a fraction before the minutes
    {"46 25 30 15", true, kNo},
    {"25'46\xC2\xB0", true, kNo}, // marks out of their places
    {"46\xC2\xB0\xC2\xB0", true, kNo},
    {"abc", true, kNo},
    {"N", true, kNo},
    {"46.4.1", true, kNo},
    {"nan", false, kNo},
};

class CoordinateForms : public testing::TestWithParam<CoordinateCase> {};

TEST_P(CoordinateForms, Parse) {
  const CoordinateCase& c = GetParam();
  std::optional<double> value;
  std::string error;
  const bool ok = ParseCoordinateCell(c.text, c.latitude, value, error);
  if (std::isnan(c.value)) {
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("Accepted forms"), std::string::npos) << error;
    EXPECT_NE(error.find(c.latitude ? "latitude" : "longitude"), std::string::npos);
  } else {
    ASSERT_TRUE(ok) << error;
    ASSERT_TRUE(value.has_value());
    EXPECT_NEAR(*value, c.value, 1e-12);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CoordinateForms, testing::ValuesIn(kCoordinateCases));

TEST(CoordinateForms, EmptyAndRegionalSeparator) {
  std::optional<double> value = 1.0;
  std::string error;
  EXPECT_TRUE(ParseCoordinateCell("  ", true, value, error));
  EXPECT_FALSE(value.has_value());
  const char saved = DecimalSeparator();
  SetDecimalSeparator(',');
  EXPECT_TRUE(ParseCoordinateCell("46,5", true, value, error));
  EXPECT_EQ(value, 46.5);
  EXPECT_TRUE(ParseCoordinateCell("46 25,5 N", true, value, error));
  EXPECT_NEAR(*value, 46.425, 1e-12);
  SetDecimalSeparator(saved);
}

} // namespace

#include "model/CalibrationHistory.h"

namespace {

std::vector<TCalibrationPoint> PointsAt(std::initializer_list<int> xs) {
  std::vector<TCalibrationPoint> points;
  for (int x : xs) points.push_back({x, 0, 0, 0});
  return points;
}

std::string Xs(const std::vector<TCalibrationPoint>& points) {
  std::string out;
  for (const TCalibrationPoint& p : points) out += std::to_string(p.X) + ' ';
  return out;
}

// The state's points' X values, then "zN" for a UTM plane of zone N.
std::string Xs(const TCalibrationState& state) {
  std::string out = Xs(state.Points);
  if (state.Plane.Setup.Projection == kUtmProjection) out += "z" + std::to_string(state.Plane.Zone) + ' ';
  return out;
}

// Steps: U undo, R redo, a digit pushes a state with that many points
// (X = 1..n) in the plane of the state before, zN the points of the state
// before in UTM zone N (z0 back in latitude and longitude); the expected
// state is Xs after the last step.
struct HistoryCase {
  const char* name;
  const char* steps;
  const char* state;
  bool canUndo, canRedo;
};

const HistoryCase kHistoryCases[] = {
    {"nothing to undo", "", "", false, false},
    {"undo goes back", "1 2 U", "1 ", true, true},
    {"undo to the start", "1 2 U U U", "", false, true},
    {"redo comes forward", "1 2 U U R", "1 ", true, true},
    {"a change drops what redo had", "1 2 3 U U 5", "1 2 3 4 5 ", true, false},
    {"an unchanged state is no change", "1 1 1 U", "", false, true},
    {"a plane change is a step", "2 z33 U", "1 2 ", true, true},
    {"redo brings the plane back", "2 z33 U R", "1 2 z33 ", true, false},
    {"points keep the plane chosen", "2 z33 3 U", "1 2 z33 ", true, true},
    {"undo of points keeps the plane", "2 z33 3 U U", "1 2 ", true, true},
    {"the same plane again is no change", "2 z33 z33 U", "1 2 ", true, true},
    {"another zone is a step", "2 z33 z34 U", "1 2 z33 ", true, true},
};

class HistoryRules : public testing::TestWithParam<HistoryCase> {};

TEST_P(HistoryRules, UndoAndRedo) {
  const HistoryCase& c = GetParam();
  TCalibrationHistory history({});
  std::istringstream in(c.steps);
  std::string step;
  while (in >> step) {
    if (step == "U") history.Undo();
    else if (step == "R") history.Redo();
    else if (step[0] == 'z') {
      TCalibrationState state = history.Current();
      const int zone = std::stoi(step.substr(1));
      state.Plane = zone ? TPlaneChoice{UtmZone("WGS 84", zone, false), zone, false} : TPlaneChoice{};
      if (zone) state.Plane.Setup.Projection = kUtmProjection;
      history.Push(state);
    } else {
      std::vector<TCalibrationPoint> points;
      for (int x = 1; x <= std::stoi(step); ++x) points.push_back({x, 0, 0, 0});
      history.Push({points, history.Current().Plane});
    }
  }
  EXPECT_EQ(Xs(history.Current()), c.state);
  EXPECT_EQ(history.CanUndo(), c.canUndo);
  EXPECT_EQ(history.CanRedo(), c.canRedo);
}

INSTANTIATE_TEST_SUITE_P(Table, HistoryRules, testing::ValuesIn(kHistoryCases), [](const auto& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  return name;
});

TEST(HistoryRules, KeepsTheNewestChanges) {
  TCalibrationHistory history(PointsAt({0}));
  for (int i = 1; i <= static_cast<int>(TCalibrationHistory::kMaxChanges) + 10; ++i) history.Push(PointsAt({i}));
  int undone = 0;
  while (history.CanUndo()) {
    history.Undo();
    ++undone;
  }
  EXPECT_EQ(undone, static_cast<int>(TCalibrationHistory::kMaxChanges));
  EXPECT_EQ(Xs(history.Current()), "10 ");
}

} // namespace
