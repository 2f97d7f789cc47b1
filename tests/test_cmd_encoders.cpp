// Command encoders: every encoder's bytes, the edges of its checks, and the
// rules that hold for all of them (class first, then room, then parameters;
// a refused command leaves buffer and counter as they were).
#include "ovik_printer_helper_cmd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Caller data blocks used by the rows: printable letters from 'A' on, and a few specials.
std::vector<uint8_t> letters(size_t n)
{
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i++)
    v[i] = uint8_t(0x41 + i % 26);
  return v;
}
const std::vector<uint8_t> SEQ_V = letters(4096);
const uint8_t *const SEQ = SEQ_V.data();
const uint8_t ABC[] = {0x61, 0x62, 0x63};
const uint8_t TABS[] = {0x08, 0x10, 0x18};
const uint8_t WITH_NUL[] = {0x31, 0x00, 0x32};
const uint8_t WITH_CTRL[] = {0x41, 0x1F};
const uint8_t KEY8[] = {1, 2, 3, 4, 5, 6, 7, 8};

using Call = int (*)(uint32_t cls, uint8_t *buf, uint32_t size, uint32_t *len);

// An encoder call with fixed arguments: its name, its arguments as written, and the call.
#define CALL(f, ...)                                                                                                   \
#f, #__VA_ARGS__,                                                                                                    \
      [](uint32_t c, uint8_t * b, uint32_t s, uint32_t * l) { return f(c __VA_OPT__(, ) __VA_ARGS__, b, s, l); }

struct Row {
  const char *name;
  const char *args;
  Call call;
  std::string hex; // bytes appended, "" for none
  int rc = 0;
  uint32_t cls = 0x1;
  uint32_t room = 0; // room the command asks for, when more than it writes
};

// Bytes as upper-case hexadecimal pairs separated by spaces.
std::string hex(const uint8_t *p, size_t n)
{
  std::string s;
  char h[4];
  for (size_t i = 0; i < n; i++) {
    std::snprintf(h, sizeof h, i ? " %02X" : "%02X", p[i]);
    s += h;
  }
  return s;
}

// The number of bytes a hex string stands for.
size_t hex_len(const std::string &h)
{
  return h.empty() ? 0 : (h.size() + 1) / 3;
}

// The letters block as hex, from 'A' on, n bytes (for expected strings).
std::string seq(size_t n)
{
  return hex(SEQ, n);
}

const std::string S4 = seq(4), S12 = seq(12), S14 = seq(14);
const std::string U1 =
    "1D 28 45 03 00 01 49 4E 1D 28 45 04 00 05 08 10 00 1D 28 45 02 00 06 08 01 49 4E 1D 28 45 04 00 02 4F 55 54";
const std::string FRAME = "1B 4D 53 00 0E 02 53 74 08 01 02 03 04 05 06 07 08 03 26";

