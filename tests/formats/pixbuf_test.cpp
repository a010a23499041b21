// The gdk-pixbuf loader as GTK programs meet it: found through a loader cache
// that names only the module in the build tree (GDK_PIXBUF_MODULE_FILE) and a
// MIME database that knows image/x-pdt, then read by file, scaled, for its
// size only, and byte by byte through a GdkPixbufLoader. Pixels are compared
// with LoadPdt's and with the area-averaging resize.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "devtools/pdt_encoder.h"
#include "devtools/sample_art.h"
#include "pdt/mdl_pdt.h"
#include "scale/scale.h"

namespace {

namespace fs = std::filesystem;

constexpr guchar kCanary = 0xA5;

// gdk-pixbuf finds the loader in the build tree through a cache naming it
// alone, and GIO learns image/x-pdt from a MIME database made beside it.
class BuildTreeLoader : public ::testing::Environment {
 public:
  void SetUp() override {
    g_setenv("GDK_PIXBUF_MODULE_FILE", QUILLON_PIXBUF_CACHE, TRUE);
    const char* data_dirs = g_getenv("XDG_DATA_DIRS");
    const std::string dirs = std::string(QUILLON_MIME_DATA) + ":" +
                             (data_dirs != nullptr ? data_dirs : "/usr/local/share:/usr/share");
    g_setenv("XDG_DATA_DIRS", dirs.c_str(), TRUE);
  }
};
[[maybe_unused]] const auto* const kBuildTreeLoader =
    ::testing::AddGlobalTestEnvironment(new BuildTreeLoader);

// A picture top row first as a pixbuf should hold it: R, G, B bytes.
struct Expected {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<guchar> rgb;
};

// Rows of 0xFFRRGGBB pixels, `next_row` giving each in turn, as RGB bytes.
template <class NextRow>
Expected ToRgb(std::int32_t width, std::int32_t height, NextRow next_row) {
  Expected out{
      width, height,
      std::vector<guchar>(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3)};
  guchar* at = out.rgb.data();
  for (std::int32_t y = 0; y < height; ++y) {
    for (const std::uint32_t p : next_row(y)) {
      at[0] = static_cast<guchar>(p >> 16);
      at[1] = static_cast<guchar>(p >> 8);
      at[2] = static_cast<guchar>(p);
      at += 3;
    }
  }
  return out;
}

// A loaded picture (bottom row first), turned.
Expected FromLoaded(const mdl_pdt::PdtHeader& header, const mdl_pdt::PixelBuffer& pixels) {
  const auto width = static_cast<std::size_t>(header.Width);
  return ToRgb(header.Width, header.Height, [&](std::int32_t y) {
    return std::span(pixels.data() + static_cast<std::size_t>(header.Height - 1 - y) * width,
                     width);
  });
}

// A loaded picture resized by area averaging.
Expected Scaled(const mdl_pdt::PdtHeader& header, const mdl_pdt::PixelBuffer& pixels,
                std::int32_t width, std::int32_t height) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width) *
                                 static_cast<std::size_t>(height));
  scale::ScaleArea(std::span(pixels.data(), pixels.size()), {header.Width, header.Height},
                   out.data(), width, {width, height});
  const auto row = static_cast<std::size_t>(width);
  return ToRgb(width, height, [&](std::int32_t y) {
    return std::span(out.data() + static_cast<std::size_t>(y) * row, row);
  });
}

// The first row of `pixbuf` from `first_row` on that differs from `expected`
// (rows up to `end_row`), or -1.
int FirstWrongRow(GdkPixbuf* pixbuf, const Expected& expected, int first_row, int end_row) {
  const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
  const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  const auto row_bytes = static_cast<std::size_t>(expected.width) * 3;
  for (int y = first_row; y < end_row; ++y) {
    const auto row = static_cast<std::size_t>(y);
    if (std::memcmp(data + row * stride, expected.rgb.data() + row * row_bytes, row_bytes) != 0) {
      return y;
    }
  }
  return -1;
}

