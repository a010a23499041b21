// Feeds arbitrary bytes to the gdk-pixbuf loader's incremental path in pieces
// of varying size, at full size, scaled or for the size alone, and checks what
// must hold: the pixbuf is announced before any band and the bands run down
// it in order; a load succeeds exactly when LoadPdtMemory does, and then at
// full size gives its pixels; a failure has a reason; no byte of any row's
// padding, nor of a row never announced, is written.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "pdt/mdl_pdt.h"

extern "C" void fill_vtable(GdkPixbufModule* module);

namespace {

constexpr guchar kCanary = 0x5A;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "pixbuf_loader_fuzzer: %s\n", what);
  std::abort();
}

struct State {
  int ask_width = 0;  // 0: keep the picture's size
  int ask_height = 0;
  bool size_only = false;  // answer 0 × 0: only the size is wanted
  bool size_asked = false;
  GdkPixbuf* pixbuf = nullptr;
  int next_row = 0;
};

void OnSize(gint* width, gint* height, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (state->size_asked || state->pixbuf != nullptr) Fail("the size was asked twice or late");
  state->size_asked = true;
  if (*width < 1 || *height < 1) Fail("a size below 1 was offered");
  if (state->size_only) {
    *width = 0;
    *height = 0;
  } else if (state->ask_width != 0) {
    *width = state->ask_width;
    *height = state->ask_height;
  }
}

void OnPrepared(GdkPixbuf* pixbuf, GdkPixbufAnimation* /*anim*/, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (!state->size_asked || state->pixbuf != nullptr) Fail("prepared before the size or twice");
  state->pixbuf = g_object_ref(pixbuf);
  std::fill_n(gdk_pixbuf_get_pixels(pixbuf), gdk_pixbuf_get_byte_length(pixbuf), kCanary);
}

void OnUpdated(GdkPixbuf* pixbuf, int x, int y, int width, int height, gpointer data) {
  auto* state = static_cast<State*>(data);
  if (pixbuf != state->pixbuf) Fail("an update of another pixbuf");
  if (x != 0 || width != gdk_pixbuf_get_width(pixbuf) || y != state->next_row || height < 1 ||
      y + height > gdk_pixbuf_get_height(pixbuf)) {
    Fail("a band out of order or out of the pixbuf");
  }
  state->next_row = y + height;
}

// True when the padding of every row, and every byte of the rows from
// `untouched_from` on, still hold the canary.
bool CanaryKept(GdkPixbuf* pixbuf, int untouched_from) {
  const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
  const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  const auto row_bytes = static_cast<std::size_t>(gdk_pixbuf_get_width(pixbuf)) * 3;
  const auto length = static_cast<std::size_t>(gdk_pixbuf_get_byte_length(pixbuf));
  for (std::size_t at = 0; at < length; ++at) {
    const bool kept = at % stride >= row_bytes || static_cast<int>(at / stride) >= untouched_from;
    if (kept && data[at] != kCanary) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static GdkPixbufModule module = [] {
    GdkPixbufModule m{};
    fill_vtable(&m);
    return m;
  }();
  // The input's length picks the piece size and the size asked for, so that
  // the loader's seeds serve here too, whole.
  const std::size_t piece = 1 + (size * 7919) % 4099;
  State state;
  switch (size % 5) {
    case 1:  // a thumbnail
      state.ask_width = 1 + static_cast<int>(size % 13);
      state.ask_height = 1 + static_cast<int>(size % 11);
      break;
    case 2:
      state.size_only = true;
      break;
    case 3:  // larger than any picture here: left to gdk-pixbuf
      state.ask_width = 1 << 16;
      state.ask_height = 1 << 16;
      break;
    default:
      break;
  }

  GError* error = nullptr;
  gpointer context = module.begin_load(OnSize, OnPrepared, OnUpdated, &state, &error);
  if (context == nullptr) Fail("begin_load failed");
  bool ok = true;
  for (std::size_t at = 0; ok && at < size; at += piece) {
    ok = module.load_increment(context, data + at, static_cast<guint>(std::min(piece, size - at)),
                               &error) != FALSE;
  }
  if (ok) {
    ok = module.stop_load(context, &error) != FALSE;
  } else {
    module.stop_load(context, nullptr);
  }
  if (!ok && (error == nullptr || error->message == nullptr || error->message[0] == '\0')) {
    Fail("a failed load gave no reason");
  }
  g_clear_error(&error);

  mdl_pdt::PdtHeader header;
  mdl_pdt::PixelBuffer pixels;
  const bool good =
      mdl_pdt::LoadPdtMemory(std::span(data, size), header, pixels) == mdl_pdt::PdtStatus::Ok;
  if (state.size_only) {
    if (state.pixbuf != nullptr) Fail("a pixbuf was made when only the size was wanted");
    if (good && !ok) Fail("a size-only load of a good picture failed");
    return 0;
  }
  if (ok != good) Fail(ok ? "the loader read what LoadPdtMemory rejects" : "a good picture failed");
  if (state.pixbuf != nullptr) {
    if (!CanaryKept(state.pixbuf, state.next_row)) Fail("a byte outside the rows was written");
  }
  if (!good) {
    if (state.pixbuf != nullptr) g_object_unref(state.pixbuf);
    return 0;
  }
  if (state.pixbuf == nullptr) Fail("no pixbuf for a good picture");
  const int height = gdk_pixbuf_get_height(state.pixbuf);
  if (state.next_row != height) Fail("not every row was announced");
  if (state.ask_width == 0 || state.ask_width > header.Width || state.ask_height > header.Height) {
    if (gdk_pixbuf_get_width(state.pixbuf) != header.Width || height != header.Height) {
      Fail("a full-size load has another size");
    }
    const guchar* bytes = gdk_pixbuf_read_pixels(state.pixbuf);
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(state.pixbuf));
    const auto width = static_cast<std::size_t>(header.Width);
    for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
      const std::uint32_t* row = pixels.data() + (static_cast<std::size_t>(height) - 1 - y) * width;
      for (std::size_t x = 0; x < width; ++x) {
        const guchar* p = bytes + y * stride + 3 * x;
        if (p[0] != ((row[x] >> 16) & 0xFF) || p[1] != ((row[x] >> 8) & 0xFF) ||
            p[2] != (row[x] & 0xFF)) {
          Fail("a pixel differs from LoadPdtMemory's");
        }
      }
    }
  } else if (gdk_pixbuf_get_width(state.pixbuf) != state.ask_width || height != state.ask_height) {
    Fail("a scaled load has another size");
  }
  g_object_unref(state.pixbuf);
  return 0;
}
