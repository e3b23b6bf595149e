// The Ambulo tile folder: tile files and the tile list naming them.

#include "base/FileSystem.h"
#include "export/ExportFiles.h"
#include "export/TileSink.h"

#include <cstdio>

namespace zv {

namespace {

class TTileListFolderSink : public TTileSink {
public:
  TTileListFolderSink(const TTileListFolder& folder, std::function<void(const std::string&)> wrote)
      : folder_((CreateDirectoryQuiet(folder.Directory + "set"), folder)),
        list_(folder.Directory + folder.MapName + ".set"), wrote_(std::move(wrote)) {}

  void Put(const TTilePlace& place, const std::vector<std::uint8_t>& bytes) override {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "_%d_%d.%s", place.Column * folder_.TileWidth,
                  place.Row * folder_.TileHeight, TileFormatExtension(folder_.Format));
    const std::string name = folder_.MapName + suffix;
    WriteTileFile(folder_.Directory + "set/" + name, bytes);
    // A tile counts as written once its line is in the list.
    list_.WriteLine(name);
    if (wrote_) wrote_("set/" + name);
  }
  void Finish(const TTileSetInfo&) override { list_.Close(); }

private:
  TTileListFolder folder_;
  TTextWriter list_;
  std::function<void(const std::string&)> wrote_;
};

} // namespace

std::unique_ptr<TTileSink> MakeTileListFolderSink(const TTileListFolder& folder,
                                                  std::function<void(const std::string&)> wrote) {
  return std::make_unique<TTileListFolderSink>(folder, std::move(wrote));
}

} // namespace zv
