// The gdk-pixbuf loader for PDT pictures (image/x-pdt), through which GTK
// programs, the file chooser's preview and gdk-pixbuf-thumbnailer open them.
//
// Bytes are gathered as they arrive. The header is judged as soon as its 32
// bytes are in: a file that is not a PDT picture, or whose sizes cannot be
// right, fails there, and the size is asked for. Once the payload the header
// names has arrived (or the data ends), the pixbuf is made and announced and
// the picture decoded row by row straight into it, scaled on the way when a
// smaller size was asked for, each band of rows announced as it is written.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>
#undef GDK_PIXBUF_ENABLE_BACKEND

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "pdt/mdl_pdt.h"
#include "scale/scale.h"

namespace {

// Rows are announced in bands of about this many bytes of the pixbuf, so that
// a viewer redraws a few dozen times for a large picture, not once per row.
constexpr std::size_t kBandBytes = std::size_t{1} << 18;

// One load, from begin_load to stop_load.
class PdtLoad {
 public:
  PdtLoad(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
          GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data)
      : size_func_(size_func),
        prepared_func_(prepared_func),
        updated_func_(updated_func),
        user_data_(user_data) {}
  ~PdtLoad() {
    if (pixbuf_ != nullptr) g_object_unref(pixbuf_);
  }
  PdtLoad(const PdtLoad&) = delete;
  PdtLoad& operator=(const PdtLoad&) = delete;

  bool Add(std::span<const std::uint8_t> bytes, GError** error);
  bool Finish(GError** error);

 private:
  enum class Stage { Header, Payload, Done, SizeOnly, Failed };

  // Receives the decoded rows: each one (or each scaled row, as it
  // completes) goes into the pixbuf as R, G, B bytes.
  class Rows : public mdl_pdt::RowSink {
   public:
    explicit Rows(PdtLoad& load) : load_(load) {}
    void Begin(const mdl_pdt::PdtHeader& /*header*/) override {}
    void Row(std::size_t /*index*/, std::span<const std::uint32_t> pixels) override {
      if (!load_.scaler_) {
        load_.Store(pixels);
        return;
      }
      // At most one output row completes per source row when shrinking.
      const std::int32_t before = load_.scaler_->RowsOut();
      load_.scaler_->AddRow(pixels);
      if (load_.scaler_->RowsOut() > before) load_.Store(load_.scaled_row_);
    }

   private:
    PdtLoad& load_;
  };

  bool Start(GError** error);
  bool Prepare(std::size_t file_bytes, GError** error);
  bool Decode(std::span<const std::uint8_t> file, GError** error);
  void Store(std::span<const std::uint32_t> pixels);
  void Announce();
  bool Fail(mdl_pdt::PdtStatus status, GError** error);
  void SetError(GError** error) const;

  GdkPixbufModuleSizeFunc size_func_;
  GdkPixbufModulePreparedFunc prepared_func_;
  GdkPixbufModuleUpdatedFunc updated_func_;
  gpointer user_data_;

  Stage stage_ = Stage::Header;
  std::vector<std::uint8_t> file_;
  std::size_t file_size_ = 0;  // what the header names, header included
  mdl_pdt::PdtHeader header_;
  // Set when a failure is not one of the core's: the pixbuf or the decoder's
  // buffers could not be allocated.
  bool out_of_memory_ = false;
  mdl_pdt::PdtStatus status_ = mdl_pdt::PdtStatus::Ok;

