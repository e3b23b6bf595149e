// The settings file of the export dialog: exact bytes, quoting, reading back.

#include "ExportTestUtil.h"

#include "base/Errors.h"
#include "export/FormStorage.h"

#include <gtest/gtest.h>

using namespace zvtest;
using zv::TFormExportTexts;

namespace {

TFormExportTexts Texts(const std::string& height, const std::string& width) { return TFormExportTexts{height, width}; }

} // namespace

TEST(FormStorage, FreshFileHoldsTheSectionAndThreeKeysInOrder) {
  TempDir dir;
  const std::string ini = dir / "Zovevod.ini";
  zv::WriteFormExportSettings(ini, Texts("  300 ", "\t500"));
  EXPECT_EQ(ReadFile(ini), "[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=300\r\nEdtTileWidth_Text=500\r\n");
  // Writing again changes values in place and adds no lines.
  zv::WriteFormExportSettings(ini, Texts("", "abc"));
  EXPECT_EQ(ReadFile(ini), "[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=\r\nEdtTileWidth_Text=abc\r\n");
}

TEST(FormStorage, QuotedValuesComeBackWithTheirQuotes) {
  struct Case {
    std::string Text, Written;
  };
  const std::vector<Case> cases = {
      {"\"400\"", "\"\"400\"\""}, {"'400'", "\"'400'\""}, {"\"400'", "\"400'"}, {"\"", "\""},
      {"''", "\"''\""},           {"4 0 0", "4 0 0"},     {"a=b", "a=b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TempDir dir;
    const std::string ini = dir / "Zovevod.ini";
    zv::WriteFormExportSettings(ini, Texts(c.Text, "1"));
    EXPECT_EQ(ReadFile(ini), "[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=" + c.Written +
                                 "\r\nEdtTileWidth_Text=1\r\n");
    TFormExportTexts back = Texts("x", "y");
    zv::ReadFormExportSettings(ini, back);
    EXPECT_EQ(back.TileHeight, c.Text);
    EXPECT_EQ(back.TileWidth, "1");
  }
  // A line break cannot end the line early.
  EXPECT_EQ(zv::IniQuoteValue("1\r\n[X]"), "1  [X]");
}

TEST(FormStorage, ReadingFollowsTheVersionAndKeepsDefaults) {
  struct Case {
    const char* Name;
    std::string File; // empty: no file at all
    std::string Height, Width;
  };
  const std::vector<Case> cases = {
      {"no file", "", "400", "400"},
      {"both keys", "[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=256\r\nEdtTileWidth_Text=512\r\n", "256",
       "512"},
      {"no version, LF lines, other case", "[tformexport]\nedttileheight_text =  77  \n", "77", "400"},
      {"negative version", "[TFormExport]\r\nFormVersion=-1\r\nEdtTileHeight_Text=1\r\n", " 400 ", "400"},
      {"version not a number", "[TFormExport]\r\nFormVersion=x\r\nEdtTileWidth_Text=9\r\n", "400", "9"},
      {"other section", "[Other]\r\nEdtTileHeight_Text=5\r\n[TFormExport]\r\n", "400", "400"},
      {"comment", "[TFormExport]\r\n;EdtTileHeight_Text=5\r\n", "400", "400"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const std::string ini = dir / "Zovevod.ini";
    if (!c.File.empty()) WriteFile(ini, c.File);
    TFormExportTexts t = Texts(" 400 ", "400");
    zv::ReadFormExportSettings(ini, t);
    EXPECT_EQ(t.TileHeight, c.Height);
    EXPECT_EQ(t.TileWidth, c.Width);
  }
}

TEST(FormStorage, OtherLinesOfTheFileStay) {
  TempDir dir;
  const std::string ini = dir / "Zovevod.ini";
  WriteFile(ini, "[Other]\nA=1\n\n[TFormExport]\nEdtTileWidth_Text=1\nExtra=2\n\n[Last]\nB=2\n");
  zv::WriteFormExportSettings(ini, Texts("10", "20"));
  EXPECT_EQ(ReadFile(ini), "[Other]\r\nA=1\r\n\r\n[TFormExport]\r\nEdtTileWidth_Text=20\r\nExtra=2\r\nFormVersion=0\r\n"
                           "EdtTileHeight_Text=10\r\n\r\n[Last]\r\nB=2\r\n");
}

TEST(FormStorage, UnreadableAndUnwritableFiles) {
  TempDir dir;
  // A huge file is not read into memory; the texts stay.
  const std::string big = dir / "big.ini";
  WriteFile(big, "[TFormExport]\r\nEdtTileWidth_Text=1\r\n" + std::string(2 << 20, ';'));
  TFormExportTexts t = Texts("400", "400");
  zv::ReadFormExportSettings(big, t);
  EXPECT_EQ(t.TileWidth, "400");
  // ... and writing replaces it with a fresh one.
  zv::WriteFormExportSettings(big, Texts("1", "2"));
  EXPECT_EQ(ReadFile(big), "[TFormExport]\r\nFormVersion=0\r\nEdtTileHeight_Text=1\r\nEdtTileWidth_Text=2\r\n");
  // A name taken by a directory reads as nothing and cannot be written.
  fs::create_directory(dir / "dir.ini");
  zv::ReadFormExportSettings(dir / "dir.ini", t);
  EXPECT_EQ(t.TileHeight, "400");
  EXPECT_THROW(zv::WriteFormExportSettings(dir / "dir.ini", t), zv::EFileError);
}

TEST(FormStorage, SettingsFileLivesBesideTheProgramWhenWritable) {
  TempDir program, config;
  EXPECT_EQ(zv::SettingsFileName(program.Path(), config.Path()), program / "Zovevod.ini");
  EXPECT_EQ(zv::SettingsFileName(program / "missing", config.Path()), config / "Zovevod.ini");
  EXPECT_EQ(zv::SettingsFileName("", config.Path()), config / "Zovevod.ini");
  if (::geteuid() != 0) {
    fs::permissions(program.Path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(zv::SettingsFileName(program.Path(), config.Path()), config / "Zovevod.ini");
    fs::permissions(program.Path(), fs::perms::owner_all);
  }
}
