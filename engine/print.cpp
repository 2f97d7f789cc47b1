/*
 * print.cpp - printer operations: feed, cut and blank strips; device settings
 * and peripherals; dot-line raster output and PackBits row compression.
 */
#include "print.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ovik_printer_helper_cmd.h"
#include "ovik_tools.h"
#include "job.h"

namespace {

/* Appends one PackBits piece: a literal of count bytes from src (count 1..128). */
uint8_t *put_literal(uint8_t *out, const uint8_t *src, uint32_t count)
{
  *out++ = static_cast<uint8_t>(count - 1);
  std::memcpy(out, src, count);
  return out + count;
}

/* Appends bytes src[0..count) as literals of at most 128 bytes, front first. */
uint8_t *put_literals(uint8_t *out, const uint8_t *src, uint32_t count)
{
  while (count > 0) {
    uint32_t piece = std::min<uint32_t>(count, 128);
    out = put_literal(out, src, piece);
    src += piece;
    count -= piece;
  }
  return out;
}

/* Appends a run of count copies of b as repeats of at most 128; a lone
 * remainder byte becomes a one-byte literal, since a repeat codes 2 or more. */
uint8_t *put_repeats(uint8_t *out, uint8_t b, uint32_t count)
{
  while (count > 0) {
    uint32_t piece = std::min<uint32_t>(count, 128);
    if (piece == 1)
      return put_literal(out, &b, 1);
    *out++ = static_cast<uint8_t>(257 - piece);
    *out++ = b;
    count -= piece;
  }
  return out;
}

/* PackBits of one row; returns the end of its output. */
uint8_t *pack_row(const uint8_t *row, uint32_t width, uint8_t *out)
{
  if (width == 0)
    return out;
  uint32_t start = 0;
  bool run = false;
  for (uint32_t j = 1; j < width; j++) {
    bool equal = row[j] == row[j - 1];
    if (equal && !run) {
      // A pair at the very end of the row joins the waiting literal.
      if (j == width - 1 && start < j - 1)
        break;
      if (start < j - 1)
        out = put_literals(out, row + start, j - 1 - start);
      start = j - 1;
      run = true;
    } else if (!equal && run) {
      out = put_repeats(out, row[start], j - start);
      start = j;
      run = false;
    }
  }
  if (run)
    return put_repeats(out, row[start], width - start);
  return put_literals(out, row + start, width - start);
}

} // namespace

/* PackBits-compresses rows rows of width bytes, each row on its own. */
int tiff_compression(const uint8_t *src, uint32_t width, uint32_t rows, uint8_t *out, int *out_len)
{
  uint8_t *end = out;
  for (uint32_t r = 0; r < rows; r++)
    end = pack_row(src + static_cast<size_t>(r) * width, width, end);
  *out_len = static_cast<int>(end - out);
  return 0;
}

namespace {

constexpr uint32_t cmd_capacity = 255;

/* The command buffer of one operation, made afresh for every call. */
struct cmd_buffer {
  uint8_t bytes[cmd_capacity];
  uint32_t length;
};

/* Empties buffer (zero bytes and length) before a command is built in it. */
void clear(cmd_buffer &buffer)
{
  std::memset(buffer.bytes, 0, sizeof buffer.bytes);
  buffer.length = 0;
}

/* Sends what the encoder built. */
void send(ovik_printer_dev *job, const cmd_buffer &buffer)
{
  write_bytes(job->out, buffer.bytes, static_cast<int>(buffer.length));
}

/* The closing trace line of an operation: its code and the outcome word. */
int finished(ovik_printer_dev *job, const char *name, int code)
{
  job_trace(job, "-%s finished(%d) %s\n", name, code, code == 0 ? "success." : "fail!");
  return code;
}

/* Ends a one-command operation: sends the command when the encoder built it,
 * then the closing trace line; returns the encoder's code. */
int sent(ovik_printer_dev *job, const char *name, int code, const cmd_buffer &buffer)
{
  if (code == 0)
    send(job, buffer);
  return finished(job, name, code);
}

/* The low byte of a setting: every value that goes into a command byte. */
int low_byte(int32_t value)
{
  return static_cast<int>(static_cast<uint32_t>(value) & 0xFF);
}

} // namespace

