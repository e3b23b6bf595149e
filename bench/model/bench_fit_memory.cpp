// Memory of a long run of fits, as the readout after every edit makes them:
// each fit of new lines reads a projection and makes its transformations.
// Prints the resident size every so many fits; it should level off, not
// grow with the number of fits.
// Usage: bench_fit_memory [fits]
#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

// A UTM sheet on NAD27 and a Transverse Mercator one on Pulkovo 1942, by turns.
std::vector<std::string> Lines(int i) {
  const bool utm = i % 2 == 0;
  std::vector<std::string> lines = {
      "OziExplorer Map Data File Version 2.2",
      "m" + std::to_string(i),
      "m.png",
      "1 ,Map Code,",
      utm ? "NAD27 Central,WGS 84,   0.0000,   0.0000,WGS 84" : "Pulkovo 1942 (2),WGS 84,   0.0000,   0.0000,WGS 84",
      "Reserved 1",
      "Reserved 2",
      "Magnetic Variation,,,E",
      utm ? "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"
          : "Map Projection,Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"};
  const char* const points[] = {
      "Point01,xy,    0,    0,in, deg,  33, 54.0885,N, 117, 38.4061,W, grid, 11,     440818,    3751222,N",
      "Point02,xy,   60,    0,in, deg,  33, 54.1335,N, 117, 28.4386,W, grid, 12,     456178,    3751222,N",
      "Point03,xy,  120,    0,in, deg,  33, 54.1652,N, 117, 18.4708,W, grid, 11,     471538,    3751222,N",
      "Point04,xy,    0,   60,in, deg,  33, 45.7767,N, 117, 38.3442,W, grid, 11,     440818,    3735862,N",
      "Point05,xy,   60,   60,in, deg,  33, 45.8215,N, 117, 28.3928,W, grid, 11,     456178,    3735862,N",
      "Point06,xy,  120,  120,in, deg,  33, 37.5406,N, 117, 18.4114,W, grid, 11,     471538,    3720502,N"};
  lines.insert(lines.end(), std::begin(points), std::end(points));
  lines.push_back("Projection Setup,0," + std::to_string(-117 - i % 7 - (i % 997) * 0.001) + ",1,500000,0,,,,,");
  return lines;
}

} // namespace

int main(int argc, char** argv) {
  const int fits = argc > 1 ? std::atoi(argv[1]) : 15000;
  zv::TDisplayMapsCore view;
  zv::TMapArea area(&view, view.Layouts->AddLayout("L"));
  area.FileName = "m.map";
  area.Width = area.Height = 120;
  long first = 0;
  for (int i = 1; i <= fits; ++i) {
    area.Lines = Lines(i);
    area.Points.clear();
    area.ParseCalibration();
    (void)zv::CheckCalibration(area);
    (void)zv::PointerReadout(area, i % 120, 7);
    if (i == 1000) first = ResidentKb();
    if (i % 1000 == 0 || i == fits) std::printf("%6d fits: %ld kB resident\n", i, ResidentKb());
  }
  std::printf("growth from 1000 fits to %d: %ld kB\n", fits, ResidentKb() - first);
  return 0;
}
