/*
 * print.h - printer operations: one printer action each, built with the
 * command encoders from the job settings and written to the printer stream.
 */
#ifndef OVIK_PRINT_H
#define OVIK_PRINT_H

#include <stdint.h>

#include "devmode.h"

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
