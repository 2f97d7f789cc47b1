/*
 * tools.cpp - the printer tools: logos in the printer's NV graphics memory,
 * the cash drawers, the beeper, the self-test page and what the printer says
 * it is, each over the caller's port.
 *
 * Replies of the graphics memory begin with "7", the version reply with "_";
 * bytes before that header (an automatic status message, a late reply) are
 * passed over, and a reply ends with its zero byte. Every reply is awaited
 * at most the caller's time, every list of blocks is bounded.
 */
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "ovik_error.h"
#include "ovik_printer_helper_cmd.h"
#include "ovik_tools.h"
#include "print.h"

namespace {

using clock_type = std::chrono::steady_clock;

/* The host's answers to a block of the key code list. */
constexpr uint8_t ack = 0x06; /* send the next block, or done after the last */
constexpr uint8_t can = 0x18; /* stop sending */

/* Bytes passed over before a reply's header, and the longest reply read. */
constexpr int most_skipped = 64;
constexpr size_t longest_reply = 96;

/* Blocks of 40 graphics the key code list may take: 95 x 95 key codes at most. */
constexpr int most_blocks = 95 * 95 / 40 + 1;

/* Writes the message (when there is a buffer) and returns code. */
__attribute__((format(printf, 4, 5))) int say(char *message, size_t size, int code, const char *format, ...)
{
  if (message && size > 0) {
    va_list args;
    va_start(args, format);
    vsnprintf(message, size, format, args);
    va_end(args);
  }
  return code;
}

/* The message of a command the printer's class word does not allow. */
int refused(char *message, size_t size, int code, const char *what)
{
  if (code == OVIK_ERR_PRINTER_CLASS)
    return say(message, size, code, "This printer does not take the command to %s", what);
  return say(message, size, code, "The command to %s could not be built (code %d)", what, code);
}

/* Sends a request after dropping what came unasked; OVIK_ERR_IO_WRITE when it could not go. */
int send_request(const ovik_status_port *port, const uint8_t *bytes, size_t length)
{
  if (port->discard)
    port->discard(port->context);
  return port->send(port->context, bytes, length) == 0 ? OVIK_SUCCESS : OVIK_ERR_IO_WRITE;
}

/* Reads one byte before the deadline: 1, 0 when none came, -1 when the way back is broken. */
int read_before(const ovik_status_port *port, clock_type::time_point deadline, uint8_t *byte)
{
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
  return port->read_byte(port->context, left > 0 ? static_cast<int>(left) : 0, byte);
}

/* The library code of a read that did not give a byte. */
int read_failure(int got)
{
  return got == 0 ? OVIK_ERR_IO_READ_TIMEOUT : OVIK_ERR_IO_READ;
}

/* Reads a reply from its header byte to its zero byte (kept) into out. */
int read_text_reply(const ovik_status_port *port, int timeout_ms, uint8_t header, char *out, size_t size)
{
  auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
  size_t n = 0;
  for (int skipped = 0;;) {
    uint8_t b = 0;
    int got = read_before(port, deadline, &b);
    if (got != 1)
      return read_failure(got);
    if (n == 0 && b != header) {
      if (++skipped > most_skipped)
        return OVIK_ERR_MALFORMED_REPLY;
      continue;
    }
    if (n + 1 >= size)
      return OVIK_ERR_MALFORMED_REPLY;
    out[n++] = static_cast<char>(b);
    if (b == 0)
      return OVIK_SUCCESS;
  }
}

/* The message of a reply that did not come or could not be read. */
int no_reply(char *message, size_t size, int code, const char *what)
{
  if (code == OVIK_ERR_IO_READ_TIMEOUT)
    return say(message, size, code, "The printer did not answer the request for %s", what);
  if (code == OVIK_ERR_IO_READ)
    return say(message, size, code, "The printer's answer to the request for %s could not be read", what);
  if (code == OVIK_ERR_IO_WRITE)
    return say(message, size, code, "The request for %s could not be sent to the printer", what);
  return say(message, size, code, "The printer's answer to the request for %s is not understood", what);
}

/* Sends one command built by build into a small buffer; what names it in messages. */
template <typename Build>
int send_command(const dev_mode *printer, const ovik_status_port *port, const char *what, Build build, char *message,
                 size_t size, const char *done)
{
  uint8_t bytes[32];
  uint32_t length = 0;
  int code = build(printer->type, bytes, static_cast<uint32_t>(sizeof bytes), &length);
  if (code != 0)
    return refused(message, size, code, what);
  if (port->send(port->context, bytes, length) != 0)
    return say(message, size, OVIK_ERR_IO_WRITE, "The command to %s could not be sent to the printer", what);
  return say(message, size, OVIK_SUCCESS, "%s", done);
}

/* The logo number of a graphic's key codes, or -1. */
int logo_of(const uint8_t keys[2])
{
  int logo = keys[1] - 47;
  return keys[0] == OVIK_LOGO_KEY_CODE_1 && logo >= OVIK_LOGO_MIN && logo <= OVIK_LOGO_MAX ? logo : -1;
}

/* True when logo is a number the tools store and delete. */
bool valid_logo(int32_t logo)
{
  return logo >= OVIK_LOGO_MIN && logo <= OVIK_LOGO_MAX;
}

int no_such_logo(char *message, size_t size, int32_t logo)
{
  return say(message, size, OVIK_ERR_PARAMETER, "There is no logo %d: logos are numbered %d to %d", logo, OVIK_LOGO_MIN,
             OVIK_LOGO_MAX);
}

/* True when row (of width dots) has a black dot. */
bool has_dot(const uint8_t *row, uint32_t width)
{
  uint32_t whole = width / 8;
  for (uint32_t i = 0; i < whole; i++)
    if (row[i])
      return true;
  return width % 8 && (row[whole] & static_cast<uint8_t>(0xFF00 >> (width % 8)));
}

} // namespace

