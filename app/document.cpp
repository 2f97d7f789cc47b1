/*
 * document.cpp - documents as 1-bit pages for the printer: PWG and Apple
 * raster read with libcups, PNG with libpng, JPEG with libjpeg.
 *
 * Raster pages come as the client rendered them for the printer's media:
 * 1-bit black pages go on unchanged (as the CUPS filter sends them), gray
 * and colour pages are made 1 bit. An image is laid onto the paper: one
 * pixel a dot, made narrower when wider than the print head (print-scaling
 * fit or fill also make a narrower one as wide as the head), centred
 * across; on a roll the page is as long as the image, on labels and tickets
 * it is the media's page with the image centred. Images are read row by
 * row and scaled as they come: memory stays a few rows, whatever the image's
 * size, and sizes beyond the limits below are refused before anything is
 * read. A file that is not what it claims, or ends early, ends with one
 * reason, never a loop of errors.
 */
#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include <cups/raster.h>
#include <jpeglib.h>
#include <png.h>

#include "ovik_app.h"

namespace {

/* The largest image taken: as wide as a poster at 203 dpi, as long as the
 * longest roll page, and no more pixels than a few seconds of decoding. */
constexpr uint32_t max_image_width = 16384;
constexpr uint32_t max_image_height = 65535;
constexpr uint64_t max_image_pixels = 100'000'000;
/* An interlaced PNG is decoded whole: its gray and alpha bytes at most. */
constexpr uint64_t max_interlaced_bytes = 64u << 20;

/* ---------- 1-bit rows from gray ---------- */

/* A 16 x 16 ordered dither in Bayer order, for photos. */
struct bayer_matrix {
  uint8_t t[16][16];
  bayer_matrix()
  {
    for (int y = 0; y < 16; y++)
      for (int x = 0; x < 16; x++) {
        int v = 0, yc = x ^ y;
        for (int bit = 0; bit < 4; bit++)
          v = (v << 2) | ((yc >> (3 - bit) & 1) << 1) | (x >> (3 - bit) & 1);
        t[y][x] = static_cast<uint8_t>(v);
      }
  }
};
const bayer_matrix bayer;

/* Sets the dots of a gray row (0 black, 255 white) into a 1-bit row: a dot
 * where the gray is at most the threshold, 127 or the dither's. */
void dither_row(const uint8_t *gray, uint32_t width, uint32_t x0, uint32_t y, bool photo, uint8_t *row)
{
  for (uint32_t i = 0; i < width; i++) {
    uint32_t x = x0 + i;
    uint8_t threshold = photo ? bayer.t[y & 15][x & 15] : 127;
    if (gray[i] <= threshold)
      row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  }
}

/* ---------- the image onto the page ---------- */

/* Where the image's pixels land: the scaled size, the window of it that is
 * printed, and where that window sits on the page. */
struct placement {
  uint32_t scaled_w, scaled_h; /* the image after scaling */
  uint32_t crop_x, crop_y;     /* the first column and row printed */
  uint32_t shown_w, shown_h;   /* what is printed of it */
  uint32_t page_x, page_y;     /* where it sits on the page */
  uint32_t page_w, page_h;
};

/* The placement of an image of w x h pixels on the layout; false when the
 * page would be longer than the longest the layout takes. */
bool place(uint32_t w, uint32_t h, const layout &l, placement &p, std::string &why)
{
  double head = l.width_dots, length = l.length_rows;
  double scale = 1.0;
  switch (l.scaling) {
  case PAPPL_SCALING_FIT:
    scale = length ? std::min(head / w, length / h) : head / w;
    break;
  case PAPPL_SCALING_FILL:
    scale = length ? std::max(head / w, length / h) : head / w;
    break;
  case PAPPL_SCALING_NONE:
    break;
  default: // auto: shrink what does not fit, never enlarge
    scale = std::min(1.0, length ? std::min(head / w, length / h) : head / w);
    break;
  }
  p.scaled_w = std::max<uint32_t>(1, static_cast<uint32_t>(w * scale + 0.5));
  p.scaled_h = std::max<uint32_t>(1, static_cast<uint32_t>(h * scale + 0.5));
  p.shown_w = std::min(p.scaled_w, l.width_dots);
  p.crop_x = (p.scaled_w - p.shown_w) / 2;
  p.page_w = l.image_wide ? p.shown_w : l.width_dots;
  p.page_x = (p.page_w - p.shown_w) / 2;
  p.page_h = length ? l.length_rows : p.scaled_h;
  p.shown_h = std::min(p.scaled_h, p.page_h);
  p.crop_y = (p.scaled_h - p.shown_h) / 2;
  p.page_y = (p.page_h - p.shown_h) / 2;
  if (p.page_h > l.max_rows) {
    why = "The image is " + std::to_string(p.page_h * 254 / app_resolution / 10) +
          " mm long after scaling; the longest page is " + std::to_string(l.max_rows * 254 / app_resolution / 10) +
          " mm";
    return false;
  }
  return true;
}

/* Scales gray rows (given one after another, top to bottom) to the
 * placement and hands the page's 1-bit rows to the sink: each output pixel
 * is the mean of the source pixels it covers, or the one it falls on when
 * enlarged. */
struct scaler {
  const layout &l;
  const placement &p;
  const page_sink &sink;
  uint32_t src_w, src_h;
  std::vector<uint32_t> col_start, col_end; /* source columns of each printed column */
  std::vector<uint32_t> sum;                /* the sums of the output row under way */
  std::vector<uint8_t> gray, page_row;
  uint32_t out_y = 0; /* the next row of the scaled image */
  uint32_t rows_in = 0;
  uint32_t rows_sent = 0; /* page rows given to the sink */
  bool ok = true;