bool SameAs(GdkPixbuf* pixbuf, const Expected& expected) {
  return pixbuf != nullptr && gdk_pixbuf_get_width(pixbuf) == expected.width &&
         gdk_pixbuf_get_height(pixbuf) == expected.height &&
         gdk_pixbuf_get_n_channels(pixbuf) == 3 && !gdk_pixbuf_get_has_alpha(pixbuf) &&
         FirstWrongRow(pixbuf, expected, 0, expected.height) < 0;
}

// True when the padding of every row of `pixbuf`, and every byte of the
// rows from `untouched_from` on, still hold the canary.
bool CanaryKept(GdkPixbuf* pixbuf, int untouched_from) {
  const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
  const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  const auto row_bytes = static_cast<std::size_t>(gdk_pixbuf_get_width(pixbuf)) * 3;
  const auto length = static_cast<std::size_t>(gdk_pixbuf_get_byte_length(pixbuf));
  for (std::size_t at = 0; at < length; ++at) {
    const bool padding = at % stride >= row_bytes;
    const bool untouched = static_cast<int>(at / stride) >= untouched_from;
    if ((padding || untouched) && data[at] != kCanary) return false;
  }
  return true;
}

// Everything a GdkPixbufLoader told while loading, and what the pixbuf held
// each time.
struct Events {
  int asked_width = 0;  // the size to ask for in size-prepared; 0: leave it
  int asked_height = 0;
  const Expected* expected = nullptr;  // checked against each updated band
  std::vector<std::string> order;
  int next_row = 0;      // rows announced so far, in order
  bool bands_ok = true;  // each band whole rows, in order, already written
  GdkPixbuf* prepared = nullptr;
};

void OnSizePrepared(GdkPixbufLoader* loader, int /*width*/, int /*height*/, Events* events) {
  events->order.emplace_back("size");
  if (events->asked_width > 0) {
    gdk_pixbuf_loader_set_size(loader, events->asked_width, events->asked_height);
  }
}

void OnAreaPrepared(GdkPixbufLoader* loader, Events* events) {
  events->order.emplace_back("prepared");
  events->prepared = gdk_pixbuf_loader_get_pixbuf(loader);
  // Painted over, padding included: a pixel written before this is lost.
  std::fill_n(gdk_pixbuf_get_pixels(events->prepared), gdk_pixbuf_get_byte_length(events->prepared),
              kCanary);
}

void OnAreaUpdated(GdkPixbufLoader* loader, int x, int y, int width, int height, Events* events) {
  if (events->order.empty() || events->order.back() != "updated") {
    events->order.emplace_back("updated");
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  const bool whole_rows = x == 0 && width == gdk_pixbuf_get_width(pixbuf) && height > 0;
  const bool next = y == events->next_row;
  const bool written =
      events->expected == nullptr || FirstWrongRow(pixbuf, *events->expected, y, y + height) < 0;
  events->bands_ok = events->bands_ok && whole_rows && next && written;
  events->next_row = y + height;
}

// Feeds `file` to a GdkPixbufLoader for "pdt" in pieces of `piece` bytes;
// false, with `error` set, when a write or the close fails.
bool LoadInPieces(const std::vector<std::uint8_t>& file, std::size_t piece, Events& events,
                  GdkPixbuf** pixbuf, GError** error) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("pdt", error);
  if (loader == nullptr) return false;
  g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &events);
  g_signal_connect(loader, "area-prepared", G_CALLBACK(OnAreaPrepared), &events);
  g_signal_connect(loader, "area-updated", G_CALLBACK(OnAreaUpdated), &events);
  bool ok = true;
  for (std::size_t at = 0; ok && at < file.size(); at += piece) {
    ok = gdk_pixbuf_loader_write(loader, file.data() + at, std::min(piece, file.size() - at),
                                 error) != FALSE;
  }
  // After a failed write the loader is closed already; this close reports it.
  ok = gdk_pixbuf_loader_close(loader, ok ? error : nullptr) != FALSE && ok;
  *pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (*pixbuf != nullptr) g_object_ref(*pixbuf);
  g_object_unref(loader);
  return ok;
}

