/*
 * ovik-decode - lists a printer data stream (packets, commands, unknown
 * bytes) and renders the paper it would produce as a PNG.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder.h"
#include "ovik_printer_model.h"

namespace {

constexpr const char *help_text = R"(usage: ovik-decode [options] FILE|-

Lists a printer data stream: each packet with its kind, fields and CRC check
(a wrong CRC is shown as "CRC WRONG"), each printer command by name with its
parameters, bytes that are neither as "unknown" with the offsets where sync was
lost and regained, and "STOP" with the offset where the input ends inside a
packet or command. Offsets are hexadecimal. "-" reads standard input.

options:
  --png OUT     render the paper as one PNG strip, top to bottom ("-" writes it
                to standard output; the listing then goes to standard error)
  --model NAME  paper width of a model from the model catalogue
  --width DOTS  paper width in dots (wins over --model)
  --memory DIR  the printer's NV graphics as ovik-sim keeps them (nv-K1K2.pbm
                files): prints of stored graphics draw them
  --quiet       print only the summary line
  --help        this text

Rendering: bitmap packets at the left edge; raster images (GS v 0, plain or
PackBits) after the left margin (GS L, in dots) and justification (ESC a);
feeds (ESC J dot rows, ESC d and LF lines of the ESC 3 spacing, default 30)
as blank paper. Marks take rows of their own: full cut 3 red rows, partial
cut 3 dashed orange rows, form feed 3 dashed blue rows. A graphic defined in
the printer's memory (GS ( L define, raster or column form) shows where it is
sent, in teal on a pale ground (stored, not printed), and as a picture under
its listing line; a print of NV or download graphics draws the graphic as
the stream (or the --memory folder) defined it, justified and scaled as a
raster image, and a graphic not known there (or an NV bit image) is a
hatched band of 24 rows. Without
--width or --model the paper is as wide as the widest page or image with
dots (576 dots when there is none); anything wider is drawn on grey.
Printable text between commands is not decoded: it shows as unknown bytes.

Last line, always printed, fields in this order (counts in decimal):
  summary: bytes=N packets=N crc_errors=N page_headers=N bitmaps=N rows=N
    width_bytes=N commands=N raster_images=N raster_rows=N feed_rows=N
    cuts_full=N cuts_partial=N pulses=N beeps=N logos=N form_feeds=N
    unknown_bytes=N sync_losses=N problems=N stop_offset=N paper_fed_mm=N.N
  rows: rows in bitmap packets; width_bytes: widest bytes per line of a page;
  raster_images/raster_rows: GS v 0 images with at least one dot; feed_rows:
  dot rows advanced blank (ESC J, blank raster images, GS V feeds, line
  feeds); logos: prints of stored graphics; pulses: ESC p and DLE DC4 1;
  problems: records whose fixed bytes or lengths look wrong; stop_offset:
  offset (decimal) where the input stopped making sense, or -1; paper_fed_mm:
  the paper the stream feeds, in millimetres at 203 dpi (bitmap rows, raster
  image rows and blank feeds; stored graphics and form feeds not counted).

exit status: 0 the stream was understood to its end without a CRC error or
problem; 1 it was not; 2 bad arguments, unreadable input or PNG not written.
)";

/* Reads a whole file ("-": standard input); false when it can't be read. */
bool read_input(const char *path, std::vector<uint8_t> &bytes)
{
  bool from_stdin = std::strcmp(path, "-") == 0;
  FILE *file = from_stdin ? stdin : std::fopen(path, "rb");
  if (!file)
    return false;
  uint8_t chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  bool ok = !std::ferror(file);
  if (!from_stdin)
    std::fclose(file);
  return ok;
}

/* Parses a positive dot count; 0 when the text is not one. */
uint32_t parse_dots(const char *text)
{
  char *end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  return end && *end == '\0' && text[0] != '-' && value <= 1000000 ? uint32_t(value) : 0;
}

/* Prints a usage error and returns the exit status for it. */
int usage_error(const char *message, const char *detail)
{
  std::fprintf(stderr, "ovik-decode: %s%s\nTry 'ovik-decode --help'.\n", message, detail);
  return 2;
}

} // namespace

/* Lists (and renders) one printer stream. */
int main(int argc, char **argv)
{
  const char *png_path = nullptr, *input = nullptr, *model = nullptr, *memory_folder = nullptr;
  uint32_t width = 0;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "--help") {
      std::fputs(help_text, stdout);
      return 0;
    } else if (arg == "--quiet") {
      quiet = true;
    } else if (arg == "--png" && has_value) {
      png_path = argv[++i];
    } else if (arg == "--model" && has_value) {
      model = argv[++i];
    } else if (arg == "--memory" && has_value) {
      memory_folder = argv[++i];
    } else if (arg == "--width" && has_value) {
      if ((width = parse_dots(argv[++i])) == 0)
        return usage_error("bad width: ", argv[i]);
    } else if ((arg == "-" || arg[0] != '-') && !input) {
      input = argv[i];
    } else {
      return usage_error("unexpected argument: ", argv[i]);
    }
  }
  if (!input)
    return usage_error("no input named", "");
  if (model && !width) {
    uint32_t printer_class = 0;
    int32_t model_width = 0;
    if (ovik_printer_model_get_info_by_name(model, &printer_class, &model_width) != 0 || model_width <= 0)
      return usage_error("model not in the catalogue (or without a width): ", model);
    width = uint32_t(model_width);
  }

  std::vector<uint8_t> bytes;
  if (!read_input(input, bytes)) {
    std::fprintf(stderr, "ovik-decode: cannot read %s: %s\n", input, std::strerror(errno));
    return 2;
  }
  decode_result decoded = decode_stream(bytes);

  // The listing never shares standard output with a PNG.
  FILE *listing = png_path && std::strcmp(png_path, "-") == 0 ? stderr : stdout;
  if (!quiet)
    for (const decode_record &record : decoded.records)
      std::fprintf(listing, "%s\n", format_record(record, bytes).c_str());
  std::fprintf(listing, "%s\n", format_summary(decoded.summary).c_str());
  std::fflush(listing);

  if (png_path) {
    render_options options;
    options.paper_width = width;
    graphics_memory memory;
    if (memory_folder) {
      std::string error = read_graphics_folder(memory_folder, memory);
      if (!error.empty()) {
        std::fprintf(stderr, "ovik-decode: %s\n", error.c_str());
        return 2;
      }
      options.memory = &memory;
    }
    render_bitmap bitmap = render_records(decoded, bytes, options);
    if (bitmap.clipped)
      std::fprintf(stderr, "ovik-decode: rendering stopped after %u rows: the image would be too large\n",
                   bitmap.height);
    std::string error = write_png(bitmap, png_path);
    if (!error.empty()) {
      std::fprintf(stderr, "ovik-decode: %s\n", error.c_str());
      return 2;
    }
  }
  const decode_summary &s = decoded.summary;
  return s.crc_errors || s.problems || s.unknown_bytes || s.stop_offset >= 0 ? 1 : 0;
}
