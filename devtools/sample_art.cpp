#include "devtools/sample_art.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace pdtgen {
namespace {

// A small, fast generator with results fixed by the seed on every platform
// (the standard distributions are not, so they are avoided here).
class Rng {
 public:
  explicit Rng(std::uint32_t seed)
      : state_(0x9E3779B97F4A7C15ull ^ (seed * 0xD1B54A32D192ED03ull)) {}

  std::uint32_t Next() {
    state_ += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
  }

  // Uniform in [lo, hi]; returns lo when the range is empty.
  int Range(int lo, int hi) {
    if (hi <= lo) return lo;
    return lo + static_cast<int>(Next() % static_cast<std::uint32_t>(hi - lo + 1));
  }

  // True with probability num / den.
  bool Chance(std::uint32_t num, std::uint32_t den) { return Next() % den < num; }

 private:
  std::uint64_t state_;
};

constexpr std::uint32_t Rgb(int r, int g, int b) {
  return 0xFF000000u | static_cast<std::uint32_t>(r & 0xFF) << 16 |
         static_cast<std::uint32_t>(g & 0xFF) << 8 | static_cast<std::uint32_t>(b & 0xFF);
}

int Red(std::uint32_t c) {
  return static_cast<int>((c >> 16) & 0xFF);
}
int Green(std::uint32_t c) {
  return static_cast<int>((c >> 8) & 0xFF);
}
int Blue(std::uint32_t c) {
  return static_cast<int>(c & 0xFF);
}

// Mixes a and b; t runs from 0 (a) to 256 (b).
std::uint32_t Mix(std::uint32_t a, std::uint32_t b, int t) {
  auto ch = [t](int x, int y) { return x + (y - x) * t / 256; };
  return Rgb(ch(Red(a), Red(b)), ch(Green(a), Green(b)), ch(Blue(a), Blue(b)));
}

std::uint32_t Darker(std::uint32_t c) {
  return Mix(c, Rgb(0, 0, 0), 110);
}
std::uint32_t Lighter(std::uint32_t c) {
  return Mix(c, Rgb(255, 255, 255), 90);
}

constexpr std::uint32_t kOutline = Rgb(24, 20, 32);

// 4 × 4 ordered-dither thresholds, 0..15.
constexpr std::array<std::array<int, 4>, 4> kBayer = {{
    {0, 8, 2, 10},
    {12, 4, 14, 6},
    {3, 11, 1, 9},
    {15, 7, 13, 5},
}};

struct Palette {
  std::uint32_t sky_top, sky_bottom, far_hill, near_hill, ground, ground_alt, road;
  std::uint32_t sun;
};

constexpr std::array<Palette, 3> kPalettes = {{
    // day
    {Rgb(40, 96, 200), Rgb(168, 216, 248), Rgb(112, 160, 136), Rgb(64, 136, 72), Rgb(96, 176, 72),
     Rgb(80, 152, 64), Rgb(184, 160, 120), Rgb(255, 240, 160)},
    // dusk
    {Rgb(56, 40, 112), Rgb(248, 152, 96), Rgb(120, 88, 120), Rgb(72, 64, 96), Rgb(104, 112, 72),
     Rgb(88, 96, 64), Rgb(160, 128, 104), Rgb(255, 200, 120)},
    // night
    {Rgb(8, 8, 32), Rgb(40, 48, 104), Rgb(40, 56, 72), Rgb(24, 40, 48), Rgb(32, 64, 48),
     Rgb(24, 52, 40), Rgb(88, 80, 88), Rgb(232, 232, 200)},
}};

constexpr std::array<std::uint32_t, 8> kWallColours = {
    Rgb(232, 208, 160), Rgb(200, 120, 88),  Rgb(240, 240, 224), Rgb(168, 184, 200),
    Rgb(216, 176, 112), Rgb(184, 152, 200), Rgb(224, 200, 200), Rgb(160, 136, 112),
};
constexpr std::array<std::uint32_t, 6> kRoofColours = {
    Rgb(176, 48, 40), Rgb(64, 80, 152), Rgb(96, 72, 56),
    Rgb(40, 120, 96), Rgb(152, 96, 40), Rgb(120, 40, 88),
};

// Clipped drawing on a Picture.
class Canvas {
 public:
  explicit Canvas(Picture& pic) : pic_(pic), w_(pic.width), h_(pic.height) {}

