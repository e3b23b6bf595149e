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
  int Threshold = 0; // grey levels below it are ink
  bool InkAt(int x, int y) const { return x >= 0 && y >= 0 && x < W && y < H && Ink[std::size_t(y) * W + x]; }
};

bool Stopped(const std::atomic<bool>* stop) { return stop && stop->load(std::memory_order_relaxed); }

void ReduceRows(const TGreyReader& reader, int width, int factor, int y0, int y1, TReduced& r,
                const std::atomic<bool>* stop) {
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width));
  for (int y = y0; y < y1; ++y) {
    if ((y & 63) == 0 && Stopped(stop)) return;
    reader.Row(y, 0, width, row.data());
    std::uint8_t* out = &r.Grey[static_cast<std::size_t>(y / factor) * r.W];
    for (int x = 0; x < width; ++x) {
      std::uint8_t& cell = out[x / factor];
      if (row[x] < cell) cell = row[x];
    }
  }
}

TReduced Reduce(const Bitmap& picture, const std::atomic<bool>* stop) {
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
    std::thread other([&] { ReduceRows(reader, picture.Width(), r.Factor, half, picture.Height(), r, stop); });
    ReduceRows(reader, picture.Width(), r.Factor, 0, half, r, stop);
    other.join();
  } else {
    ReduceRows(reader, picture.Width(), r.Factor, 0, picture.Height(), r, stop);
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
  r.Threshold = threshold;
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

// Ink cells on the line, counted along its whole length; four times over,
// with the cells exactly under it added, so that of the positions touching
// a line's ink the one through its middle counts most.
int CountHits(const TReduced& r, const TLine& line) {
  const int length = line.Vertical ? r.H : r.W;
  int hits = 0;
  for (int a = 0; a < length; ++a) {
    const double across = line.Across(a);
    if (!InkNear(r, line.Vertical, a, across)) continue;
    const int c = static_cast<int>(std::lround(across));
    hits += 4 + ((line.Vertical ? r.InkAt(c, a) : r.InkAt(a, c)) ? 1 : 0);
  }
  return hits;
}

// Lines found on the half-size picture, set on the full-size one: moved
// and turned within the half-size picture's precision to lie on the most
// ink. Where two lines a few cells apart made one peak there (the neat line
// and a grid line beside it), both are kept.
std::vector<TLine> SetOnFinerCells(const TReduced& fine, const std::vector<TLine>& coarse) {
  constexpr int kShifts = 6; // half cells either way
  std::vector<TLine> lines;
  const double mid = (coarse.empty() || !coarse[0].Vertical ? fine.W : fine.H) / 2.0;
  for (const TLine& c : coarse) {
    TLine start = c;
    start.R = 2 * c.R + 0.5 - 0.5 * c.S;
    const double length = c.Vertical ? fine.H : fine.W, slopeStep = 0.5 / length;
    // The best slope at each shift.
    std::array<TLine, 2 * kShifts + 1> at;
    for (int dr = -kShifts; dr <= kShifts; ++dr) {
      TLine& best = at[static_cast<std::size_t>(dr + kShifts)];
      best.Votes = -1;
      for (int ds = -2; ds <= 2; ++ds) {
        TLine t = start;
        t.S += ds * slopeStep;
        t.R += 0.5 * dr - ds * slopeStep * length / 2; // turned about its middle
        t.Votes = CountHits(fine, t);
        if (t.Votes > best.Votes) best = t;
      }
    }
    int most = 0;
    for (const TLine& t : at) most = std::max(most, t.Votes);
    for (int k = 0; k <= 2 * kShifts; ++k) {
      const TLine& t = at[static_cast<std::size_t>(k)];
      const bool peak = t.Votes >= 0.85 * most && (k == 0 || at[k - 1].Votes < t.Votes) &&
                        (k == 2 * kShifts || at[k + 1].Votes <= t.Votes);
      const bool same = std::any_of(lines.begin(), lines.end(),
                                    [&](const TLine& l) { return std::fabs(l.Across(mid) - t.Across(mid)) < 1.5; });
      if (!peak || same) continue;
      lines.push_back(t);
      MeasureHits(fine, lines.back());
    }
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
// Reduced cells a grid line close inside the neat line may be away from it.
constexpr int kMaxRunOn = 9;

// The cells of ink in a row on the line from cell `from` on, going by `step`.
int InkRun(const TLine& line, double from, int step) {
  const int n = static_cast<int>(line.Hits.size()) - 1;
  int run = 0;
  for (int a = static_cast<int>(from); a >= 0 && a < n && line.Hits[a + 1] > line.Hits[a]; a += step) ++run;
  return run;
}

bool SideHolds(const TLine& line, double a0, double a1) {
  constexpr double kMargin = 3;
  const double reach = std::max(16.0, 0.02 * (a1 - a0)); // longer than a thick outer frame line is wide
  if (line.Share(a0 + kMargin, a1 - kMargin) < 0.55) return false;
  if (line.Share(a0 - kMaxRunOn - reach, a0 - kMaxRunOn) > 0.75 ||
      line.Share(a1 + kMaxRunOn, a1 + kMaxRunOn + reach) > 0.75)
    return false;
  // Ink running on unbroken from the corner, further than a grid line close
  // inside the neat line would take it (which the full-resolution measure
  // then tells from the neat line), is a side going on past its corner.
  // Ink further out (a frame line, the collar) is no matter.
  return InkRun(line, std::floor(a0), -1) <= kMaxRunOn && InkRun(line, std::ceil(a1), 1) <= kMaxRunOn;
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
  // Six cells: a double line (the neat line and a grid line beside it) is
  // not a line running on.
  constexpr double kRun = 6;
  int crossings = 0;
  for (const TLine& other : others) {
    const TPoint at = side.Vertical ? Meet(other.R, other.S, side.R, side.S) : Meet(side.R, side.S, other.R, other.S);
    const double along = side.Vertical ? at.Y : at.X, there = side.Vertical ? at.X : at.Y;
    if (along < a0 + 0.05 * (a1 - a0) || along > a1 - 0.05 * (a1 - a0)) continue;
    // The cells one to six past the line on either side.
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
  double Width = 0; // the line's usual dark run across it, in pixels
};

// A dark run across a side: its centre and its edges where the profile
// crosses halfway, to a fraction of a pixel.
struct TRun {
  double Centre = NAN, Low = 0, High = 0;
};

// The dark run nearest to `predicted` on the profile across the side at
// `along`, within `half` pixels; Centre NaN when there is none. A run wider
// than `width` by more than a pixel is the side with a grid line touching
// it on the inside: its centre is then taken from its outer edge, which
// lies towards lower coordinates when outward is negative.
TRun DarkRun(const TGreyReader& g, const Bitmap& p, bool vertical, int along, double predicted, int half,
             int outward = 0, double width = 0) {
  const int extent = vertical ? p.Width() : p.Height();
  const int c0 = std::max(0, static_cast<int>(std::floor(predicted)) - half);
  const int c1 = std::min(extent - 1, static_cast<int>(std::ceil(predicted)) + half);
  TRun best;
  if (c1 - c0 < 3) return best;
  std::vector<int> v(static_cast<std::size_t>(c1 - c0 + 1));
  for (int c = c0; c <= c1; ++c) v[c - c0] = vertical ? g.At(c, along) : g.At(along, c);
  const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
  if (*hi - *lo < 40) return best;
  const int threshold = (*hi + *lo) / 2, n = static_cast<int>(v.size());
  double bestDistance = 1e9;
  for (int i = 0; i < n;) {
    if (v[i] >= threshold) {
      ++i;
      continue;
    }
    int j = i;
    double sum = 0, weighted = 0;
    for (; j < n && v[j] < threshold; ++j) {
      sum += threshold - v[j];
      weighted += (threshold - v[j]) * static_cast<double>(c0 + j);
    }
    // A run reaching the window's end is a line along the profile, or a blot.
    if (i > 0 && j < n) {
      TRun run;
      run.Low = c0 + i - 1 + static_cast<double>(v[i - 1] - threshold) / (v[i - 1] - v[i]);
      run.High = c0 + j - 1 + static_cast<double>(threshold - v[j - 1]) / (v[j] - v[j - 1]);
      run.Centre = weighted / sum;
      if (outward != 0 && width > 0 && run.High - run.Low > width + 1)
        run.Centre = outward < 0 ? run.Low + width / 2 : run.High - width / 2;
      if (std::fabs(run.Centre - predicted) < bestDistance) {
        bestDistance = std::fabs(run.Centre - predicted);
        best = run;
      }
    }
    i = j;
  }
  return best;
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
// a narrow band around the first fit, knowing the line's width.
TSide MeasureSide(const TGreyReader& g, const Bitmap& p, bool vertical, double a, double b, double from, double to,
                  int half, int outward, double width = 0) {
  const int samples = static_cast<int>(std::clamp((to - from) / 2, 16.0, 600.0));
  const int lastAlong = (vertical ? p.Height() : p.Width()) - 1;
  const double margin = 0.02 * (to - from);
  TSide side{a, b, 0, 0, width};
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::pair<double, double>> found;
    std::vector<double> widths;
    for (int k = 0; k < samples; ++k) {
      const int along = std::clamp(
          static_cast<int>(std::lround(from + margin + (to - from - 2 * margin) * (k + 0.5) / samples)), 0, lastAlong);
      const TRun run = DarkRun(g, p, vertical, along, side.A + side.B * along, half, outward, side.Width);
      if (std::isfinite(run.Centre)) {
        found.emplace_back(along, run.Centre);
        widths.push_back(run.High - run.Low);
      }
    }
    if (found.size() < 8) return TSide{};
    const double known = side.Width;
    side = RobustFit(found, static_cast<std::size_t>(samples));
    // The lower quartile: where a grid line touches the side, its run is wider.
    std::nth_element(widths.begin(), widths.begin() + widths.size() / 4, widths.end());
    side.Width = pass == 0 && width == 0 ? widths[widths.size() / 4] : known;
    half = static_cast<int>(side.Width / 2) + 4;
  }
  return side;
}

TPoint MeetSides(const TSide& h, const TSide& v) { return Meet(h.A, h.B, v.A, v.B); }

// The four sides at full resolution, and which way is out of the frame
// (towards lower coordinates for the top and left sides).
enum { kTop, kBottom, kLeft, kRight };
using TSides = std::array<TSide, 4>;
constexpr bool kVertical[4] = {false, false, true, true};
constexpr int kOutward[4] = {-1, 1, -1, 1};
// The sides that meet side i, at its lower and its higher end.
constexpr int kEnds[4][2] = {{kLeft, kRight}, {kLeft, kRight}, {kTop, kBottom}, {kTop, kBottom}};
// A side whose crossing sides run on this many pixels past it is a grid
// line: the neat line's sides stop at its corners.
constexpr int kRunOnPixels = 3;

std::array<TPoint, 4> CornersOf(const TSides& s) {
  return {MeetSides(s[kTop], s[kLeft]), MeetSides(s[kTop], s[kRight]), MeetSides(s[kBottom], s[kRight]),
          MeetSides(s[kBottom], s[kLeft])};
}

TPoint CornerAt(const TSides& s, int side, int end) {
  const int other = kEnds[side][end];
  return kVertical[side] ? MeetSides(s[other], s[side]) : MeetSides(s[side], s[other]);
}

// Whether the crossing side at `end` of `side` is dark at `along`, within a
// pixel of its line.
bool CrossingDark(const TGreyReader& g, const Bitmap& p, const TSides& s, int side, int end, long along, int ink) {
  const TSide& crossing = s[kEnds[side][end]];
  const int last = (kVertical[side] ? p.Width() : p.Height()) - 1;
  const int lastAcross = (kVertical[side] ? p.Height() : p.Width()) - 1;
  if (along < 0 || along > last) return false;
  const long c = std::lround(crossing.A + crossing.B * static_cast<double>(along));
  for (long d = std::max(0L, c - 1); d <= std::min<long>(lastAcross, c + 1); ++d) {
    const int x = static_cast<int>(kVertical[side] ? along : d), y = static_cast<int>(kVertical[side] ? d : along);
    if (g.At(x, y) < ink) return true;
  }
  return false;
}

// How many pixels the crossing side at `end` of `side` stays dark beyond it,
// outward of the frame, starting just past the side's own ink: through
// whatever it runs on to, as the neat line's side does through the neat
// line's ink when `side` is a grid line. -1 when the crossing side is not
// there inside the corner either (a torn corner): nothing to tell by.
int RunOn(const TGreyReader& g, const Bitmap& p, const TSides& s, int side, int end, int limit, int ink) {
  const TPoint corner = CornerAt(s, side, end);
  const int out = kOutward[side];
  const double edge = (kVertical[side] ? corner.X : corner.Y) + out * (s[side].Width / 2 + 0.5);
  const double inner = (kVertical[side] ? corner.X : corner.Y) - out * (s[side].Width / 2 + 0.5);
  bool inside = false;
  for (int t = 0; t < 3; ++t) inside = inside || CrossingDark(g, p, s, side, end, std::lround(inner - out * t), ink);
  if (!inside) return -1;
  int reach = 0, light = 0;
  for (int t = 0; t <= limit && light < 2; ++t) {
    if (CrossingDark(g, p, s, side, end, std::lround(edge + out * t), ink)) {
      reach = t + 1;
      light = 0;
    } else {
      ++light;
    }
  }
  return reach;
}

// The line the crossing sides run on to, outward of `side`: where the
// neat line is when `side` is a grid line close inside it. Fails (Inliers
// 0) when no such line runs along the side.
TSide OuterLine(const TGreyReader& g, const Bitmap& p, const TSides& s, int side, const int reach[2], int limit) {
  const bool vertical = kVertical[side];
  double along[2], across[2], shift[2], widest = 0;
  for (int end = 0; end < 2; ++end) {
    // The crossing side's ink ends half its width beyond the line it meets.
    shift[end] =
        reach[end] >= kRunOnPixels ? s[side].Width / 2 + 0.5 + reach[end] - s[kEnds[side][end]].Width / 2 : 0;
    widest = std::max(widest, shift[end]);
  }
  for (int end = 0; end < 2; ++end) {
    const TPoint corner = CornerAt(s, side, end);
    along[end] = vertical ? corner.Y : corner.X;
    across[end] = (vertical ? corner.X : corner.Y) + kOutward[side] * shift[end];
  }
  if (along[1] - along[0] < 16) return TSide{};
  if (reach[0] < 0 || reach[1] < 0) {
    // Past a torn corner the grid line may draw away from the neat line:
    // looked for anywhere in the band beyond the side's own ink.
    const double centre = s[side].Width / 2 + 1 + limit / 2.0;
    return MeasureSide(g, p, vertical, s[side].A + kOutward[side] * centre, s[side].B, along[0], along[1], limit / 2,
                       kOutward[side]);
  }
  const double b = (across[1] - across[0]) / (along[1] - along[0]), a = across[0] - b * along[0];
  return MeasureSide(g, p, vertical, a, b, along[0], along[1], std::max(3, static_cast<int>(widest / 2)),
                     kOutward[side]);
}

// Moves each side that grid lines were taken for out to the neat line the
// crossing sides run on to. False when a side still has sides running on
// past it: then which line is the neat line cannot be told.
bool MoveOffGridLines(const TGreyReader& g, const Bitmap& p, TSides& s, int limit, int ink) {
  for (int round = 0; round < 3; ++round) {
    bool moved = false, clear = true;
    for (int side = 0; side < 4; ++side) {
      const int reach[2] = {RunOn(g, p, s, side, 0, limit, ink), RunOn(g, p, s, side, 1, limit, ink)};
      if (reach[0] < kRunOnPixels && reach[1] < kRunOnPixels) continue;
      clear = false;
      const TSide outer = OuterLine(g, p, s, side, reach, limit);
      if (outer.Inliers < 0.8 * s[side].Inliers) continue;
      s[side] = outer;
      moved = true;
    }
    if (clear) return true;
    if (!moved) return false;
  }
  return false;
}

// A side much wider than the others is the neat line with a grid line
// touching it all along the inside: measured again from its outer edge,
// with the others' width.
void TouchingGridLines(const TGreyReader& g, const Bitmap& p, TSides& s) {
  std::array<double, 4> widths{};
  for (int i = 0; i < 4; ++i) widths[i] = s[i].Width;
  std::sort(widths.begin(), widths.end());
  const double usual = widths[1];
  if (usual <= 0) return;
  for (int i = 0; i < 4; ++i) {
    if (s[i].Width <= usual + 1.5) continue;
    const TPoint c0 = CornerAt(s, i, 0), c1 = CornerAt(s, i, 1);
    const TSide again = MeasureSide(g, p, kVertical[i], s[i].A, s[i].B, kVertical[i] ? c0.Y : c0.X,
                                    kVertical[i] ? c1.Y : c1.X, static_cast<int>(s[i].Width / 2) + 4, kOutward[i], usual);
    if (again.Inliers >= 0.8 * s[i].Inliers) s[i] = again;
  }
}

// The chosen quad's sides at full resolution, intersected.
TFrameSearch Refine(const Bitmap& p, const TReduced& r, const TQuad& q) {
  const TGreyReader g(p);
  const double f = r.Factor;
  const auto full = [f](double v) { return (v + 0.5) * f - 0.5; };
  // A reduced line across = R + S × along in full pixels: across = A + S × along.
  const auto lineA = [&](const TLine& l) { return full(l.R) + 0.5 * l.S * (1 - f); };
  const int half = static_cast<int>(f) + 4;
  const auto& c = q.Corners;
  TSides s;
  s[kTop] = MeasureSide(g, p, false, lineA(*q.Top), q.Top->S, full(c[0].X), full(c[1].X), half, kOutward[kTop]);
  s[kBottom] =
      MeasureSide(g, p, false, lineA(*q.Bottom), q.Bottom->S, full(c[3].X), full(c[2].X), half, kOutward[kBottom]);
  s[kLeft] = MeasureSide(g, p, true, lineA(*q.Left), q.Left->S, full(c[0].Y), full(c[3].Y), half, kOutward[kLeft]);
  s[kRight] = MeasureSide(g, p, true, lineA(*q.Right), q.Right->S, full(c[1].Y), full(c[2].Y), half, kOutward[kRight]);
  // A neat line measures straight to a few tenths of a pixel; a side that
  // strays a pixel from its own fit is likely samples of two lines (a torn
  // corner's side taken partly on a grid line beside it).
  const auto quality = [](const TSides& sides) {
    double least = 1;
    for (const TSide& side : sides) least = std::min(least, side.Inliers * std::clamp(1.3 - side.Rms / 2, 0.0, 1.0));
    return least;
  };
  // A grid line a few reduced cells inside the neat line looks like it on
  // the reduced picture; here the sides show which is which.
  const bool told = quality(s) > 0 && MoveOffGridLines(g, p, s, static_cast<int>(10 * f) + 8, r.Threshold);
  if (told) TouchingGridLines(g, p, s);
  double confidence = quality(s);
  if (!told) confidence = std::min(confidence, kFrameConfidenceNeeded / 2);
  TFrameSearch result;
  result.Confidence = confidence;
  const std::array<TPoint, 4> corners = CornersOf(s);
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

TFrameSearch FindSheetFrame(const Bitmap& picture, const std::atomic<bool>* stop) {
  TFrameSearch none;
  none.Problem = msg::FrameNotFound;
  if (picture.Width() < 32 || picture.Height() < 32) return none;
  TReduced r = Reduce(picture, stop);
  if (Stopped(stop) || !MarkInk(r)) return none;
  const TReduced half = Halved(r);
  const std::vector<TLine> across = SetOnFinerCells(r, FindLines(half, false));
  if (Stopped(stop)) return none;
  const std::vector<TLine> down = SetOnFinerCells(r, FindLines(half, true));
  TQuad quad;
  if (Stopped(stop) || !ChooseFrame(r, across, down, quad)) return none;
  return Refine(picture, r, quad);
}

} // namespace zv
