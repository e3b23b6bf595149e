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
  TScan(int w, int h) : w_(w), h_(h), ink_(static_cast<std::size_t>(w) * h, 0.f) {}

  // An anti-aliased straight stroke of the given width.
  void Line(P a, P b, double width, float ink = 1) {
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
  int Tear;        // 0 none, 1 onto paper, 2 onto a dark lid
};

Bitmap DrawScan(const ScanCase& c, std::array<P, 4>& expected) {
  constexpr int W = 2400, H = 1900;
  const P centre{W / 2.0, H / 2.0};
  // A trapezium, as a Gauss-Krüger sheet's frame is: its north side shorter.
  const std::array<P, 4> frame{{{330, 260}, {2060, 260}, {2075, 1620}, {315, 1620}}};
  expected = Turned(frame, centre, c.Degrees);
  TScan scan(W, H);
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
  if (c.Tear == 1 || c.Tear == 2) {
    const P corner = expected[0];
    // Across the corner, taking 150 px of both sides with it.
    scan.Tear({corner.X - 400, corner.Y + 550}, {corner.X + 550, corner.Y - 400}, {corner.X - 400, corner.Y - 400},
              c.Tear == 1 ? 0.f : 0.9f);
  }
  Bitmap picture = scan.Picture(c.Noise, rng);
  if (c.JpegQuality > 0) {
    std::vector<std::uint8_t> bytes;
    EncodeJpegTile(picture, static_cast<std::uint8_t>(c.JpegQuality), bytes);
    Bitmap decoded;
    DecodeJpeg(bytes.data(), bytes.size(), decoded);
    picture = std::move(decoded);
  }
  return picture;
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
};

TEST(FrameFinder, SyntheticScansGiveTheirCornersOrARefusal) {
  for (const ScanCase& c : kScans) {
    SCOPED_TRACE(c.Name);
    std::array<P, 4> expected;
    const Bitmap picture = DrawScan(c, expected);
    const TFrameSearch found = FindSheetFrame(picture);
    if (c.Tear == 0) {
      ASSERT_TRUE(found.Found) << found.Problem << " confidence " << found.Confidence;
    }
    if (!found.Found) {
      EXPECT_FALSE(found.Problem.empty());
      continue;
    }
    EXPECT_GE(found.Confidence, kFrameConfidenceNeeded);
    for (int i = 0; i < 4; ++i) {
      EXPECT_NEAR(found.Corners[i].X, expected[i].X, 1.0) << "corner " << i;
      EXPECT_NEAR(found.Corners[i].Y, expected[i].Y, 1.0) << "corner " << i;
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

} // namespace
