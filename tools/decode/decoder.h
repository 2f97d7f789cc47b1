/*
 * decoder.h - reads a printer data stream back: splits it into packets,
 * printer commands and bytes that are neither, checks packet CRCs, decodes
 * PackBits rows, and renders what the printer would put on paper.
 *
 * A tool library (C++), not part of the public C interface. Decoding never
 * allocates from a length the stream declares: every record points into the
 * caller's bytes, and a length running past the end stops the decoding.
 */
#ifndef OVIK_DECODE_H
#define OVIK_DECODE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

/* What one stretch of the stream turned out to be. */
enum class record_type {
  packet,  /* a framed packet: magic 1B 1A, kind, body length, body, CRC */
  command, /* a printer command of the ESC/POS family */
  unknown, /* a run of bytes that is neither: decoding lost sync here */
  stop,    /* the input ends inside a packet or command: decoding stops */
};

/* What a record does to the paper (or to how later records land on it). */
enum class paper_effect {
  none,
  feed_rows,       /* advance param "n" dot rows */
  feed_lines,      /* advance param "n" lines of the current line spacing */
  line_feed,       /* advance one line */
  line_spacing,    /* line spacing = param "n" dots */
  default_spacing, /* line spacing back to the default */
  cut_full,        /* full cut, after feeding param "n" rows when present */
  cut_partial,     /* partial cut, likewise */
  raster,          /* GS v 0 raster image */
  bitmap,          /* bitmap packet: the page rows */
  left_margin,     /* left margin = param "n" dots */
  justify,         /* justification = param "n" (0/48 left, 1/49 centre, 2/50 right) */
  form_feed,       /* to the next ticket or label */
  stored_image,    /* prints graphics stored in the printer (drawn when the memory holds them) */
  define_graphic,  /* stores a graphic in the printer's NV or download graphics memory */
  pulse,           /* drawer or external buzzer pulse */
  beep,            /* integrated beeper */
  initialize,      /* ESC @: margin, justification and spacing back to defaults */
};

/* One named value read from a record ("n", "bytes_per_line", ...). */
struct decode_param {
  const char *name;
  uint32_t value;
};

/* One record of a decoded stream; offsets count bytes from the stream start. */
struct decode_record {
  record_type type = record_type::unknown;
  size_t offset = 0;
  size_t length = 0;
  const char *name = ""; /* "GS V", "page header", ... */
  const char *what = ""; /* a few words on what it does */
  paper_effect effect = paper_effect::none;
  int packet_kind = -1; /* 0..4 for the known kinds; -1 for non-packets */
  bool crc_ok = false;
  uint32_t crc_stored = 0;
  uint32_t crc_computed = 0;
  std::vector<decode_param> params;
  size_t data_offset = 0; /* pixel or data block carried inside the record */
  size_t data_length = 0;
  uint32_t row_bytes = 0; /* image geometry of bitmaps and raster images */
  uint32_t rows = 0;
  bool compressed = false; /* raster rows are PackBits coded */
  bool blank = false;      /* an image without a single dot */
  uint8_t scale_x = 1;     /* raster image dot size */
  uint8_t scale_y = 1;
  std::string problem; /* empty, or what looked wrong in this record */
};

/* Counts over a whole stream; the line format_summary prints. */
struct decode_summary {
  size_t bytes = 0;
  size_t packets = 0;
  size_t crc_errors = 0;
  size_t page_headers = 0;
  size_t bitmaps = 0;
  size_t rows = 0;        /* rows carried by bitmap packets */
  size_t width_bytes = 0; /* widest bytes per line of a page header or bitmap */
  size_t commands = 0;
  size_t raster_images = 0; /* GS v 0 images with at least one dot */
  size_t raster_rows = 0;
  size_t feed_rows = 0; /* dot rows advanced without marks */
  size_t cuts_full = 0;
  size_t cuts_partial = 0;
  size_t pulses = 0;
  size_t beeps = 0;
  size_t logos = 0; /* prints of stored graphics */
  size_t form_feeds = 0;
  size_t unknown_bytes = 0;
  size_t sync_losses = 0;
  size_t problems = 0;        /* records with a problem other than a CRC error */
  long long stop_offset = -1; /* where the input stopped making sense, or -1 */
  size_t paper_rows = 0;      /* dot rows of paper fed: bitmap rows, raster image rows and blank feeds */
};

/* The resolution of the printer stream, in dots per inch. */
inline constexpr int stream_dpi = 203;

/* Millimetres of paper that rows dot rows take. */
inline double rows_to_mm(size_t rows)
{
  return static_cast<double>(rows) * 25.4 / stream_dpi;
}

struct decode_result {
  std::vector<decode_record> records;
  decode_summary summary;
};

/* Packet CRC: zlib's crc32 started from 0xFFFFFFFF. */
uint32_t packet_crc(std::span<const uint8_t> bytes);

/* Result of decoding one PackBits row. */
struct packbits_row {
  size_t consumed = 0;   /* source bytes read */
  bool complete = false; /* the row got all its bytes before the source ended */
  bool overrun = false;  /* a run went past the row's end (extra bytes dropped) */
  bool nonzero = false;  /* some byte of the row is not zero */
};

/* Decodes one PackBits row of width bytes from src; out (width bytes) may be
 * null to only measure the coded row. */
packbits_row packbits_decode_row(const uint8_t *src, size_t src_len, uint8_t *out, size_t width);

/* Splits a stream into records and counts them. */
decode_result decode_stream(std::span<const uint8_t> bytes);

/*
 * Where the decoding of a stream that arrives in pieces stands, between
 * calls of decode_more. Start from a default one; the fields other than pos
 * and settles_at are the decoder's own.
 */
