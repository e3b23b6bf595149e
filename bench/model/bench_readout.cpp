// The status bar's readout on a UTM map with 9 points, per pointer move: the
// area keeps its fit, so a readout is one affine step and one transformation
// to WGS 84. Next to it, for reference, the readout with the fit made afresh
// each time (the projection read, the points taken into its plane, the
// search for wrong points). Prints wall and processor time per call.
// Usage: bench_readout [calls]
#include "model/CalibrationFit.h"
#include "model/DisplayMapsCore.h"
#include "model/MapModel.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

double Cpu() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

double Wall() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// utm11-nad27 of the GeoTools test data, its 9 points.
std::vector<std::string> MapLines() {
  std::vector<std::string> lines = {
      "OziExplorer Map Data File Version 2.1",
      "utm11-nad27",
      "utm11-nad27.jpg",
      "1 ,Map Code,",
      "NAD27 Central,WGS 84,   0.0000,   0.0000,WGS 84",
      "Reserved 1",
      "Reserved 2",
      "Magnetic Variation,,,E",
      "Map Projection,(UTM) Universal Transverse Mercator,PolyCal,No,AutoCalOnly,No,BSBUseWPX,No"};
  const char* const points[] = {
      "Point01,xy,    0,    0,in, deg,  33, 54.0885,N, 117, 38.4061,W, grid, 11,     440818,    3751222,N",
      "Point02,xy,   60,    0,in, deg,  33, 54.1335,N, 117, 28.4386,W, grid, 11,     456178,    3751222,N",
      "Point03,xy,  120,    0,in, deg,  33, 54.1652,N, 117, 18.4708,W, grid, 11,     471538,    3751222,N",
      "Point04,xy,    0,   60,in, deg,  33, 45.7767,N, 117, 38.3442,W, grid, 11,     440818,    3735862,N",
      "Point05,xy,   60,   60,in, deg,  33, 45.8215,N, 117, 28.3928,W, grid, 11,     456178,    3735862,N",
      "Point06,xy,  120,   60,in, deg,  33, 45.8530,N, 117, 18.4410,W, grid, 11,     471538,    3735862,N",
      "Point07,xy,    0,  120,in, deg,  33, 37.4647,N, 117, 38.2827,W, grid, 11,     440818,    3720502,N",
      "Point08,xy,   60,  120,in, deg,  33, 37.5093,N, 117, 28.3473,W, grid, 11,     456178,    3720502,N",
      "Point09,xy,  120,  120,in, deg,  33, 37.5406,N, 117, 18.4114,W, grid, 11,     471538,    3720502,N"};
  lines.insert(lines.end(), std::begin(points), std::end(points));
  lines.push_back("Projection Setup,,,,,,,,,");
  return lines;
}

} // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 200000;
  zv::TDisplayMapsCore view;
  zv::TMapArea area(&view, view.Layouts->AddLayout("L"));
  area.FileName = "utm11-nad27.map";
  area.Lines = MapLines();
  area.ParseCalibration();

  double wall = Wall(), cpu = Cpu();
  std::size_t length = 0;
  for (int i = 0; i < calls; ++i) length += zv::PointerReadout(area, i % 120, (i / 120) % 120).size();
  const double keptWall = (Wall() - wall) / calls, keptCpu = (Cpu() - cpu) / calls;

  const int freshCalls = calls / 2000 > 0 ? calls / 2000 : 1;
  wall = Wall(), cpu = Cpu();
  for (int i = 0; i < freshCalls; ++i) {
    area.Lines[1] = "utm11-nad27 " + std::to_string(i); // new lines: a new fit
    length += zv::PointerReadout(area, i % 120, 7).size();
  }
  const double freshWall = (Wall() - wall) / freshCalls, freshCpu = (Cpu() - cpu) / freshCalls;

  std::printf("readout with the kept fit: %.2f us wall, %.2f us processor per call (%d calls)\n", keptWall * 1e6,
              keptCpu * 1e6, calls);
  std::printf("reference, fit made afresh per call: %.1f us wall, %.1f us processor (%d calls)\n", freshWall * 1e6,
              freshCpu * 1e6, freshCalls);
  std::printf("target: <= 100 us per readout: %s\n", keptWall <= 100e-6 ? "met" : "NOT met");
  return length > 0 ? 0 : 1;
}