  int Width() const { return w_; }
  int Height() const { return h_; }

  void Put(int x, int y, std::uint32_t c) {
    if (x >= 0 && y >= 0 && x < w_ && y < h_) At(x, y) = c;
  }

  std::uint32_t Get(int x, int y) const {
    return pic_.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) +
                       static_cast<std::size_t>(x)];
  }

  // Fills the half-open rectangle [x0, x1) × [y0, y1).
  void FillRect(int x0, int y0, int x1, int y1, std::uint32_t c) {
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, w_);
    y1 = std::min(y1, h_);
    if (x0 >= x1) return;
    for (int y = y0; y < y1; ++y) std::fill(&At(x0, y), &At(x0, y) + (x1 - x0), c);
  }

  // A flat rectangle with a one-pixel dark outline around it.
  void OutlinedRect(int x0, int y0, int x1, int y1, std::uint32_t c) {
    FillRect(x0 - 1, y0 - 1, x1 + 1, y1 + 1, kOutline);
    FillRect(x0, y0, x1, y1, c);
  }

  void FillEllipse(int cx, int cy, int rx, int ry, std::uint32_t c) {
    if (rx < 0 || ry < 0) return;
    const long long rx2 = static_cast<long long>(rx) * rx + rx;
    const long long ry2 = static_cast<long long>(ry) * ry + ry;
    for (int dy = -ry; dy <= ry; ++dy) {
      const int y = cy + dy;
      if (y < 0 || y >= h_) continue;
      // Widest dx with dx²/rx² + dy²/ry² ≤ 1, found without floating point.
      const long long rest = rx2 * (ry2 - static_cast<long long>(dy) * dy);
      if (rest < 0) continue;
      int dx = rx;
      while (dx > 0 && static_cast<long long>(dx) * dx * ry2 > rest) --dx;
      FillRect(cx - dx, y, cx + dx + 1, y + 1, c);
    }
  }

  void OutlinedEllipse(int cx, int cy, int rx, int ry, std::uint32_t c) {
    FillEllipse(cx, cy, rx + 1, ry + 1, kOutline);
    FillEllipse(cx, cy, rx, ry, c);
  }

  // An isosceles triangle pointing up: apex at (cx, top), base on row `base`.
  void FillRoof(int cx, int top, int base, int half_width, std::uint32_t c) {
    const int rows = std::max(base - top, 1);
    for (int y = top; y <= base; ++y) {
      const int half = half_width * (y - top) / rows;
      FillRect(cx - half, y, cx + half + 1, y + 1, c);
    }
  }

  void OutlinedRoof(int cx, int top, int base, int half_width, std::uint32_t c) {
    FillRoof(cx, top - 1, base + 1, half_width + 2, kOutline);
    FillRoof(cx, top + 1, base, half_width, c);
  }

 private:
  std::uint32_t& At(int x, int y) {
    return pic_.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) +
                       static_cast<std::size_t>(x)];
  }

  Picture& pic_;
  int w_;
  int h_;
};

// Sky: a vertical gradient in a few bands, ordered-dithered between them as
// old palette-limited pictures did.
void DrawSky(Canvas& cv, const Palette& pal, int horizon) {
  constexpr int kBands = 12;
  const int span = std::max(horizon, 1);
  for (int y = 0; y < std::min(horizon, cv.Height()); ++y) {
    const int pos = y * kBands * 16 / span;  // band × 16 + fraction
    const int band = pos / 16;
    const int frac = pos % 16;
    const std::uint32_t lo = Mix(pal.sky_top, pal.sky_bottom, band * 256 / kBands);
    const std::uint32_t hi = Mix(pal.sky_top, pal.sky_bottom, (band + 1) * 256 / kBands);
    const auto& row = kBayer[static_cast<std::size_t>(y & 3)];
    for (int x = 0; x < cv.Width(); x += 4) {
      for (int k = 0; k < 4 && x + k < cv.Width(); ++k) {
        cv.Put(x + k, y, frac > row[static_cast<std::size_t>(k)] ? hi : lo);
      }
    }
  }
}