  scaler(const layout &l_, const placement &p_, const page_sink &s, uint32_t w, uint32_t h)
      : l(l_), p(p_), sink(s), src_w(w), src_h(h), col_start(p_.shown_w), col_end(p_.shown_w), sum(p_.shown_w),
        gray(p_.shown_w), page_row((p_.page_w + 7) / 8)
  {
    for (uint32_t j = 0; j < p.shown_w; j++) {
      uint64_t x = p.crop_x + j;
      col_start[j] = static_cast<uint32_t>(x * src_w / p.scaled_w);
      col_end[j] = std::max(col_start[j] + 1, static_cast<uint32_t>((x + 1) * src_w / p.scaled_w));
    }
  }

  uint32_t row_start(uint32_t y) const { return static_cast<uint32_t>(uint64_t(y) * src_h / p.scaled_h); }
  uint32_t row_end(uint32_t y) const
  {
    return std::max(row_start(y) + 1, static_cast<uint32_t>(uint64_t(y + 1) * src_h / p.scaled_h));
  }

  /* Hands blank page rows to the sink until the page has rows. */
  void blank_to(uint32_t rows)
  {
    std::fill(page_row.begin(), page_row.end(), 0);
    while (ok && rows_sent < rows) {
      ok = sink.rows(sink.context, page_row.data(), 1);
      rows_sent++;
    }
  }

  /* One source row of gray values, src_w of them. */
  void add(const uint8_t *src)
  {
    uint32_t r = rows_in++;
    while (ok && out_y < p.scaled_h && row_start(out_y) <= r) {
      for (uint32_t j = 0; j < p.shown_w; j++) {
        uint32_t s = 0;
        for (uint32_t x = col_start[j]; x < col_end[j]; x++)
          s += src[x];
        sum[j] += s / (col_end[j] - col_start[j]);
      }
      if (r + 1 < row_end(out_y))
        return; // more source rows for this output row
      uint32_t rows = row_end(out_y) - row_start(out_y);
      if (out_y >= p.crop_y && out_y < p.crop_y + p.shown_h) {
        for (uint32_t j = 0; j < p.shown_w; j++)
          gray[j] = static_cast<uint8_t>(sum[j] / rows);
        uint32_t y = p.page_y + (out_y - p.crop_y);
        blank_to(y);
        std::fill(page_row.begin(), page_row.end(), 0);
        dither_row(gray.data(), p.shown_w, p.page_x, y, l.photo, page_row.data());
        if (ok)
          ok = sink.rows(sink.context, page_row.data(), 1);
        rows_sent++;
      }
      std::fill(sum.begin(), sum.end(), 0);
      out_y++;
    }
  }

