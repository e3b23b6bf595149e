// Synthetic scans of a sheet: a drawn neat line (turned, with an outer
// frame, collar text, grid lines, noise, JPEG artefacts, a torn corner)
// against the corners it was drawn with.

#include "codecs/Bitmap.h"
#include "codecs/Jpeg.h"
#include "model/FrameFinder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace zv;

namespace {

struct P {
  double X, Y;
};

// A grey scan being drawn: ink coverage 0..1 per pixel.
class TScan {
public:
  // zoom: drawing coordinates to pixels, so that one drawing serves a small
  // scan and a larger one the finder reduces.
  TScan(int w, int h, double zoom = 1)
      : w_(static_cast<int>(w * zoom)), h_(static_cast<int>(h * zoom)), zoom_(zoom),
        ink_(static_cast<std::size_t>(w_) * h_, 0.f) {}

  // An anti-aliased straight stroke of the given width.
  void Line(P a, P b, double width, float ink = 1) {
    a = {a.X * zoom_, a.Y * zoom_};
    b = {b.X * zoom_, b.Y * zoom_};
    width *= zoom_;
    const double len = std::hypot(b.X - a.X, b.Y - a.Y), ux = (b.X - a.X) / len, uy = (b.Y - a.Y) / len;
    const int pad = static_cast<int>(width) + 2;
    const int x0 = std::max(0, static_cast<int>(std::min(a.X, b.X)) - pad);
    const int x1 = std::min(w_ - 1, static_cast<int>(std::max(a.X, b.X)) + pad);
    const int y0 = std::max(0, static_cast<int>(std::min(a.Y, b.Y)) - pad);
    const int y1 = std::min(h_ - 1, static_cast<int>(std::max(a.Y, b.Y)) + pad);
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) {
        const double t = (x - a.X) * ux + (y - a.Y) * uy;
        if (t < -width / 2 || t > len + width / 2) continue;
        const double d = std::fabs((x - a.X) * uy - (y - a.Y) * ux);
        const double cover = std::clamp(width / 2 + 0.5 - d, 0.0, 1.0);
        float& v = ink_[static_cast<std::size_t>(y) * w_ + x];
        v = std::max(v, static_cast<float>(cover * ink));
      }
  }
  void Quad(const std::array<P, 4>& c, double width) {
    for (int i = 0; i < 4; ++i) Line(c[i], c[(i + 1) % 4], width);
  }
  // Pixels inside the triangle become paper (or the scanner's lid).
  void Tear(P a, P b, P c, float ink) {
    for (P* p : {&a, &b, &c}) *p = {p->X * zoom_, p->Y * zoom_};
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const auto side = [&](P p, P q) { return (q.X - p.X) * (y - p.Y) - (q.Y - p.Y) * (x - p.X); };
        const double s1 = side(a, b), s2 = side(b, c), s3 = side(c, a);
        if ((s1 >= 0 && s2 >= 0 && s3 >= 0) || (s1 <= 0 && s2 <= 0 && s3 <= 0))
          ink_[static_cast<std::size_t>(y) * w_ + x] = ink;
      }
  }
  Bitmap Picture(double noise, std::mt19937& rng) const {
    Bitmap b(w_, h_, PixelFormat::pf24bit);
    std::normal_distribution<double> n(0, noise);
    for (int y = 0; y < h_; ++y)
      for (int x = 0; x < w_; ++x) {
        const double v = 236 - 206 * ink_[static_cast<std::size_t>(y) * w_ + x] + (noise > 0 ? n(rng) : 0);
        const auto g = static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        b.SetPixel(x, y, {g, static_cast<std::uint8_t>(std::min(255, g + 6)), g});
      }
    return b;
  }

private:
  int w_, h_;
  double zoom_;
  std::vector<float> ink_;
};

P Turn(P p, P centre, double degrees) {
  const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
  return {centre.X + c * (p.X - centre.X) - s * (p.Y - centre.Y), centre.Y + s * (p.X - centre.X) + c * (p.Y - centre.Y)};
}

std::array<P, 4> Turned(std::array<P, 4> q, P centre, double degrees) {
  for (P& p : q) p = Turn(p, centre, degrees);
  return q;
}