const std::vector<Row> ROWS = {
    // Print and paper movement
    {CALL(ovik_cmd_print_and_line_feed), "0A"},
    {CALL(ovik_cmd_print_and_carriage_return), "0D"},
    {CALL(ovik_cmd_print_and_return_standard_mode), "0C"},
    {CALL(ovik_cmd_print_data_in_page_mode), "1B 0C"},
    {CALL(ovik_cmd_cancel_print_data_in_page_mode), "18"},
    {CALL(ovik_cmd_position_next_label), "1D 0C"},
    {CALL(ovik_cmd_print_and_feed_paper, 0), "1B 4A 00"},
    {CALL(ovik_cmd_print_and_feed_paper, 255), "1B 4A FF"},
    {CALL(ovik_cmd_print_and_feed_paper, 256), "1B 4A FF 1B 4A 01"},
    {CALL(ovik_cmd_print_and_feed_paper, 600), "1B 4A FF 1B 4A FF 1B 4A 5A"},
    {CALL(ovik_cmd_print_and_feed_paper, -1), "", -1},
    {CALL(ovik_cmd_print_and_reverse_feed, 5), "1B 4B 05"},
    {CALL(ovik_cmd_print_and_feed_n_line, 3), "1B 64 03"},
    {CALL(ovik_cmd_print_and_reverse_feed_n_line, 7), "1B 65 07"},
    {CALL(ovik_cmd_print_and_reverse_feed_n_line, 510), "1B 65 FF 1B 65 FF"},
    {CALL(ovik_cmd_print_and_reverse_feed_n_line, 511), "1B 65 FF 1B 65 FF 1B 65 01"},
    {CALL(ovik_cmd_print_and_reverse_feed_n_line, 0), ""},
    {CALL(ovik_cmd_print_and_reverse_feed_n_line, -3), ""},
    {CALL(ovik_cmd_feed_paper_to_the_label_peeling_position, 0x30), "1C 28 4C 02 00 41 30"},
    {CALL(ovik_cmd_feed_paper_to_the_label_peeling_position, 0x31), "1C 28 4C 02 00 41 31"},
    {CALL(ovik_cmd_feed_paper_to_the_label_peeling_position, 0x32), "", -1},
    {CALL(ovik_cmd_feed_paper_to_the_label_peeling_position, 0), "", -1},
    {CALL(ovik_cmd_feed_paper_to_the_cutting_position, 0x31), "1C 28 4C 02 00 42 31"},
    {CALL(ovik_cmd_feed_paper_to_the_cutting_position, 0x2F), "", -1},
    {CALL(ovik_cmd_feed_paper_to_the_print_starting_position, 0x32), "1C 28 4C 02 00 43 32"},
    {CALL(ovik_cmd_feed_paper_to_the_print_starting_position, 0x33), "", -1},
    {CALL(ovik_cmd_partial_cut_one_point_left_uncut), "1B 69"},
    {CALL(ovik_cmd_partial_cut_three_point_left_uncut), "1B 6D"},
    {CALL(ovik_cmd_select_cut_mode_and_cut_paper, 0), "1D 56 00"},
    {CALL(ovik_cmd_select_cut_mode_and_cut_paper, 0x31), "1D 56 31"},
    {CALL(ovik_cmd_select_cut_mode_and_cut_paper, 2), "", -1},
    {CALL(ovik_cmd_select_cut_mode_and_feed_paper, 1, 0), "1D 56 42 00"},
    {CALL(ovik_cmd_select_cut_mode_and_feed_paper, 0, 10), "1D 56 41 0A"},
    {CALL(ovik_cmd_select_cut_mode_and_feed_paper, 0x41, 0), "1D 56 41 00"},
    {CALL(ovik_cmd_select_cut_mode_and_feed_paper, 0x43, 0), "", -1},
    {CALL(ovik_cmd_select_cut_mode_and_feed_paper, 2, 0), "", -1},
    {CALL(ovik_cmd_return_home), "1B 3C"},
    {CALL(ovik_cmd_select_unidirectional_print_mode, 1), "1B 55 01"},
    {CALL(ovik_cmd_horizontal_tab), "09"},

    // Line spacing and characters
    {CALL(ovik_cmd_select_default_line_spacing), "1B 32"},
    {CALL(ovik_cmd_set_line_spacing, 32), "1B 33 20"},
    {CALL(ovik_cmd_set_line_spacing, 300), "1B 33 2C"},
    {CALL(ovik_cmd_set_right_side_character_spacing, 2), "1B 20 02"},
    {CALL(ovik_cmd_select_print_modes, 0x38), "1B 21 38"},
    {CALL(ovik_cmd_select_or_cancel_defined_charater_set, 1), "1B 25 01"},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x41, 2, SEQ, 6), "1B 26 03 41 41 02 41 42 43 44 45 46"},
    {CALL(ovik_cmd_define_user_defined_characters, 0x20, 0x7E, 0, nullptr, 0), "1B 26 03 20 7E 00"},
    {CALL(ovik_cmd_define_user_defined_characters, 0x42, 0x41, 2, SEQ, 6), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x1F, 0x41, 2, SEQ, 6), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x7F, 2, SEQ, 6), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x41, 2, SEQ, 5), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x41, 1, SEQ, 259), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x41, 256, SEQ, 768), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x41, 86, SEQ, 258), "", -1},
    {CALL(ovik_cmd_define_user_defined_characters, 0x41, 0x41, 85, SEQ, 255), "1B 26 03 41 41 55 " + seq(255)},
    {CALL(ovik_cmd_cancel_user_defined_characters, 0x20), "1B 3F 20"},
    {CALL(ovik_cmd_cancel_user_defined_characters, 0x7E), "1B 3F 7E"},
    {CALL(ovik_cmd_cancel_user_defined_characters, 0x7F), "", -1},
    {CALL(ovik_cmd_turn_underline_mode_on_off, 2), "1B 2D 02"},
    {CALL(ovik_cmd_turn_underline_mode_on_off, 0x32), "1B 2D 32"},
    {CALL(ovik_cmd_turn_underline_mode_on_off, 3), "", -1},
    {CALL(ovik_cmd_turn_emphasized_mode_on_off, 1), "1B 45 01"},
    {CALL(ovik_cmd_turn_double_strike_mode_on_off, 1), "1B 47 01"},
    {CALL(ovik_cmd_select_character_font, 0x31), "1B 4D 31"},
    {CALL(ovik_cmd_select_character_font, 0x33), "", -1},
    {CALL(ovik_cmd_select_an_international_character_set, 15), "1B 52 0F"},
    {CALL(ovik_cmd_select_an_international_character_set, 16), "", -1},
    {CALL(ovik_cmd_select_an_international_character_set, -1), "", -1},
    {CALL(ovik_cmd_turn90_clockwise_rotation_mode_on_off, 1), "1B 56 01"},
    {CALL(ovik_cmd_turn90_clockwise_rotation_mode_on_off, 0x33), "", -1},
    {CALL(ovik_cmd_select_character_code_table, 16, 0), "1B 74 10"},
    {CALL(ovik_cmd_select_character_code_table, 16, 1), U1},
    {CALL(ovik_cmd_select_character_code_table, 16, 2), "", -1},
    {CALL(ovik_cmd_turn_upside_down_print_mode_on_off, 1), "1B 7B 01"},
    {CALL(ovik_cmd_select_character_size, 0x77), "1D 21 77"},
    {CALL(ovik_cmd_select_character_size, 0x08), "", -1},
    {CALL(ovik_cmd_select_character_size, 0x80), "", -1},
    {CALL(ovik_cmd_turn_white_black_reverse_print_mode_on_off, 1), "1D 42 01"},
    {CALL(ovik_cmd_turn_smoothing_mode_on_off, 1), "1D 62 01"},
    {CALL(ovik_cmd_select_kanji_character_mode), "1C 26"},
    {CALL(ovik_cmd_cancel_kanji_character_mode), "1C 2E"},

    // Print position and page mode
    {CALL(ovik_cmd_set_absolute_print_position, 0x1234), "1B 24 34 12"},
    {CALL(ovik_cmd_set_absolute_print_position, 65535), "1B 24 FF FF"},
    {CALL(ovik_cmd_set_absolute_print_position, 65536), "", -1},
    {CALL(ovik_cmd_set_absolute_print_position, -1), "", -1},
    {CALL(ovik_cmd_set_horizontal_tab_positions, TABS, 3), "1B 44 08 10 18 00"},
    {CALL(ovik_cmd_set_horizontal_tab_positions, nullptr, 0), "1B 44 00"},
    {CALL(ovik_cmd_set_horizontal_tab_positions, SEQ, 33), "", -1},
    {CALL(ovik_cmd_set_horizontal_tab_positions, SEQ, 257), "", -1},
    {CALL(ovik_cmd_select_page_mode), "1B 4C"},
    {CALL(ovik_cmd_select_standard_mode), "1B 53"},
    {CALL(ovik_cmd_select_print_direction_in_page_mode, 0x33), "1B 54 33"},
    {CALL(ovik_cmd_select_print_direction_in_page_mode, 4), "", -1},
    {CALL(ovik_cmd_set_print_area_in_page_mode, 0, 0, 512, 1000), "1B 57 00 00 00 00 00 02 E8 03", 0, 0x1, 11},
    {CALL(ovik_cmd_set_print_area_in_page_mode, 1, 2, 3, 65535), "1B 57 00 01 00 02 00 03 00 FF FF", 0, 0x11020001},
    {CALL(ovik_cmd_set_print_area_in_page_mode, 65536, 0, 0, 0), "", -1},
    {CALL(ovik_cmd_set_print_area_in_page_mode, 0, 0, 0, -1), "", -1},
    {CALL(ovik_cmd_set_relative_print_position, -1), "1B 5C FF FF"},
    {CALL(ovik_cmd_set_relative_print_position, -32768), "1B 5C 00 80"},
    {CALL(ovik_cmd_set_relative_print_position, 32767), "1B 5C FF 7F"},
    {CALL(ovik_cmd_set_relative_print_position, 32768), "", -1},
    {CALL(ovik_cmd_select_justification, 1), "1B 61 01"},
    {CALL(ovik_cmd_select_justification, 0x32), "1B 61 32"},
    {CALL(ovik_cmd_select_justification, 3), "", -1},
    {CALL(ovik_cmd_set_absolute_vertical_print_position_in_page_mode, 300), "1D 24 2C 01"},
    {CALL(ovik_cmd_set_absolute_vertical_print_position_in_page_mode, 65536), "", -1},
    {CALL(ovik_cmd_set_left_margin, 3), "1D 4C 03 00"},
    {CALL(ovik_cmd_set_left_margin, -1), "", -1},
    {CALL(ovik_cmd_set_print_position_to_the_beginning_of_print_line, 0x31), "1D 54 31"},
    {CALL(ovik_cmd_set_print_position_to_the_beginning_of_print_line, 2), "", -1},
    {CALL(ovik_cmd_set_print_area_width, 576), "1D 57 40 02"},
    {CALL(ovik_cmd_set_print_area_width, 65536), "", -1},
    {CALL(ovik_cmd_set_relative_vertical_print_position_in_page_mode, -2), "1D 5C FE FF"},
    {CALL(ovik_cmd_set_relative_vertical_print_position_in_page_mode, -32769), "", -1},
    {CALL(ovik_cmd_set_horizontal_and_vertical_motion_units, 180, 360), "1D 50 B4 68"},

    // Bit images, raster images and graphics
    {CALL(ovik_cmd_select_bit_image_mode, 0, 2, SEQ, 2), "1B 2A 00 02 00 41 42"},
    {CALL(ovik_cmd_select_bit_image_mode, 0x21, 1, SEQ, 3), "1B 2A 21 01 00 41 42 43"},
    {CALL(ovik_cmd_select_bit_image_mode, 1, 2047, nullptr, 0), "1B 2A 01 FF 07"},
    {CALL(ovik_cmd_select_bit_image_mode, 1, 2048, nullptr, 0), "", -1},
    {CALL(ovik_cmd_select_bit_image_mode, 2, 1, nullptr, 0), "", -1},
    {CALL(ovik_cmd_select_bit_image_mode, 0, 2, SEQ, 3), "", -1},
    {CALL(ovik_cmd_select_bit_image_mode, 0x20, 1, SEQ, 1), "", -1},
    {CALL(ovik_cmd_print_NV_bit_image, 1, 0x33), "1C 70 01 33"},
    {CALL(ovik_cmd_print_NV_bit_image, 0, 0), "", -1},
    {CALL(ovik_cmd_print_NV_bit_image, 1, 4), "", -1},
    {CALL(ovik_cmd_define_nv_bit_image_fmode, 1, SEQ, 4), ("1C 71 01 " + S4)},
    {CALL(ovik_cmd_define_nv_bit_image_fmode, 0, SEQ, 4), "", -1},
    {CALL(ovik_cmd_define_nv_bit_image_fmode, 256, SEQ, 4), "", -1},
    {CALL(ovik_cmd_define_downloaded_bit_image, 1, 1, SEQ, 8), "1D 2A 01 01 41 42 43 44 45 46 47 48"},
    {CALL(ovik_cmd_define_downloaded_bit_image, 1, 1, SEQ, 7), "", -1},
    {CALL(ovik_cmd_define_downloaded_bit_image, 256, 1, SEQ, 2048), "", -1},
    {CALL(ovik_cmd_print_downloaded_bit_image, 0x30), "1D 2F 30"},
    {CALL(ovik_cmd_print_downloaded_bit_image, 4), "", -1},
    {CALL(ovik_cmd_print_raster_img_cmd_header, 0, 1, 255), "1D 76 30 00 01 00 FF 00"},
    {CALL(ovik_cmd_print_raster_img_cmd_header, 0x20, 0x1234, 0x10002), "1D 76 30 20 34 12 02 00"},
    {CALL(ovik_cmd_print_raster_img_cmd_header_feed_step, 2, 3), "1D 57 10 00 1B 2A 62 03 00"},
    {CALL(ovik_cmd_print_raster_img_cmd_header_feed_step, 128, 2303), "1D 57 00 04 1B 2A 62 FF 08"},
    {CALL(ovik_cmd_print_raster_img_cmd_header_feed_step, 129, 1), "", -1},
    {CALL(ovik_cmd_print_raster_img_cmd_header_feed_step, 1, 2304), "", -1},
    {CALL(ovik_cmd_print_raster_bit_image, 0, 2, 2, SEQ), ("1D 76 30 00 02 00 02 00 " + S4)},
    {CALL(ovik_cmd_print_raster_bit_image, 0x33, 1, 1, SEQ), "1D 76 30 33 01 00 01 00 41"},
    {CALL(ovik_cmd_print_raster_bit_image, 4, 1, 1, SEQ), "", -1},
    {CALL(ovik_cmd_print_raster_bit_image, 0, 129, 1, SEQ), "", -1},
    {CALL(ovik_cmd_print_raster_bit_image, 0, 1, 2304, SEQ), "", -1},
    {CALL(ovik_cmd_print_raster_bit_image, 0, 1, 1, nullptr), "", -1},
    {CALL(ovik_cmd_transmit_the_NV_graphics_memory_capacity_gmode), "1D 28 4C 02 00 30 30"},
    {CALL(ovik_cmd_set_the_reference_dot_density_for_graphics_gmode, 0x32), "1D 28 4C 04 00 30 31 32 32"},
    {CALL(ovik_cmd_set_the_reference_dot_density_for_graphics_gmode, 0x34), "", -1},
    {CALL(ovik_cmd_print_the_graphics_data_in_the_print_buffer_gmode), "1D 28 4C 02 00 30 32"},
    {CALL(ovik_cmd_transmit_the_remaining_capacity_of_the_NV_graphics_memory_gmode), "1D 28 4C 02 00 30 33"},
    {CALL(ovik_cmd_transmit_the_remaining_capacity_of_the_download_graphics_memory_gmode), "1D 28 4C 02 00 30 34"},
    {CALL(ovik_cmd_transmit_the_key_code_list_for_defined_NV_graphics_gmode), "1D 28 4C 04 00 30 40 4B 43"},
    {CALL(ovik_cmd_delete_all_NV_graphics_data_gmode), "1D 28 4C 05 00 30 41 43 4C 52"},
    {CALL(ovik_cmd_delete_the_specified_NV_graphics_data_gmode, 0x20, 0x7E), "1D 28 4C 04 00 30 42 20 7E"},
    {CALL(ovik_cmd_delete_the_specified_NV_graphics_data_gmode, 0x7F, 0x20), "", -1},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x30, 0x31, 16, 2, SEQ, 4),
     ("1D 28 4C 0F 00 30 43 30 30 31 01 10 00 02 00 31 " + S4)},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x30, 0x31, 9, 2, SEQ, 4),
     ("1D 28 4C 0F 00 30 43 30 30 31 01 09 00 02 00 31 " + S4)},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x30, 0x31, 16, 2, SEQ, 3), "", -1},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x30, 0x31, 8193, 1, SEQ, 1025), "", -1},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x30, 0x31, 8, 2305, SEQ, 2305), "", -1},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x30, 0x31, 0, 0, nullptr, 0), "", -1},
    {CALL(ovik_cmd_define_the_NV_graphics_data_raster_gmode, 0x1F, 0x31, 8, 1, SEQ, 1), "", -1},
    {CALL(ovik_cmd_define_the_NV_graphics_data_column_gmode, 0x30, 0x31, 2, 16, SEQ, 4),
     ("1D 28 4C 0F 00 30 44 30 30 31 01 02 00 10 00 31 " + S4)},
    {CALL(ovik_cmd_define_the_NV_graphics_data_column_gmode, 0x30, 0x31, 2, 9, SEQ, 4),
     ("1D 28 4C 0F 00 30 44 30 30 31 01 02 00 09 00 31 " + S4)},
    {CALL(ovik_cmd_define_the_NV_graphics_data_column_gmode, 0x30, 0x31, 16, 2, SEQ, 4), "", -1},
    {CALL(ovik_cmd_print_the_specified_NV_graphics_data_gmode, 0x30, 0x30, 1, 1), "1D 28 4C 06 00 30 45 30 30 01 01"},
    {CALL(ovik_cmd_print_the_specified_NV_graphics_data_gmode, 0x30, 0x7F, 1, 1), "", -1},
    {CALL(ovik_cmd_transmit_the_key_code_list_for_defined_download_graphics_gmode), "1D 28 4C 04 00 30 50 4B 43"},
    {CALL(ovik_cmd_delete_all_memory_graphics_data_gmode), "1D 28 4C 05 00 30 51 43 4C 52"},
    {CALL(ovik_cmd_delete_the_specified_download_memory_graphics_data_gmode, 0x41, 0x42), "1D 28 4C 04 00 30 52 41 42"},
    {CALL(ovik_cmd_delete_the_specified_download_memory_graphics_data_gmode, 0x41, 0x1F), "", -1},
    {CALL(ovik_cmd_define_the_downloaded_graphics_data_raster_gmode, 0x41, 0x42, 16, 2, SEQ, 4),
     ("1D 28 4C 0F 00 30 53 30 41 42 01 10 00 02 00 31 " + S4)},
    {CALL(ovik_cmd_define_the_downloaded_graphics_data_column_gmode, 0x41, 0x42, 2, 16, SEQ, 4),
     ("1D 28 4C 0F 00 30 54 30 41 42 01 02 00 10 00 31 " + S4)},
    {CALL(ovik_cmd_print_the_specified_downloaded_graphics_data_gmode, 0x41, 0x42, 2, 2),
     "1D 28 4C 06 00 30 55 41 42 02 02"},
    {CALL(ovik_cmd_print_the_specified_downloaded_graphics_data_gmode, 0x80, 0x42, 2, 2), "", -1},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode, 1, 1, 16, 2, SEQ, 4),
     ("1D 28 4C 0E 00 30 70 30 01 01 31 10 00 02 00 " + S4)},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode, 3, 1, 16, 2, SEQ, 4), "", -1},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode, 1, 2, 8, 831, SEQ, 831),
     ("1D 28 4C 49 03 30 70 30 01 02 31 08 00 3F 03 " + seq(831))},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode, 1, 2, 8, 832, SEQ, 832), "", -1},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode, 1, 1, 8, 1663, SEQ, 1663), "", -1},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode, 1, 1, 2048, 1, SEQ, 256), "", -1},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_column_gmode, 2, 2, 2, 16, SEQ, 4),
     ("1D 28 4C 0E 00 30 71 30 02 02 31 02 00 10 00 " + S4)},
    {CALL(ovik_cmd_store_the_graphics_data_in_the_print_buffer_column_gmode, 2, 2, 2, 16, SEQ, 2), "", -1},

    // Status, real-time and device control
    {CALL(ovik_cmd_transmit_printer_version), "1D 49 41"},
    {CALL(ovik_cmd_transmit_printer_version), "1D 49 41", 0, 0x5},
    {CALL(ovik_cmd_transmit_printer_version), "1B 23 2A 0A 00", 0, 0x6},
    {CALL(ovik_cmd_transmit_printer_version), "5A 5A 5A 47 45 54 56 45 52 53 49 4F 4E", 0, 0x2},
    {CALL(ovik_cmd_transmit_printer_id, 1), "1D 49 01"},
    {CALL(ovik_cmd_transmit_printer_id, 0x33), "1D 49 33"},
    {CALL(ovik_cmd_transmit_printer_id, 0), "", -1},
    {CALL(ovik_cmd_transmit_printer_id, 0x34), "", -1},
    {CALL(ovik_cmd_transmit_real_time_status, 7), "10 04 07"},
    {CALL(ovik_cmd_transmit_real_time_status, 4), "10 04 04"},
    {CALL(ovik_cmd_transmit_real_time_status, 5), "", -1},
    {CALL(ovik_cmd_send_real_time_request_to_printer, 2), "10 05 02"},
    {CALL(ovik_cmd_send_real_time_request_to_printer, 3), "", -1},
    {CALL(ovik_cmd_generate_pulse_in_real_time, 0, 500), "10 14 01 00 05"},
    {CALL(ovik_cmd_generate_pulse_in_real_time, 1, 8), "10 14 01 01 08"},
    {CALL(ovik_cmd_generate_pulse_in_real_time, 0, 899), "10 14 01 00 08"},
    {CALL(ovik_cmd_generate_pulse_in_real_time, 0, 900), "", -1},
    {CALL(ovik_cmd_generate_pulse_in_real_time, 0, 100), "", -1},
    {CALL(ovik_cmd_generate_pulse_in_real_time, 0, 0), "", -1},
    {CALL(ovik_cmd_execute_power_off_sequence), "10 14 02 01 08"},
    {CALL(ovik_cmd_transmit_specified_status_in_real_time, 5), "10 14 07 05"},
    {CALL(ovik_cmd_transmit_specified_status_in_real_time, 2), "", -1},
    {CALL(ovik_cmd_clear_buffer), "10 14 08 01 03 14 01 06 02 08"},
    {CALL(ovik_cmd_clearbuffer), "10 14 08 01 03 14 01 06 02 08"},
    {CALL(ovik_cmd_transmit_peripheral_device_status), "1B 75"},
    {CALL(ovik_cmd_transmit_paper_sensor_status), "1B 76"},
    {CALL(ovik_cmd_enable_disable_ASB, 0xFF), "1D 61 FF"},
    {CALL(ovik_cmd_transmit_status, 0x31), "1D 72 31"},
    {CALL(ovik_cmd_transmit_status, 3), "", -1},
    {CALL(ovik_cmd_initialize_printer), "1B 40"},
    {CALL(ovik_cmd_select_peripheral_device, 3), "1B 3D 03"},
    {CALL(ovik_cmd_select_peripheral_device, 0), "", -1},
    {CALL(ovik_cmd_execute_test_print, 2, 3), "1D 28 41 02 00 02 03"},
    {CALL(ovik_cmd_execute_test_print, 0x30, 0x31), "1D 28 41 02 00 30 31"},
    {CALL(ovik_cmd_execute_test_print, 3, 1), "", -1},
    {CALL(ovik_cmd_execute_test_print, 0, 0), "", -1},
    {CALL(ovik_cmd_enable_real_time_command, 3, SEQ, 2), "1D 28 44 03 00 14 41 42"},
    {CALL(ovik_cmd_enable_real_time_command, 5, SEQ, 4), ("1D 28 44 05 00 14 " + S4)},
    {CALL(ovik_cmd_enable_real_time_command, 4, SEQ, 3), "", -1},
    {CALL(ovik_cmd_enable_real_time_command, 3, SEQ, 4), "", -1},
    {CALL(ovik_cmd_enable_real_time_command, 3, SEQ, 258), "", -1},
    {CALL(ovik_cmd_usb_ctl, 1), "1E 1E 1E", 0, 0x1001},
    {CALL(ovik_cmd_usb_ctl, 2), "1E 10 04", 0, 0x1001},
    {CALL(ovik_cmd_usb_ctl, 3), "", -1, 0x1001},
    {CALL(ovik_cmd_usb_ctl, 1), "", -3, 0x1},
    {CALL(ovik_cmd_set_buzzer, 2), "12 27 77 10 02 0D 0A"},
    {CALL(ovik_cmd_set_buzzer, 1), "", -1},
    {CALL(ovik_cmd_beep_integrated_beeper, 3, 2, 1), "1B 28 41 05 00 61 64 03 02 01"},
    {CALL(ovik_cmd_beep_integrated_beeper, 63, 2, 1), "1B 28 41 05 00 61 64 3F 02 01"},
    {CALL(ovik_cmd_beep_integrated_beeper, 64, 2, 1), "", -1},
    {CALL(ovik_cmd_beep_integrated_beeper, -1, 2, 1), "", -1},
    {CALL(ovik_cmd_generate_pulse, 0, 100, 50), "1B 70 00 64 64"},
    {CALL(ovik_cmd_generate_pulse, 1, 80, 80), "1B 70 01 50 50"},
    {CALL(ovik_cmd_generate_pulse, 0x31, 10, 20), "1B 70 31 0A 14"},
    {CALL(ovik_cmd_generate_pulse, 0, 300, 50), "1B 70 00 2C 32"},
    {CALL(ovik_cmd_generate_pulse, 2, 80, 80), "", -1},
    {CALL(ovik_cmd_select_the_print_control_mode, 0x34), "1D 28 4B 02 00 30 34"},
    {CALL(ovik_cmd_select_the_print_control_mode, 5), "", -1},
    {CALL(ovik_cmd_select_the_print_density, 3), "1D 28 4B 02 00 31 03"},
    {CALL(ovik_cmd_select_the_print_speed, 300), "1D 45 2C"},
    {CALL(ovik_cmd_select_the_number_of_parts_for_the_thermal_head_energizing, 0x80), "1D 28 4B 02 00 61 80"},
    {CALL(ovik_cmd_select_the_number_of_parts_for_the_thermal_head_energizing, 4), "1D 28 4B 02 00 61 04"},
    {CALL(ovik_cmd_select_the_number_of_parts_for_the_thermal_head_energizing, 0x35), "", -1},
    {CALL(ovik_cmd_draw_line, SEQ, 12), ("1D 28 51 0C 00 30 " + S12)},
    {CALL(ovik_cmd_draw_line, SEQ, 11), "", -1},
    {CALL(ovik_cmd_draw_line, SEQ, 268), "", -1},
    {CALL(ovik_cmd_draw_rectangle, SEQ, 14), ("1D 28 51 0E 00 31 " + S14)},
    {CALL(ovik_cmd_draw_rectangle, SEQ, 270), "", -1},
    {CALL(ovik_cmd_write_to_nv_user_memory, 0x01020304, 3, SEQ, 3), "1C 67 31 00 04 03 02 01 03 00 41 42 43"},
    {CALL(ovik_cmd_write_to_nv_user_memory, 0, 2, WITH_CTRL, 2), "", -1},
    {CALL(ovik_cmd_write_to_nv_user_memory, 0, 3, SEQ, 2), "", -1},
    {CALL(ovik_cmd_write_to_nv_user_memory, 0, 0, SEQ, 0), "", -1},
    {CALL(ovik_cmd_write_to_nv_user_memory, 0, 1025, SEQ, 1025), "", -1},
    {CALL(ovik_cmd_read_from_nv_user_memory, 1023, 80), "1C 67 32 00 FF 03 00 00 50 00"},
    {CALL(ovik_cmd_read_from_nv_user_memory, 1024, 1), "", -1},
    {CALL(ovik_cmd_read_from_nv_user_memory, 0, 81), "", -1},
    {CALL(ovik_cmd_read_from_nv_user_memory, 0, 0), "", -1},
    {CALL(ovik_cmd_start_macro_definition), "1D 3A"},
    {CALL(ovik_cmd_execute_macro, 2, 5, 1), "1D 5E 02 05 01"},
    {CALL(ovik_cmd_execute_macro, 0, 5, 1), "", -1},
    {CALL(ovik_cmd_execute_macro, 1, 5, 2), "", -1},

    // Bar codes and two-dimensional symbols
    {CALL(ovik_cmd_select_print_position_HRI_characters, 2), "1D 48 02"},
    {CALL(ovik_cmd_select_print_position_HRI_characters, 0x33), "1D 48 33"},
    {CALL(ovik_cmd_select_print_position_HRI_characters, -1), "1D 48 FF"},
    {CALL(ovik_cmd_select_print_position_HRI_characters, 4), "", -1},
    {CALL(ovik_cmd_select_font_HRI_characters, 0x31), "1D 66 31"},
    {CALL(ovik_cmd_select_font_HRI_characters, 2), "", -1},
    {CALL(ovik_cmd_set_bar_code_height, 162), "1D 68 A2"},
    {CALL(ovik_cmd_set_bar_code_height, 0), "", -1},
    {CALL(ovik_cmd_set_bar_code_width, 6), "1D 77 06"},
    {CALL(ovik_cmd_set_bar_code_width, 7), "", -1},
    {CALL(ovik_cmd_set_bar_code_width, 0), "", -1},
    {CALL(ovik_cmd_print_bar_code, 4, ABC, 3), "1D 6B 04 61 62 63 00"},
    {CALL(ovik_cmd_print_bar_code, 0x49, ABC, 3), "1D 6B 49 03 61 62 63"},
    {CALL(ovik_cmd_print_bar_code, 0x41, SEQ, 255), ("1D 6B 41 FF " + seq(255))},
    {CALL(ovik_cmd_print_bar_code, 0x41, SEQ, 256), "", -1},
    {CALL(ovik_cmd_print_bar_code, 2, WITH_NUL, 3), "", -1},
    {CALL(ovik_cmd_print_bar_code, 7, ABC, 3), "", -1},
    {CALL(ovik_cmd_print_bar_code, 0x4A, ABC, 3), "", -1},
    {CALL(ovik_cmd_print_bar_code, 4, ABC, 0), ""},
    {CALL(ovik_cmd_print_bar_code, 4, nullptr, 3), ""},
    {CALL(ovik_cmd_pdf417_set_the_number_of_columns_in_the_data_region, 30), "1D 28 6B 03 00 30 41 1E"},
    {CALL(ovik_cmd_pdf417_set_the_number_of_columns_in_the_data_region, 31), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_number_of_rows, 0), "1D 28 6B 03 00 30 42 00"},
    {CALL(ovik_cmd_pdf417_set_the_number_of_rows, 90), "1D 28 6B 03 00 30 42 5A"},
    {CALL(ovik_cmd_pdf417_set_the_number_of_rows, 2), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_number_of_rows, 91), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_width_of_the_module, 2), "1D 28 6B 03 00 30 43 02"},
    {CALL(ovik_cmd_pdf417_set_the_width_of_the_module, 9), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_row_height, 8), "1D 28 6B 03 00 30 44 08"},
    {CALL(ovik_cmd_pdf417_set_the_row_height, 1), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_error_correction_level, 0x30, 0x38), "1D 28 6B 04 00 30 45 30 38"},
    {CALL(ovik_cmd_pdf417_set_the_error_correction_level, 0x31, 40), "1D 28 6B 04 00 30 45 31 28"},
    {CALL(ovik_cmd_pdf417_set_the_error_correction_level, 0x31, 41), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_error_correction_level, 0x30, 0x39), "", -1},
    {CALL(ovik_cmd_pdf417_set_the_error_correction_level, 0x32, 1), "", -1},
    {CALL(ovik_cmd_pdf417_select_the_options, 1), "1D 28 6B 03 00 30 46 01"},
    {CALL(ovik_cmd_pdf417_select_the_options, 2), "", -1},
    {CALL(ovik_cmd_pdf417_store_the_data_in_the_symbol_storage_area, ABC, 3), "1D 28 6B 06 00 30 50 30 61 62 63"},
    {CALL(ovik_cmd_pdf417_store_the_data_in_the_symbol_storage_area, ABC, 0), "", -1},
    {CALL(ovik_cmd_pdf417_print_the_symbol_data_in_the_symbol_storage_area), "1D 28 6B 03 00 30 51 30"},
    {CALL(ovik_cmd_pdf417_transmit_the_size_information_of_the_symbol_data_in_the_symbol_storage_area),
     "1D 28 6B 03 00 30 52 30"},
    {CALL(ovik_cmd_qr_select_the_model, 0x32), "1D 28 6B 04 00 31 41 32 00"},
    {CALL(ovik_cmd_qr_select_the_model, 0x33), "", -1},
    {CALL(ovik_cmd_qr_set_the_size_of_module, 16), "1D 28 6B 03 00 31 43 10"},
    {CALL(ovik_cmd_qr_set_the_size_of_module, 17), "", -1},
    {CALL(ovik_cmd_qr_set_the_size_of_module, 0), "", -1},
    {CALL(ovik_cmd_qr_select_the_error_correction_level, 0x33), "1D 28 6B 03 00 31 45 33"},
    {CALL(ovik_cmd_qr_select_the_error_correction_level, 0x34), "", -1},
    {CALL(ovik_cmd_qr_store_the_data_in_the_symbol_storage_area, ABC, 3), "1D 28 6B 06 00 31 50 30 61 62 63"},
    {CALL(ovik_cmd_qr_store_the_data_in_the_symbol_storage_area, ABC, 0), "1D 28 6B 03 00 31 50 30"},
    {CALL(ovik_cmd_qr_store_the_data_in_the_symbol_storage_area, nullptr, 0), "", -1},
    {CALL(ovik_cmd_qr_print_the_symbol_data_in_the_symbol_storage_area), "1D 28 6B 03 00 31 51 30"},
    {CALL(ovik_cmd_qr_transmit_the_size_information_of_the_symbol_data_in_the_symbol_storage_area),
     "1D 28 6B 03 00 31 52 30"},

    // Card readers and encrypting magnetic head
    {CALL(ovik_cmd_set_1track_card_reader_mode), "1B 4D 43"},
    {CALL(ovik_cmd_set_2track_card_reader_mode), "1B 4D 44"},
    {CALL(ovik_cmd_set_1_2track_card_reader_mode), "1B 4D 45"},
    {CALL(ovik_cmd_set_123track_card_reader_mode), "1B 4D 46"},
    {CALL(ovik_cmd_set_3track_card_reader_mode), "1B 4D 47"},
    {CALL(ovik_cmd_cancel_track_card_reader_mode), "04"},
    {CALL(ovik_cmd_selecting_mode_of_reading_smart_card), "1B 4E"},
    {CALL(ovik_cmd_selecting_mode_of_operate_smart_card, 5), "1B 4E 05"},
    {CALL(ovik_cmd_get_random_data_from_smart_card), "1B 4E 13 00 00 05 00 84 00 00 08"},
    {CALL(ovik_cmd_cancel_the_mode_of_read_smart_card), "7E 04 7E"},
    {CALL(ovik_cmd_smart_card_select_file, ABC, 3), "1B 4E 15 00 00 09 00 A4 04 00 03 61 62 63 00"},
    {CALL(ovik_cmd_smart_card_select_file, SEQ, 249), ("1B 4E 15 00 00 FF 00 A4 04 00 F9 " + seq(249) + " 00")},
    {CALL(ovik_cmd_smart_card_select_file, SEQ, 250), "", -1},
    {CALL(ovik_cmd_smart_card_get_response, 0x10), "1B 4E 15 00 00 06 00 C0 00 00 00 10"},
    {CALL(ovik_cmd_smart_card_read_record, 1, 0x0C, 0), "1B 4E 15 00 00 06 00 B2 01 0C 00 00"},
    {CALL(ovik_cmd_eh_reset), "1B 4D 53 00 04 02 38 03 39"},
    {CALL(ovik_cmd_eh_set_default_configuration), "1B 4D 53 00 05 02 53 18 03 4A"},
    {CALL(ovik_cmd_eh_set_encryption_type, 0x30), "1B 4D 53 00 07 02 53 58 01 30 03 3B"},
    {CALL(ovik_cmd_eh_set_encryption_type, 0x31), "1B 4D 53 00 07 02 53 58 01 31 03 3A"},
    {CALL(ovik_cmd_eh_set_encryption_type, 0x32), "", -1},
    {CALL(ovik_cmd_eh_request_attestation_data), "1B 4D 53 00 05 02 52 74 03 27"},
    {CALL(ovik_cmd_eh_send_attestation_data, KEY8, 8), (FRAME + " " + FRAME)},
    {CALL(ovik_cmd_eh_send_attestation_data, KEY8, 7), "", -1},
    {CALL(ovik_cmd_eh_send_attestation_data, nullptr, 8), "", -1},
    {CALL(ovik_cmd_eh_send_attestation_data, SEQ, 264), "", -1},
    {CALL(ovik_cmd_eh_enable, 0x30), "1B 4D 53 00 07 02 53 1A 01 30 03 79"},
    {CALL(ovik_cmd_eh_enable, 0x31), "1B 4D 53 00 07 02 53 1A 01 31 03 78"},
    {CALL(ovik_cmd_eh_enable, 0x2F), "", -1},
    {CALL(ovik_cmd_eh_return_all_track_data), "1B 4D 53 00 07 02 53 85 01 31 03 E7"},
    {CALL(ovik_cmd_eh_set_encryption_all_track), "1B 4D 53 00 07 02 53 84 01 0F 03 D8"},
    {CALL(ovik_cmd_eh_set_encryption_mode, 0x30), "1B 4D 53 00 07 02 53 4C 01 30 03 2F"},
    {CALL(ovik_cmd_eh_set_encryption_mode, 0x31), "1B 4D 53 00 07 02 53 4C 01 31 03 2E"},
    {CALL(ovik_cmd_eh_set_encryption_mode, 0x32), "1B 4D 53 00 07 02 53 4C 01 32 03 2D"},
    {CALL(ovik_cmd_eh_set_encryption_mode, 0x33), "", -1},
};

