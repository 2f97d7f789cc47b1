/*
 * print.h - printer operations: one printer action each, built with the
 * command encoders from the job settings and written to the printer stream.
 */
#ifndef OVIK_ENGINE_PRINT_H
#define OVIK_ENGINE_PRINT_H

#include <cstdint>

#include "job.h"

/* Limits on what one setting can make a job send: a blank strip is at
 * most max_blank_rows dot rows (about 8 m of paper at 203 dpi) and an external
 * beep at most max_external_beeps pulses; larger values send the limit. */
constexpr int max_blank_rows = 65535;
constexpr int max_external_beeps = 255;

/* Feed, cut and blank strips. */
int print_cut_page(ovik_printer_dev *job);
int print_blank(ovik_printer_dev *job, int blank_counter);
int print_position_next_ticket(ovik_printer_dev *job);

/* The commands that a job and the printer tools send alike: the beeper with
 * the settings' beeps, and the pulse of cash drawer 0 or 1. */
int beep_command(const dev_mode &settings, uint8_t *buf, uint32_t capacity, uint32_t *length);
int drawer_pulse_command(const dev_mode &settings, int drawer, uint8_t *buf, uint32_t capacity, uint32_t *length);

/* Device settings and peripherals. */
int printer_set_speed(ovik_printer_dev *job);
int printer_set_density(ovik_printer_dev *job);
int printer_set_linespacing(ovik_printer_dev *job);
int print_beep(ovik_printer_dev *job);
int print_external_beep(ovik_printer_dev *job);
int print_open_drawer(ovik_printer_dev *job, int drawer);
int print_logo(ovik_printer_dev *job);
int printer_set_align(ovik_printer_dev *job);

/* Dot-line raster output: dwHeight rows of dwWidthBytes bytes as GS v 0
 * sections; OVIK_JOB_ERR_DOTLINE when it cannot go on (ovik_job_error says why). */
int print_dotline(ovik_printer_dev *job, const uint8_t *pData, int dwWidthBytes, int dwHeight);

/* PackBits of rows rows of width bytes each; every row is coded on its own.
 * out must hold 2 * width * rows bytes; *out_len receives the bytes produced. */
int tiff_compression(const uint8_t *src, uint32_t width, uint32_t rows, uint8_t *out, int *out_len);

#endif
