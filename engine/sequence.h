/*
 * sequence.h - what the printer gets at document start and end, and around
 * every page copy.
 */
#ifndef OVIK_ENGINE_SEQUENCE_H
#define OVIK_ENGINE_SEQUENCE_H

#include "job.h"

int start_doc(ovik_printer_dev *job);
int end_doc(ovik_printer_dev *job);
void start_page(ovik_printer_dev *job);
void end_page(ovik_printer_dev *job);

/* Millimetres as dot rows: single precision, truncated toward zero (a length
 * too large for an int saturates). */
int mm_to_dots(int32_t millimetres, float dot_unit);

#endif