constexpr uint8_t FILL = 0xEE;
constexpr uint32_t ROOM = 4096;

// The row as it reads in a failure message.
std::string label(const Row &r)
{
  char cls[16];
  std::snprintf(cls, sizeof cls, "0x%X", r.cls);
  return std::string(r.name) + "(" + cls + (*r.args ? ", " : "") + r.args + ")";
}

// Whether the row is the bar code call without data, which succeeds before any check.
bool empty_bar_code(const Row &r)
{
  return std::string(r.name) == "ovik_cmd_print_bar_code" && r.rc == 0 && r.hex.empty();
}

// Buffer of size bytes holding the two-byte prefix AA BB, the rest filled.
std::vector<uint8_t> prefixed(size_t size)
{
  std::vector<uint8_t> b(size, FILL);
  b[0] = 0xAA;
  b[1] = 0xBB;
  return b;
}

} // namespace

TEST(Encoders, EachRowAppendsItsBytesBehindWhatTheBufferHolds)
{
  for (const Row &r : ROWS) {
    SCOPED_TRACE(label(r));
    std::vector<uint8_t> buf = prefixed(ROOM);
    uint32_t len = 2;
    EXPECT_EQ(r.rc, r.call(r.cls, buf.data(), ROOM, &len));
    ASSERT_GE(len, 2u);
    EXPECT_EQ(r.hex, hex(buf.data() + 2, len - 2));
    EXPECT_EQ("AA BB", hex(buf.data(), 2));
    EXPECT_TRUE(std::all_of(buf.begin() + len, buf.end(), [](uint8_t b) { return b == FILL; }));
  }
}

