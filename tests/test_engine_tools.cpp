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
            nullptr, this};
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

TEST(Tools, StoringALogoSendsOneWholeDefineCommandOrNothing)
{
  const bytes big_header = hex_bytes("1D 38 4C 0B 88 02 00 30 43 30 30 31 01 40 02 00 09 31");
  struct Case {
    const char *title;
    int32_t logo;
    image_spec image;
    dev_mode printer;
    int code;
    std::string sent; /* the whole command, or its first bytes ending in "..." */
    const char *message;
  };
  const Case cases[] = {
      {"logo 2, 10 x 2 dots, padded rows: dots beyond the width cleared",
       2,
       {10, 2, 3},
       printer_of(),
       0,
       "1D 28 4C 0F 00 30 43 30 30 31 01 0A 00 02 00 31 FF C0 FF C0",
       "Logo 2 stored in the printer: 10 x 2 dots"},
      {"logo 0 is key code 2F",
       0,
       {8, 1, 1},
       printer_of(),
       0,
       "1D 28 4C 0C 00 30 43 30 30 2F 01 08 00 01 00 31 FF",
       "Logo 0 stored"},
      {"logo 79 is key code 7E",
       79,
       {8, 1, 1},
       printer_of(),
       0,
       "1D 28 4C 0C 00 30 43 30 30 7E 01 08 00 01 00 31 FF",
       "Logo 79 stored"},
      {"the printer's width and the tallest logo: the four-byte count",
       2,
       {576, 2304, 72},
       printer_of(),
       0,
       hex(big_header) + " FF ...",
       "576 x 2304 dots"},
      {"logo 80",
       80,
       {8, 1, 1},
       printer_of(),
       OVIK_ERR_PARAMETER,
       "",
       "There is no logo 80: logos are numbered 0 to 79"},
      {"logo -1", -1, {8, 1, 1}, printer_of(), OVIK_ERR_PARAMETER, "", "There is no logo -1"},
      {"one dot wider than the printer",
       1,
       {385, 1, 49},
       printer_of(48),
       OVIK_ERR_IMAGE_SIZE,
       "",
       "The image is 385 dots wide; this printer prints 384 dots across at most"},
      {"one row too tall",
       1,
       {8, 2305, 1},
       printer_of(),
       OVIK_ERR_IMAGE_SIZE,
       "",
       "The image is 2305 dots tall; a stored logo is 2304 dots tall at most"},
      {"no rows",
       1,
       {8, 0, 1},
       printer_of(),
       OVIK_ERR_IMAGE_SIZE,
       "",
       "The image is empty (8 x 0 dots): there is nothing to store"},
      {"no width", 1, {0, 5, 1}, printer_of(), OVIK_ERR_IMAGE_SIZE, "", "The image is empty (0 x 5 dots)"},
      {"rows shorter than the width",
       1,
       {17, 1, 2},
       printer_of(),
       OVIK_ERR_PARAMETER,
       "",
       "rows are missing or shorter than its width"},
      {"a printer without graphics commands",
       1,
       {8, 1, 1},
       printer_of(72, 0x2),
       OVIK_ERR_PRINTER_CLASS,
       "",
       "This printer does not take the command to store a graphic"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    scripted_printer p;
    ovik_status_port port = p.port();
    ovik_bitmap image = c.image.bitmap();
    char message[256] = "";
    EXPECT_EQ(c.code, ovik_tools_store_logo(&c.printer, &port, c.logo, &image, message, sizeof message));
    std::string sent = hex(p.sent);
    if (c.sent.ends_with("..."))
      sent = sent.substr(0, c.sent.size() - 4) + " ...";
    EXPECT_EQ(c.sent, sent);
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << message;
  }
  // A port that cannot send: the write failure, in one piece or not at all.
  scripted_printer p;
  p.refuse_send = true;
  ovik_status_port port = p.port();
  image_spec small(8, 1, 1);
  ovik_bitmap image = small.bitmap();
  dev_mode printer = printer_of();
  EXPECT_EQ(OVIK_ERR_IO_WRITE, ovik_tools_store_logo(&printer, &port, 1, &image, nullptr, 0));
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

TEST(Tools, OneCommandOperationsSendExactlyTheirCommand)
{
  dev_mode beeps = printer_of();
  beeps.beeptimes = 3;
  beeps.beepduration = 2;
  beeps.beepinterval = 1;
  dev_mode too_many_beeps = printer_of();
  too_many_beeps.beeptimes = 64;
  struct Case {
    const char *title;
    dev_mode printer;
    std::function<int(const dev_mode *, const ovik_status_port *, char *, size_t)> op;
    int code;
    const char *sent;
    const char *message;
  };
  using namespace std::placeholders;
  const Case cases[] = {
      {"drawer 1", printer_of(), std::bind(ovik_tools_open_drawer, _1, _2, 1, _3, _4), 0, "1B 70 00 50 50",
       "Drawer 1 opened"},
      {"drawer 2", printer_of(), std::bind(ovik_tools_open_drawer, _1, _2, 2, _3, _4), 0, "1B 70 01 50 50",
       "Drawer 2 opened"},
      {"no drawer 3", printer_of(), std::bind(ovik_tools_open_drawer, _1, _2, 3, _3, _4), OVIK_ERR_PARAMETER, "",
       "There is no drawer 3"},
      {"no drawer 0", printer_of(), std::bind(ovik_tools_open_drawer, _1, _2, 0, _3, _4), OVIK_ERR_PARAMETER, "",
       "There is no drawer 0"},
      {"a beep with the settings' defaults", printer_of(), ovik_tools_beep, 0, "1B 28 41 05 00 61 64 01 00 00",
       "Beeped"},
      {"a beep with the settings'", beeps, ovik_tools_beep, 0, "1B 28 41 05 00 61 64 03 02 01", "Beeped"},
      {"64 beeps are refused", too_many_beeps, ovik_tools_beep, OVIK_ERR_PARAMETER, "", "could not be built"},
      {"the self-test page", printer_of(), ovik_tools_self_test, 0, "1D 28 41 02 00 00 02", "Self-test page printed"},
      {"delete logo 2", printer_of(), std::bind(ovik_tools_delete_logo, _1, _2, 2, _3, _4), 0,
       "1D 28 4C 04 00 30 42 30 31", "Logo 2 deleted"},
      {"delete every graphic", printer_of(), std::bind(ovik_tools_delete_logo, _1, _2, -1, _3, _4), 0,
       "1D 28 4C 05 00 30 41 43 4C 52", "Every stored graphic deleted"},
      {"no logo 80 to delete", printer_of(), std::bind(ovik_tools_delete_logo, _1, _2, 80, _3, _4), OVIK_ERR_PARAMETER,
       "", "There is no logo 80"},
      {"a drawer of a printer without the commands", printer_of(72, 0x2),
       std::bind(ovik_tools_open_drawer, _1, _2, 1, _3, _4), OVIK_ERR_PRINTER_CLASS, "",
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
    int capacity;
    int code, count;
    std::string sent;  /* after the request */
    std::string first; /* logo numbers and key codes of the first graphics */
    const char *message;
  };
  const Case cases[] = {
      {"no graphics", {reply("7r@")}, 8, 0, 0, "06", "", "The printer holds 0 stored graphics"},
      {"two logos and a graphic of another key",
       {reply("7r@0102ab")},
       8,
       0,
       3,
       "06",
       "2:3031 3:3032 -1:6162",
       "holds 3"},
      {"an automatic status message before the reply",
       {hex_bytes("10 00 00 00") + reply("7r@00")},
       8,
       0,
       1,
       "06",
       "1:3030",
       "holds 1"},
      {"two blocks: ACK after each",
       {reply("7rA" + forty), reply("7r@0:")},
       41,
       0,
       41,
       "06 06",
       "1:3030 1:3030 1:3030",
       "holds 41"},
      {"more graphics than room: all acknowledged, the first kept",
       {reply("7rA" + forty), reply("7r@0:")},
       2,
       OVIK_ERR_BUFFER,
       41,
       "06 06",
       "1:3030 1:3030",
       "The printer holds 41 graphics; room was given for 2"},
      {"a block that is not understood: CAN",
       {reply("7r@0")},
       8,
       OVIK_ERR_MALFORMED_REPLY,
       0,
       "18",
       "",
       "is not understood"},
      {"no answer",
       {},
       8,
       OVIK_ERR_IO_READ_TIMEOUT,
       0,
       "18",
       "",
       "The printer did not answer the request for the stored graphics"},
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
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << message;
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
    const char *message;
  };
  const char *capacity_requests = "1D 28 4C 02 00 30 33 1D 28 4C 02 00 30 30";
  const Case cases[] = {
      {"free and whole memory",
       false,
       {reply("711234"), reply("70262144")},
       0,
       {1234, 262144, -9, -9},
       capacity_requests,
       "1234 of 262144 bytes of graphics memory are free"},
      {"the replies swapped",
       false,
       {reply("70262144"), reply("711234")},
       OVIK_ERR_MALFORMED_REPLY,
       {-1, -1, -9, -9},
       "1D 28 4C 02 00 30 33",
       "is not understood"},
      {"no answer to the second",
       false,
       {reply("711234")},
       OVIK_ERR_IO_READ_TIMEOUT,
       {1234, -1, -9, -9},
       capacity_requests,
       "did not answer the request for the graphics memory left"},
      {"model and firmware",
       true,
       {hex_bytes("01"), reply("_1.0.7 ")},
       0,
       {1, 1, 0, 7},
       "1D 49 01 1D 49 41",
       "Model ID 0x01, firmware 1.0.7"},
      {"a firmware reply without its three numbers",
       true,
       {hex_bytes("20"), reply("_1.0")},
       OVIK_ERR_MALFORMED_REPLY,
       {0x20, -1, -1, -1},
       "1D 49 01 1D 49 41",
       "firmware version is not understood"},
      {"no firmware answer",
       true,
       {hex_bytes("20")},
       OVIK_ERR_IO_READ_TIMEOUT,
       {0x20, -1, -1, -1},
       "1D 49 01 1D 49 41",
       "did not answer the request for the firmware version"},
      {"no model answer",
       true,
       {},
       OVIK_ERR_IO_READ_TIMEOUT,
       {-1, -1, -1, -1},
       "1D 49 01",
       "did not answer the request for the model"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    scripted_printer p(c.replies);
    ovik_status_port port = p.port();
    dev_mode printer = printer_of();
    char message[256] = "";
    std::array<int, 4> values = {-9, -9, -9, -9};
    if (c.identify) {
      ovik_identity id;
      EXPECT_EQ(c.code, ovik_tools_identify(&printer, &port, 10, &id, message, sizeof message));
      values = {id.model_id, id.firmware[0], id.firmware[1], id.firmware[2]};
    } else {
      EXPECT_EQ(c.code, ovik_tools_capacity(&printer, &port, 10, &values[0], &values[1], message, sizeof message));
    }
    EXPECT_EQ(c.values, values);
    EXPECT_EQ(c.sent, hex(p.sent));
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << message;
  }
}
