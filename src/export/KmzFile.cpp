// Garmin's custom maps: a zip (stored entries, as the zip format's "stored"
// method gives them; JPEG does not deflate) of doc.kml and its JPEG tiles.

#include "base/Errors.h"
#include "base/Messages.h"
#include "export/TemporaryFile.h"
#include "export/TileSink.h"

#include <zlib.h>

#include <cstdio>
#include <memory>

namespace zv {

namespace {

// The fixed time every entry gets, so that the file depends on its tiles
// alone: 1 January 1980, 00:00, the zip format's earliest.
constexpr std::uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;

struct TZipEntry {
  std::string Name;
  std::uint32_t Crc = 0;
  std::uint32_t Size = 0;
  std::uint32_t Offset = 0;
};

void Put16(std::string& out, std::uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// The fields local and central headers share, from "version needed" on.
void PutCommon(std::string& out, const TZipEntry& e) {
  Put16(out, 10);       // version needed: 1.0, stored
  Put16(out, 1u << 11); // flags: names in UTF-8
  Put16(out, 0);        // method: stored
  Put16(out, 0);        // time
  Put16(out, kDosDate);
  Put32(out, e.Crc);
  Put32(out, e.Size);
  Put32(out, e.Size);
  Put16(out, static_cast<std::uint32_t>(e.Name.size()));
  Put16(out, 0); // extra field length
}

class TZipWriter {
public:
  TZipWriter(const std::string& target, bool replace) : file_(target, replace) {
    out_.reset(std::fopen(file_.Path().c_str(), "wb"));
    if (!out_) throw EFileError(msg::MapAppCannotCreate(target));
  }

  void Add(const std::string& name, const std::uint8_t* data, std::size_t size) {
    // Stored entries without the zip64 extension: the whole file stays below 4 GiB.
    if (size > 0xFFFFFFFFu - offset_ - 1024) throw Error(msg::MapAppWriteError(file_.Target(), "KMZ over 4 GiB"));
    TZipEntry e{name, static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(size))),
                static_cast<std::uint32_t>(size), offset_};
    std::string header;
    Put32(header, 0x04034b50);
    PutCommon(header, e);
    header += name;
    Write(header.data(), header.size());
    Write(data, size);
    entries_.push_back(std::move(e));
  }

  // The central directory, with the entries in the order given by first
  // (listed first) and the rest as added; then the file gets its name.
  void Finish(std::size_t first) {
    std::string dir;
    std::vector<std::size_t> order{first};
    for (std::size_t i = 0; i < entries_.size(); ++i)
      if (i != first) order.push_back(i);
    for (std::size_t i : order) {
      const TZipEntry& e = entries_[i];
      Put32(dir, 0x02014b50);
      Put16(dir, 20); // made by: MS-DOS attributes, 2.0
      PutCommon(dir, e);
      Put16(dir, 0); // comment length
      Put16(dir, 0); // disk number
      Put16(dir, 0); // internal attributes
      Put32(dir, 0); // external attributes
      Put32(dir, e.Offset);
      dir += e.Name;
    }
    std::string end;
    Put32(end, 0x06054b50);
    Put32(end, 0);
    Put16(end, static_cast<std::uint32_t>(entries_.size()));
    Put16(end, static_cast<std::uint32_t>(entries_.size()));
    Put32(end, static_cast<std::uint32_t>(dir.size()));
    Put32(end, offset_);
    Put16(end, 0);
    Write(dir.data(), dir.size());
    Write(end.data(), end.size());
    if (std::fclose(out_.release()) != 0) throw EFileError(msg::MapAppWriteError(file_.Target(), "write failed"));
    file_.Commit();
  }

private:
  struct TCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  void Write(const void* data, std::size_t size) {
    if (size && std::fwrite(data, 1, size, out_.get()) != size)
      throw EFileError(msg::MapAppWriteError(file_.Target(), "write failed"));
    offset_ += static_cast<std::uint32_t>(size);
  }

  TTemporaryFile file_;
  std::unique_ptr<std::FILE, TCloser> out_;
  std::vector<TZipEntry> entries_;
  std::uint32_t offset_ = 0;
};

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

std::string Degrees(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.9f", v);
  return buffer;
}

// Garmin devices draw custom maps with drawOrder up to 50 over their own map.
constexpr int kDrawOrder = 50;

class TKmzSink : public TTileSink {
public:
  TKmzSink(const std::string& target, bool replace) : zip_(target, replace) {}
  void Put(const TTilePlace& place, const std::vector<std::uint8_t>& bytes) override {
    const std::string name = "tile_" + std::to_string(place.Row) + "_" + std::to_string(place.Column);
    const std::string file = "files/" + name + ".jpg";
    zip_.Add(file, bytes.data(), bytes.size());
    overlays_ += "<GroundOverlay><name>" + name + "</name><drawOrder>" + std::to_string(kDrawOrder) +
                 "</drawOrder><Icon><href>" + file + "</href></Icon><LatLonBox><north>" + Degrees(place.North) +
                 "</north><south>" + Degrees(place.South) + "</south><east>" + Degrees(place.East) +
                 "</east><west>" + Degrees(place.West) + "</west></LatLonBox></GroundOverlay>\n";
    ++count_;
  }
  void Finish(const TTileSetInfo& info) override {
    const std::string kml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                            "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document><name>" +
                            Escaped(info.Name) + "</name>\n" + overlays_ + "</Document>\n</kml>\n";
    zip_.Add("doc.kml", reinterpret_cast<const std::uint8_t*>(kml.data()), kml.size());
    zip_.Finish(count_);
  }

private:
  TZipWriter zip_;
  std::string overlays_;
  std::size_t count_ = 0;
};

} // namespace

std::unique_ptr<TTileSink> MakeKmzSink(const std::string& target, bool replace) {
  return std::make_unique<TKmzSink>(target, replace);
}

} // namespace zv