/* Cuts the paper with the cut mode of the settings (full or partial). */
int print_cut_page(ovik_printer_dev *job)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  job_trace(job, "+print_cut_page(printer_class:%d) start.\n", static_cast<int>(s.type));
  clear(buffer);
  // CutMode 2 and 1 (or 67 and 66) are the full and the partial cut.
  int m = static_cast<int>((67u - static_cast<uint32_t>(s.finalcut)) & 0xFF);
  int code = ovik_cmd_select_cut_mode_and_feed_paper(s.type, m, 0, buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, "print_cut_page", code, buffer);
}

/* Advances the paper by blank_counter blank dot rows, less the paper-save
 * quarters (at most max_blank_rows), in strips of at most 255 rows. */
int print_blank(ovik_printer_dev *job, int blank_counter)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  int save = s.papersavemode >= 1 && s.papersavemode <= 3 ? s.papersavemode : 0;
  job_trace(job, "+print_blank(blank_counter:%d, save percent %d/4) start.\n", blank_counter, save);
  if (blank_counter <= 0)
    return 0;
  bool feed_step = is_feed_step_model(s);
  clear(buffer);
  int64_t rows = blank_counter - static_cast<int64_t>(blank_counter) * save / 4;
  // An absurd feed length must not keep the printer feeding for hours.
  rows = std::min<int64_t>(rows, max_blank_rows);
  int code = 0;
  while (rows > 0) {
    int chunk = static_cast<int>(std::min<int64_t>(rows, 255));
    rows -= chunk;
    buffer.length = 0;
    if (feed_step) {
      code = ovik_cmd_print_and_feed_paper(s.type, chunk, buffer.bytes, cmd_capacity, &buffer.length);
      if (code == 0)
        send(job, buffer);
    } else {
      code = ovik_cmd_print_raster_img_cmd_header(s.type, 0, 1, chunk, buffer.bytes, cmd_capacity, &buffer.length);
      if (code == 0) {
        send(job, buffer);
        clear(buffer);
        write_bytes(job->out, buffer.bytes, chunk); // the blank rows: one zero byte each
      }
    }
    if (code != 0) {
      // A printer without this command set gets nothing of the strip; the
      // job goes on, as with every other refused command.
      msgerrno(&job->io, MSG_DEBUG, code);
      break;
    }
  }
  flush_output(job->out);
  return finished(job, "print_blank", code);
}

/* Moves to the next ticket with a form feed. */
int print_position_next_ticket(ovik_printer_dev *job)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  job_trace(job, "+print_position_next_ticket(printer_class:%d) start.\n", static_cast<int>(s.type));
  buffer.length = 0;
  int code = ovik_cmd_print_and_return_standard_mode(s.type, buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, "print_position_next_ticket", code, buffer);
}

namespace {

using setting_encoder = int (*)(uint32_t, int, uint8_t *, uint32_t, uint32_t *);

/* Sends one device setting: the setting's low byte through its encoder. */
int send_setting(ovik_printer_dev *job, const char *name, setting_encoder encode, int32_t value)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  job_trace(job, "+%s(printer_class:%d) start.\n", name, static_cast<int>(s.type));
  buffer.length = 0;
  int code = encode(s.type, low_byte(value), buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, name, code, buffer);
}

} // namespace

/* Sets the print speed. */
int printer_set_speed(ovik_printer_dev *job)
{
  return send_setting(job, "printer_set_speed", ovik_cmd_select_the_print_speed, job->settings.speed);
}

/* Sets the print density. */
int printer_set_density(ovik_printer_dev *job)
{
  return send_setting(job, "printer_set_density", ovik_cmd_select_the_print_density, job->settings.density);
}

/* Sets the line spacing. */
int printer_set_linespacing(ovik_printer_dev *job)
{
  return send_setting(job, "printer_set_linespacing", ovik_cmd_set_line_spacing, job->settings.linespacing);
}

/* The built-in beeper's command with the settings' repeat count, duration
 * and interval (each its low byte). */
int beep_command(const dev_mode &s, uint8_t *buf, uint32_t capacity, uint32_t *length)
{
  return ovik_cmd_beep_integrated_beeper(s.type, low_byte(s.beeptimes), low_byte(s.beepduration),
                                         low_byte(s.beepinterval), buf, capacity, length);
}