TEST(Encoders, OneByteTooFewIsRefusedAndExactRoomSucceeds)
{
  for (const Row &r : ROWS) {
    size_t n = hex_len(r.hex), room = std::max<size_t>(n, r.room);
    if (r.rc != 0 || n == 0)
      continue;
    SCOPED_TRACE(label(r));
    std::vector<uint8_t> buf = prefixed(2 + room);
    uint32_t len = 2;
    EXPECT_EQ(-2, r.call(r.cls, buf.data(), uint32_t(2 + room - 1), &len));
    EXPECT_EQ(2u, len);
    EXPECT_EQ(hex(prefixed(2 + room).data(), 2 + room), hex(buf.data(), buf.size()));
    EXPECT_EQ(0, r.call(r.cls, buf.data(), uint32_t(2 + room), &len));
    EXPECT_EQ(2 + n, len);
    EXPECT_EQ("AA BB " + r.hex, hex(buf.data(), 2 + n));
  }
}

TEST(Encoders, ClassWithoutBitZeroIsRefusedBeforeTheBufferIsLookedAt)
{
  for (const Row &r : ROWS) {
    SCOPED_TRACE(label(r));
    uint32_t len = 0;
    EXPECT_EQ(empty_bar_code(r) ? 0 : -3, r.call(0x10000, nullptr, 0, &len));
    // Without bits 1 and 2 too: the version request also serves those.
    EXPECT_EQ(empty_bar_code(r) ? 0 : -3, r.call(r.cls & ~7u, nullptr, 0, &len));
    EXPECT_EQ(0u, len);
  }
}