void DrawStarsAndClouds(Canvas& cv, Rng& rng, bool night, int horizon) {
  const int w = cv.Width();
  if (night) {
    const int stars = w * horizon / 600 + 1;
    for (int k = 0; k < stars; ++k) {
      const int x = rng.Range(0, w - 1);
      const int y = rng.Range(0, std::max(horizon - 2, 0));
      cv.Put(x, y, rng.Chance(1, 4) ? Rgb(255, 255, 200) : Rgb(200, 200, 230));
    }
    return;
  }
  const int clouds = std::max(1, w / 160);
  for (int k = 0; k < clouds; ++k) {
    const int cx = rng.Range(0, w);
    const int cy = rng.Range(horizon / 8, std::max(horizon / 2, horizon / 8));
    const int r = std::max(2, rng.Range(w / 40, w / 20));
    const std::uint32_t body = Rgb(248, 248, 255);
    cv.FillEllipse(cx, cy, r * 2, r, Rgb(200, 208, 232));
    cv.FillEllipse(cx - r, cy - 1, r, r * 3 / 4, body);
    cv.FillEllipse(cx + r / 2, cy - r / 3, r + r / 3, r, body);
    cv.FillEllipse(cx + 2 * r, cy, r * 3 / 4, r / 2, body);
  }
}

// A rolling ridge: per column a height from two sines, flat fill below it and
// a dark line along its top.
void DrawHills(Canvas& cv, Rng& rng, std::uint32_t fill, int base, int amplitude) {
  const double f1 = 0.5 + rng.Range(0, 100) / 100.0;
  const double f2 = 1.5 + rng.Range(0, 200) / 100.0;
  const double p1 = rng.Range(0, 628) / 100.0;
  const double p2 = rng.Range(0, 628) / 100.0;
  const double scale = 6.2832 / std::max(cv.Width(), 1);
  int prev_top = -1;
  for (int x = 0; x < cv.Width(); ++x) {
    const double t = x * scale;
    const int top =
        base -
        static_cast<int>(amplitude *
                         (0.6 * std::sin(f1 * t + p1) + 0.4 * std::sin(f2 * t + p2) + 1.0) / 2.0);
    const int from = std::max(top, 0);
    cv.FillRect(x, from, x + 1, base, fill);
    // Outline, joined to the neighbour so steep slopes stay closed.
    const int a = prev_top < 0 ? top : std::min(top, prev_top);
    const int b = prev_top < 0 ? top : std::max(top, prev_top);
    cv.FillRect(x, a, x + 1, b + 1, kOutline);
    prev_top = top;
  }
}

// Ground: two flat greens in a checkered strip, a road, and sparse noise.
void DrawGround(Canvas& cv, Rng& rng, const Palette& pal, int horizon) {
  const int w = cv.Width();
  const int h = cv.Height();
  cv.FillRect(0, horizon, w, h, pal.ground);
  cv.FillRect(0, horizon, w, horizon + 1, kOutline);
  const int strip = std::max(2, (h - horizon) / 6);
  for (int y = horizon + 1; y < std::min(horizon + 1 + strip, h); ++y) {
    for (int x = (y & 1); x < w; x += 2) cv.Put(x, y, pal.ground_alt);
  }
  const int road_top = horizon + (h - horizon) / 2;
  const int road_bottom = road_top + std::max(2, (h - horizon) / 5);
  cv.FillRect(0, road_top - 1, w, road_bottom + 1, kOutline);
  cv.FillRect(0, road_top, w, road_bottom, pal.road);
  // Gravel: scattered lighter and darker pixels.
  const int specks = w * (road_bottom - road_top) / 24;
  for (int k = 0; k < specks; ++k) {
    const int x = rng.Range(0, w - 1);
    const int y = rng.Range(road_top, road_bottom - 1);
    cv.Put(x, y, rng.Chance(1, 2) ? Darker(pal.road) : Lighter(pal.road));
  }
  // Grass tufts.
  const int tufts = w * (h - horizon) / 90;
  for (int k = 0; k < tufts; ++k) {
    const int x = rng.Range(0, w - 1);
    const int y = rng.Range(horizon + 1, h - 1);
    if (y >= road_top - 1 && y <= road_bottom) continue;
    cv.Put(x, y, Darker(pal.ground));
    cv.Put(x, y - 1, Darker(pal.ground));
  }
}

