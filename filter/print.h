/*
 * print.h - printer operations: one printer action each, built with the
 * command encoders from the job settings and written to the printer stream.
 */
#ifndef OVIK_PRINT_H
#define OVIK_PRINT_H

#include <stdint.h>

#include "devmode.h"

/* Limits on what one setting can make the filter send: a blank strip is at
 * most max_blank_rows dot rows (about 8 m of paper at 203 dpi) and an external
 * beep at most max_external_beeps pulses; larger values send the limit. */
constexpr int max_blank_rows = 65535;
constexpr int max_external_beeps = 255;

/* Feed, cut and blank strips. */
int print_cut_page(ovik_printer_dev *dev);
int print_blank(ovik_printer_dev *dev, int blank_counter);
int print_position_next_ticket(ovik_printer_dev *dev);

/* Device settings and peripherals. */
int printer_set_speed(ovik_printer_dev *dev);
int printer_set_density(ovik_printer_dev *dev);
int printer_set_linespacing(ovik_printer_dev *dev);
int print_beep(ovik_printer_dev *dev);
int print_external_beep(ovik_printer_dev *dev);
int print_open_drawer(ovik_printer_dev *dev, int drawer);
int print_logo(ovik_printer_dev *dev);
int printer_set_align(ovik_printer_dev *dev);

/* Dot-line raster output: dwHeight rows of dwWidthBytes bytes as GS v 0 sections. */
int print_dotline(ovik_printer_dev *dev, const uint8_t *pData, int dwWidthBytes, int dwHeight);

/* PackBits of rows rows of width bytes each; every row is coded on its own.
 * out must hold 2 * width * rows bytes; *out_len receives the bytes produced. */
int tiff_compression(const uint8_t *src, uint32_t width, uint32_t rows, uint8_t *out, int *out_len);

#endif