// Outward by d from a quad of nearly right angles.
std::array<P, 4> Grown(const std::array<P, 4>& q, double d) {
  P c{0, 0};
  for (const P& p : q) c = {c.X + p.X / 4, c.Y + p.Y / 4};
  std::array<P, 4> out;
  for (int i = 0; i < 4; ++i) {
    const double dx = q[i].X - c.X, dy = q[i].Y - c.Y, l = std::hypot(dx, dy);
    out[i] = {q[i].X + dx / l * d * std::sqrt(2.0), q[i].Y + dy / l * d * std::sqrt(2.0)};
  }
  return out;
}

struct ScanCase {
  const char* Name;
  double Degrees;
  double OuterFrame; // its distance outside the neat line, 0: none
  bool MinuteBand, Collar, Grid;
  double Noise;
  int JpegQuality; // 0: none
  int Tear;        // 0 none, 1 onto paper, 2 onto a dark lid, 3 no frame to find (cut off)
  double Zoom = 1; // the drawing's pixels to the scan's
  // A grid line close inside the neat line, this many reduced-picture cells
  // from it at its two ends (0: none); on the left and bottom sides, or the
  // right and top ones when CloseRightTop.
  double CloseNear = 0, CloseFar = 0;
  bool CloseRightTop = false;
  bool HeavyText = false; // collar text packed up to the frame
  int CropWidth = 0;      // the scan cut to this width, its right side off it
};

// Glyph-like strokes packed into the collar, some a few pixels from the frame.
void DrawHeavyText(TScan& scan, const std::array<P, 4>& frame, P centre, double degrees, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  for (int k = 0; k < 4000; ++k) {
    const int side = k % 4;
    const P a = frame[side], b = frame[(side + 1) % 4];
    const double t = u(rng), out = 6 + 50 * u(rng);
    const double len = std::hypot(b.X - a.X, b.Y - a.Y), nx = (b.Y - a.Y) / len, ny = -(b.X - a.X) / len;
    const P at{a.X + (b.X - a.X) * t - nx * out, a.Y + (b.Y - a.Y) * t - ny * out};
    const P to{at.X + 8 * u(rng) - 4, at.Y + 8 * u(rng) - 4};
    scan.Line(Turn(at, centre, degrees), Turn(to, centre, degrees), 1.5);
  }
}

Bitmap Cropped(const Bitmap& picture, int width) {
  Bitmap out(width, picture.Height(), PixelFormat::pf24bit);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < width; ++x) out.SetPixel(x, y, picture.Pixel(x, y));
  return out;
}

// Grid lines parallel to two sides of the frame, near them inside, ending at it.
void DrawCloseLines(TScan& scan, const ScanCase& c, const std::array<P, 4>& frame, P centre, double cell) {
  const double n = c.CloseNear * cell, f = c.CloseFar * cell;
  const auto turn = [&](P p) { return Turn(p, centre, c.Degrees); };
  const P nw = frame[0], ne = frame[1], se = frame[2], sw = frame[3];
  if (c.CloseRightTop) {
    scan.Line(turn({ne.X - n, ne.Y}), turn({se.X - f, se.Y}), 1.5);
    scan.Line(turn({nw.X, nw.Y + n}), turn({ne.X, ne.Y + f}), 1.5);
  } else {
    scan.Line(turn({nw.X + n, nw.Y}), turn({sw.X + f, sw.Y}), 1.5);
    scan.Line(turn({sw.X, sw.Y - n}), turn({se.X, se.Y - f}), 1.5);
  }
}

