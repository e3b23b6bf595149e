// Opening files: dispatch by extension, single maps, tar archives and atlas
// directory trees.

#include "model/DisplayMapsCore.h"

#include "base/Errors.h"
#include "base/FileSystem.h"
#include "base/Messages.h"
#include "base/Paths.h"
#include "model/FileKind.h"
#include "model/OpenArchive.h"
#include "tar/TarArchive.h"

#include <exception>

namespace zv {

namespace {

// A small archive naming thousands of maps would still make each of them
// walk the whole archive: a hostile archive is refused past this many.
constexpr std::size_t MaxMapsPerArchive = 1024;

} // namespace

TOpenArchive::TOpenArchive(const std::string& fileName) : Archive(fileName) {
  Archive.Rewind();
  TTarDirRec rec;
  try {
    while (Archive.NextEntry(rec)) Entries.push_back({rec.Name, Archive.Tell()});
  } catch (...) {
    End = std::current_exception();
  }
}

void TDisplayMapsCore::OpenNamedFile(const std::string& fileName) {
  if (!FileExists(fileName)) ThrowCannotOpen(fileName);
  OpenFile(fileName);
}

void TDisplayMapsCore::OpenFile(const std::string& fileName) {
  const TFileKind kind = FileKindOf(UpperFileExt(fileName));
  if (kind == TFileKind::Tar) {
    // Only the archive's top level is looked at. Its headers are read once;
    // each map found loads from that walk, as if it read the archive again
    // by itself (a damaged header fails the first map to reach it).
    TOpenArchive archive(fileName);
    struct Scope {
      TDisplayMapsCore& view;
      TOpenArchive* previous;
      ~Scope() { view.OpeningArchive = previous; }
    } scope{*this, OpeningArchive};
    OpeningArchive = &archive;
    std::size_t opened = 0;
    for (const TOpenArchive::TEntry& entry : archive.Entries) {
      // "./m.map" is at the top level too; the map keeps the name as read.
      const std::string name(TopLevelName(entry.Name));
      if (name.find('/') != std::string::npos) continue;
      const TFileKind entryKind = FileKindOf(UpperFileExt(name));
      if (entryKind != TFileKind::Atlas && entryKind != TFileKind::Calibration) continue;
      if (++opened > MaxMapsPerArchive) throw Error(msg::TooManyMapsInArchive(fileName, MaxMapsPerArchive));
      if (entryKind == TFileKind::Atlas)
        OpenAtlas(fileName, entry.Name);
      else
        OpenMap(fileName, entry.Name);
    }
    if (archive.End) std::rethrow_exception(archive.End);
    return;
  }
  if (kind == TFileKind::Calibration || IsImageKind(kind))
    OpenMap(std::string(), fileName);
  else if (kind == TFileKind::Atlas)
    OpenAtlas(std::string(), fileName);
}

void TDisplayMapsCore::OpenMap(const std::string& tarFileName, const std::string& fileName) {
  TMapLayout* layout = ActiveLayout();
  if (!layout) layout = Layouts->AddLayout("Default");
  // Named after the file the user chose: the archive for a tar-held map.
  const std::string name = ExtractFileNameWithoutExt(tarFileName.empty() ? fileName : tarFileName);
  TMapArea* area = layout->Areas->AddMapArea(name, tarFileName, fileName);
  ShowMapArea(area);
}

void TDisplayMapsCore::OpenAtlas(const std::string& tarFileName, const std::string& atlasFileName) {
  // The atlas file only marks the root; for an archive the folder holding
  // the archive is scanned, nothing inside it.
  const std::string root = ExtractFilePath(tarFileName.empty() ? atlasFileName : tarFileName);
  const std::string rootPrefix = root.empty() ? std::string() : IncludeTrailingPathDelimiter(root);
  bool first = true;
  // Listings are sorted by name so that the first map shown repeats.
  for (const std::string& layer : ListSubdirectories(rootPrefix.empty() ? "." : rootPrefix)) {
    TMapLayout* layout = Layouts->FindLayout(layer);
    if (!layout) layout = Layouts->AddLayout(layer);
    layout->Name = layer;
    const std::string layerDir = rootPrefix + layer + PathDelim;
    for (const std::string& map : ListSubdirectories(layerDir)) {
      const std::string mapDir = layerDir + map + PathDelim;
      for (const std::string& entry : ListEntries(mapDir)) {
        const TFileKind kind = FileKindOf(UpperFileExt(entry));
        if (kind != TFileKind::Calibration && kind != TFileKind::Tar) continue;
        const std::string path = mapDir + entry;
        if (!FileExists(path)) continue;
        TMapArea* area = kind == TFileKind::Tar ? layout->Areas->AddMapArea(map, path, std::string())
                                       : layout->Areas->AddMapArea(map, std::string(), path);
        if (first) {
          ShowMapArea(area);
          first = false;
        }
      }
    }
  }
}

} // namespace zv