TEST(Encoders, RoomIsCheckedBeforeTheParameters)
{
  for (const Row &r : ROWS) {
    if (r.rc != -1)
      continue;
    SCOPED_TRACE(label(r));
    std::vector<uint8_t> buf = prefixed(2);
    uint32_t len = 2;
    EXPECT_EQ(-2, r.call(r.cls, buf.data(), 2, &len));
    EXPECT_EQ(-2, r.call(r.cls, nullptr, ROOM, &len));
    EXPECT_EQ(2u, len);
  }
}

TEST(Encoders, EveryDeclaredEncoderHasARow)
{
  std::ifstream header(OVIK_SOURCE_DIR "/lib/ovik_printer_helper_cmd.h");
  std::stringstream text;
  text << header.rdbuf();
  std::string s = text.str();
  std::set<std::string> rows;
  for (const Row &r : ROWS)
    rows.insert(r.name);
  const std::regex decl("int (ovik_cmd_\\w+)\\(uint32_t printer_class");
  int declared = 0;
  for (std::sregex_iterator it(s.begin(), s.end(), decl), end; it != end; ++it) {
    std::string name = (*it)[1];
    if (name.rfind("ovik_cmd_parse_", 0) == 0)
      continue;
    declared++;
    EXPECT_TRUE(rows.count(name)) << name << " has no row";
  }
  EXPECT_EQ(154, declared);
}

