#include "model/FrameFinder.h"

#include "base/Messages.h"
#include "codecs/Bitmap.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

namespace zv {
namespace {

// The reduced picture's longer side: large enough that the neat line and a
// frame line a millimetre or two beside it stay apart. Lines are looked for
// on half of it, which is quicker, and then set on it.
constexpr int kReducedSide = 2400;
// Sides are looked for within this many degrees of the picture's axes.
constexpr double kMaxTurnDegrees = 5;
// A side and its opposite are at least this part of the picture apart.
constexpr double kLeastFrameShare = 0.4;

// Grey levels (0 black .. 255 white) of a picture of any format.
class TGreyReader {
public:
  explicit TGreyReader(const Bitmap& picture) : p_(picture) {
    for (std::size_t i = 0; i < picture.Palette().size() && i < 256; ++i) lut_[i] = Grey(picture.Palette()[i]);
  }
  static std::uint8_t Grey(Rgb c) { return static_cast<std::uint8_t>((77 * c.r + 150 * c.g + 29 * c.b) >> 8); }

  // Row y from x0 to x1 (exclusive) into out.
  void Row(int y, int x0, int x1, std::uint8_t* out) const {
    const std::uint8_t* row = p_.Row(y);
    if (p_.Format() == PixelFormat::pf24bit) {
      for (int x = x0; x < x1; ++x) {
        const std::uint8_t* px = row + 3 * static_cast<std::size_t>(x);
        out[x - x0] = static_cast<std::uint8_t>((77 * px[0] + 150 * px[1] + 29 * px[2]) >> 8);
      }
    } else if (p_.Format() == PixelFormat::pf8bit) {
      for (int x = x0; x < x1; ++x) out[x - x0] = lut_[row[x]];
    } else {
      for (int x = x0; x < x1; ++x) out[x - x0] = lut_[p_.Index(x, y)];
    }
  }
  std::uint8_t At(int x, int y) const {
    if (p_.Format() == PixelFormat::pf24bit) {
      const std::uint8_t* px = p_.Row(y) + 3 * static_cast<std::size_t>(x);
      return static_cast<std::uint8_t>((77 * px[0] + 150 * px[1] + 29 * px[2]) >> 8);
    }
    return lut_[p_.Index(x, y)];
  }

private:
  const Bitmap& p_;
  std::array<std::uint8_t, 256> lut_{};
};

// The picture reduced by Factor: each cell the darkest of its block, so
// that a line one pixel wide stays dark.
struct TReduced {
  int Factor = 1;
  int W = 0, H = 0;
  std::vector<std::uint8_t> Grey;
  std::vector<std::uint8_t> Ink;
  bool InkAt(int x, int y) const { return x >= 0 && y >= 0 && x < W && y < H && Ink[std::size_t(y) * W + x]; }
};

void ReduceRows(const TGreyReader& reader, int width, int factor, int y0, int y1, TReduced& r) {
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
  for (int y = y0; y < y1; ++y) {
    reader.Row(y, 0, width, row.data());
    std::uint8_t* out = &r.Grey[static_cast<std::size_t>(y / factor) * r.W];
    for (int x = 0; x < width; ++x) {
      std::uint8_t& cell = out[x / factor];
      if (row[x] < cell) cell = row[x];
    }
  }
}

TReduced Reduce(const Bitmap& picture) {
  TReduced r;
  const int side = std::max(picture.Width(), picture.Height());
  r.Factor = std::max(1, (side + kReducedSide - 1) / kReducedSide);
  r.W = (picture.Width() + r.Factor - 1) / r.Factor;
  r.H = (picture.Height() + r.Factor - 1) / r.Factor;
  r.Grey.assign(static_cast<std::size_t>(r.W) * r.H, 255);
  const TGreyReader reader(picture);
  // Two bands of whole cell rows, one a thread: the pass over a large
  // picture is what takes the time.
  const int cellRows = r.H, half = (cellRows / 2) * r.Factor;
  if (picture.Height() >= 2048) {
    std::thread other([&] { ReduceRows(reader, picture.Width(), r.Factor, half, picture.Height(), r); });
    ReduceRows(reader, picture.Width(), r.Factor, 0, half, r);
    other.join();
  } else {
    ReduceRows(reader, picture.Width(), r.Factor, 0, picture.Height(), r);
  }
  return r;
}

// Ink: darker than halfway between the paper and the darkest marks. False
// when the picture has no such contrast.
bool MarkInk(TReduced& r) {
  std::array<std::size_t, 256> histogram{};
  for (std::uint8_t v : r.Grey) ++histogram[v];
  const auto percentile = [&](double share) {
    std::size_t seen = 0;
    const auto wanted = static_cast<std::size_t>(share * static_cast<double>(r.Grey.size()));
    for (int v = 0; v < 256; ++v)
      if ((seen += histogram[static_cast<std::size_t>(v)]) > wanted) return v;
    return 255;
  };
  const int paper = percentile(0.9), dark = percentile(0.001);
  if (paper - dark < 48) return false;
  const int threshold = (paper + dark) / 2;
  r.Ink.resize(r.Grey.size());
  for (std::size_t i = 0; i < r.Grey.size(); ++i) r.Ink[i] = r.Grey[i] < threshold;
  return true;
}

// A straight line of the reduced picture: across = R + S × along, where
// along is x and across y for a horizontal line, the other way round for a
// vertical one. Hits counts, along its length, where it runs over ink.
struct TLine {
  bool Vertical = false;
  double R = 0, S = 0;
  int Votes = 0;
  std::vector<int> Hits; // prefix sums: Hits[a] = ink cells before along a
  double Across(double along) const { return R + S * along; }
  // The share of ink over [a0, a1) along the line, cells off the picture aside.
  double Share(double a0, double a1) const {
    const int n = static_cast<int>(Hits.size()) - 1;
    const int from = std::clamp(static_cast<int>(std::ceil(a0)), 0, n);
    const int to = std::clamp(static_cast<int>(std::floor(a1)), 0, n);
    return to > from ? static_cast<double>(Hits[to] - Hits[from]) / (to - from) : 0;
  }
};

bool InkNear(const TReduced& r, bool vertical, int along, double across) {
  const int c = static_cast<int>(std::lround(across));
  for (int d = -1; d <= 1; ++d)
    if (vertical ? r.InkAt(c + d, along) : r.InkAt(along, c + d)) return true;
  return false;
}

void MeasureHits(const TReduced& r, TLine& line) {
  const int length = line.Vertical ? r.H : r.W;
  line.Hits.assign(static_cast<std::size_t>(length) + 1, 0);
  for (int a = 0; a < length; ++a)
    line.Hits[a + 1] = line.Hits[a] + (InkNear(r, line.Vertical, a, line.Across(a)) ? 1 : 0);
}

// Every ink cell votes for the lines through it at each angle; the best
// angle of each offset, kept where it is a local peak, long enough to be a
// side of the frame.
std::vector<TLine> FindLines(const TReduced& r, bool vertical) {
  const int length = vertical ? r.H : r.W, breadth = vertical ? r.W : r.H;
  const double maxSlope = std::tan(kMaxTurnDegrees * M_PI / 180);
  const double step = 0.8 / length;
  const int angles = 2 * static_cast<int>(std::ceil(maxSlope / step)) + 1;
  const int offset = static_cast<int>(std::ceil(maxSlope * length)) + 2, bins = breadth + 2 * offset;
  std::vector<std::pair<int, int>> ink; // (along, across)
  for (int y = 0; y < r.H; ++y)
    for (int x = 0; x < r.W; ++x)
      if (r.Ink[std::size_t(y) * r.W + x]) ink.emplace_back(vertical ? y : x, vertical ? x : y);
  std::vector<int> best(static_cast<std::size_t>(bins), 0), bestAngle(static_cast<std::size_t>(bins), 0),
      votes(static_cast<std::size_t>(bins));
  for (int k = 0; k < angles; ++k) {
    const double s = -maxSlope + k * step;
    std::fill(votes.begin(), votes.end(), 0);
    for (const auto& [a, c] : ink) ++votes[static_cast<std::size_t>(std::lround(c - s * a)) + offset];
    for (int b = 0; b < bins; ++b)
      if (votes[b] > best[b]) {
        best[b] = votes[b];
        bestAngle[b] = k;
      }
  }
  std::vector<TLine> lines;
  const int least = static_cast<int>(0.25 * length);
  for (int b = 0; b < bins; ++b) {
    if (best[b] < least) continue;
    bool peak = true;
    for (int d = -1; d <= 1 && peak; ++d)
      if (d != 0 && b + d >= 0 && b + d < bins && (best[b + d] > best[b] || (best[b + d] == best[b] && d < 0)))
        peak = false;
    if (!peak) continue;
    TLine line;
    line.Vertical = vertical;
    line.R = b - offset;
    line.S = -maxSlope + bestAngle[b] * step;
    line.Votes = best[b];
    lines.push_back(std::move(line));
  }
  std::stable_sort(lines.begin(), lines.end(), [](const TLine& a, const TLine& b) { return a.Votes > b.Votes; });
  if (lines.size() > 40) lines.resize(40);
  return lines;
}

// Ink cells on the line, counted along its whole length.
int CountHits(const TReduced& r, const TLine& line) {
  const int length = line.Vertical ? r.H : r.W;
  int hits = 0;
  for (int a = 0; a < length; ++a) hits += InkNear(r, line.Vertical, a, line.Across(a)) ? 1 : 0;
  return hits;
}

// Lines found on the half-size picture, set on the full-size one: moved
// and turned within the half-size picture's precision to lie on the most ink.
std::vector<TLine> SetOnFinerCells(const TReduced& fine, const std::vector<TLine>& coarse) {
  std::vector<TLine> lines;
  for (const TLine& c : coarse) {
    TLine best = c;
    best.R = 2 * c.R + 0.5 - 0.5 * c.S;
    best.Votes = -1;
    const double slopeStep = 0.5 / (c.Vertical ? fine.H : fine.W);
    const TLine start = best;
    for (int ds = -2; ds <= 2; ++ds)
      for (int dr = -4; dr <= 4; ++dr) {
        TLine t = start;
        t.R += 0.5 * dr;
        t.S += ds * slopeStep;
        t.R -= ds * slopeStep * (c.Vertical ? fine.H : fine.W) / 2; // turned about its middle
        const int hits = CountHits(fine, t);
        if (hits > best.Votes) {
          best = t;
          best.Votes = hits;
        }
      }
    const bool same = std::any_of(lines.begin(), lines.end(), [&](const TLine& l) {
      const double mid = (c.Vertical ? fine.H : fine.W) / 2.0;
      return std::fabs(l.Across(mid) - best.Across(mid)) < 1.5;
    });
    if (same) continue;
    MeasureHits(fine, best);
    lines.push_back(std::move(best));
  }
  return lines;
}

// Ink of the picture at half the size: a cell is ink when any of its four is.
TReduced Halved(const TReduced& r) {
  TReduced h;
  h.Factor = r.Factor * 2;
  h.W = (r.W + 1) / 2;
  h.H = (r.H + 1) / 2;
  h.Ink.assign(static_cast<std::size_t>(h.W) * h.H, 0);
  for (int y = 0; y < r.H; ++y)
    for (int x = 0; x < r.W; ++x)
      if (r.Ink[std::size_t(y) * r.W + x]) h.Ink[std::size_t(y / 2) * h.W + x / 2] = 1;
  return h;
}

struct TPoint {
  double X = 0, Y = 0;
};

// Where a horizontal line h meets a vertical line v.
TPoint Meet(double hR, double hS, double vR, double vS) {
  const double y = (hR + vR * hS) / (1 - vS * hS);
  return {vR + y * vS, y};
}

// How well a line serves as a side from a0 to a1: ink over most of it, and
// none running on past either end (grid lines run on past the corners of
// the rectangles they make, up to the frame; the frame's sides stop at its
// corners, with the collar's gap beyond).
bool SideHolds(const TLine& line, double a0, double a1) {
  constexpr double kMargin = 3;
  const double reach = std::max(6.0, 0.01 * (a1 - a0));
  if (line.Share(a0 + kMargin, a1 - kMargin) < 0.55) return false;
  if (line.Share(a0 - kMargin - reach, a0 - kMargin) > 0.75 || line.Share(a1 + kMargin, a1 + kMargin + reach) > 0.75)
    return false;
  // Two cells past the corner, beyond the crossing side's own ink, three in
  // a row: whole cells, so that as many are looked at wherever the corner falls.
  constexpr double kGap = 2, kRunOn = 3;
  const double before = std::floor(a0) - kGap, after = std::ceil(a1) + kGap;
  return line.Share(before - kRunOn, before) < 1 && line.Share(after, after + kRunOn) < 1;
}

struct TQuad {
  const TLine *Top = nullptr, *Bottom = nullptr, *Left = nullptr, *Right = nullptr;
  std::array<TPoint, 4> Corners{}; // NW NE SE SW, reduced picture
};

bool MakeQuad(const TReduced& r, TQuad& q) {
  q.Corners = {Meet(q.Top->R, q.Top->S, q.Left->R, q.Left->S), Meet(q.Top->R, q.Top->S, q.Right->R, q.Right->S),
               Meet(q.Bottom->R, q.Bottom->S, q.Right->R, q.Right->S),
               Meet(q.Bottom->R, q.Bottom->S, q.Left->R, q.Left->S)};
  for (const TPoint& c : q.Corners)
    if (c.X < -1 || c.Y < -1 || c.X > r.W || c.Y > r.H) return false;
  const auto& c = q.Corners;
  return SideHolds(*q.Top, c[0].X, c[1].X) && SideHolds(*q.Bottom, c[3].X, c[2].X) &&
         SideHolds(*q.Left, c[0].Y, c[3].Y) && SideHolds(*q.Right, c[1].Y, c[2].Y);
}

// Whether lines of the other direction run across side (from a0 to a1)
// and on beyond it, outward being towards lower coordinates when
// outwardLower: grid lines cross each other, but end at the neat line.
bool Crossed(const TLine& side, const std::vector<TLine>& others, double a0, double a1, bool outwardLower) {
  constexpr double kRun = 3;
  int crossings = 0;
  for (const TLine& other : others) {
    const TPoint at = side.Vertical ? Meet(other.R, other.S, side.R, side.S) : Meet(side.R, side.S, other.R, other.S);
    const double along = side.Vertical ? at.Y : at.X, there = side.Vertical ? at.X : at.Y;
    if (along < a0 + 0.05 * (a1 - a0) || along > a1 - 0.05 * (a1 - a0)) continue;
    // The cells one to three past the line on either side.
    const double inner = outwardLower ? std::ceil(there) + 1 : std::floor(there) - 1 - kRun;
    const double outer = outwardLower ? std::floor(there) - 1 - kRun : std::ceil(there) + 1;
    if (other.Share(inner, inner + kRun) >= 1 && other.Share(outer, outer + kRun) >= 1) ++crossings;
  }
  return crossings >= 2;
}

bool CrossedSides(const TQuad& q, const std::vector<TLine>& across, const std::vector<TLine>& down) {
  const auto& c = q.Corners;
  return Crossed(*q.Top, down, c[0].X, c[1].X, true) || Crossed(*q.Bottom, down, c[3].X, c[2].X, false) ||
         Crossed(*q.Left, across, c[0].Y, c[3].Y, true) || Crossed(*q.Right, across, c[1].Y, c[2].Y, false);
}

// The smallest frame among the lines: the neat line lies inside any outer
// frame, and inside it only grid lines, which run on past their crossings.
bool ChooseFrame(const TReduced& r, const std::vector<TLine>& across, const std::vector<TLine>& down, TQuad& chosen) {
  double smallest = 0;
  const double midX = r.W / 2.0, midY = r.H / 2.0;
  for (const TLine& top : across)
    for (const TLine& bottom : across) {
      if (bottom.Across(midX) - top.Across(midX) < kLeastFrameShare * r.H) continue;
      for (const TLine& left : down)
        for (const TLine& right : down) {
          if (right.Across(midY) - left.Across(midY) < kLeastFrameShare * r.W) continue;
          const double area = (bottom.Across(midX) - top.Across(midX)) * (right.Across(midY) - left.Across(midY));
          if (smallest > 0 && area >= smallest) continue;
          TQuad q{&top, &bottom, &left, &right, {}};
          if (!MakeQuad(r, q) || CrossedSides(q, across, down)) continue;
          chosen = q;
          smallest = area;
        }
    }
  return smallest > 0;
}

// One side measured at full resolution: across = A + B × along.
struct TSide {
  double A = 0, B = 0;
  double Inliers = 0; // share of the samples on the fitted line
  double Rms = 0;
};

// The centre of the dark run nearest to `predicted` on the profile across
// the side at `along`, within `half` pixels; NaN when there is none.
double DarkRunCentre(const TGreyReader& g, const Bitmap& p, bool vertical, int along, double predicted, int half,
                     int& runLength) {
  const int extent = vertical ? p.Width() : p.Height();
  const int c0 = std::max(0, static_cast<int>(std::floor(predicted)) - half);
  const int c1 = std::min(extent - 1, static_cast<int>(std::ceil(predicted)) + half);
  if (c1 - c0 < 3) return NAN;
  std::vector<int> v(static_cast<std::size_t>(c1 - c0 + 1));
  for (int c = c0; c <= c1; ++c) v[c - c0] = vertical ? g.At(c, along) : g.At(along, c);
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  if (*hi - *lo < 40) return NAN;
  const int threshold = (*hi + *lo) / 2;
  double bestCentre = NAN, bestDistance = 1e9;
  for (int i = 0; i < static_cast<int>(v.size());) {
    if (v[i] >= threshold) {
      ++i;
      continue;
    }
    int j = i;
    double sum = 0, weighted = 0;
    for (; j < static_cast<int>(v.size()) && v[j] < threshold; ++j) {
      sum += threshold - v[j];
      weighted += (threshold - v[j]) * static_cast<double>(c0 + j);
    }
    // A run reaching the window's end is a line along the profile, or a blot.
    const bool whole = i > 0 && j < static_cast<int>(v.size());
    const double centre = weighted / sum;
    if (whole && std::fabs(centre - predicted) < bestDistance) {
      bestDistance = std::fabs(centre - predicted);
      bestCentre = centre;
      runLength = j - i;
    }
    i = j;
  }
  return bestCentre;
}

// A least-squares line through the samples, dropping those far from it
// until the rest agree.
TSide RobustFit(const std::vector<std::pair<double, double>>& samples, std::size_t asked) {
  TSide side;
  std::vector<bool> used(samples.size(), true);
  for (int round = 0; round < 6; ++round) {
    double n = 0, sa = 0, sc = 0, saa = 0, sac = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
      if (used[i]) {
        const auto [a, c] = samples[i];
        n += 1, sa += a, sc += c, saa += a * a, sac += a * c;
      }
    const double det = n * saa - sa * sa;
    if (n < 8 || std::fabs(det) < 1e-9) return TSide{};
    side.B = (n * sac - sa * sc) / det;
    side.A = (sc - side.B * sa) / n;
    std::vector<double> residuals;
    for (std::size_t i = 0; i < samples.size(); ++i)
      if (used[i]) residuals.push_back(std::fabs(samples[i].second - side.A - side.B * samples[i].first));
    std::nth_element(residuals.begin(), residuals.begin() + residuals.size() / 2, residuals.end());
    const double limit = std::max(1.0, 3 * 1.4826 * residuals[residuals.size() / 2]);
    double squares = 0, kept = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
      const double d = std::fabs(samples[i].second - side.A - side.B * samples[i].first);
      used[i] = d <= limit;
      if (used[i]) squares += d * d, kept += 1;
    }
    side.Rms = std::sqrt(squares / std::max(1.0, kept));
    side.Inliers = kept / static_cast<double>(asked);
  }
  return side;
}

// The side measured along its length between its corners (full picture
// pixels), near the line across = a + b × along: twice, the second time in
// a narrow band around the first fit.
TSide MeasureSide(const TGreyReader& g, const Bitmap& p, bool vertical, double a, double b, double from, double to,
                  int half) {
  const int samples = static_cast<int>(std::clamp((to - from) / 2, 16.0, 600.0));
  const int lastAlong = (vertical ? p.Height() : p.Width()) - 1;
  const double margin = 0.02 * (to - from);
  TSide side{a, b, 0, 0};
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::pair<double, double>> found;
    std::vector<int> runs;
    for (int k = 0; k < samples; ++k) {
      const int along = std::clamp(
          static_cast<int>(std::lround(from + margin + (to - from - 2 * margin) * (k + 0.5) / samples)), 0, lastAlong);
      int run = 0;
      const double c = DarkRunCentre(g, p, vertical, along, side.A + side.B * along, half, run);
      if (std::isfinite(c)) {
        found.emplace_back(along, c);
        runs.push_back(run);
      }
    }
    if (found.size() < 8) return TSide{};
    side = RobustFit(found, static_cast<std::size_t>(samples));
    std::nth_element(runs.begin(), runs.begin() + runs.size() / 2, runs.end());
    half = runs[runs.size() / 2] / 2 + 4;
  }
  return side;
}

