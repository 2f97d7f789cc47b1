// The printer tools in-process, over a scripted printer: the whole bytes each
// operation sends, what it makes of the replies, and what it refuses before
// sending anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <functional>

#include "filter_harness.h"
#include "ovik_error.h"
#include "ovik_tools.h"

using namespace harness;

namespace {

/* A printer that answers each send with the next scripted reply. */
struct scripted_printer {
  bytes sent;
  std::deque<bytes> replies; /* taken one per send, after it */
  bytes readable;
  bool refuse_send = false;

  explicit scripted_printer(const std::vector<bytes> &script = {}) : replies(script.begin(), script.end()) {}

  ovik_status_port port()
  {
    return {[](void *ctx, const uint8_t *data, size_t length) {
              auto *p = static_cast<scripted_printer *>(ctx);
              if (p->refuse_send)
                return -1;
              p->sent.insert(p->sent.end(), data, data + length);
              if (!p->replies.empty()) {
                p->readable = p->readable + p->replies.front();
                p->replies.pop_front();
              }
              return 0;
            },
            [](void *ctx, int, uint8_t *byte) {
              auto *p = static_cast<scripted_printer *>(ctx);
              if (p->readable.empty())
                return 0;
              *byte = p->readable.front();
              p->readable.erase(p->readable.begin());
              return 1;
            },
            nullptr, this, nullptr};
  }
};

/* The settings of an 80 mm printer (576 dots), or another width and class. */
dev_mode printer_of(int width_bytes = 72, uint32_t type = 0x10201)
{
  dev_mode s;
  init_dev_mode(&s);
  s.type = type;
  s.printer_width = width_bytes;
  return s;
}

/* A reply text with its terminator. */
bytes reply(const std::string &text)
{
  bytes b(text.begin(), text.end());
  b.push_back(0);
  return b;
}

/* An image of w x h dots, bytes_per_line bytes a row, every byte 0xFF. */
struct image_spec {
  uint32_t w, h, bpl;
  bytes rows;
  image_spec(uint32_t w_, uint32_t h_, uint32_t bpl_) : w(w_), h(h_), bpl(bpl_), rows(size_t(h_) * bpl_, 0xFF) {}
  ovik_bitmap bitmap() const { return {w, h, bpl, rows.data()}; }
};

} // namespace