std::vector<std::uint8_t> Art(std::int32_t width, std::int32_t height, std::uint32_t seed) {
  const pdtgen::Picture art = pdtgen::DrawGameArt(width, height, seed);
  return pdtgen::EncodePdt(art.pixels, width, height);
}

Expected Decode(const std::vector<std::uint8_t>& file, mdl_pdt::PdtHeader& header,
                mdl_pdt::PixelBuffer& pixels) {
  EXPECT_EQ(mdl_pdt::LoadPdtMemory(file, header, pixels), mdl_pdt::PdtStatus::Ok);
  return FromLoaded(header, pixels);
}

// Every shared bench picture, opened by name as an image viewer opens it,
// holds LoadPdt's pixels; a scaled open holds the area-averaged picture, and
// asking for the size alone gives the size and the format.
TEST(PixbufLoader, ReadsBenchPicturesAsLoadPdt) {
  std::vector<fs::path> paths;
  for (const auto& entry : fs::directory_iterator(QUILLON_BENCH_PICTURES)) {
    if (entry.path().extension() == ".pdt") paths.push_back(entry.path());
  }
  std::sort(paths.begin(), paths.end());
  ASSERT_FALSE(paths.empty());
  for (std::size_t k = 0; k < paths.size(); ++k) {
    const fs::path& path = paths[k];
    SCOPED_TRACE(path.filename().string());
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels;
    ASSERT_TRUE(mdl_pdt::LoadPdt(path, header, pixels));

    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
    ASSERT_NE(pixbuf, nullptr) << error->message;
    EXPECT_TRUE(SameAs(pixbuf, FromLoaded(header, pixels)));
    g_object_unref(pixbuf);

    int width = 0;
    int height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
    ASSERT_NE(format, nullptr);
    gchar* name = gdk_pixbuf_format_get_name(format);
    EXPECT_STREQ(name, "pdt");
    g_free(name);
    EXPECT_FALSE(gdk_pixbuf_format_is_writable(format));
    EXPECT_EQ(width, header.Width);
    EXPECT_EQ(height, header.Height);

    // A thumbnail's size, every other picture (each picture's size is met twice).
    if (k % 2 == 0) {
      pixbuf = gdk_pixbuf_new_from_file_at_size(path.c_str(), 256, 256, &error);
      ASSERT_NE(pixbuf, nullptr) << error->message;
      EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 256);
      EXPECT_TRUE(SameAs(pixbuf, Scaled(header, pixels, gdk_pixbuf_get_width(pixbuf),
                                        gdk_pixbuf_get_height(pixbuf))));
      g_object_unref(pixbuf);
    }
  }
}

// The size is asked first, the pixbuf announced before any pixel is written
// into it, and each band announced after its rows hold their pixels, in order
// down to the last row; no byte of any row's padding is touched. At full size
// and scaled, with rows whose padding differs, whatever the pieces' size.
TEST(PixbufLoader, AnnouncesSizePixbufAndBandsInOrder) {
  struct Case {
    std::int32_t width, height, asked_width, asked_height;
    std::size_t piece;
  };
  const Case cases[] = {{333, 257, 0, 0, 1},      {333, 257, 0, 0, 4093},
                        {1, 1, 0, 0, 7},          {641, 1000, 0, 0, 65536},
                        {333, 257, 101, 77, 512}, {640, 480, 7, 480, 999}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " as " << c.asked_width << "x"
                                    << c.asked_height << " in pieces of " << c.piece);
    const std::vector<std::uint8_t> file = Art(c.width, c.height, 11);
    mdl_pdt::PdtHeader header;
    mdl_pdt::PixelBuffer pixels;
    const Expected full = Decode(file, header, pixels);
    const Expected expected =
        c.asked_width > 0 ? Scaled(header, pixels, c.asked_width, c.asked_height) : full;

    Events events;
    events.asked_width = c.asked_width;
    events.asked_height = c.asked_height;
    events.expected = &expected;
    GdkPixbuf* pixbuf = nullptr;
    GError* error = nullptr;
    ASSERT_TRUE(LoadInPieces(file, c.piece, events, &pixbuf, &error)) << error->message;
    EXPECT_EQ(events.order, (std::vector<std::string>{"size", "prepared", "updated"}));
    EXPECT_TRUE(events.bands_ok);
    EXPECT_EQ(events.next_row, expected.height);
    ASSERT_NE(events.prepared, nullptr);
    EXPECT_TRUE(CanaryKept(events.prepared, expected.height));
    EXPECT_EQ(pixbuf, events.prepared);
    EXPECT_TRUE(SameAs(pixbuf, expected));
    g_object_unref(pixbuf);
  }
}

