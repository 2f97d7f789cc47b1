/*
 * ovik_printer_helper_cmd.h - encoders for the printer's ESC/POS-family
 * commands and parsers for its replies.
 *
 * Every encoder appends one command at buf + *buf_len and, on success only,
 * adds its length to *buf_len; on any failure buf and *buf_len are untouched.
 * Results: 0 appended, -1 bad parameter, -2 no buffer or not enough room,
 * -3 the printer class word lacks the bit the command needs (bit 0, the
 * ESC/POS family, unless noted). Checks run in that order: class, room,
 * parameters. Numbers are written as their low byte unless the command has a
 * 16-bit (low byte first) or 32-bit field.
 *
 * Usable from C and C++ (and through any C foreign-function interface).
 */
#ifndef OVIK_PRINTER_HELPER_CMD_H
#define OVIK_PRINTER_HELPER_CMD_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Print and paper movement */
int ovik_cmd_print_and_line_feed(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_and_carriage_return(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_and_return_standard_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_data_in_page_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_cancel_print_data_in_page_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_position_next_label(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
/* n >= 0 units; above 255 it becomes a chain of ESC J commands. */
int ovik_cmd_print_and_feed_paper(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_and_reverse_feed(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_and_feed_n_line(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
/* A chain of ESC e commands of at most 255 lines each; n <= 0 appends nothing. */
int ovik_cmd_print_and_reverse_feed_n_line(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                           uint32_t *buf_len);
int ovik_cmd_feed_paper_to_the_label_peeling_position(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                      uint32_t *buf_len);
int ovik_cmd_feed_paper_to_the_cutting_position(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                uint32_t *buf_len);
int ovik_cmd_feed_paper_to_the_print_starting_position(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                       uint32_t *buf_len);
int ovik_cmd_partial_cut_one_point_left_uncut(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                              uint32_t *buf_len);
int ovik_cmd_partial_cut_three_point_left_uncut(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                                uint32_t *buf_len);
int ovik_cmd_select_cut_mode_and_cut_paper(uint32_t printer_class, int m, uint8_t *buf, uint32_t buf_size,
                                           uint32_t *buf_len);
/* m 0 (full) and 1 (partial) are sent as 0x41 and 0x42. */
int ovik_cmd_select_cut_mode_and_feed_paper(uint32_t printer_class, int m, int n, uint8_t *buf, uint32_t buf_size,
                                            uint32_t *buf_len);
int ovik_cmd_return_home(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_unidirectional_print_mode(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                              uint32_t *buf_len);
int ovik_cmd_horizontal_tab(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);

/* Line spacing and characters */
int ovik_cmd_select_default_line_spacing(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_line_spacing(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_right_side_character_spacing(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                              uint32_t *buf_len);
int ovik_cmd_select_print_modes(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_or_cancel_defined_charater_set(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                   uint32_t *buf_len);
/* data_len must be 3 * x and fit in one byte: x 0-85. */
int ovik_cmd_define_user_defined_characters(uint32_t printer_class, int c1, int c2, int x, const uint8_t *data,
                                            uint32_t data_len, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_cancel_user_defined_characters(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                            uint32_t *buf_len);
int ovik_cmd_turn_underline_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                        uint32_t *buf_len);
int ovik_cmd_turn_emphasized_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                         uint32_t *buf_len);
int ovik_cmd_turn_double_strike_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                            uint32_t *buf_len);
int ovik_cmd_select_character_font(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_an_international_character_set(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                   uint32_t *buf_len);
int ovik_cmd_turn90_clockwise_rotation_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                   uint32_t *buf_len);
/* variant 0: ESC t n; variant 1: the code table set through the user setting mode (36 bytes). */
int ovik_cmd_select_character_code_table(uint32_t printer_class, int n, int variant, uint8_t *buf, uint32_t buf_size,
                                         uint32_t *buf_len);
int ovik_cmd_turn_upside_down_print_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                uint32_t *buf_len);
int ovik_cmd_select_character_size(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_turn_white_black_reverse_print_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                        uint32_t *buf_len);
int ovik_cmd_turn_smoothing_mode_on_off(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                        uint32_t *buf_len);
int ovik_cmd_select_kanji_character_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_cancel_kanji_character_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);

/* Print position and page mode */
int ovik_cmd_set_absolute_print_position(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                         uint32_t *buf_len);
/* At most 32 tab positions. */
int ovik_cmd_set_horizontal_tab_positions(uint32_t printer_class, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                          uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_page_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_standard_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_print_direction_in_page_mode(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                 uint32_t *buf_len);
/* Needs room for 11 bytes; class words with 0x1102 in the upper half get the 11-byte form. */
int ovik_cmd_set_print_area_in_page_mode(uint32_t printer_class, int x, int y, int dx, int dy, uint8_t *buf,
                                         uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_relative_print_position(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                         uint32_t *buf_len);
int ovik_cmd_select_justification(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_absolute_vertical_print_position_in_page_mode(uint32_t printer_class, int n, uint8_t *buf,
                                                               uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_left_margin(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_print_position_to_the_beginning_of_print_line(uint32_t printer_class, int n, uint8_t *buf,
                                                               uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_print_area_width(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_relative_vertical_print_position_in_page_mode(uint32_t printer_class, int n, uint8_t *buf,
                                                               uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_horizontal_and_vertical_motion_units(uint32_t printer_class, int x, int y, uint8_t *buf,
                                                      uint32_t buf_size, uint32_t *buf_len);

/* Bit images, raster images and graphics (GS ( L switches to GS 8 L above a count of 65535) */
int ovik_cmd_select_bit_image_mode(uint32_t printer_class, int m, int n, const uint8_t *data, uint32_t data_len,
                                   uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_NV_bit_image(uint32_t printer_class, int n, int m, uint8_t *buf, uint32_t buf_size,
                                uint32_t *buf_len);
int ovik_cmd_define_nv_bit_image_fmode(uint32_t printer_class, int n, const uint8_t *data, uint32_t data_len,
                                       uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_define_downloaded_bit_image(uint32_t printer_class, int x, int y, const uint8_t *data, uint32_t data_len,
                                         uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_downloaded_bit_image(uint32_t printer_class, int m, uint8_t *buf, uint32_t buf_size,
                                        uint32_t *buf_len);
/* GS v 0 header alone; x (bytes per row) and y (rows) go out as their low 16 bits, unchecked. */
int ovik_cmd_print_raster_img_cmd_header(uint32_t printer_class, int m, int x, int y, uint8_t *buf, uint32_t buf_size,
                                         uint32_t *buf_len);
/* The feed-step models' raster header: print area width 8 * x dots, then ESC * b with y rows. */
int ovik_cmd_print_raster_img_cmd_header_feed_step(uint32_t printer_class, int x, int y, uint8_t *buf,
                                                   uint32_t buf_size, uint32_t *buf_len);
/* GS v 0 with its x * y data bytes. */
int ovik_cmd_print_raster_bit_image(uint32_t printer_class, int m, int x, int y, const uint8_t *data, uint8_t *buf,
                                    uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_the_NV_graphics_memory_capacity_gmode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                                            uint32_t *buf_len);
int ovik_cmd_set_the_reference_dot_density_for_graphics_gmode(uint32_t printer_class, int d, uint8_t *buf,
                                                              uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_the_graphics_data_in_the_print_buffer_gmode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                                               uint32_t *buf_len);
int ovik_cmd_transmit_the_remaining_capacity_of_the_NV_graphics_memory_gmode(uint32_t printer_class, uint8_t *buf,
                                                                             uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_the_remaining_capacity_of_the_download_graphics_memory_gmode(uint32_t printer_class, uint8_t *buf,
                                                                                   uint32_t buf_size,
                                                                                   uint32_t *buf_len);
int ovik_cmd_transmit_the_key_code_list_for_defined_NV_graphics_gmode(uint32_t printer_class, uint8_t *buf,
                                                                      uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_delete_all_NV_graphics_data_gmode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                               uint32_t *buf_len);
int ovik_cmd_delete_the_specified_NV_graphics_data_gmode(uint32_t printer_class, int k1, int k2, uint8_t *buf,
                                                         uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_define_the_NV_graphics_data_raster_gmode(uint32_t printer_class, int k1, int k2, int x, int y,
                                                      const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                                      uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_define_the_NV_graphics_data_column_gmode(uint32_t printer_class, int k1, int k2, int x, int y,
                                                      const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                                      uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_the_specified_NV_graphics_data_gmode(uint32_t printer_class, int k1, int k2, int sx, int sy,
                                                        uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_the_key_code_list_for_defined_download_graphics_gmode(uint32_t printer_class, uint8_t *buf,
                                                                            uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_delete_all_memory_graphics_data_gmode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                                   uint32_t *buf_len);
int ovik_cmd_delete_the_specified_download_memory_graphics_data_gmode(uint32_t printer_class, int k1, int k2,
                                                                      uint8_t *buf, uint32_t buf_size,
                                                                      uint32_t *buf_len);
int ovik_cmd_define_the_downloaded_graphics_data_raster_gmode(uint32_t printer_class, int k1, int k2, int x, int y,
                                                              const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                                              uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_define_the_downloaded_graphics_data_column_gmode(uint32_t printer_class, int k1, int k2, int x, int y,
                                                              const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                                              uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_print_the_specified_downloaded_graphics_data_gmode(uint32_t printer_class, int k1, int k2, int sx, int sy,
                                                                uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_store_the_graphics_data_in_the_print_buffer_raster_gmode(uint32_t printer_class, int bx, int by, int x,
                                                                      int y, const uint8_t *data, uint32_t data_len,
                                                                      uint8_t *buf, uint32_t buf_size,
                                                                      uint32_t *buf_len);
int ovik_cmd_store_the_graphics_data_in_the_print_buffer_column_gmode(uint32_t printer_class, int bx, int by, int x,
                                                                      int y, const uint8_t *data, uint32_t data_len,
                                                                      uint8_t *buf, uint32_t buf_size,
                                                                      uint32_t *buf_len);

/* Status, real-time and device control */
/* Class bit 0: GS I A; else bit 2: ESC # * LF NUL; else bit 1: "ZZZGETVERSION"; else -3. */
int ovik_cmd_transmit_printer_version(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_printer_id(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_real_time_status(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                       uint32_t *buf_len);
int ovik_cmd_send_real_time_request_to_printer(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                               uint32_t *buf_len);
/* t above 100 is taken as milliseconds and divided by 100. */
int ovik_cmd_generate_pulse_in_real_time(uint32_t printer_class, int m, int t, uint8_t *buf, uint32_t buf_size,
                                         uint32_t *buf_len);
int ovik_cmd_execute_power_off_sequence(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_specified_status_in_real_time(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                    uint32_t *buf_len);
int ovik_cmd_clear_buffer(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_clearbuffer(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_peripheral_device_status(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                               uint32_t *buf_len);
int ovik_cmd_transmit_paper_sensor_status(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_enable_disable_ASB(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_transmit_status(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_initialize_printer(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_peripheral_device(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                      uint32_t *buf_len);
int ovik_cmd_execute_test_print(uint32_t printer_class, int p, int n, uint8_t *buf, uint32_t buf_size,
                                uint32_t *buf_len);
/* k is the count byte (3 or 5); data_len must be k - 1. */
int ovik_cmd_enable_real_time_command(uint32_t printer_class, int k, const uint8_t *data, uint32_t data_len,
                                      uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
/* Needs class bits 0 and 12; request 1 or 2, any other request -1. */
int ovik_cmd_usb_ctl(uint32_t printer_class, int request, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_buzzer(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
/* r repeats (low byte at most 63), d duration, i interval. */
int ovik_cmd_beep_integrated_beeper(uint32_t printer_class, int r, int d, int i, uint8_t *buf, uint32_t buf_size,
                                    uint32_t *buf_len);
/* Pin m; t2 is raised to t1 when smaller. */
int ovik_cmd_generate_pulse(uint32_t printer_class, int m, int t1, int t2, uint8_t *buf, uint32_t buf_size,
                            uint32_t *buf_len);
int ovik_cmd_select_the_print_control_mode(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                           uint32_t *buf_len);
int ovik_cmd_select_the_print_density(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                      uint32_t *buf_len);
int ovik_cmd_select_the_print_speed(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_select_the_number_of_parts_for_the_thermal_head_energizing(uint32_t printer_class, int n, uint8_t *buf,
                                                                        uint32_t buf_size, uint32_t *buf_len);
/* 12 bytes of line data. */
int ovik_cmd_draw_line(uint32_t printer_class, const uint8_t *data, uint32_t data_len, uint8_t *buf, uint32_t buf_size,
                       uint32_t *buf_len);
/* 14 bytes of rectangle data. */
int ovik_cmd_draw_rectangle(uint32_t printer_class, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                            uint32_t buf_size, uint32_t *buf_len);
/* a: 32-bit address; n = data_len, 1-1024 printable bytes (each >= 0x20). */
int ovik_cmd_write_to_nv_user_memory(uint32_t printer_class, int a, int n, const uint8_t *data, uint32_t data_len,
                                     uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_read_from_nv_user_memory(uint32_t printer_class, int a, int n, uint8_t *buf, uint32_t buf_size,
                                      uint32_t *buf_len);
int ovik_cmd_start_macro_definition(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_execute_macro(uint32_t printer_class, int r, int t, int m, uint8_t *buf, uint32_t buf_size,
                           uint32_t *buf_len);

/* Bar codes and two-dimensional symbols */
int ovik_cmd_select_print_position_HRI_characters(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                  uint32_t *buf_len);
int ovik_cmd_select_font_HRI_characters(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                        uint32_t *buf_len);
int ovik_cmd_set_bar_code_height(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_bar_code_width(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
/* m 0-6: NUL-terminated form (data without zero bytes); m 0x41-0x49: counted form (at most 255 bytes).
 * No data: 0 with nothing appended, before any other check. */
int ovik_cmd_print_bar_code(uint32_t printer_class, int m, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                            uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_pdf417_set_the_number_of_columns_in_the_data_region(uint32_t printer_class, int n, uint8_t *buf,
                                                                 uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_pdf417_set_the_number_of_rows(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                           uint32_t *buf_len);
int ovik_cmd_pdf417_set_the_width_of_the_module(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                uint32_t *buf_len);
int ovik_cmd_pdf417_set_the_row_height(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                       uint32_t *buf_len);
int ovik_cmd_pdf417_set_the_error_correction_level(uint32_t printer_class, int m, int n, uint8_t *buf,
                                                   uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_pdf417_select_the_options(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                       uint32_t *buf_len);
int ovik_cmd_pdf417_store_the_data_in_the_symbol_storage_area(uint32_t printer_class, const uint8_t *data,
                                                              uint32_t data_len, uint8_t *buf, uint32_t buf_size,
                                                              uint32_t *buf_len);
int ovik_cmd_pdf417_print_the_symbol_data_in_the_symbol_storage_area(uint32_t printer_class, uint8_t *buf,
                                                                     uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_pdf417_transmit_the_size_information_of_the_symbol_data_in_the_symbol_storage_area(uint32_t printer_class,
                                                                                                uint8_t *buf,
                                                                                                uint32_t buf_size,
                                                                                                uint32_t *buf_len);
int ovik_cmd_qr_select_the_model(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_qr_set_the_size_of_module(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                       uint32_t *buf_len);
int ovik_cmd_qr_select_the_error_correction_level(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                  uint32_t *buf_len);
/* data_len 0-65532 (the count field is 16 bits). */
int ovik_cmd_qr_store_the_data_in_the_symbol_storage_area(uint32_t printer_class, const uint8_t *data,
                                                          uint32_t data_len, uint8_t *buf, uint32_t buf_size,
                                                          uint32_t *buf_len);
int ovik_cmd_qr_print_the_symbol_data_in_the_symbol_storage_area(uint32_t printer_class, uint8_t *buf,
                                                                 uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_qr_transmit_the_size_information_of_the_symbol_data_in_the_symbol_storage_area(uint32_t printer_class,
                                                                                            uint8_t *buf,
                                                                                            uint32_t buf_size,
                                                                                            uint32_t *buf_len);

/* Card readers and encrypting magnetic head */
int ovik_cmd_set_1track_card_reader_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_2track_card_reader_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_1_2track_card_reader_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_123track_card_reader_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_set_3track_card_reader_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_cancel_track_card_reader_mode(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_selecting_mode_of_reading_smart_card(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                                  uint32_t *buf_len);
int ovik_cmd_selecting_mode_of_operate_smart_card(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size,
                                                  uint32_t *buf_len);
int ovik_cmd_get_random_data_from_smart_card(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                             uint32_t *buf_len);
int ovik_cmd_cancel_the_mode_of_read_smart_card(uint32_t printer_class, uint8_t *buf, uint32_t buf_size,
                                                uint32_t *buf_len);
/* Select by name; at most 249 name bytes (the card command's count is one byte). */
int ovik_cmd_smart_card_select_file(uint32_t printer_class, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                    uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_smart_card_get_response(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_smart_card_read_record(uint32_t printer_class, int p1, int p2, int n, uint8_t *buf, uint32_t buf_size,
                                    uint32_t *buf_len);
int ovik_cmd_eh_reset(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_set_default_configuration(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_set_encryption_type(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_request_attestation_data(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
/* Exactly 8 data bytes; the frame is sent twice. */
int ovik_cmd_eh_send_attestation_data(uint32_t printer_class, const uint8_t *data, uint32_t data_len, uint8_t *buf,
                                      uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_enable(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_return_all_track_data(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_set_encryption_all_track(uint32_t printer_class, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);
int ovik_cmd_eh_set_encryption_mode(uint32_t printer_class, int n, uint8_t *buf, uint32_t buf_size, uint32_t *buf_len);

/* Reply parsers. flags points to eight one-byte status flags (4 offline,
 * 5 cover open, 6 roll paper near end, 7 roll paper end); each parser writes
 * only its own positions. Text replies are changed in place. */

/* Firmware version into at most min(count, 3) entries: 0, -30 malformed, -3 class, -1 no array.
 * Class bit 2 returns 0 and reads nothing; class bit 1 reads min(count, 3) raw bytes of the reply. */
int ovik_cmd_parse_printer_version(uint32_t printer_class, char *reply, int *versions, int count);
/* Automatic status back, four bytes: 0 or -1; flags may be NULL. */
int ovik_cmd_parse_ASB_status(uint32_t printer_class, const uint8_t *msg4, uint8_t *flags);
/* Reply byte to DLE EOT n (n 1-4): 0 or -1; flags may be NULL. */
int ovik_cmd_parse_real_time_status(uint32_t printer_class, int n, uint8_t b, uint8_t *flags);
/* Reply byte to GS r n (n 1 or 2): 0 or -1; flags must not be NULL. */
int ovik_cmd_parse_transmit_status(uint32_t printer_class, int n, uint8_t b, uint8_t *flags);
/* One status byte into flags 0-5: 0 or -1; flags must not be NULL. */
int ovik_cmd_parse_status2(uint32_t printer_class, uint8_t b, uint8_t *flags);
/* Symbol size reply "76" h 0x1F v 0x1F: 0, -30 malformed, -3 class, -1 no output. */
int ovik_cmd_parse_qr_code_size(uint32_t printer_class, char *reply, int *horizontal, int *vertical);
/* Graphics memory capacity, the reply to GS ( L function 48, 51 or 52: "7",
 * the identifier ('0' the whole NV graphics memory, '1' what is free of it,
 * '2' what is free of the download graphics memory), 1-8 decimal digits, the
 * terminator. 0, -30 malformed, -3 class, -1 no output. */
int ovik_cmd_parse_graphics_capacity(uint32_t printer_class, const char *reply, int *identifier, int *bytes);
/* One block of the reply to GS ( L function 64, the key codes of the defined
 * NV graphics: "7", "r", the status ('@' the last block, 'A' another follows
 * once the host answers ACK), at most 40 key code pairs (0x20-0x7E each), the
 * terminator. key_codes takes two bytes per graphic, capacity graphics;
 * *count receives the graphics of the block, *more 1 when another block
 * follows. 0; -30 malformed; -2 more graphics than capacity (none stored);
 * -3 class; -1 no output. */
int ovik_cmd_parse_nv_graphics_key_codes(uint32_t printer_class, const char *reply, uint8_t *key_codes, int capacity,
                                         int *count, int *more);
/* Finds a GS v 0 command at the first 0x1D byte of data; outputs stay 0 when there is none. */
int ovik_cmds_find_raster_imgdata(uint32_t printer_class, const uint8_t *data, uint32_t n, uint8_t *m, int *x, int *y,
                                  int *bpr, uint32_t *pos, int *len);

#ifdef __cplusplus
}
#endif

#endif