TEST(Encoders, CommandsFollowOneAnotherInOneBuffer)
{
  uint8_t buf[255];
  uint32_t len = 0;
  ASSERT_EQ(0, ovik_cmd_select_justification(1, 1, buf, sizeof buf, &len));
  ASSERT_EQ(0, ovik_cmd_set_line_spacing(1, 32, buf, sizeof buf, &len));
  EXPECT_EQ(6u, len);
  EXPECT_EQ("1B 61 01 1B 33 20", hex(buf, len));
}

TEST(Encoders, ThreeByteCommandNeedsThreeFreeBytes)
{
  uint8_t buf[5] = {1, 2, 3, 0, 0};
  uint32_t len = 3;
  EXPECT_EQ(-2, ovik_cmd_set_line_spacing(1, 32, buf, 5, &len));
  EXPECT_EQ(3u, len);
  EXPECT_EQ("01 02 03 00 00", hex(buf, 5));
  len = 2;
  EXPECT_EQ(0, ovik_cmd_set_line_spacing(1, 32, buf, 5, &len));
  EXPECT_EQ(5u, len);
  EXPECT_EQ("01 02 1B 33 20", hex(buf, 5));
}

TEST(Encoders, CounterPastCapacityOrMissingCounterIsNoRoom)
{
  uint8_t buf[8] = {};
  uint32_t len = 9;
  EXPECT_EQ(-2, ovik_cmd_horizontal_tab(1, buf, 8, &len));
  EXPECT_EQ(9u, len);
  EXPECT_EQ(-2, ovik_cmd_horizontal_tab(1, buf, 8, nullptr));
  EXPECT_EQ("00 00 00 00 00 00 00 00", hex(buf, 8));
}

