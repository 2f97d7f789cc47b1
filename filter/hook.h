/*
 * hook.h - what the printer gets at document start and end, and around
 * every page copy.
 */
#ifndef OVIK_HOOK_H
#define OVIK_HOOK_H

#include "devmode.h"

int start_doc(ovik_printer_dev *device);
int end_doc(ovik_printer_dev *device);
void start_page(ovik_printer_dev *device);
void end_page(ovik_printer_dev *device);

/* Millimetres as dot rows: single precision, truncated toward zero (a length
 * too large for an int saturates). */
int mm_to_dots(int32_t millimetres, float dot_unit);

#endif