/* The page without its blank rows above and below. */
ovik_bitmap ovik_bitmap_content(const ovik_bitmap *page)
{
  ovik_bitmap content = *page;
  auto row = [&](uint32_t r) { return page->rows + static_cast<size_t>(r) * page->bytes_per_line; };
  uint32_t first = 0, end = page->height;
  while (first < end && !has_dot(row(first), page->width))
    first++;
  while (end > first && !has_dot(row(end - 1), page->width))
    end--;
  content.rows = first < end ? row(first) : page->rows;
  content.height = end - first;
  return content;
}

/* The logo number and the image size a logo may have. */
int ovik_tools_check_logo(const dev_mode *printer, int32_t logo, uint32_t w, uint32_t h, char *message, size_t size)
{
  if (!valid_logo(logo))
    return no_such_logo(message, size, logo);
  if (w == 0 || h == 0)
    return say(message, size, OVIK_ERR_IMAGE_SIZE, "The image is empty (%u x %u dots): there is nothing to store", w,
               h);
  int64_t most = static_cast<int64_t>(printer->printer_width) * 8;
  if (w > most)
    return say(message, size, OVIK_ERR_IMAGE_SIZE,
               "The image is %u dots wide; this printer prints %lld dots across at most", w,
               static_cast<long long>(most > 0 ? most : 0));
  if (h > OVIK_LOGO_MAX_ROWS)
    return say(message, size, OVIK_ERR_IMAGE_SIZE, "The image is %u dots tall; a stored logo is %d dots tall at most",
               h, OVIK_LOGO_MAX_ROWS);
  return OVIK_SUCCESS;
}

/* Stores image as logo N with one define command, checked and built whole first. */
int ovik_tools_store_logo(const dev_mode *printer, const ovik_status_port *port, int32_t logo, const ovik_bitmap *image,
                          char *message, size_t size)
{
  if (!image)
    return say(message, size, OVIK_ERR_PARAMETER, "No image was given");
  uint32_t w = image->width, h = image->height;
  int code = ovik_tools_check_logo(printer, logo, w, h, message, size);
  if (code != 0)
    return code;
  size_t row_bytes = (static_cast<size_t>(w) + 7) / 8;
  if (!image->rows || image->bytes_per_line < row_bytes)
    return say(message, size, OVIK_ERR_PARAMETER, "The image's rows are missing or shorter than its width");

  // The rows packed to the width, dots beyond it cleared, then the command around them.
  size_t data_size = row_bytes * h;
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[data_size]);
  std::unique_ptr<uint8_t[]> command(new (std::nothrow) uint8_t[data_size + 32]);
  if (!data || !command)
    return say(message, size, OVIK_ERR_MEMORY, "There is not enough memory to build the logo");
  uint8_t last_mask = w % 8 ? static_cast<uint8_t>(0xFF00 >> (w % 8)) : 0xFF;
  for (uint32_t r = 0; r < h; r++) {
    uint8_t *to = data.get() + r * row_bytes;
    std::memcpy(to, image->rows + static_cast<size_t>(r) * image->bytes_per_line, row_bytes);
    to[row_bytes - 1] &= last_mask;
  }
  uint32_t length = 0;
  code = ovik_cmd_define_the_NV_graphics_data_raster_gmode(
      printer->type, OVIK_LOGO_KEY_CODE_1, ovik_logo_key_code(logo), static_cast<int>(w), static_cast<int>(h),
      data.get(), static_cast<uint32_t>(data_size), command.get(), static_cast<uint32_t>(data_size + 32), &length);
  if (code != 0)
    return refused(message, size, code, "store a graphic");
  if (port->send(port->context, command.get(), length) != 0)
    return say(message, size, OVIK_ERR_IO_WRITE, "The logo could not be sent to the printer");
  return say(message, size, OVIK_SUCCESS, "Logo %d stored in the printer: %u x %u dots", logo, w, h);
}