/* The pulse that opens cash drawer 0 or 1: 80 by 80 units (160 ms on and off). */
int drawer_pulse_command(const dev_mode &s, int drawer, uint8_t *buf, uint32_t capacity, uint32_t *length)
{
  return ovik_cmd_generate_pulse(s.type, drawer, 80, 80, buf, capacity, length);
}

/* The second key code of logo N: N + 47, or -1 beyond a byte (the commands
 * then refuse it, as they refuse every key code outside 0x20-0x7E). */
int ovik_logo_key_code(int32_t logo)
{
  int64_t key = static_cast<int64_t>(logo) + 47;
  return key >= 0 && key <= 255 ? static_cast<int>(key) : -1;
}

/* Sounds the built-in beeper: repeat count, duration and interval. */
int print_beep(ovik_printer_dev *job)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  clear(buffer);
  int code = beep_command(s, buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, "print_beep", code, buffer);
}

/* Drives an external buzzer on pulse pin 0, externalbeeptimes pulses (at most
 * max_external_beeps). One step of the duration and interval settings is
 * 100 ms (50 units of 2 ms). */
int print_external_beep(ovik_printer_dev *job)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  clear(buffer);
  job_trace(job, "-print_external_beep start(%d)\n", s.externalbeeptimes);
  int t1 = low_byte(static_cast<int32_t>(50u * static_cast<uint32_t>(s.externalbeepduration)));
  int t2 = low_byte(static_cast<int32_t>(50u * static_cast<uint32_t>(s.externalbeepinterval)));
  int code = ovik_cmd_generate_pulse(s.type, 0, t1, t2, buffer.bytes, cmd_capacity, &buffer.length);
  if (code == 0)
    for (int32_t i = 0; i < std::min(s.externalbeeptimes, max_external_beeps); i++)
      send(job, buffer);
  return finished(job, "print_external_beep", code);
}

/* Opens cash drawer 0 or 1. */
int print_open_drawer(ovik_printer_dev *job, int drawer)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  clear(buffer);
  int code = drawer_pulse_command(s, drawer, buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, "print_open_drawer", code, buffer);
}

/* Prints the stored logo logoindex (key codes 0x30 and logoindex + 47), then
 * puts the justification back to the left; both or neither are sent. */
int print_logo(ovik_printer_dev *job)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  clear(buffer);
  int code = ovik_cmd_print_the_specified_NV_graphics_data_gmode(
      s.type, OVIK_LOGO_KEY_CODE_1, ovik_logo_key_code(s.logoindex), 1, 1, buffer.bytes, cmd_capacity, &buffer.length);
  if (code == 0)
    code = ovik_cmd_select_justification(s.type, 0, buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, "print_logo", code, buffer);
}

/* Sets the logo's justification: logoalign 1, 2, 3 are left, centre, right. */
int printer_set_align(ovik_printer_dev *job)
{
  cmd_buffer buffer{};
  const dev_mode &s = job->settings;
  clear(buffer);
  int code =
      ovik_cmd_select_justification(s.type, low_byte(s.logoalign) - 1, buffer.bytes, cmd_capacity, &buffer.length);
  return sent(job, "print_set_logo_align", code, buffer);
}

namespace {

/* Position after the last nonzero byte of a row; 0 for an all-zero row. */
int used_length(const uint8_t *row, int width)
{
  while (width > 0 && row[width - 1] == 0)
    width--;
  return width;
}

/* Leading zero bytes of a row; width for an all-zero row. */
int leading_zeros(const uint8_t *row, int width)
{
  int z = 0;
  while (z < width && row[z] == 0)
    z++;
  return z;
}

/* Writes n rows of width w from rows, PackBits-coded when pack is given. */
void send_rows(ovik_printer_dev *job, const uint8_t *rows, int w, int n, uint8_t *pack)
{
  if (!pack) {
    write_bytes(job->out, rows, w * n);
    return;
  }
  int packed = 0;
  tiff_compression(rows, static_cast<uint32_t>(w), static_cast<uint32_t>(n), pack, &packed);
  write_bytes(job->out, pack, packed);
}

} // namespace

namespace {

/* Ends dot-line output: the error's trace line, and text for the front end. */
int fatal(ovik_printer_dev *job, const char *text)
{
  msg(job, MSG_ERROR, text);
  return job_failed(job, OVIK_JOB_ERR_DOTLINE, text);
}

} // namespace

/* Sends dwHeight rows of dwWidthBytes bytes as GS v 0 raster sections that
 * fit data_buf, trimmed of blank bytes on the right (and on the left where
 * the printer can shift), compressed when the settings ask for it. */