  /* The page's last rows. */
  bool finish()
  {
    blank_to(p.page_h);
    return ok;
  }
};

/* Gray over white: a pixel of gray g with alpha a as printed on white paper. */
inline uint8_t over_white(uint8_t g, uint8_t a)
{
  return static_cast<uint8_t>((g * a + 255 * (255 - a) + 127) / 255);
}

/* One row of gray and alpha pairs, printed over white, into the scaler. */
void take_gray_alpha(scaler &sc, const uint8_t *ga, uint32_t w, std::vector<uint8_t> &gray)
{
  for (uint32_t x = 0; x < w; x++)
    gray[x] = over_white(ga[2 * x], ga[2 * x + 1]);
  sc.add(gray.data());
}

/* Checks an image's size against the limits. */
bool size_allowed(uint32_t w, uint32_t h, std::string &why)
{
  if (w == 0 || h == 0) {
    why = "The image has no pixels";
    return false;
  }
  if (w > max_image_width || h > max_image_height || uint64_t(w) * h > max_image_pixels) {
    why = "The image is too large (" + std::to_string(w) + " x " + std::to_string(h) + " pixels; at most " +
          std::to_string(max_image_width) + " x " + std::to_string(max_image_height) + " and " +
          std::to_string(max_image_pixels / 1000000) + " million pixels)";
    return false;
  }
  return true;
}

/* ---------- PNG ---------- */

struct png_reader {
  FILE *fp = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string error;
  ~png_reader()
  {
    if (png)
      png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (fp)
      fclose(fp);
  }
};

/* libpng's errors end the reading: the first message is kept, and control
 * returns to the setjmp of the reader, never back into libpng. */
void png_error_cb(png_structp png, png_const_charp message)
{
  auto *r = static_cast<png_reader *>(png_get_error_ptr(png));
  if (r->error.empty())
    r->error = message;
  png_longjmp(png, 1);
}

/* Warnings (a bad ancillary chunk, an odd profile) do not stop a print. */
void png_warning_cb(png_structp, png_const_charp) {}

bool read_png(const char *path, const layout &l, const page_sink &sink, std::string &why)
{
  png_reader r;
  if (!(r.fp = fopen(path, "rb"))) {
    why = std::string("Cannot open the document: ") + strerror(errno);
    return false;
  }
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, png_error_cb, png_warning_cb);
  if (!r.png || !(r.info = png_create_info_struct(r.png))) {
    why = "Not enough memory to read the PNG image";
    return false;
  }
  // Everything that can be taken across the longjmp lives outside this frame.
  std::unique_ptr<placement> p(new placement{});
  std::unique_ptr<scaler> sc;
  std::vector<uint8_t> row, whole, gray;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(r.png))) {
    why = "The PNG image cannot be read: " + (r.error.empty() ? std::string("damaged data") : r.error);
    return false;
  }
  png_set_user_limits(r.png, max_image_width, max_image_height);
  png_set_chunk_malloc_max(r.png, 8u << 20);
  png_init_io(r.png, r.fp);
  png_read_info(r.png, r.info);
  uint32_t w = png_get_image_width(r.png, r.info), h = png_get_image_height(r.png, r.info);
  if (!size_allowed(w, h, why))
    return false;
  // Every form as 8-bit gray with alpha: palettes and low bit depths
  // expanded, 16 bits scaled, colour made gray, transparency an alpha.
  int color = png_get_color_type(r.png, r.info);
  png_set_expand(r.png);
  png_set_scale_16(r.png);
  if (color & PNG_COLOR_MASK_COLOR)
    png_set_rgb_to_gray_fixed(r.png, 1, -1, -1);
  if (!(color & PNG_COLOR_MASK_ALPHA) && !png_get_valid(r.png, r.info, PNG_INFO_tRNS))
    png_set_add_alpha(r.png, 0xFF, PNG_FILLER_AFTER);
  int passes = png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  if (png_get_channels(r.png, r.info) != 2 || png_get_bit_depth(r.png, r.info) != 8) {
    why = "The PNG image has a form that cannot be printed";
    return false;
  }
  if (!place(w, h, l, *p, why) || !sink.begin(sink.context, p->page_w, p->page_h)) {
    if (why.empty())
      why = "The page cannot be started";
    return false;
  }
  sc.reset(new scaler(l, *p, sink, w, h));
  gray.resize(w);
  if (passes > 1) {
    // Interlaced: the passes fill the whole image before any row is final.
    if (uint64_t(w) * h * 2 > max_interlaced_bytes) {
      why = "The interlaced PNG image is too large (" + std::to_string(w) + " x " + std::to_string(h) +
            " pixels); save it without interlacing";
      return false;
    }
    whole.resize(size_t(w) * h * 2);
    rows.resize(h);
    for (uint32_t y = 0; y < h; y++)
      rows[y] = whole.data() + size_t(y) * w * 2;
    png_read_image(r.png, rows.data());
    for (uint32_t y = 0; y < h && sc->ok; y++)
      take_gray_alpha(*sc, rows[y], w, gray);
  } else {
    row.resize(size_t(w) * 2);
    for (uint32_t y = 0; y < h && sc->ok; y++) {
      png_read_row(r.png, row.data(), nullptr);
      take_gray_alpha(*sc, row.data(), w, gray);
    }
  }
  if (!sc->finish() || !sink.end(sink.context)) {
    why = "The page could not be printed";
    return false;
  }
  return true;
}