TEST(Encoders, BarCodeWithoutDataSucceedsWhateverTheClass)
{
  uint32_t len = 0;
  EXPECT_EQ(0, ovik_cmd_print_bar_code(0x10000, 4, nullptr, 0, nullptr, 0, &len));
  EXPECT_EQ(0, ovik_cmd_print_bar_code(0, 99, ABC, 0, nullptr, 0, &len));
  EXPECT_EQ(0u, len);
}

// Appends one command into a buffer of exactly its size and returns the bytes (empty on failure).
template <typename F>
std::vector<uint8_t> build(size_t size, F f)
{
  std::vector<uint8_t> buf(size);
  uint32_t len = 0;
  if (f(buf.data(), uint32_t(size), &len) != 0 || len != size)
    return {};
  return buf;
}

TEST(Encoders, GraphicsCountAbove65535UsesTheFourByteForm)
{
  // 8192 x 2304 dots: 2 359 296 bytes, count 2 359 307.
  std::vector<uint8_t> img = letters(2359296);
  auto out = build(18 + img.size(), [&](uint8_t *b, uint32_t s, uint32_t *l) {
    return ovik_cmd_define_the_NV_graphics_data_raster_gmode(1, 0x30, 0x31, 8192, 2304, img.data(),
                                                             uint32_t(img.size()), b, s, l);
  });
  ASSERT_EQ(18 + img.size(), out.size());
  EXPECT_EQ("1D 38 4C 0B 00 24 00 30 43 30 30 31 01 00 20 00 09 31", hex(out.data(), 18));
  EXPECT_TRUE(std::equal(img.begin(), img.end(), out.begin() + 18));

  // Column layout 2621 x 200: 65 525 bytes, count 65 536, the first four-byte count.
  img.resize(65525);
  out = build(18 + img.size(), [&](uint8_t *b, uint32_t s, uint32_t *l) {
    return ovik_cmd_define_the_NV_graphics_data_column_gmode(1, 0x30, 0x31, 2621, 200, img.data(), uint32_t(img.size()),
                                                             b, s, l);
  });
  ASSERT_EQ(18 + img.size(), out.size());
  EXPECT_EQ("1D 38 4C 00 00 01 00 30 44 30 30 31 01 3D 0A C8 00 31", hex(out.data(), 18));

  // Column layout 4095 x 128: 65 520 bytes, count 65 531, still two bytes.
  img.resize(65520);
  out = build(16 + img.size(), [&](uint8_t *b, uint32_t s, uint32_t *l) {
    return ovik_cmd_define_the_NV_graphics_data_column_gmode(1, 0x30, 0x31, 4095, 128, img.data(), uint32_t(img.size()),
                                                             b, s, l);
  });
  ASSERT_EQ(16 + img.size(), out.size());
  EXPECT_EQ("1D 28 4C FB FF 30 44 30 30 31 01 FF 0F 80 00 31", hex(out.data(), 16));
}