TPoint MeetSides(const TSide& h, const TSide& v) { return Meet(h.A, h.B, v.A, v.B); }

// The chosen quad's sides at full resolution, intersected.
TFrameSearch Refine(const Bitmap& p, const TReduced& r, const TQuad& q) {
  const TGreyReader g(p);
  const double f = r.Factor;
  const auto full = [f](double v) { return (v + 0.5) * f - 0.5; };
  // A reduced line across = R + S × along in full pixels: across = A + S × along.
  const auto lineA = [&](const TLine& l) { return full(l.R) + 0.5 * l.S * (1 - f); };
  const int half = static_cast<int>(f) + 4;
  const auto& c = q.Corners;
  const TSide top = MeasureSide(g, p, false, lineA(*q.Top), q.Top->S, full(c[0].X), full(c[1].X), half);
  const TSide bottom = MeasureSide(g, p, false, lineA(*q.Bottom), q.Bottom->S, full(c[3].X), full(c[2].X), half);
  const TSide left = MeasureSide(g, p, true, lineA(*q.Left), q.Left->S, full(c[0].Y), full(c[3].Y), half);
  const TSide right = MeasureSide(g, p, true, lineA(*q.Right), q.Right->S, full(c[1].Y), full(c[2].Y), half);
  TFrameSearch result;
  const TPoint corners[4] = {MeetSides(top, left), MeetSides(top, right), MeetSides(bottom, right),
                             MeetSides(bottom, left)};
  double confidence = 1;
  for (const TSide* s : {&top, &bottom, &left, &right})
    confidence = std::min(confidence, s->Inliers * std::clamp(1.5 - s->Rms / 2, 0.0, 1.0));
  result.Confidence = confidence;
  for (int i = 0; i < 4; ++i) {
    result.Corners[i] = {corners[i].X, corners[i].Y};
    if (!(corners[i].X >= -0.5 && corners[i].Y >= -0.5 && corners[i].X <= p.Width() - 0.5 &&
          corners[i].Y <= p.Height() - 0.5)) {
      result.Problem = msg::FrameCornerOffPicture;
      return result;
    }
  }
  if (confidence < kFrameConfidenceNeeded) {
    result.Problem = msg::FrameNotConfident(confidence);
    return result;
  }
  result.Found = true;
  return result;
}

} // namespace

TFrameSearch FindSheetFrame(const Bitmap& picture) {
  TFrameSearch none;
  if (picture.Width() < 32 || picture.Height() < 32) {
    none.Problem = msg::FrameNotFound;
    return none;
  }
  TReduced r = Reduce(picture);
  if (!MarkInk(r)) {
    none.Problem = msg::FrameNotFound;
    return none;
  }
  const TReduced half = Halved(r);
  const std::vector<TLine> across = SetOnFinerCells(r, FindLines(half, false));
  const std::vector<TLine> down = SetOnFinerCells(r, FindLines(half, true));
  TQuad quad;
  if (!ChooseFrame(r, across, down, quad)) {
    none.Problem = msg::FrameNotFound;
    return none;
  }
  return Refine(picture, r, quad);
}

} // namespace zv