/* Lists the NV graphics, block by block, answering each block with ACK. */
int ovik_tools_list_logos(const dev_mode *printer, const ovik_status_port *port, int timeout_ms, ovik_nv_graphic *out,
                          int capacity, int *count, char *message, size_t size)
{
  if (!count || (!out && capacity > 0))
    return say(message, size, OVIK_ERR_PARAMETER, "No room was given for the list of stored graphics");
  *count = 0;
  uint8_t request[16];
  uint32_t length = 0;
  int code = ovik_cmd_transmit_the_key_code_list_for_defined_NV_graphics_gmode(printer->type, request, sizeof request,
                                                                               &length);
  if (code != 0)
    return refused(message, size, code, "list the stored graphics");
  const char *what = "the stored graphics";
  if ((code = send_request(port, request, length)) != 0)
    return no_reply(message, size, code, what);
  int total = 0;
  for (int block = 0; block < most_blocks; block++) {
    char reply[longest_reply];
    uint8_t keys[80];
    int pairs = 0, more = 0;
    code = read_text_reply(port, timeout_ms, '7', reply, sizeof reply);
    if (code == 0)
      code = ovik_cmd_parse_nv_graphics_key_codes(printer->type, reply, keys, 40, &pairs, &more);
    if (code != 0) {
      port->send(port->context, &can, 1);
      return no_reply(message, size, code, what);
    }
    for (int i = 0; i < pairs; i++, total++)
      if (total < capacity)
        out[total] = {{keys[2 * i], keys[2 * i + 1]}, logo_of(keys + 2 * i)};
    if (port->send(port->context, &ack, 1) != 0)
      return no_reply(message, size, OVIK_ERR_IO_WRITE, what);
    if (!more) {
      *count = total;
      if (total > capacity)
        return say(message, size, OVIK_ERR_BUFFER, "The printer holds %d graphics; room was given for %d", total,
                   capacity);
      return say(message, size, OVIK_SUCCESS, "The printer holds %d stored graphics", total);
    }
  }
  port->send(port->context, &can, 1);
  return no_reply(message, size, OVIK_ERR_MALFORMED_REPLY, what);
}

/* Deletes logo N, or every graphic for -1. */
int ovik_tools_delete_logo(const dev_mode *printer, const ovik_status_port *port, int32_t logo, char *message,
                           size_t size)
{
  if (logo == -1)
    return send_command(printer, port, "delete the stored graphics", ovik_cmd_delete_all_NV_graphics_data_gmode,
                        message, size, "Every stored graphic deleted");
  if (!valid_logo(logo))
    return no_such_logo(message, size, logo);
  char done[64];
  snprintf(done, sizeof done, "Logo %d deleted", logo);
  int key = ovik_logo_key_code(logo);
  return send_command(
      printer, port, "delete a stored graphic",
      [key](uint32_t type, uint8_t *buf, uint32_t capacity, uint32_t *length) {
        return ovik_cmd_delete_the_specified_NV_graphics_data_gmode(type, OVIK_LOGO_KEY_CODE_1, key, buf, capacity,
                                                                    length);
      },
      message, size, done);
}