void DrawHouse(Canvas& cv, Rng& rng, int x, int ground, int width, int height, bool night) {
  const std::uint32_t wall = kWallColours[static_cast<std::size_t>(rng.Range(0, 7))];
  const std::uint32_t roof = kRoofColours[static_cast<std::size_t>(rng.Range(0, 5))];
  const int top = ground - height;
  cv.OutlinedRect(x, top, x + width, ground, wall);
  // Shadowed right side.
  cv.FillRect(x + width - std::max(1, width / 8), top, x + width, ground, Darker(wall));
  cv.OutlinedRoof(x + width / 2, top - height / 2, top, width / 2 + width / 6, roof);
  const int door_w = std::max(2, width / 5);
  const int door_h = std::max(3, height / 2);
  cv.OutlinedRect(x + width / 2 - door_w / 2, ground - door_h, x + width / 2 + door_w / 2 + 1,
                  ground, Darker(Darker(wall)));
  const int win = std::max(2, width / 6);
  const std::uint32_t glass = night ? Rgb(255, 224, 120) : Rgb(136, 192, 232);
  for (int row = 0; row < 2; ++row) {
    const int wy = top + height / 6 + row * (win + win / 2 + 2);
    if (wy + win > ground - door_h - 1) break;
    cv.OutlinedRect(x + width / 6, wy, x + width / 6 + win, wy + win, glass);
    cv.OutlinedRect(x + width - width / 6 - win, wy, x + width - width / 6, wy + win, glass);
  }
}

void DrawTree(Canvas& cv, int x, int ground, int size) {
  const int trunk_w = std::max(2, size / 5);
  cv.OutlinedRect(x - trunk_w / 2, ground - size, x + trunk_w / 2 + 1, ground, Rgb(112, 72, 40));
  cv.OutlinedEllipse(x, ground - size - size / 3, size / 2 + 1, size / 2, Rgb(40, 128, 56));
  cv.FillEllipse(x - size / 6, ground - size - size / 2, size / 6, size / 8, Rgb(88, 168, 80));
}

// The hero: boots, trousers, a tunic, a head with eyes and hair, outlined.
void DrawCharacter(Canvas& cv, Rng& rng, int cx, int feet, int size) {
  const int u = std::max(1, size / 12);  // one "sprite pixel"
  const std::uint32_t tunic = kRoofColours[static_cast<std::size_t>(rng.Range(0, 5))];
  const std::uint32_t skin = Rgb(248, 208, 168);
  const std::uint32_t hair = rng.Chance(1, 2) ? Rgb(88, 56, 32) : Rgb(232, 200, 72);
  // Legs and boots.
  cv.OutlinedRect(cx - 2 * u, feet - 4 * u, cx - u / 2, feet, Rgb(56, 64, 120));
  cv.OutlinedRect(cx + u / 2, feet - 4 * u, cx + 2 * u, feet, Rgb(56, 64, 120));
  cv.FillRect(cx - 2 * u, feet - u, cx - u / 2, feet, Rgb(80, 48, 24));
  cv.FillRect(cx + u / 2, feet - u, cx + 2 * u, feet, Rgb(80, 48, 24));
  // Body and arms.
  cv.OutlinedRect(cx - 3 * u, feet - 8 * u, cx + 3 * u, feet - 4 * u, tunic);
  cv.OutlinedRect(cx - 4 * u, feet - 8 * u, cx - 3 * u, feet - 5 * u, skin);
  cv.OutlinedRect(cx + 3 * u, feet - 8 * u, cx + 4 * u, feet - 5 * u, skin);
  cv.FillRect(cx - 3 * u, feet - 5 * u, cx + 3 * u, feet - 4 * u - u / 2, Darker(tunic));
  // Head, hair and eyes.
  cv.OutlinedEllipse(cx, feet - 10 * u, 2 * u + u / 2, 2 * u, skin);
  cv.FillRect(cx - 2 * u - u / 2, feet - 12 * u, cx + 2 * u + u / 2 + 1, feet - 11 * u, hair);
  cv.FillRect(cx - u, feet - 10 * u, cx - u + std::max(1, u / 2), feet - 9 * u, kOutline);
  cv.FillRect(cx + u, feet - 10 * u, cx + u + std::max(1, u / 2), feet - 9 * u, kOutline);
}