/* ---------- JPEG ---------- */

struct jpeg_error {
  jpeg_error_mgr mgr;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

/* libjpeg's fatal errors return to the reader's setjmp with their text. */
void jpeg_error_exit(j_common_ptr cinfo)
{
  auto *e = reinterpret_cast<jpeg_error *>(cinfo->err);
  cinfo->err->format_message(cinfo, e->message);
  longjmp(e->jump, 1);
}

/* Warnings (corrupt data libjpeg can step over) are not printed one by one. */
void jpeg_quiet(j_common_ptr, int) {}

bool read_jpeg(const char *path, const layout &l, const page_sink &sink, std::string &why)
{
  FILE *fp = fopen(path, "rb");
  if (!fp) {
    why = std::string("Cannot open the document: ") + strerror(errno);
    return false;
  }
  jpeg_decompress_struct cinfo{};
  auto *err = new jpeg_error{};
  std::unique_ptr<jpeg_error> err_owner(err);
  std::unique_ptr<placement> p(new placement{});
  std::unique_ptr<scaler> sc;
  std::vector<uint8_t> line, gray;
  cinfo.err = jpeg_std_error(&err->mgr);
  err->mgr.error_exit = jpeg_error_exit;
  err->mgr.emit_message = jpeg_quiet;
  if (setjmp(err->jump)) {
    why = std::string("The JPEG image cannot be read: ") + err->message;
    jpeg_destroy_decompress(&cinfo);
    fclose(fp);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, fp);
  jpeg_read_header(&cinfo, TRUE);
  bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
  bool ok = size_allowed(cinfo.image_width, cinfo.image_height, why);
  if (ok) {
    // A large image is decoded at 1/2, 1/4 or 1/8 of its size when that is
    // still at least as large as what is printed.
    placement full{};
    ok = place(cinfo.image_width, cinfo.image_height, l, full, why);
    for (unsigned d = 8; ok && d > 1; d /= 2)
      if (cinfo.image_width / d >= full.scaled_w && cinfo.image_height / d >= full.scaled_h) {
        cinfo.scale_num = 1;
        cinfo.scale_denom = d;
        break;
      }
  }
  if (ok) {
    jpeg_start_decompress(&cinfo);
    uint32_t w = cinfo.output_width, h = cinfo.output_height;
    ok = place(w, h, l, *p, why);
    if (ok && !sink.begin(sink.context, p->page_w, p->page_h)) {
      why = "The page cannot be started";
      ok = false;
    }
    if (ok) {
      sc.reset(new scaler(l, *p, sink, w, h));
      line.resize(size_t(w) * cinfo.output_components);
      gray.resize(w);
      while (cinfo.output_scanline < h && sc->ok) {
        JSAMPROW rows[1] = {line.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        if (cmyk) {
          // Adobe's CMYK is stored inverted: each value is the ink's absence.
          for (uint32_t x = 0; x < w; x++) {
            const uint8_t *c = &line[4 * x];
            int k = c[3], r = c[0] * k / 255, g = c[1] * k / 255, b = c[2] * k / 255;
            gray[x] = static_cast<uint8_t>((r * 299 + g * 587 + b * 114) / 1000);
          }
          sc->add(gray.data());
        } else {
          sc->add(line.data());
        }
      }
      ok = sc->finish() && sink.end(sink.context);
      if (!ok && why.empty())
        why = "The page could not be printed";
      if (ok)
        jpeg_finish_decompress(&cinfo);
    }
  }
  jpeg_destroy_decompress(&cinfo);
  fclose(fp);
  return ok;
}

/* ---------- raster ---------- */

/* Reads raster pages: 1-bit black as it is; white-is-1 bits inverted; 8-bit
 * gray and 24-bit colour made 1 bit. A page that ends early is refused. */
bool read_raster(const char *path, const layout &l, const page_sink &sink, std::string &why)
{
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    why = std::string("Cannot open the document: ") + strerror(errno);
    return false;
  }
  cups_raster_t *ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!ras) {
    close(fd);
    why = "The raster stream cannot be read";
    return false;
  }
  cups_page_header2_t h;
  bool ok = true;
  unsigned pages = 0;
  std::vector<uint8_t> in, out, gray;
  while (ok && cupsRasterReadHeader2(ras, &h)) {
    pages++;
    unsigned bits = h.cupsBitsPerPixel;
    if (!(bits == 1 || bits == 8 || bits == 24) || h.cupsWidth == 0 || h.cupsHeight == 0 ||
        uint64_t(h.cupsBytesPerLine) * 8 < uint64_t(h.cupsWidth) * bits) {
      why = "Page " + std::to_string(pages) + " of the raster has a form that cannot be printed (" +
            std::to_string(bits) + " bits per pixel)";
      ok = false;
      break;
    }
    // Black (K) pages carry ink: 1 or 255 is black. Gray and colour pages
    // carry light: 0 is black.
    bool ink = h.cupsColorSpace == CUPS_CSPACE_K;
    uint32_t width = h.cupsWidth, bpl = (width + 7) / 8;
    if (!sink.begin(sink.context, width, h.cupsHeight)) {
      why = "The page cannot be started";
      ok = false;
      break;
    }
    in.resize(h.cupsBytesPerLine);
    out.resize(bpl);
    for (uint32_t y = 0; y < h.cupsHeight && ok; y++) {
      if (cupsRasterReadPixels(ras, in.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine) {
        why = "Page " + std::to_string(pages) + " of the raster ends early, after " + std::to_string(y) + " of " +
              std::to_string(h.cupsHeight) + " rows; it is not printed";
        ok = false;
        break;
      }
      if (bits == 1) {
        std::memcpy(out.data(), in.data(), bpl);
        if (!ink)
          for (uint8_t &b : out)
            b = static_cast<uint8_t>(~b);
        if (width % 8)
          out[bpl - 1] &= static_cast<uint8_t>(0xFF << (8 - width % 8));
      } else {
        std::fill(out.begin(), out.end(), 0);
        gray.resize(width);
        for (uint32_t x = 0; x < width; x++) {
          uint8_t v = bits == 8
                          ? in[x]
                          : static_cast<uint8_t>((in[3 * x] * 299 + in[3 * x + 1] * 587 + in[3 * x + 2] * 114) / 1000);
          gray[x] = ink && bits == 8 ? static_cast<uint8_t>(255 - v) : v;
        }
        dither_row(gray.data(), width, 0, y, l.photo, out.data());
      }
      ok = sink.rows(sink.context, out.data(), 1);
    }
    if (ok && !sink.end(sink.context)) {
      why = "The page could not be printed";
      ok = false;
    }
  }
  cupsRasterClose(ras);
  close(fd);
  if (ok && pages == 0) {
    why = "The raster stream holds no page";
    ok = false;
  }
  return ok;
}

} // namespace