  GdkPixbuf* pixbuf_ = nullptr;
  guchar* pixels_ = nullptr;  // its memory, rows `stride_` bytes apart
  std::size_t stride_ = 0;
  std::int32_t width_ = 0;  // the pixbuf's size
  std::int32_t height_ = 0;
  std::int32_t rows_done_ = 0;
  std::int32_t rows_announced_ = 0;
  std::int32_t band_rows_ = 1;
  std::optional<scale::RowScaler> scaler_;
  std::vector<std::uint32_t> scaled_row_;
};

bool PdtLoad::Add(std::span<const std::uint8_t> bytes, GError** error) {
  switch (stage_) {
    case Stage::Failed:
      SetError(error);
      return false;
    case Stage::Done:
    case Stage::SizeOnly:
      // Bytes past the picture, or a load that only wanted the size.
      return true;
    case Stage::Header:
    case Stage::Payload:
      break;
  }
  // Nothing past what the header names is kept: the decoder would not read it.
  const std::size_t room = stage_ == Stage::Payload ? file_size_ - file_.size() : bytes.size();
  try {
    file_.insert(file_.end(), bytes.begin(),
                 bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return Fail(mdl_pdt::PdtStatus::Ok, error);
  }
  if (stage_ == Stage::Header && file_.size() >= mdl_pdt::kHeaderSize && !Start(error)) {
    return false;
  }
  if (stage_ == Stage::Payload && file_.size() >= file_size_) return Decode(file_, error);
  return true;
}

bool PdtLoad::Finish(GError** error) {
  switch (stage_) {
    case Stage::Done:
    case Stage::SizeOnly:
      return true;
    case Stage::Failed:
      SetError(error);
      return false;
    case Stage::Header: {
      // Fewer than 32 bytes came.
      mdl_pdt::PdtHeader header;
      return Fail(mdl_pdt::ParseHeader(file_, header), error);
    }
    case Stage::Payload:
      // The file is shorter than its header says; the stream may still hold
      // the whole picture, as the core decides.
      return Decode(file_, error);
  }
  return false;
}

// The header is in: judges it and asks for the size.
bool PdtLoad::Start(GError** error) {
  mdl_pdt::PdtStatus status = mdl_pdt::ParseHeader(file_, header_);
  if (status == mdl_pdt::PdtStatus::Ok) {
    // A payload that the named file size cannot hold is judged now, before
    // anything is allocated, as the core judges it.
    const std::size_t named =
        header_.FileSize > static_cast<std::int32_t>(mdl_pdt::kHeaderSize)
            ? static_cast<std::size_t>(header_.FileSize) - mdl_pdt::kHeaderSize
            : 0;
    status = mdl_pdt::CheckHeader(header_, named);
  }
  if (status != mdl_pdt::PdtStatus::Ok) return Fail(status, error);
  file_size_ = static_cast<std::size_t>(header_.FileSize);

  int width = header_.Width;
  int height = header_.Height;
  if (size_func_ != nullptr) size_func_(&width, &height, user_data_);
  if (width <= 0 || height <= 0) {
    // Only the size was wanted: nothing more is allocated or decoded.
    stage_ = Stage::SizeOnly;
    file_ = {};
    return true;
  }
  // A smaller size is made while decoding; any other is left to gdk-pixbuf,
  // which scales the full-size picture afterwards.
  if (width > header_.Width || height > header_.Height) {
    width = header_.Width;
    height = header_.Height;
  }
  width_ = width;
  height_ = height;
  stage_ = Stage::Payload;
  return true;
}

// The payload is in (or all that will come): makes and announces the pixbuf,
// once the bytes at hand can possibly fill the picture, so that a short file
// claiming a huge picture costs no memory.
bool PdtLoad::Prepare(std::size_t file_bytes, GError** error) {
  const std::size_t payload =
      std::min(file_size_, std::max(file_bytes, mdl_pdt::kHeaderSize)) - mdl_pdt::kHeaderSize;
  const mdl_pdt::PdtStatus status = mdl_pdt::CheckHeader(header_, payload);
  if (status != mdl_pdt::PdtStatus::Ok) return Fail(status, error);
  // Cleared memory (fresh pages from the system for a large picture, so
  // nearly free): rows a damaged stream never reaches show black, not
  // whatever the memory held before.
  const int stride = (width_ * 3 + 3) & ~3;
  guchar* pixels = static_cast<guchar*>(
      g_try_malloc0_n(static_cast<gsize>(height_), static_cast<gsize>(stride)));
  if (pixels != nullptr) {
    pixbuf_ = gdk_pixbuf_new_from_data(
        pixels, GDK_COLORSPACE_RGB, FALSE, 8, width_, height_, stride,
        [](guchar* data, gpointer /*user_data*/) { g_free(data); }, nullptr);
    if (pixbuf_ == nullptr) g_free(pixels);
  }
  if (pixbuf_ == nullptr) {
    out_of_memory_ = true;
    return Fail(mdl_pdt::PdtStatus::Ok, error);
  }
  pixels_ = pixels;
  stride_ = static_cast<std::size_t>(stride);
  band_rows_ = static_cast<std::int32_t>(std::clamp<std::size_t>(
      kBandBytes / static_cast<std::size_t>(stride), 1, static_cast<std::size_t>(height_)));
  try {
    if (width_ != header_.Width || height_ != header_.Height) {
      // Each scaled row is written to the same scratch row, then stored.
      scaled_row_.resize(static_cast<std::size_t>(width_));
      scaler_.emplace(scale::Size{header_.Width, header_.Height}, scale::Size{width_, height_},
                      scaled_row_.data(), 0);
    }
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    return Fail(mdl_pdt::PdtStatus::Ok, error);
  }
  if (prepared_func_ != nullptr) prepared_func_(pixbuf_, nullptr, user_data_);
  return true;
}

bool PdtLoad::Decode(std::span<const std::uint8_t> file, GError** error) {
  if (!Prepare(file.size(), error)) return false;
  Rows rows(*this);
  mdl_pdt::PdtStatus status = mdl_pdt::PdtStatus::Ok;
  try {
    status = mdl_pdt::DecodeRowsMemory(file, header_, rows);
  } catch (const std::bad_alloc&) {
    out_of_memory_ = true;
    status = mdl_pdt::PdtStatus::Ok;
  }
  // The rows written before a failure are announced too.
  Announce();
  file_ = {};
  if (status != mdl_pdt::PdtStatus::Ok || out_of_memory_) return Fail(status, error);
  stage_ = Stage::Done;
  return true;
}

// The next row of the pixbuf from pixels 0xFFRRGGBB; only its width × 3
// bytes are written, never the padding to the row stride (the last row of a
// pixbuf may have none).
void PdtLoad::Store(std::span<const std::uint32_t> pixels) {
  if (rows_done_ >= height_ || pixels.size() != static_cast<std::size_t>(width_)) return;
  guchar* out = pixels_ + static_cast<std::size_t>(rows_done_) * stride_;
  for (const std::uint32_t pixel : pixels) {
    out[0] = static_cast<guchar>(pixel >> 16);
    out[1] = static_cast<guchar>(pixel >> 8);
    out[2] = static_cast<guchar>(pixel);
    out += 3;
  }
  ++rows_done_;
  if (rows_done_ - rows_announced_ >= band_rows_) Announce();
}

// Tells the caller about the rows written since the last announcement.
void PdtLoad::Announce() {
  if (rows_done_ > rows_announced_ && updated_func_ != nullptr) {
    updated_func_(pixbuf_, 0, rows_announced_, width_, rows_done_ - rows_announced_, user_data_);
  }
  rows_announced_ = rows_done_;
}

bool PdtLoad::Fail(mdl_pdt::PdtStatus status, GError** error) {
  stage_ = Stage::Failed;
  status_ = status;
  file_ = {};
  scaler_.reset();
  SetError(error);
  return false;
}

void PdtLoad::SetError(GError** error) const {
  if (error == nullptr || *error != nullptr) return;
  if (out_of_memory_) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "not enough memory for the picture");
    return;
  }
  const bool foreign =
      status_ == mdl_pdt::PdtStatus::NotPdt10 || status_ == mdl_pdt::PdtStatus::HeaderTooShort;
  g_set_error_literal(error, GDK_PIXBUF_ERROR,
                      foreign ? GDK_PIXBUF_ERROR_UNKNOWN_TYPE : GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
                      mdl_pdt::Describe(status_));
}