struct decode_progress {
  size_t pos = 0;        /* bytes decoded so far (an open unknown run included) */
  size_t settles_at = 0; /* the stream size before which another call decides nothing new */
  bool done = false;     /* the end of the stream was decoded */
  bool in_sync = true;
  size_t unknown_start = SIZE_MAX; /* start of the unknown run still open */
  size_t guess_spent = 0;
  bool have_page_header = false;
  uint32_t page_bytes_per_line = 0;
  uint32_t page_rows = 0;
  uint32_t page_seq = 0;
};

/*
 * Decodes a stream that arrives in pieces: bytes is the whole stream received
 * so far (from its first byte, growing between calls). Appends to records
 * what the bytes settle, stopping before any reading that more bytes could
 * still change; with at_end, the rest too, as decode_stream would. Returns
 * the number of records appended. Each call starts where the last one
 * stopped, so decoding a stream in pieces costs about what decoding it whole
 * does. Out of sync, the allowance for guessing grows with the bytes received
 * so far: a stream with much garbage may decode differently in pieces.
 */
size_t decode_more(decode_progress &progress, std::span<const uint8_t> bytes, bool at_end,
                   std::vector<decode_record> &records);

/* Counts the records of a stream of size bytes (the summary decode_stream gives). */
decode_summary summarize_records(const std::vector<decode_record> &records, size_t size);

/* Value of a named parameter of a record, or fallback. */
uint32_t record_param(const decode_record &record, const char *name, uint32_t fallback);

/* One listing line for a record (no line end). */
std::string format_record(const decode_record &record, std::span<const uint8_t> bytes);

/* The machine-readable summary line (no line end). */
std::string format_summary(const decode_summary &summary);

/* A graphic stored in the printer: rows of (width + 7) / 8 bytes, top row
 * first, the leftmost dot the high bit. */
struct stored_graphic {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rows;
  bool operator==(const stored_graphic &) const = default;
};

/* The printer's two graphics memories, by key codes (k1 << 8 | k2). */
struct graphics_memory {
  std::map<uint16_t, stored_graphic> nv, download;
};

/* The graphic a define record (GS ( L or GS 8 L, raster or column form)
 * carries; false when the record is no define or its data does not make
 * one graphic of its size. */
bool defined_graphic(const decode_record &record, std::span<const uint8_t> bytes, stored_graphic &graphic);

/* Where a record defined or deleted graphics: the NV memory or the download
 * one, and the key codes, or -1 for every graphic of that memory. */
struct memory_change {
  bool nv = false;
  int key = -1;
};

/* Applies a record that defines or deletes graphics to the memory; true when
 * the record was one, and then *change (when given) says where. A define
 * that does not make a graphic changes nothing. */
bool apply_to_memory(const decode_record &record, std::span<const uint8_t> bytes, graphics_memory &memory,
                     memory_change *change = nullptr);

/* The graphic a print record (print NV or download graphics) prints from the
 * memory, with its scale; nullptr when the memory does not hold it. */
const stored_graphic *printed_graphic(const decode_record &record, std::span<const uint8_t> bytes,
                                      const graphics_memory &memory);

/* The NV graphics memory kept in a folder, as ovik-sim keeps it: one PBM
 * file (P4) per graphic, named nv-K1K2.pbm with the key codes in hex
 * ("nv-3031.pbm" for logo 2). Other files are left alone; a file of that
 * name that is no such image is passed over. Reading gives "" or the error. */
std::string read_graphics_folder(const std::string &folder, graphics_memory &memory);

/* Writes the NV memory into the folder (made if missing): a file per graphic,
 * each written whole and renamed into place, and the files of graphics it no
 * longer holds removed. "" or the error. */
std::string write_graphics_folder(const std::string &folder, const graphics_memory &memory);

/* The file of one NV graphic brought in line with the memory: written whole
 * and renamed into place while the memory holds it, else removed. "" or the
 * error. */
std::string write_graphic_file(const std::string &folder, uint16_t key, const graphics_memory &memory);

/* Colours of the rendered paper: indices into the PNG palette. */
enum render_pixel : uint8_t {
  px_paper = 0,       /* white paper */
  px_ink = 1,         /* a dot */
  px_beyond = 2,      /* outside the paper width */
  px_ink_beyond = 3,  /* a dot the paper does not hold */
  px_cut_full = 4,    /* full cut line */
  px_cut_partial = 5, /* partial cut line */
  px_form_feed = 6,   /* form feed / next label mark */
  px_stored = 7,      /* stored graphics printed here (content unknown) */
  px_defined = 8,     /* a dot of a graphic stored in the printer, not printed */
  px_defined_back = 9 /* the ground of such a graphic */
};

struct render_options {
  uint32_t paper_width = 0;                /* dots; 0 infers it from the widest row */
  const graphics_memory *memory = nullptr; /* what the printer held when the stream began; nullptr: nothing known */
  size_t max_pixels = size_t(1) << 26;     /* the canvas never grows beyond this */
};

/* The paper as one strip, top to bottom, one byte (render_pixel) per dot. */
struct render_bitmap {
  uint32_t width = 0; /* canvas width: paper width, or wider content */
  uint32_t height = 0;
  uint32_t paper_width = 0;
  std::vector<uint8_t> pixels;
  bool clipped = false; /* stopped at max_pixels */
};

/* Rows that marks (cuts, form feeds) take on the canvas, and a stored image's band. */
inline constexpr uint32_t mark_rows = 3;
inline constexpr uint32_t stored_image_rows = 24;

/* Renders the records of a stream as the printer would put them on paper. */
render_bitmap render_records(const decode_result &decoded, std::span<const uint8_t> bytes,
                             const render_options &options);

/* Writes a rendered strip as a PNG file ("-" for standard output); "" or the error. */
std::string write_png(const render_bitmap &bitmap, const char *path);

#endif