/* The free and the whole NV graphics memory, one request each. */
int ovik_tools_capacity(const dev_mode *printer, const ovik_status_port *port, int timeout_ms, int *free_bytes,
                        int *total_bytes, char *message, size_t size)
{
  using encoder = int (*)(uint32_t, uint8_t *, uint32_t, uint32_t *);
  struct request_row {
    encoder build;
    int identifier;
    int *out;
  };
  const request_row requests[] = {
      {ovik_cmd_transmit_the_remaining_capacity_of_the_NV_graphics_memory_gmode, '1', free_bytes},
      {ovik_cmd_transmit_the_NV_graphics_memory_capacity_gmode, '0', total_bytes},
  };
  const char *what = "the graphics memory left";
  *free_bytes = *total_bytes = -1;
  for (const request_row &r : requests) {
    uint8_t request[16];
    uint32_t length = 0;
    int code = r.build(printer->type, request, sizeof request, &length);
    if (code != 0)
      return refused(message, size, code, "ask for the graphics memory");
    char reply[longest_reply];
    int identifier = 0;
    if ((code = send_request(port, request, length)) == 0 &&
        (code = read_text_reply(port, timeout_ms, '7', reply, sizeof reply)) == 0)
      code = ovik_cmd_parse_graphics_capacity(printer->type, reply, &identifier, r.out);
    if (code == 0 && identifier != r.identifier)
      code = OVIK_ERR_MALFORMED_REPLY;
    if (code != 0) {
      *r.out = -1;
      return no_reply(message, size, code, what);
    }
  }
  return say(message, size, OVIK_SUCCESS, "%d of %d bytes of graphics memory are free", *free_bytes, *total_bytes);
}

int ovik_tools_check_drawer(int drawer, char *message, size_t size)
{
  if (drawer != 1 && drawer != 2)
    return say(message, size, OVIK_ERR_PARAMETER, "There is no drawer %d: the printers drive drawers 1 and 2", drawer);
  return OVIK_SUCCESS;
}

/* Opens drawer 1 or 2: the pulse of pin 0 or 1, nothing else. */
int ovik_tools_open_drawer(const dev_mode *printer, const ovik_status_port *port, int drawer, char *message,
                           size_t size)
{
  if (int code = ovik_tools_check_drawer(drawer, message, size); code != OVIK_SUCCESS)
    return code;
  char done[32];
  snprintf(done, sizeof done, "Drawer %d opened", drawer);
  return send_command(
      printer, port, "open a drawer",
      [printer, drawer](uint32_t, uint8_t *buf, uint32_t capacity, uint32_t *length) {
        return drawer_pulse_command(*printer, drawer - 1, buf, capacity, length);
      },
      message, size, done);
}

/* Sounds the beeper as the settings say. */
int ovik_tools_beep(const dev_mode *printer, const ovik_status_port *port, char *message, size_t size)
{
  return send_command(
      printer, port, "sound the beeper",
      [printer](uint32_t, uint8_t *buf, uint32_t capacity, uint32_t *length) {
        return beep_command(*printer, buf, capacity, length);
      },
      message, size, "Beeped");
}

/* The printer's own self-test page: its status print on the roll. */
int ovik_tools_self_test(const dev_mode *printer, const ovik_status_port *port, char *message, size_t size)
{
  return send_command(
      printer, port, "print the self-test page",
      [](uint32_t type, uint8_t *buf, uint32_t capacity, uint32_t *length) {
        return ovik_cmd_execute_test_print(type, 0, 2, buf, capacity, length);
      },
      message, size, "Self-test page printed");
}

/* The model ID byte and the firmware version, as the printer tells them. */
int ovik_tools_identify(const dev_mode *printer, const ovik_status_port *port, int timeout_ms, ovik_identity *out,
                        char *message, size_t size)
{
  *out = {-1, {-1, -1, -1}};
  uint8_t request[16];
  uint32_t length = 0;
  int code = ovik_cmd_transmit_printer_id(printer->type, 1, request, sizeof request, &length);
  if (code != 0)
    return refused(message, size, code, "ask for the model");
  if ((code = send_request(port, request, length)) != 0)
    return no_reply(message, size, code, "the model");
  uint8_t model = 0;
  int got = read_before(port, clock_type::now() + std::chrono::milliseconds(timeout_ms), &model);
  if (got != 1)
    return no_reply(message, size, read_failure(got), "the model");
  out->model_id = model;

  length = 0;
  if ((code = ovik_cmd_transmit_printer_version(printer->type, request, sizeof request, &length)) != 0)
    return refused(message, size, code, "ask for the firmware version");
  char reply[longest_reply];
  if ((code = send_request(port, request, length)) == 0 &&
      (code = read_text_reply(port, timeout_ms, '_', reply, sizeof reply)) == 0)
    code = ovik_cmd_parse_printer_version(printer->type, reply, out->firmware, 3);
  if (code == 0 && out->firmware[2] < 0)
    code = OVIK_ERR_MALFORMED_REPLY;
  if (code != 0) {
    out->firmware[0] = out->firmware[1] = out->firmware[2] = -1;
    return no_reply(message, size, code, "the firmware version");
  }
  return say(message, size, OVIK_SUCCESS, "Model ID 0x%02X, firmware %d.%d.%d", out->model_id, out->firmware[0],
             out->firmware[1], out->firmware[2]);
}