/* Reads the document of a kind into pages. */
bool ovik_app_read_document(const char *path, document_kind kind, const layout &l, const page_sink &sink,
                            std::string &why)
{
  switch (kind) {
  case document_kind::pwg_raster:
  case document_kind::apple_raster:
    return read_raster(path, l, sink, why);
  case document_kind::png:
    return read_png(path, l, sink, why);
  case document_kind::jpeg:
    return read_jpeg(path, l, sink, why);
  case document_kind::native:
    break;
  }
  why = "This document cannot be read as pages";
  return false;
}

namespace {

/* Where ovik_app_read_image hands its page: the rows kept whole. */
bool image_begin(void *context, uint32_t width, uint32_t height)
{
  auto &image = *static_cast<bitmap_image *>(context);
  image.width = width;
  image.height = 0;
  image.rows.clear();
  image.rows.reserve(size_t((width + 7) / 8) * height);
  return true;
}

bool image_rows(void *context, const uint8_t *rows, uint32_t count)
{
  auto &image = *static_cast<bitmap_image *>(context);
  image.rows.insert(image.rows.end(), rows, rows + size_t((image.width + 7) / 8) * count);
  image.height += count;
  return true;
}

bool image_end(void *)
{
  return true;
}

} // namespace

/* An image file, PNG or JPEG by its first bytes, read as a job reads it
 * (print-scaling auto: one pixel a dot, narrower when wider than the head)
 * onto a page as wide as the image. */
