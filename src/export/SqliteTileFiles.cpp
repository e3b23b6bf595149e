// The two SQLite tile files: MBTiles and OsmAnd's/Locus's SQLiteDB.

#include "base/Errors.h"
#include "base/Messages.h"
#include "export/TemporaryFile.h"
#include "export/TileSink.h"

#include <sqlite3.h>

#include <cstdio>

namespace zv {

namespace {

// One open database under a temporary name. The file is private until it
// is renamed, so it needs no journal and no syncing per transaction.
class TSqliteFile {
public:
  TSqliteFile(const std::string& target, bool replace) : file_(target, replace) {
    if (sqlite3_open_v2(file_.Path().c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) Fail();
    Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA locking_mode=EXCLUSIVE; "
         "PRAGMA page_size=4096; BEGIN");
  }
  ~TSqliteFile() {
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
  }
  TSqliteFile(const TSqliteFile&) = delete;
  TSqliteFile& operator=(const TSqliteFile&) = delete;

  void Exec(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) Fail();
  }
  void PrepareInsert(const char* sql) {
    if (sqlite3_prepare_v2(db_, sql, -1, &insert_, nullptr) != SQLITE_OK) Fail();
  }
  // Runs the insert with integers bound to the first parameters and the blob last.
  void Insert(std::initializer_list<sqlite3_int64> numbers, const std::vector<std::uint8_t>& blob) {
    int i = 1;
    for (sqlite3_int64 n : numbers) sqlite3_bind_int64(insert_, i++, n);
    sqlite3_bind_blob(insert_, i, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(insert_);
    sqlite3_reset(insert_);
    if (rc != SQLITE_DONE) Fail();
  }
  // Ends the transaction, closes the database and renames the file.
  void Commit() {
    Exec("COMMIT");
    sqlite3_finalize(insert_);
    insert_ = nullptr;
    if (sqlite3_close(db_) != SQLITE_OK) Fail();
    db_ = nullptr;
    file_.Commit();
  }

private:
  [[noreturn]] void Fail() {
    throw EFileError(msg::MapAppWriteError(file_.Target(), db_ ? sqlite3_errmsg(db_) : "out of memory"));
  }

  TTemporaryFile file_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

std::string Number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.7f", v);
  return buffer;
}

class TMbtilesSink : public TTileSink {
public:
  TMbtilesSink(const std::string& target, bool replace) : db_(target, replace) {
    db_.Exec("CREATE TABLE metadata (name TEXT, value TEXT);"
             "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB);");
    db_.PrepareInsert("INSERT INTO tiles VALUES (?, ?, ?, ?)");
  }
  void Put(const TTilePlace& place, const std::vector<std::uint8_t>& bytes) override {
    // MBTiles counts rows from the south (TMS).
    const sqlite3_int64 rows = sqlite3_int64{1} << place.Zoom;
    db_.Insert({place.Zoom, place.Column, rows - 1 - place.Row}, bytes);
  }
  void Finish(const TTileSetInfo& info) override {
    const std::string bounds =
        Number(info.West) + "," + Number(info.South) + "," + Number(info.East) + "," + Number(info.North);
    const std::string center = Number((info.West + info.East) / 2) + "," + Number((info.South + info.North) / 2) +
                               "," + std::to_string(info.MinZoom);
    const std::pair<const char*, std::string> rows[] = {
        {"name", info.Name},       {"format", TileFormatExtension(info.Format)},
        {"bounds", bounds},        {"center", center},
        {"minzoom", std::to_string(info.MinZoom)}, {"maxzoom", std::to_string(info.MaxZoom)},
        {"type", "baselayer"},     {"version", "1.3"},
        {"description", info.Description}};
    std::string sql;
    for (const auto& [name, value] : rows)
      sql += "INSERT INTO metadata VALUES (" + Quoted(name) + ", " + Quoted(value) + ");";
    db_.Exec(sql + "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
    db_.Commit();
  }

private:
  TSqliteFile db_;
};

// BigPlanet numbering, which OsmAnd's SQLite tile format names: z = 17 - zoom.
constexpr int kBigPlanetTop = 17;

class TSqliteDbSink : public TTileSink {
public:
  TSqliteDbSink(const std::string& target, bool replace) : db_(target, replace) {
    db_.Exec("CREATE TABLE tiles (x INTEGER, y INTEGER, z INTEGER, s INTEGER, image BLOB, PRIMARY KEY (x, y, z, s));"
             "CREATE TABLE info (minzoom INTEGER, maxzoom INTEGER, tilenumbering TEXT, ellipsoid INTEGER, "
             "inverted_y INTEGER, tilesize INTEGER);");
    db_.PrepareInsert("INSERT INTO tiles VALUES (?, ?, ?, 0, ?)");
  }
  void Put(const TTilePlace& place, const std::vector<std::uint8_t>& bytes) override {
    db_.Insert({place.Column, place.Row, kBigPlanetTop - place.Zoom}, bytes);
  }
  void Finish(const TTileSetInfo& info) override {
    // minzoom and maxzoom in the table's own numbering, as its z column has them.
    db_.Exec("INSERT INTO info VALUES (" + std::to_string(kBigPlanetTop - info.MaxZoom) + ", " +
             std::to_string(kBigPlanetTop - info.MinZoom) + ", 'BigPlanet', 0, 0, 256);");
    db_.Commit();
  }

private:
  TSqliteFile db_;
};

} // namespace

std::unique_ptr<TTileSink> MakeMbtilesSink(const std::string& target, bool replace) {
  return std::make_unique<TMbtilesSink>(target, replace);
}

std::unique_ptr<TTileSink> MakeSqliteDbSink(const std::string& target, bool replace) {
  return std::make_unique<TSqliteDbSink>(target, replace);
}

} // namespace zv