Bitmap DrawScan(const ScanCase& c, std::array<P, 4>& expected) {
  constexpr int W = 2400, H = 1900;
  const P centre{W / 2.0, H / 2.0};
  // A trapezium, as a Gauss-Krüger sheet's frame is: its north side shorter.
  const std::array<P, 4> frame{{{330, 260}, {2060, 260}, {2075, 1620}, {315, 1620}}};
  expected = Turned(frame, centre, c.Degrees);
  TScan scan(W, H, c.Zoom);
  std::mt19937 rng(12345);
  scan.Quad(expected, 2.5);
  if (c.OuterFrame) scan.Quad(Turned(Grown(frame, c.OuterFrame), centre, c.Degrees), 9);
  if (c.MinuteBand) {
    // Two thin lines 18 and 30 px out with minutes filled in between, turn about.
    const auto inner = Turned(Grown(frame, 18), centre, c.Degrees), outer = Turned(Grown(frame, 30), centre, c.Degrees);
    scan.Quad(inner, 1.5);
    scan.Quad(outer, 1.5);
    for (int side = 0; side < 4; ++side)
      for (int k = 0; k < 20; k += 2) {
        const auto at = [&](const std::array<P, 4>& q, double t) {
          const P a = q[side], b = q[(side + 1) % 4];
          return P{a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t};
        };
        scan.Line(at(inner, (k + 0.5) / 20), at(outer, (k + 0.5) / 20), 12);
      }
  }
  if (c.Grid) {
    // Kilometre lines a little turned against the frame, ending at it.
    for (double x = 420; x < 2000; x += 160)
      scan.Line(Turn({x, 262}, centre, c.Degrees + 0.0), Turn({x + 12, 1618}, centre, c.Degrees), 1.5);
    for (double y = 330; y < 1600; y += 160)
      scan.Line(Turn({332 - (y - 260) * 15 / 1360, y}, centre, c.Degrees),
                Turn({2058 + (y - 260) * 15 / 1360, y + 10}, centre, c.Degrees), 1.5);
  }
  if (c.Collar) {
    std::uniform_real_distribution<double> u(0, 1);
    for (int k = 0; k < 400; ++k) {
      // Glyph-like strokes in the collar, outside the frame.
      const double t = u(rng);
      const int side = k % 4;
      P at = side == 0 ? P{330 + t * 1730, 200} : side == 1 ? P{330 + t * 1730, 1680} : side == 2 ? P{250, 260 + t * 1360} : P{2130, 260 + t * 1360};
      at = Turn(at, centre, c.Degrees);
      scan.Line(at, {at.X + 6 * u(rng) - 3, at.Y + 14}, 2);
    }
    for (int k = 0; k < 300; ++k) {
      const P at{400 + u(rng) * 1600, 330 + u(rng) * 1250};
      scan.Line(at, {at.X + 25 * u(rng), at.Y + 8 * u(rng)}, 1.5); // map detail
    }
  }
  // The finder's reduction of the scan, in drawing units.
  const double cell = std::ceil(W * c.Zoom / 2400) / c.Zoom;
  if (c.CloseNear > 0) DrawCloseLines(scan, c, frame, centre, cell);
  if (c.HeavyText) DrawHeavyText(scan, frame, centre, c.Degrees, rng);
  if (c.Tear == 1 || c.Tear == 2) {
    const P corner = expected[0];
    // Across the corner, taking 150 px of both sides with it.
    scan.Tear({corner.X - 400, corner.Y + 550}, {corner.X + 550, corner.Y - 400}, {corner.X - 400, corner.Y - 400},
              c.Tear == 1 ? 0.f : 0.9f);
  }
  for (P& p : expected) p = {p.X * c.Zoom, p.Y * c.Zoom};
  Bitmap picture = scan.Picture(c.Noise, rng);
  if (c.JpegQuality > 0) {
    std::vector<std::uint8_t> bytes;
    EncodeJpegTile(picture, static_cast<std::uint8_t>(c.JpegQuality), bytes);
    Bitmap decoded;
    DecodeJpeg(bytes.data(), bytes.size(), decoded);
    picture = std::move(decoded);
  }
  return c.CropWidth > 0 ? Cropped(picture, c.CropWidth) : picture;
}