TEST(Encoders, SymbolDataStopsWhereTheSixteenBitCountWouldOverflow)
{
  std::vector<uint8_t> data = letters(65533);
  for (auto store : {ovik_cmd_qr_store_the_data_in_the_symbol_storage_area,
                     ovik_cmd_pdf417_store_the_data_in_the_symbol_storage_area}) {
    auto out =
        build(8 + 65532, [&](uint8_t *b, uint32_t s, uint32_t *l) { return store(1, data.data(), 65532, b, s, l); });
    ASSERT_EQ(8u + 65532, out.size());
    EXPECT_EQ("1D 28 6B FF FF", hex(out.data(), 5));
    std::vector<uint8_t> buf(8 + 65533, FILL);
    uint32_t len = 0;
    EXPECT_EQ(-1, store(1, data.data(), 65533, buf.data(), uint32_t(buf.size()), &len));
    EXPECT_EQ(0u, len);
    EXPECT_EQ(FILL, buf[0]);
  }
}

TEST(Encoders, LongFeedsNeedRoomForTheWholeChain)
{
  std::vector<uint8_t> buf(8, FILL);
  uint32_t len = 0;
  EXPECT_EQ(-2, ovik_cmd_print_and_feed_paper(1, 600, buf.data(), 8, &len));
  EXPECT_EQ(-2, ovik_cmd_print_and_reverse_feed_n_line(1, 765, buf.data(), 8, &len));
  EXPECT_EQ("EE EE EE EE EE EE EE EE", hex(buf.data(), 8));
  std::vector<uint8_t> big(3 * 3922, FILL);
  EXPECT_EQ(-2, ovik_cmd_print_and_feed_paper(1, 1000000, big.data(), uint32_t(big.size() - 1), &len));
  EXPECT_EQ(0, ovik_cmd_print_and_feed_paper(1, 1000000, big.data(), uint32_t(big.size()), &len));
  EXPECT_EQ(big.size(), len);
  EXPECT_EQ("1B 4A FF 1B 4A FF", hex(big.data(), 6));
  EXPECT_EQ("1B 4A FF 1B 4A 91", hex(big.data() + big.size() - 6, 6));
}