int print_dotline(ovik_printer_dev *job, const uint8_t *pData, int dwWidthBytes, int dwHeight)
{
  cmd_buffer buffer{};
  if (dwHeight < 1 || dwWidthBytes < 1)
    return 0;
  const dev_mode &s = job->settings;
  job_trace(job, "+print_dotline(pData:%d,dwWidthBytes:%d,dwHeight:%d) start.\n",
            static_cast<int>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pData))), dwWidthBytes, dwHeight);
  bool feed_step = is_feed_step_model(s);
  bool shift = s.issupportshiftline;
  if (job->job_state.lastStripBlanksHeight > 0)
    job->job_state.lastStripBlanksHeight = 0;

  int per_section = std::min(job->data_buf_size / dwWidthBytes, s.max_render_height);
  if (per_section < 1 || job->data_buf_size < dwWidthBytes)
    return fatal(job, "kel databufsize is too small!/n");

  int m = 0;
  std::unique_ptr<uint8_t, decltype(&free)> pack(nullptr, free);
  if (s.compression != 0) {
    m = 0x20;
    // PackBits never more than doubles a row.
    pack.reset(static_cast<uint8_t *>(malloc(2 * (static_cast<size_t>(dwWidthBytes) * per_section + 4))));
    if (!pack)
      return 0;
  }
  uint8_t *packed = pack.get();

  int code = 0;
  int skip = 0;
  for (int start = 0; start < dwHeight;) {
    int n = std::min(per_section, dwHeight - start);
    const uint8_t *section = pData + static_cast<size_t>(start) * dwWidthBytes;
    auto row = [&](int i) { return section + static_cast<size_t>(i) * dwWidthBytes; };

    if (shift) {
      job_trace(job, "\tisSupportShiftLine:TRUE");
      skip = dwWidthBytes;
      for (int i = 0; i < n && skip > 0; i++)
        skip = std::min(skip, leading_zeros(row(i), dwWidthBytes));
    }

    int w;
    if (feed_step) {
      w = std::min(s.printer_width, dwWidthBytes);
    } else {
      int edge = 0;
      for (int i = 0; i < n && edge < dwWidthBytes; i++)
        edge = std::max(edge, used_length(row(i), dwWidthBytes));
      if (s.printer_width < dwWidthBytes)
        edge = s.printer_width;
      w = edge - skip;
    }
    // A skip past the edge leaves nothing to print: the rows go out with
    // width 0, so the paper still moves. A trimmed copy never leaves its row.
    if (w < 0)
      w = skip = 0;
    if (w != dwWidthBytes)
      w = std::min(w, dwWidthBytes - skip);

    buffer.length = 0;
    if (w == dwWidthBytes) {
      code =
          ovik_cmd_print_raster_img_cmd_header(s.type, m, dwWidthBytes, n, buffer.bytes, cmd_capacity, &buffer.length);
      if (code != 0) {
        char line[255];
        code_line(code, line, sizeof line);
        return fatal(job, line);
      }
      send(job, buffer);
      send_rows(job, section, dwWidthBytes, n, packed);
    } else {
      if (shift) {
        job_trace(job, "\tcmd_shift_dotline");
        ovik_cmd_set_left_margin(s.type, skip, buffer.bytes, cmd_capacity, &buffer.length);
        send(job, buffer);
      }
      std::memset(job->data_buf, 0, static_cast<size_t>(n) * w);
      for (int i = 0; i < n; i++)
        std::memcpy(job->data_buf + static_cast<size_t>(i) * w, row(i) + skip, w);
      buffer.length = 0;
      code = ovik_cmd_print_raster_img_cmd_header(s.type, m, w, n, buffer.bytes, cmd_capacity, &buffer.length);
      if (code != 0)
        return fatal(job, "Error in print_dotline");
      send(job, buffer);
      send_rows(job, job->data_buf, w, n, packed);
      job_trace(job, "\tone section complete.\n");
    }
    if (feed_step) {
      buffer.length = 0;
      if (ovik_cmd_print_and_feed_paper(s.type, 0, buffer.bytes, cmd_capacity, &buffer.length) == 0)
        send(job, buffer);
    }
    start += n;
  }
  flush_output(job->out);
  return finished(job, "print_dotline", code);
}