// A symmetric 8 × 8 sprite made from the seed (a critter or an item), drawn
// at `scale` screen pixels per sprite pixel.
struct Sprite {
  std::array<std::uint8_t, 8> rows{};
  std::uint32_t colour = 0;
};

Sprite MakeSprite(Rng& rng) {
  Sprite s;
  for (auto& row : s.rows) {
    const auto half = static_cast<unsigned>(rng.Range(0, 15));
    unsigned mirrored = 0;
    for (unsigned b = 0; b < 4; ++b) {
      if (half & (1u << b)) mirrored |= 1u << (3 - b);
    }
    row = static_cast<std::uint8_t>(half << 4 | mirrored);
  }
  s.colour = Rgb(rng.Range(96, 255), rng.Range(64, 255), rng.Range(64, 255));
  return s;
}

void DrawSprite(Canvas& cv, const Sprite& s, int x, int y, int scale) {
  for (int r = 0; r < 8; ++r) {
    const unsigned bits = s.rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < 8; ++c) {
      if (bits & (0x80u >> c)) {
        cv.FillRect(x + c * scale, y + r * scale, x + (c + 1) * scale, y + (r + 1) * scale,
                    s.colour);
      } else {
        // Dark rim next to set pixels, so the sprite reads against any ground.
        const bool left = c > 0 && (bits & (0x80u >> (c - 1)));
        const bool right = c < 7 && (bits & (0x80u >> (c + 1)));
        if (left || right) {
          cv.FillRect(x + c * scale, y + r * scale, x + (c + 1) * scale, y + (r + 1) * scale,
                      kOutline);
        }
      }
    }
  }
}

// A message window at the bottom with lines of glyph-like blocks.
void DrawTextBox(Canvas& cv, Rng& rng) {
  const int w = cv.Width();
  const int h = cv.Height();
  if (w < 24 || h < 48) return;
  const int scale = h >= 400 ? 2 : 1;
  const int margin = std::max(2, w / 40);
  const int box_h = std::max(14 * scale + 6, h / 5);
  const int top = h - box_h - margin;
  cv.FillRect(margin - 2, top - 2, w - margin + 2, h - margin + 2, Rgb(232, 232, 240));
  cv.FillRect(margin, top, w - margin, h - margin, Rgb(24, 32, 88));
  cv.FillRect(margin, top, w - margin, top + 1, Rgb(56, 72, 152));

  // An alphabet of 5 × 7 glyphs drawn once, then set in words.
  std::array<std::array<std::uint8_t, 7>, 24> glyphs{};
  for (auto& g : glyphs) {
    for (auto& row : g) row = static_cast<std::uint8_t>(rng.Range(1, 31));
  }
  const int advance = 6 * scale;
  const int line_h = 10 * scale;
  for (int y = top + 3 * scale; y + 7 * scale < h - margin - 2; y += line_h) {
    int x = margin + 3 * scale;
    const int line_end = w - margin - advance - rng.Range(0, w / 4);
    while (x < line_end) {
      const int word = rng.Range(2, 7);
      for (int k = 0; k < word && x < line_end; ++k, x += advance) {
        const auto& g = glyphs[static_cast<std::size_t>(rng.Range(0, 23))];
        for (int r = 0; r < 7; ++r) {
          for (int c = 0; c < 5; ++c) {
            if (g[static_cast<std::size_t>(r)] & (0x10u >> c)) {
              cv.FillRect(x + c * scale, y + r * scale, x + (c + 1) * scale, y + (r + 1) * scale,
                          Rgb(248, 248, 248));
            }
          }
        }
      }
      x += advance;
    }
  }
}

Picture Blank(std::int32_t width, std::int32_t height) {
  Picture pic;
  pic.width = std::max(width, 0);
  pic.height = std::max(height, 0);
  pic.pixels.assign(static_cast<std::size_t>(pic.width) * static_cast<std::size_t>(pic.height),
                    0xFF000000u);
  return pic;
}

}  // namespace