const ScanCase kScans[] = {
    {"plain", 0, 0, false, false, false, 0, 0, 0},
    {"turned 3°", 3, 0, false, false, false, 0, 0, 0},
    {"turned -2.3° with an outer frame", -2.3, 45, false, false, false, 0, 0, 0},
    {"a close outer frame", 1.7, 14, false, false, false, 0, 0, 0},
    {"outer frame, collar, grid", 1.1, 45, false, true, true, 0, 0, 0},
    {"a minute band and an outer frame", -0.8, 60, true, true, true, 8, 70, 0},
    {"everything with noise and JPEG", -2.9, 30, false, true, true, 12, 40, 0},
    {"a corner torn onto paper", 0.7, 45, false, true, true, 6, 60, 1},
    {"a corner torn onto a dark lid", -1.4, 45, false, true, true, 6, 60, 2},
    // A grid line close inside the neat line must not be taken for it.
    {"grid line 1 cell inside", 0, 0, false, false, true, 0, 0, 0, 1.26, 1, 1},
    {"grid line 2 cells inside", 0.4, 0, false, false, true, 0, 0, 0, 1.26, 2, 2},
    {"grid line 3 cells inside", -1.2, 0, false, false, true, 0, 0, 0, 1.26, 3, 3, true},
    {"grid line 4 cells inside", 0, 0, false, true, true, 0, 0, 0, 1.26, 4, 4},
    {"grid line 4 cells inside, outer frame", 2.2, 30, false, true, true, 0, 0, 0, 1.26, 4, 4, true},
    {"grid line 5 cells inside, outer frame, JPEG", -2.7, 24, false, true, true, 8, 50, 0, 1.26, 5, 5},
    {"grid line 6 cells inside, JPEG", 3, 0, false, true, true, 8, 50, 0, 1.26, 6, 6, true},
    {"grid line turned 1 to 6 cells inside", 1.5, 45, false, true, true, 6, 60, 0, 1.26, 1, 6},
    {"grid line turned 6 to 2 cells inside", -0.6, 0, false, false, true, 6, 60, 0, 1.26, 6, 2, true},
    {"grid line 3 cells inside a minute band", 0.9, 60, true, true, true, 8, 70, 0, 1.26, 3, 3},
    {"grid line touching the neat line, reduced by 3", 2.8, 45, false, false, true, 6, 61, 0, 2.2, 1.6, 1.3},
    {"collar text packed up to the frame", -1.3, 0, false, true, true, 6, 60, 0, 1, 0, 0, false, true},
    {"collar text, a grid line 2 cells inside", 2.1, 40, false, true, true, 6, 60, 0, 1.26, 2, 3, true, true},
    {"a corner torn, a grid line 3 cells inside", 1.2, 45, false, true, true, 6, 60, 1, 1.26, 3, 3},
    // Refused: the frame's right side is off the picture, the grid lines
    // inside run to its edge.
    {"the frame cut by the picture's edge", 0.6, 0, false, true, true, 6, 0, 3, 1, 0, 0, false, false, 2000},
    {"the frame and its outer frame cut", -1.1, 45, false, true, true, 6, 0, 3, 1, 0, 0, false, false, 2040},
};

TEST(FrameFinder, SyntheticScansGiveTheirCornersOrARefusal) {
  for (const ScanCase& c : kScans) {
    SCOPED_TRACE(c.Name);
    std::array<P, 4> expected;
    const Bitmap picture = DrawScan(c, expected);
    const TFrameSearch found = FindSheetFrame(picture);
    if (c.Tear == 0) {
      EXPECT_TRUE(found.Found) << found.Problem << " confidence " << found.Confidence;
    }
    if (c.Tear == 3) {
      EXPECT_FALSE(found.Found);
    }
    if (!found.Found) {
      EXPECT_FALSE(found.Problem.empty());
      continue;
    }
    EXPECT_GE(found.Confidence, kFrameConfidenceNeeded);
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(found.Corners[i].X, expected[i].X, 1.0) << "corner " << i << " confidence " << found.Confidence;
      EXPECT_NEAR(found.Corners[i].Y, expected[i].Y, 1.0) << "corner " << i << " confidence " << found.Confidence;
    }
  }
}

TEST(FrameFinder, NoFrameIsRefused) {
  TScan scan(1600, 1200);
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  for (int k = 0; k < 600; ++k) {
    const P at{u(rng) * 1600, u(rng) * 1200};
    scan.Line(at, {at.X + 60 * u(rng), at.Y + 60 * u(rng)}, 2);
  }
  // Two long lines only: no closed frame.
  scan.Line({100, 100}, {1500, 110}, 3);
  scan.Line({100, 100}, {110, 1100}, 3);
  const TFrameSearch found = FindSheetFrame(scan.Picture(8, rng));
  EXPECT_FALSE(found.Found);
  EXPECT_FALSE(found.Problem.empty());
  EXPECT_FALSE(FindSheetFrame(Bitmap(10, 10, PixelFormat::pf8bit)).Found);
  EXPECT_FALSE(FindSheetFrame(Bitmap(500, 400, PixelFormat::pf24bit)).Found); // all black
}