gpointer BeginLoad(GdkPixbufModuleSizeFunc size_func, GdkPixbufModulePreparedFunc prepared_func,
                   GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data, GError** error) {
  auto* load = new (std::nothrow) PdtLoad(size_func, prepared_func, updated_func, user_data);
  if (load == nullptr) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "not enough memory for the picture");
  }
  return load;
}

gboolean LoadIncrement(gpointer context, const guchar* bytes, guint size, GError** error) {
  return static_cast<PdtLoad*>(context)->Add(std::span(bytes, size), error) ? TRUE : FALSE;
}

gboolean StopLoad(gpointer context, GError** error) {
  auto* load = static_cast<PdtLoad*>(context);
  const bool ok = load->Finish(error);
  delete load;
  return ok ? TRUE : FALSE;
}

// "PDT10" wherever the 8-byte signature may hold it: at offsets 0 to 3.
char kPdt0[] = "PDT10";
char kPdt1[] = "xPDT10";
char kPdt2[] = "xxPDT10";
char kPdt3[] = "xxxPDT10";
char kMask1[] = "x     ";
char kMask2[] = "xx     ";
char kMask3[] = "xxx     ";
GdkPixbufModulePattern kSignature[] = {
    {kPdt0, nullptr, 100}, {kPdt1, kMask1, 100},  {kPdt2, kMask2, 100},
    {kPdt3, kMask3, 100},  {nullptr, nullptr, 0},
};
char kName[] = "pdt";
char kDescription[] = "PDT picture";
char kMimeType[] = "image/x-pdt";
char kExtension[] = "pdt";
char kLicense[] = "MIT";
gchar* kMimeTypes[] = {kMimeType, nullptr};
gchar* kExtensions[] = {kExtension, nullptr};

}  // namespace

extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module);
G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info);

void fill_vtable(GdkPixbufModule* module) {
  module->begin_load = BeginLoad;
  module->stop_load = StopLoad;
  module->load_increment = LoadIncrement;
}

// Reading only: a loader that claims to save but cannot is refused.
void fill_info(GdkPixbufFormat* info) {
  info->name = kName;
  info->signature = kSignature;
  info->description = kDescription;
  info->mime_types = kMimeTypes;
  info->extensions = kExtensions;
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = kLicense;
}

}  // extern "C"