Picture DrawGameArt(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  Picture pic = Blank(width, height);
  if (pic.pixels.empty()) return pic;
  Canvas cv(pic);
  Rng rng(seed);
  const int w = cv.Width();
  const int h = cv.Height();
  const std::size_t palette_index = seed % kPalettes.size();
  const Palette& pal = kPalettes[palette_index];
  const bool night = palette_index == 2;

  const int horizon = h * rng.Range(55, 68) / 100;
  DrawSky(cv, pal, horizon);
  // Sun or moon.
  const int sun_r = std::max(2, std::min(w, h) / 14);
  cv.OutlinedEllipse(rng.Range(sun_r, std::max(sun_r, w - sun_r)), rng.Range(sun_r, h / 4 + sun_r),
                     sun_r, sun_r, pal.sun);
  DrawStarsAndClouds(cv, rng, night, horizon);
  DrawHills(cv, rng, pal.far_hill, horizon, std::max(2, h / 4));
  DrawHills(cv, rng, pal.near_hill, horizon, std::max(1, h / 8));
  DrawGround(cv, rng, pal, horizon);

  // Houses and trees along the horizon, left to right.
  const int unit = std::max(6, std::min(w, h) / 8);
  for (int x = rng.Range(0, unit); x < w;) {
    if (rng.Chance(3, 5)) {
      const int hw = rng.Range(unit, unit * 2);
      const int hh = rng.Range(unit * 2 / 3, unit * 3 / 2);
      DrawHouse(cv, rng, x, horizon + unit / 4, hw, hh, night);
      x += hw + rng.Range(unit / 3, unit);
    } else {
      const int size = rng.Range(unit / 2, unit);
      DrawTree(cv, x + size / 2, horizon + unit / 4, size);
      x += size + rng.Range(2, unit / 2);
    }
  }

  // A few critters and items scattered over the ground and sky.
  const int sprite_scale = std::max(1, std::min(w, h) / 120);
  const int sprite_count = 2 + w / 200;
  for (int k = 0; k < sprite_count; ++k) {
    const Sprite s = MakeSprite(rng);
    const int y = rng.Chance(1, 2) ? rng.Range(0, std::max(0, horizon - 10 * sprite_scale))
                                   : rng.Range(horizon, std::max(horizon, h - 10 * sprite_scale));
    DrawSprite(cv, s, rng.Range(0, std::max(0, w - 8 * sprite_scale)), y, sprite_scale);
  }

  const int char_size = std::max(12, std::min(h / 4, w / 2));
  DrawCharacter(cv, rng, w / 2 + rng.Range(-w / 6, w / 6), horizon + (h - horizon) / 2, char_size);
  DrawTextBox(cv, rng);
  return pic;
}

Picture DrawNoise(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  Picture pic = Blank(width, height);
  Rng rng(seed ^ 0xA5A5A5A5u);
  for (auto& p : pic.pixels) p = 0xFF000000u | (rng.Next() & 0x00FFFFFFu);
  return pic;
}

std::vector<SamplePicture> SamplePictures() {
  struct SampleShape {
    const char* name;
    std::int32_t width;
    std::int32_t height;
    std::uint32_t seed;
  };
  // Mixed letter case in the names and extensions on purpose.
  constexpr std::array<SampleShape, 8> kSamples = {{
      {"EV001.PDT", 640, 480, 3},
      {"title.pdt", 800, 600, 1},
      {"bg_town.pdt", 320, 240, 6},
      {"bg_Night.Pdt", 640, 480, 2},
      {"ev_dusk.PDT", 320, 240, 4},
      {"icon_small.pdt", 160, 120, 9},
      {"Side_Bar.pDt", 48, 400, 7},
      {"scroll_tall.pdt", 200, 900, 5},
  }};
  std::vector<SamplePicture> out;
  out.reserve(kSamples.size());
  for (const SampleShape& s : kSamples) {
    out.push_back({s.name, DrawGameArt(s.width, s.height, s.seed)});
  }
  return out;
}

}  // namespace pdtgen
