#include "images/kwimagedecode.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace {

// Pixel budget of one picture: far above any skin picture (the largest are
// 1067 x 600), far below what would exhaust memory.
constexpr long long kMaxPixels = 64LL * 1024 * 1024;

bool SizeAcceptable(long long width, long long height) {
  return width > 0 && height > 0 && width <= kKwMaxImageSide && height <= kKwMaxImageSide &&
         width * height <= kMaxPixels;
}

// Fills the planes from interleaved 8-bit rows of `channels` samples (3 or 4).
void FillPlanes(KwImagePlanes* planes, const uint8_t* pixels, int channels) {
  size_t count = static_cast<size_t>(planes->width) * static_cast<size_t>(planes->height);
  planes->alpha.resize(count * 3);
  planes->inverseAlpha.resize(count * 3);
  planes->colour.resize(count * 3);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* p = pixels + i * static_cast<size_t>(channels);
    uint8_t a = channels == 4 ? p[3] : 255;
    uint8_t inv = static_cast<uint8_t>(~a);
    uint8_t* al = &planes->alpha[i * 3];
    uint8_t* ia = &planes->inverseAlpha[i * 3];
    uint8_t* co = &planes->colour[i * 3];
    al[0] = al[1] = al[2] = a;
    ia[0] = ia[1] = ia[2] = inv;
    co[0] = p[2];
    co[1] = p[1];
    co[2] = p[0];
  }
}

// ---- PNG from memory ----

struct PngSource {
  const uint8_t* bytes;
  size_t count;
  size_t offset;
};

void PngRead(png_structp png, png_bytep out, png_size_t wanted) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  size_t remaining = src->count - src->offset;
  size_t served = wanted < remaining ? wanted : remaining;
  std::memcpy(out, src->bytes + src->offset, served);
  src->offset += served;
  // Serving fewer bytes than asked would leave libpng parsing stale buffer
  // contents; a truncated picture is an error instead.
  if (served < wanted) png_error(png, "truncated PNG data");
}

void PngError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

struct PngJob {
  std::vector<uint8_t> pixels;
  std::vector<png_bytep> rows;
  int width = 0;
  int height = 0;
  int channels = 0;
};

int DecodePng(const uint8_t* bytes, int count, KwImagePlanes* out) {
  if (count < 8 || png_sig_cmp(bytes, 0, 8) != 0) return -1;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (png == nullptr) return -1;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return -1;
  }
  PngSource source{bytes, static_cast<size_t>(count), 0};
  PngJob job;
  PngJob* volatile jobp = &job;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return -1;
  }
  png_set_user_limits(png, kKwMaxImageSide, kKwMaxImageSide);
  png_set_chunk_malloc_max(png, 8 * 1024 * 1024);
  png_set_read_fn(png, &source, PngRead);
  png_read_info(png, info);
  png_uint_32 width = png_get_image_width(png, info);
  png_uint_32 height = png_get_image_height(png, info);
  if (!SizeAcceptable(width, height)) png_error(png, "picture too large");
  int colourType = png_get_color_type(png, info);
  // Every picture becomes 8-bit RGB or RGBA whatever it was stored as.
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  png_set_strip_16(png);
  png_set_packing(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  int channels = png_get_channels(png, info);
  if (channels != 3 && channels != 4) png_error(png, "unexpected channel count");
  size_t rowBytes = png_get_rowbytes(png, info);
  if (rowBytes != static_cast<size_t>(width) * static_cast<size_t>(channels)) {
    png_error(png, "unexpected row length");
  }
  PngJob* j = jobp;
  j->width = static_cast<int>(width);
  j->height = static_cast<int>(height);
  j->channels = channels;
  j->pixels.resize(rowBytes * height);
  j->rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) j->rows[y] = j->pixels.data() + rowBytes * y;
  png_read_image(png, j->rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);

  KwImagePlanes planes;
  planes.width = j->width;
  planes.height = j->height;
  FillPlanes(&planes, j->pixels.data(), j->channels);
  *out = std::move(planes);
  return 0;
}

// ---- JPEG from memory ----

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void JpegFail(j_common_ptr info) {
  auto* err = reinterpret_cast<JpegError*>(info->err);
  longjmp(err->jump, 1);
}

// Warnings (premature end of data, corrupt segments) mean the picture would
// be partly invented by the decoder; such data counts as corrupt.
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0) JpegFail(info);
}

void JpegSilent(j_common_ptr) {}

struct JpegJob {
  std::vector<uint8_t> pixels;
  int width = 0;
  int height = 0;
};

int DecodeJpeg(const uint8_t* bytes, int count, KwImagePlanes* out) {
  jpeg_decompress_struct info;
  JpegError err;
  std::memset(&info, 0, sizeof(info));
  info.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  err.mgr.emit_message = JpegMessage;
  err.mgr.output_message = JpegSilent;
  JpegJob job;
  JpegJob* volatile jobp = &job;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&info);
    return -1;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, const_cast<unsigned char*>(bytes), static_cast<unsigned long>(count));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK)
    JpegFail(reinterpret_cast<j_common_ptr>(&info));
  if (!SizeAcceptable(info.image_width, info.image_height)) {
    JpegFail(reinterpret_cast<j_common_ptr>(&info));
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) JpegFail(reinterpret_cast<j_common_ptr>(&info));
  JpegJob* j = jobp;
  j->width = static_cast<int>(info.output_width);
  j->height = static_cast<int>(info.output_height);
  size_t rowBytes = static_cast<size_t>(j->width) * 3;
  j->pixels.resize(rowBytes * static_cast<size_t>(j->height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = j->pixels.data() + rowBytes * info.output_scanline;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) JpegFail(reinterpret_cast<j_common_ptr>(&info));
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);

  KwImagePlanes planes;
  planes.width = j->width;
  planes.height = j->height;
  FillPlanes(&planes, j->pixels.data(), 3);
  *out = std::move(planes);
  return 0;
}

}  // namespace

bool KwLooksLikeJpeg(const uint8_t* bytes, int count) {
  if (bytes == nullptr || count < 10) return false;
  uint8_t b6 = bytes[6], b7 = bytes[7], b8 = bytes[8], b9 = bytes[9];
  return (b6 == 'E' || b6 == 'J' || b6 == 'e') && (b7 == 'F' || b7 == 'X' || b7 == 'x') &&
         (b8 == 'I' || b8 == 'i') && (b9 == 'F' || b9 == 'f');
}

int KwDecodeImage(const uint8_t* bytes, int count, KwImagePlanes* out) {
  if (bytes == nullptr || count <= 0 || out == nullptr) return -1;
  if (KwLooksLikeJpeg(bytes, count)) return DecodeJpeg(bytes, count, out);
  return DecodePng(bytes, count, out);
}