// Scans with no sheet frame on them: nothing may be found.
struct FramelessCase {
  const char* Name;
  void (*Draw)(TScan& scan, std::mt19937& rng);
};

const FramelessCase kFrameless[] = {
    {"a grid across the whole scan",
     [](TScan& scan, std::mt19937&) {
       for (double x = 60; x < 1600; x += 150) scan.Line({x, 0}, {x + 20, 1199}, 2);
       for (double y = 40; y < 1200; y += 150) scan.Line({0, y}, {1599, y - 25}, 2);
     }},
    {"a grid with a frame's two sides",
     [](TScan& scan, std::mt19937&) {
       for (double x = 200; x < 1600; x += 150) scan.Line({x, 100}, {x + 10, 1199}, 1.5);
       for (double y = 200; y < 1200; y += 150) scan.Line({100, y}, {1599, y + 8}, 1.5);
       scan.Line({100, 100}, {1599, 108}, 3);
       scan.Line({100, 100}, {110, 1199}, 3);
     }},
    {"a photo: soft blotches and dark patches",
     [](TScan& scan, std::mt19937& rng) {
       std::uniform_real_distribution<double> u(0, 1);
       for (int k = 0; k < 120; ++k) {
         const P at{u(rng) * 1600, u(rng) * 1200};
         scan.Line(at, {at.X + 300 * u(rng) - 150, at.Y + 300 * u(rng) - 150}, 10 + 60 * u(rng),
                   static_cast<float>(0.2 + 0.8 * u(rng)));
       }
     }},
    {"text pages: rows of glyphs",
     [](TScan& scan, std::mt19937& rng) {
       std::uniform_real_distribution<double> u(0, 1);
       for (double y = 80; y < 1150; y += 28)
         for (double x = 90; x < 1500; x += 9 + 6 * u(rng))
           if (u(rng) < 0.85) scan.Line({x, y}, {x + 5 * u(rng), y + 16}, 1.8);
     }},
};

TEST(FrameFinder, ScansWithoutAFrameAreRefused) {
  for (const FramelessCase& c : kFrameless) {
    SCOPED_TRACE(c.Name);
    TScan scan(1600, 1200);
    std::mt19937 rng(11);
    c.Draw(scan, rng);
    const TFrameSearch found = FindSheetFrame(scan.Picture(6, rng));
    EXPECT_FALSE(found.Found) << found.Corners[0].X << "," << found.Corners[0].Y << " confidence "
                              << found.Confidence;
    EXPECT_FALSE(found.Problem.empty());
  }
}

// A torn corner where a grid line runs close inside the neat line, at random
// distances and turns: each frame measured closely or refused.
TEST(FrameFinder, TornCornersBesideCloseGridLinesAreMeasuredOrRefused) {
  std::mt19937 rng(2926);
  std::uniform_real_distribution<double> u(0, 1);
  int measured = 0;
  for (int k = 0; k < 30; ++k) {
    ScanCase c{"sweep", 6 * u(rng) - 3, u(rng) < 0.5 ? 0.0 : 45.0, false, true, true, 6, 0, u(rng) < 0.7 ? 1 : 2,
               1.26, 1 + 5 * u(rng), 1 + 5 * u(rng), u(rng) < 0.5};
    SCOPED_TRACE(testing::Message() << "case " << k << ": " << c.Degrees << "°, outer " << c.OuterFrame << ", tear "
                                    << c.Tear << ", close " << c.CloseNear << ".." << c.CloseFar
                                    << (c.CloseRightTop ? " right/top" : " left/bottom"));
    std::array<P, 4> expected;
    const TFrameSearch found = FindSheetFrame(DrawScan(c, expected));
    if (!found.Found) continue;
    ++measured;
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(found.Corners[i].X, expected[i].X, 1.5) << "corner " << i << " confidence " << found.Confidence;
      EXPECT_NEAR(found.Corners[i].Y, expected[i].Y, 1.5) << "corner " << i << " confidence " << found.Confidence;
    }
  }
  // Refusing them all would pass the loop; most are there to be measured.
  EXPECT_GE(measured, 15);
}

} // namespace