// A file cut anywhere, a foreign file and a damaged stream fail with the
// core's reason. No pixbuf is made unless the bytes at hand can fill the
// picture; when one is, only the rows announced were written, they hold the
// whole picture's pixels, and every other byte of it is untouched.
TEST(PixbufLoader, BadInputGivesTheReasonAndTouchesNothingElse) {
  const std::vector<std::uint8_t> file = Art(97, 64, 5);
  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  const Expected whole = Decode(file, header, pixels);

  std::vector<std::vector<std::uint8_t>> inputs;
  for (const std::size_t cut : {std::size_t{0}, std::size_t{5}, std::size_t{31}, std::size_t{32},
                                std::size_t{40}, file.size() / 2, file.size() - 1}) {
    inputs.emplace_back(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
  }
  std::vector<std::uint8_t> foreign(file);
  foreign[2] = 'X';  // "PDX10..."
  inputs.push_back(foreign);
  inputs.push_back({'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0, 0, 0,
                    1,   0,   0,    0, 1, 0, 0, 0, 1, 0, 24,   0, 0, 0, 0,    0, 0, 0});
  std::vector<std::uint8_t> far_copy = pdtgen::MakeHeader(4, 4, 3);
  far_copy.insert(far_copy.end(), {0x00, 0xFF, 0xFF});  // a copy token before any pixel
  inputs.push_back(far_copy);

  for (std::size_t k = 0; k < inputs.size(); ++k) {
    SCOPED_TRACE(k);
    mdl_pdt::PdtHeader ignored;
    mdl_pdt::PixelBuffer none;
    const mdl_pdt::PdtStatus status = mdl_pdt::LoadPdtMemory(inputs[k], ignored, none);
    ASSERT_NE(status, mdl_pdt::PdtStatus::Ok);

    Events events;
    events.expected = &whole;
    GdkPixbuf* pixbuf = nullptr;
    GError* error = nullptr;
    EXPECT_FALSE(LoadInPieces(inputs[k], 16, events, &pixbuf, &error));
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->domain, GDK_PIXBUF_ERROR);
    EXPECT_STREQ(error->message, mdl_pdt::Describe(status));
    g_clear_error(&error);

    // The size is asked once the header is known good; a pixbuf is made
    // only when the bytes at hand can fill the picture.
    mdl_pdt::PdtHeader parsed;
    const bool parsed_ok = mdl_pdt::ParseHeader(inputs[k], parsed) == mdl_pdt::PdtStatus::Ok;
    const auto payload = [&](std::size_t bytes) {
      return parsed.FileSize > 32 ? std::min(bytes, static_cast<std::size_t>(parsed.FileSize)) - 32
                                  : 0;
    };
    const bool header_ok = parsed_ok && mdl_pdt::CheckHeader(parsed, payload(std::size_t(-1))) ==
                                            mdl_pdt::PdtStatus::Ok;
    const bool fillable = header_ok && mdl_pdt::CheckHeader(parsed, payload(inputs[k].size())) ==
                                           mdl_pdt::PdtStatus::Ok;
    if (!fillable) {
      EXPECT_EQ(events.prepared, nullptr);
      EXPECT_EQ(events.order.size(), header_ok ? 1U : 0U);
    } else {
      ASSERT_NE(events.prepared, nullptr);
      EXPECT_TRUE(events.bands_ok);
      EXPECT_TRUE(CanaryKept(events.prepared, events.next_row));
    }
    if (pixbuf != nullptr) g_object_unref(pixbuf);
  }
}

}  // namespace