bool ovik_app_read_image(const char *path, uint32_t width_dots, bool photo, bitmap_image &image, std::string &why)
{
  int fd = open(path, O_RDONLY);
  if (fd < 0) {
    why = std::string("Cannot open the image: ") + strerror(errno);
    return false;
  }
  unsigned char head[8] = {};
  ssize_t n = read(fd, head, sizeof head);
  close(fd);
  const printed_format *f = n > 0 ? ovik_app_printed_format(ovik_app_format_of(head, static_cast<size_t>(n))) : nullptr;
  document_kind kind = f ? f->kind : document_kind::native;
  if (kind != document_kind::png && kind != document_kind::jpeg) {
    why = n <= 0 ? "The file is empty: there is no image in it" : "The file is not a PNG or JPEG image";
    return false;
  }
  layout l{};
  l.width_dots = width_dots;
  l.max_rows = max_image_height;
  l.scaling = PAPPL_SCALING_AUTO;
  l.photo = photo;
  l.image_wide = true;
  page_sink sink{image_begin, image_rows, image_end, &image};
  return ovik_app_read_document(path, kind, l, sink, why);
}

namespace {

void png_to_vector(png_structp png, png_bytep data, png_size_t length)
{
  auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

/* The rows through libpng, whose errors come back to the setjmp here. */
bool encode_png(png_structp png, png_infop info, uint32_t width, uint32_t height, int depth, bool rgba, bool at_203dpi,
                const std::function<const uint8_t *(uint32_t y)> &row)
{
  if (setjmp(png_jmpbuf(png)))
    return false;
  png_set_IHDR(png, info, width, height, depth, rgba ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (at_203dpi)
    png_set_pHYs(png, info, 7992, 7992, PNG_RESOLUTION_METER);
  png_write_info(png, info);
  for (uint32_t y = 0; y < height; y++)
    png_write_row(png, const_cast<png_bytep>(row(y)));
  png_write_end(png, nullptr);
  return true;
}

} // namespace

bool ovik_app_write_png(std::vector<uint8_t> &out, uint32_t width, uint32_t height, int depth, bool rgba,
                        bool at_203dpi, const std::function<const uint8_t *(uint32_t y)> &row)
{
  out.clear();
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  if (ok) {
    png_set_write_fn(png, &out, png_to_vector, nullptr);
    ok = encode_png(png, info, width, height, depth, rgba, at_203dpi, row);
  }
  png_destroy_write_struct(&png, &info);
  return ok;
}