// What the filter's StoreLogo tests do not reach: rows packed to the width,
// the key codes of the first and last logo, a class word without the
// commands, a port that cannot send. The sizes refused are those tests'.
TEST(Tools, StoringALogoSendsOneWholeDefineCommandOrNothing)
{
  struct Case {
    const char *title;
    int32_t logo;
    image_spec image;
    uint32_t type;
    int code;
    const char *sent;
  };
  const Case cases[] = {
      {"10 x 2 dots, rows of 3 bytes: packed, dots beyond the width cleared",
       2,
       {10, 2, 3},
       0x10201,
       0,
       "1D 28 4C 0F 00 30 43 30 30 31 01 0A 00 02 00 31 FF C0 FF C0"},
      {"logo 0", 0, {8, 1, 1}, 0x10201, 0, "1D 28 4C 0C 00 30 43 30 30 2F 01 08 00 01 00 31 FF"},
      {"logo 79", 79, {8, 1, 1}, 0x10201, 0, "1D 28 4C 0C 00 30 43 30 30 7E 01 08 00 01 00 31 FF"},
      {"no logo -1", -1, {8, 1, 1}, 0x10201, OVIK_ERR_PARAMETER, ""},
      {"rows shorter than the width", 1, {17, 1, 2}, 0x10201, OVIK_ERR_PARAMETER, ""},
      {"a class word without the commands", 1, {8, 1, 1}, 0x2, OVIK_ERR_PRINTER_CLASS, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    scripted_printer p;
    ovik_status_port port = p.port();
    ovik_bitmap image = c.image.bitmap();
    dev_mode printer = printer_of(72, c.type);
    EXPECT_EQ(c.code, ovik_tools_store_logo(&printer, &port, c.logo, &image, nullptr, 0));
    EXPECT_EQ(c.sent, hex(p.sent));
  }
  scripted_printer p;
  p.refuse_send = true;
  ovik_status_port port = p.port();
  image_spec small(8, 1, 1);
  ovik_bitmap image = small.bitmap();
  dev_mode printer = printer_of();
  char message[256];
  EXPECT_EQ(OVIK_ERR_IO_WRITE, ovik_tools_store_logo(&printer, &port, 1, &image, message, sizeof message));
  EXPECT_STREQ(message, "The logo could not be sent to the printer");
}

TEST(Tools, APageLessItsBlankRowsAboveAndBelow)
{
  struct Case {
    const char *title;
    uint32_t width;
    bytes rows; /* one byte a row */
    uint32_t first, height;
  };
  const Case cases[] = {
      {"dots in rows 1 and 3", 8, hex_bytes("00 80 00 01 00 00"), 1, 3},
      {"a dot in the first and the last row", 8, hex_bytes("10 00 08"), 0, 3},
      {"a blank page", 8, hex_bytes("00 00 00"), 0, 0},
      {"bits beyond the width are not dots", 5, hex_bytes("07 20 07"), 1, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    ovik_bitmap page = {c.width, uint32_t(c.rows.size()), 1, c.rows.data()};
    ovik_bitmap content = ovik_bitmap_content(&page);
    EXPECT_EQ(c.height, content.height);
    if (c.height) {
      EXPECT_EQ(c.rows.data() + c.first, content.rows);
    }
    EXPECT_EQ(c.width, content.width);
  }
}

// The one-command operations the command filter's tests do not send: the
// deletes, and what is refused before anything is sent.
TEST(Tools, OneCommandOperationsSendExactlyTheirCommand)
{
  dev_mode too_many_beeps = printer_of();
  too_many_beeps.beeptimes = 64;
  using namespace std::placeholders;
  auto drawer = [](int n) { return std::bind(ovik_tools_open_drawer, _1, _2, n, _3, _4); };
  auto remove = [](int n) { return std::bind(ovik_tools_delete_logo, _1, _2, n, _3, _4); };
  struct Case {
    const char *title;
    dev_mode printer;
    std::function<int(const dev_mode *, const ovik_status_port *, char *, size_t)> op;
    int code;
    const char *sent;
    const char *message;
  };
  const Case cases[] = {
      {"delete logo 2", printer_of(), remove(2), 0, "1D 28 4C 04 00 30 42 30 31", "Logo 2 deleted"},
      {"delete every graphic", printer_of(), remove(-1), 0, "1D 28 4C 05 00 30 41 43 4C 52",
       "Every stored graphic deleted"},
      {"no logo 80 to delete", printer_of(), remove(80), OVIK_ERR_PARAMETER, "", "There is no logo 80"},
      {"no drawer 3", printer_of(), drawer(3), OVIK_ERR_PARAMETER, "", "There is no drawer 3"},
      {"no drawer 0", printer_of(), drawer(0), OVIK_ERR_PARAMETER, "", "There is no drawer 0"},
      {"64 beeps", too_many_beeps, ovik_tools_beep, OVIK_ERR_PARAMETER, "", "could not be built"},
      {"a class word without the commands", printer_of(72, 0x2), drawer(1), OVIK_ERR_PRINTER_CLASS, "",
       "does not take the command to open a drawer"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    scripted_printer p;
    ovik_status_port port = p.port();
    char message[256] = "";
    EXPECT_EQ(c.code, c.op(&c.printer, &port, message, sizeof message));
    EXPECT_EQ(c.sent, hex(p.sent));
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << message;
  }
}

TEST(Tools, TheListOfStoredGraphicsBlockByBlock)
{
  const std::string forty(80, '0'); // forty times logo 1
  struct Case {
    const char *title;
    std::vector<bytes> replies;
    int capacity, code, count;
    std::string sent;  /* after the request */
    std::string first; /* logo numbers and key codes of the first graphics */
  };
  const Case cases[] = {
      {"none", {reply("7r@")}, 8, 0, 0, "06", ""},
      {"two logos, another key", {reply("7r@0102ab")}, 8, 0, 3, "06", "2:3031 3:3032 -1:6162"},
      {"status before the reply", {hex_bytes("10 00 00 00") + reply("7r@00")}, 8, 0, 1, "06", "1:3030"},
      {"two blocks", {reply("7rA" + forty), reply("7r@0:")}, 41, 0, 41, "06 06", "1:3030 1:3030 1:3030"},
      {"beyond the room", {reply("7rA" + forty), reply("7r@0:")}, 2, OVIK_ERR_BUFFER, 41, "06 06", "1:3030 1:3030"},
      {"a block not understood", {reply("7r@0")}, 8, OVIK_ERR_MALFORMED_REPLY, 0, "18", ""},
      {"no answer", {}, 8, OVIK_ERR_IO_READ_TIMEOUT, 0, "18", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    scripted_printer p(c.replies);
    ovik_status_port port = p.port();
    dev_mode printer = printer_of();
    std::vector<ovik_nv_graphic> graphics(c.capacity);
    int count = -7;
    char message[256] = "";
    EXPECT_EQ(c.code,
              ovik_tools_list_logos(&printer, &port, 10, graphics.data(), c.capacity, &count, message, sizeof message));
    EXPECT_EQ(c.count, count);
    EXPECT_EQ("1D 28 4C 04 00 30 40 4B 43 " + c.sent, hex(p.sent));
    std::string first;
    for (int i = 0; i < std::min({count, c.capacity, 3}); i++) {
      char entry[16];
      std::snprintf(entry, sizeof entry, "%s%d:%02X%02X", i ? " " : "", graphics[i].logo, graphics[i].key_codes[0],
                    graphics[i].key_codes[1]);
      first += entry;
    }
    EXPECT_EQ(c.first, first);
    if (c.capacity == 2) {
      EXPECT_STREQ(message, "The printer holds 41 graphics; room was given for 2");
    }
  }
}

TEST(Tools, CapacityAndIdentityFromTheReplies)
{
  struct Case {
    const char *title;
    bool identify;
    std::vector<bytes> replies;
    int code;
    std::array<int, 4> values; /* free, total; or model, firmware */
    const char *sent;
  };
  const char *both = "1D 28 4C 02 00 30 33 1D 28 4C 02 00 30 30", *id = "1D 49 01 1D 49 41";
  const Case cases[] = {
      {"free and whole", false, {reply("711234"), reply("70262144")}, 0, {1234, 262144, -9, -9}, both},
      {"swapped", false, {reply("70262144")}, OVIK_ERR_MALFORMED_REPLY, {-1, -1, -9, -9}, "1D 28 4C 02 00 30 33"},
      {"no second answer", false, {reply("711234")}, OVIK_ERR_IO_READ_TIMEOUT, {1234, -1, -9, -9}, both},
      {"model and firmware", true, {hex_bytes("01"), reply("_1.0.7 ")}, 0, {1, 1, 0, 7}, id},
      {"two numbers", true, {hex_bytes("20"), reply("_1.0")}, OVIK_ERR_MALFORMED_REPLY, {0x20, -1, -1, -1}, id},
      {"no firmware answer", true, {hex_bytes("20")}, OVIK_ERR_IO_READ_TIMEOUT, {0x20, -1, -1, -1}, id},
      {"no model answer", true, {}, OVIK_ERR_IO_READ_TIMEOUT, {-1, -1, -1, -1}, "1D 49 01"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    scripted_printer p(c.replies);
    ovik_status_port port = p.port();
    dev_mode printer = printer_of();
    std::array<int, 4> values = {-9, -9, -9, -9};
    if (c.identify) {
      ovik_identity identity;
      EXPECT_EQ(c.code, ovik_tools_identify(&printer, &port, 10, &identity, nullptr, 0));
      values = {identity.model_id, identity.firmware[0], identity.firmware[1], identity.firmware[2]};
    } else {
      EXPECT_EQ(c.code, ovik_tools_capacity(&printer, &port, 10, &values[0], &values[1], nullptr, 0));
    }
    EXPECT_EQ(c.values, values);
    EXPECT_EQ(c.sent, hex(p.sent));
  }
}
