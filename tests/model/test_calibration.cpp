// Calibration text: lines, words, numbers and the .map / .gmi parsers.

#include "TestMaps.h"

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "model/CalibrationText.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#define ZV_WITH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZV_WITH_ASAN 1
#endif
#endif
#ifdef ZV_WITH_ASAN
#include <sanitizer/lsan_interface.h>
#endif

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

using namespace zv;

namespace {

using Lines = std::vector<std::string>;

Lines Split(const std::string& text) {
  return SplitLines(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// Restores the separator whatever a test set.
struct SeparatorGuard {
  char saved = DecimalSeparator();
  ~SeparatorGuard() { SetDecimalSeparator(saved); }
};

struct Parsed {
  std::vector<TCalibrationPoint> points;
  std::string image;
};

// Parses text as the calibration file fileName; rethrows after keeping what
// was parsed when asked to.
Parsed Parse(const std::string& fileName, const Lines& lines) {
  TMapArea area(nullptr, nullptr);
  area.FileName = fileName;
  area.Lines = lines;
  area.ParseCalibration();
  EXPECT_EQ(area.Lines, lines); // never rewritten
  return {area.Points, area.ImageFileName};
}

Lines MapFile(const std::vector<std::string>& pointLines) {
  Lines l{"OziExplorer Map Data File Version 2.2", "north", "north.png"};
  l.insert(l.end(), pointLines.begin(), pointLines.end());
  return l;
}

} // namespace

TEST(SplitLines, BreaksAndEnd) {
  EXPECT_EQ(Split(""), Lines{});
  EXPECT_EQ(Split("a"), Lines{"a"});
  EXPECT_EQ(Split("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(Split("a\r\n"), Lines{"a"});
  EXPECT_EQ(Split("a\n\n"), (Lines{"a", ""}));
  EXPECT_EQ(Split("\n"), Lines{""});
  EXPECT_EQ(Split("a\n\r"), (Lines{"a", ""})); // LF then a lone CR
  EXPECT_EQ(Split("a\r\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(Split(std::string("ab\ncd\0ef\ngh", 11)), (Lines{"ab", "cd"}));
  EXPECT_EQ(Split(std::string("\0abc", 4)), Lines{});
  EXPECT_EQ(Split("\xe9\xe1 x\t "), Lines{"\xe9\xe1 x\t "}); // bytes kept verbatim
}

TEST(StringRoutines, ExtractNthWord) {
  const std::string s = ",,a,,b,";
  EXPECT_EQ(ExtractNthWord(1, s, ","), "a");
  EXPECT_EQ(ExtractNthWord(2, s, ","), "b");
  EXPECT_EQ(ExtractNthWord(3, s, ","), "");
  EXPECT_EQ(ExtractNthWord(0, s, ","), "");
  EXPECT_EQ(ExtractNthWord(-1, s, ","), "");
  EXPECT_EQ(ExtractNthWord(1, "", ","), "");
  EXPECT_EQ(ExtractNthWord(2, "a, ,b", ","), " ");
  EXPECT_EQ(ExtractNthWord(3, "a;b,c;d", ";,"), "c");
  // No limit on positions: the 70,000th word of a long line.
  std::string longLine;
  for (int i = 1; i <= 70000; ++i) longLine += std::to_string(i) + ",";
  EXPECT_EQ(ExtractNthWord(70000, longLine, ","), "70000");
  EXPECT_EQ(ExtractNthWord(70001, longLine, ","), "");
}

TEST(StringRoutines, ReplaceAllTrimLastPos) {
  EXPECT_EQ(ReplaceAll("a.b.c", ".", ","), "a,b,c");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("aXa", "x", "y"), "aXa");
  EXPECT_EQ(ReplaceAll("aa", "a", "aa"), "aaaa"); // replaced text is not scanned again
  EXPECT_EQ(Trim(std::string("\0 \t x y\r\n ", 10)), "x y");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim("\xa0x\xa0"), "\xa0x\xa0"); // only bytes 0..32
  EXPECT_EQ(LastPos("_", "a_b_c"), 4u);
  EXPECT_EQ(LastPos("_", "abc"), 0u);
  EXPECT_EQ(LastPos("", "abc"), 0u);
  EXPECT_EQ(LastPos("_", ""), 0u);
  EXPECT_EQ(LastPos("bc", "abcbc"), 4u);
}

TEST(Numbers, Integers) {
  const struct {
    const char* text;
    bool ok;
    std::int32_t value;
  } cases[] = {
      {"0", true, 0},          {"-12", true, -12},        {"+7", true, 7},
      {"2147483647", true, 2147483647}, {"-2147483648", true, INT32_MIN},
      {"2147483648", false, 0}, {"99999999999999999999", false, 0},
      {"", false, 0},          {"-", false, 0},           {"1.5", false, 0},
      {"12a", false, 0},       {"xy", false, 0},          {" 1", false, 0},
      {"0x10", false, 0},
  };
  for (const auto& c : cases) {
    std::int32_t v = 0;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    } else {
      EXPECT_THROW(StrToInt(c.text), Error) << c.text;
    }
  }
}

TEST(Numbers, FloatsWithEitherSeparator) {
  SeparatorGuard guard;
  for (const char sep : {'.', ','}) {
    SetDecimalSeparator(sep);
    long double v = 0;
    EXPECT_TRUE(TryStrToFloat("48.5", v));
    EXPECT_DOUBLE_EQ(static_cast<double>(v), 48.5);
    EXPECT_TRUE(TryStrToFloat("-1e2", v));
    EXPECT_DOUBLE_EQ(static_cast<double>(v), -100);
    EXPECT_TRUE(TryStrToFloat("+.5", v));
    EXPECT_DOUBLE_EQ(static_cast<double>(v), 0.5);
    EXPECT_TRUE(TryStrToFloat("1e-99999", v));
    EXPECT_EQ(v, 0);
    for (const char* bad : {"", "-", ".", "e5", "1e", "inf", "nan", "0x1p3", "1.2.3", "1 ", "1e99999", "abc"})
      EXPECT_THROW(StrToFloat(bad), Error) << bad << " with " << sep;
    EXPECT_EQ(TryStrToFloat("48,5", v), sep == ',');
    if (sep == ',') {
      EXPECT_DOUBLE_EQ(static_cast<double>(v), 48.5);
    }
  }
}

namespace {

// Sets an environment variable for one scope.
class EnvGuard {
public:
  EnvGuard(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~EnvGuard() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

} // namespace

TEST(Numbers, LocaleSeparatorReadWithoutTouchingGlobalLocale) {
  SeparatorGuard guard;
  {
    EnvGuard all("LC_ALL", "C");
    InitDecimalSeparatorFromLocale();
    EXPECT_EQ(DecimalSeparator(), '.');
  }
  // A German locale built for the test alone (the machine may have none).
  if (!FileExists("/usr/share/i18n/locales/de_DE") || std::system("command -v localedef >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "localedef or the de_DE locale source is missing";
  zvtest::TempDir dir;
  const std::string cmd = "localedef -i de_DE -f ISO-8859-1 '" + dir.Path() + "/de_DE' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 && !DirectoryExists(dir.Path() + "/de_DE"))
    GTEST_SKIP() << "localedef failed";
  {
    EnvGuard path("LOCPATH", dir.Path());
    EnvGuard all("LC_ALL", "de_DE");
#ifdef ZV_WITH_ASAN
    // glibc keeps a small LOCPATH list it never frees; not ours to report.
    __lsan_disable();
#endif
    InitDecimalSeparatorFromLocale();
#ifdef ZV_WITH_ASAN
    __lsan_enable();
#endif
  }
  EXPECT_EQ(DecimalSeparator(), ',');
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  EXPECT_DOUBLE_EQ(static_cast<double>(StrToFloat("48.5")), 48.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(StrToFloat("48,5")), 48.5);
  // Conversions elsewhere in the process still read ".".
  EXPECT_DOUBLE_EQ(std::strtod("2.5", nullptr), 2.5);
}

TEST(ParseMap, PointsAndHemispheres) {
  SeparatorGuard guard;
  for (const char sep : {'.', ','}) {
    SetDecimalSeparator(sep);
    const struct {
      std::string line;
      long double lat, lon;
    } cases[] = {
        {"Point01,xy, 100, 200,in, deg, 48, 30.0000,N, 17, 6.0000,E, grid", 48.5L, 17.1L},
        {"Point01,xy, 100, 200,in, deg, 48, 30.0000,S, 17, 6.0000,W, grid", -48.5L, -17.1L},
        {"Point01,xy, 100, 200,in, deg, 48, 30.0000, s , 17, 6.0000, w ", -48.5L, -17.1L},
        {"Point01,xy, 100, 200,in, deg, -48, 30,N, -17, 6,E", -48.5L, -17.1L},
        {"Point01,xy, 100, 200,in, deg, -48, 30,S, -17, 6,W", -48.5L, -17.1L}, // not negated twice
        {"Point01,xy, 100, 200,in, deg, -0, 30,N, 0, 30,W", -0.5L, -0.5L},
        {"POINTS,xy, 100, 200,in, deg,  ,30,N,17,  ,E", 0, 0}, // blank degrees/minutes stay 0
        {"point,xy, 100, 200", 0, 0},
    };
    for (const auto& c : cases) {
      const Parsed p = Parse("/m/north.map", MapFile({c.line}));
      ASSERT_EQ(p.points.size(), 1u) << c.line;
      EXPECT_EQ(p.points[0].X, 100);
      EXPECT_EQ(p.points[0].Y, 200);
      EXPECT_NEAR(static_cast<double>(p.points[0].Lat), static_cast<double>(c.lat), 1e-12) << c.line;
      EXPECT_NEAR(static_cast<double>(p.points[0].Lon), static_cast<double>(c.lon), 1e-12) << c.line;
      EXPECT_EQ(p.image, "north.png");
    }
  }
}

TEST(ParseMap, SkippedAndIgnoredLines) {
  const Parsed p = Parse("x.MAP", MapFile({
                                      "Point02,xy,    ,    ,in, deg,    ,        ,N,    ,        ,E",
                                      "Poin,xy, 1, 2",
                                      "Projection,Mercator, 3, 4",
                                      " Point03,xy, 5, 6",
                                      "Point04,xy, 7, 8",
                                      "MMPXY,1,0,0",
                                  }));
  ASSERT_EQ(p.points.size(), 1u);
  EXPECT_EQ(p.points[0].X, 7);
  // Header lines are never points, whatever they hold.
  const Parsed header = Parse("x.map", {"Point01,xy,1,2", "Point01,xy,1,2", "  image with blanks.png  "});
  EXPECT_TRUE(header.points.empty());
  EXPECT_EQ(header.image, "  image with blanks.png  ");
  const Parsed twoLines = Parse("x.map", {"a", "b"});
  EXPECT_TRUE(twoLines.points.empty());
  EXPECT_EQ(twoLines.image, "");
  // Other extensions give no points.
  EXPECT_TRUE(Parse("x.png", MapFile({"Point04,xy, 7, 8"})).points.empty());
  EXPECT_TRUE(Parse("x.map", {}).points.empty());
}

TEST(ParseMap, MalformedNumbersFailAndKeepEarlierPoints) {
  const std::vector<std::string> bad = {
      "Point01,xy,,,in, deg, 48, 30,N, 17, 6,E",  // empty fields collapse: X is "in"
      "Point01,xy, 1.5, 2",
      "Point01,xy, 1, 2,in, deg, 4x8, 30,N, 17, 6,E",
      "Point01,xy, 1, 2,in, deg, 48, 30,N, 17, 6;0,E",
  };
  for (const std::string& line : bad) {
    TMapArea area(nullptr, nullptr);
    area.FileName = "m.map";
    area.Lines = MapFile({"Point00,xy, 9, 9", line, "Point02,xy, 1, 1"});
    EXPECT_THROW(area.ParseCalibration(), Error) << line;
    ASSERT_EQ(area.Points.size(), 1u) << line;
    EXPECT_EQ(area.Points[0].X, 9);
    EXPECT_EQ(area.Lines.size(), 6u);
  }
}

TEST(ParseMap, AppendsWithoutClearing) {
  TMapArea area(nullptr, nullptr);
  area.FileName = "m.map";
  area.Lines = MapFile({"Point01,xy, 1, 2"});
  area.ParseCalibration();
  area.ParseCalibration();
  EXPECT_EQ(area.Points.size(), 2u);
}

TEST(ParseGmi, PointsSeparatorsAndFailures) {
  SeparatorGuard guard;
  const Lines head{"Map Calibration data file v3.0", "north.png", "1000", "800"};
  auto gmi = [&](std::vector<std::string> rest) {
    Lines l = head;
    l.insert(l.end(), rest.begin(), rest.end());
    return l;
  };
  SetDecimalSeparator(',');
  Parsed p = Parse("n.gmi", gmi({"10;20;17.5;48.25", " 30 ; 40 ; 17,75 ; -48,5 ; extra"}));
  ASSERT_EQ(p.points.size(), 2u);
  EXPECT_EQ(p.image, ""); // no image name from .gmi
  EXPECT_EQ(p.points[0].X, 10);
  EXPECT_EQ(p.points[0].Y, 20);
  EXPECT_DOUBLE_EQ(static_cast<double>(p.points[0].Lon), 17.5);
  EXPECT_DOUBLE_EQ(static_cast<double>(p.points[0].Lat), 48.25);
  EXPECT_DOUBLE_EQ(static_cast<double>(p.points[1].Lon), 17.75);
  EXPECT_DOUBLE_EQ(static_cast<double>(p.points[1].Lat), -48.5);
  EXPECT_TRUE(Parse("n.GMI", head).points.empty());

  SetDecimalSeparator('.');
  EXPECT_THROW(Parse("n.gmi", gmi({"10;20;17,5;48.25"})), Error);
  for (const std::string& bad : {std::string(""), std::string("   "), std::string("1;2;3"), std::string("a;2;3;4")})
    EXPECT_THROW(Parse("n.gmi", gmi({"1;2;3;4", bad})), Error) << "[" << bad << "]";
  // A final line break adds no line, so it is harmless.
  const std::string text = "h1\nh2\nh3\nh4\n1;2;3;4\n";
  EXPECT_EQ(Parse("n.gmi", Split(text)).points.size(), 1u);
}

TEST(ParseCalibrationLines, WorksOnLinesAlone) {
  std::vector<TCalibrationPoint> points(1); // points already there stay
  std::string image = "kept";
  ParseCalibrationLines({}, ".MAP", points, image);
  EXPECT_EQ(image, "kept");

  ParseCalibrationLines(MapFile({"Point01,xy, 1, 2,in, deg, 48, 30,N, 17, 6,E", "Point02,xy, 3, 4"}), ".MAP", points,
                        image);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(image, "north.png");
  EXPECT_TRUE(points[1].HasLatLon);
  EXPECT_FALSE(points[2].HasLatLon); // grid only

  ParseCalibrationLines({"h1", "h2", "h3", "h4", "5;6;17;48"}, ".GMI", points, image);
  ASSERT_EQ(points.size(), 4u);
  EXPECT_TRUE(points[3].HasLatLon);
  EXPECT_EQ(image, "north.png"); // a .gmi names no image

  // The caller gives the extension in capitals.
  ParseCalibrationLines(MapFile({"Point01,xy, 1, 2"}), ".map", points, image);
  EXPECT_EQ(points.size(), 4u);
}
