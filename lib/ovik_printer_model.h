/*
 * ovik_printer_model.h - the catalogue of known printer models, the model
 * record built from a catalogue row, and typed queries over both.
 *
 * Catalogue texts and the text constants below are static: records refer to
 * them and never copy or free them. Searches compare texts exactly
 * (case-sensitive) and walk the rows in table order; the first match wins.
 * Nothing here is safe for concurrent use: the record cache is process-wide.
 *
 * Usable from C and C++.
 */
#ifndef OVIK_PRINTER_MODEL_H
#define OVIK_PRINTER_MODEL_H

#include <stdbool.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One catalogue row. identity is "manufacturer name" (the name alone when the
 * manufacturer is empty); description is the identity and a category. */
typedef struct ovik_model_brief {
  int32_t id;               /* model id; rebadged models share one */
  const char *manufacturer; /* may be empty */
  const char *name;         /* what a PPD's ShortNickName must equal */
  const char *identity;
  const char *description;
  uint32_t printer_class; /* class bits: 0x1 ESC/POS family, 0x1000 USB control, ... */
  int32_t width_dots;     /* print width in dots */
  uint32_t code1;
  uint32_t code2;
  float aux_unit;
} ovik_model_brief;

/* Number of catalogue rows; the last one is the "unknown" model of id -1. */
#define OVIK_MODEL_COUNT 171

/* The catalogue, in its fixed order. */
extern const ovik_model_brief model_brief_table[OVIK_MODEL_COUNT];

/* Tag that every model record carries in struct_size (a version mark, not
 * sizeof): operations taking a caller's record refuse one without it. */
#define OVIK_MODEL_STRUCT_SIZE 120

/* Page-mode area texts: none, or width and height in dots. */
#define PAGEMODE_AREA_DEFAULT ""
#define PAGEMODE_AREA_2 "576,936"

/* Barcode symbologies; the second set is assigned to no model today. */
#define BARCODESET_DEFAULT "UPC-A,UPC-E,EAN8,EAN13,CODE39,ITF,CODEBAR,CODE128,CODE93,QRCODE"
#define BARCODESET_2 BARCODESET_DEFAULT ",PDF417"

/* Fonts: per letter the cell width and height in dots, then code pages. */
#define FONTS_DEFAULT                                                                                                  \
  "A,12,24,242,311,318,437,720,850,860,863,865,866,852,858;"                                                           \
  "B,9,17,242,311,318,437,850,860,863,865,866,852,858,1252;"
/* The page-mode models' list; today the same text. */
#define FONTS_2 FONTS_DEFAULT

/* A model's identity and properties. type is (low byte of id << 16) | class. */
typedef struct ovik_printer_model {
  uint32_t struct_size; /* OVIK_MODEL_STRUCT_SIZE */
  int32_t id;
  const char *manufacturer, *name, *identity, *description;
  uint32_t type;
  int32_t width_dots;
  uint32_t code1, code2;
  uint8_t attr1, attr2, attr3, attr4, attr5;
  bool pagemode_supported;
  const char *pagemode_area;
  const char *barcode_set;
  const char *fonts;
  uint8_t attr6, attr7, attr8;
  int32_t resolution; /* dots per inch */
  float motion_v;     /* vertical motion unit, mm */
  float motion_h;     /* horizontal motion unit, mm */
  uint8_t attr9;
  float aux_unit;
} ovik_printer_model;

/* Row searches: the first matching row, or NULL. */
const ovik_model_brief *ovik_printer_model_brief_find_by_id(int32_t id);
const ovik_model_brief *ovik_printer_model_brief_find_by_name(const char *name);
const ovik_model_brief *ovik_printer_model_brief_find_by_identity(const char *identity);

/* Copies id, name, description and width_dots of every row with this id into
 * out, so the last such row's values remain. 0 (matched or not); -1 when out
 * is NULL. */
int ovik_printer_model_brief_find_by_id2(int32_t id, ovik_model_brief *out);

/* Name, raw printer class and width of the first row by id or by name.
 * 0, or -8 when no row matches. NULL outputs are skipped. */
int ovik_printer_model_get_info_by_id(int32_t id, const char **name, uint32_t *printer_class, int32_t *width_dots);
int ovik_printer_model_get_info_by_name(const char *name, uint32_t *printer_class, int32_t *width_dots);

/* Create a record from the first row by id, model name or identity; the caller
 * releases it with ovik_printer_model_destroy. 0 (also for a model without
 * properties of its own), -8 no such row, -9 out of memory, -1 out is NULL. */
int ovik_printer_model_creator(int32_t id, ovik_printer_model **out);
int ovik_printer_model_creator2(const char *name, ovik_printer_model **out);
int ovik_printer_model_creator_by_identity(const char *identity, ovik_printer_model **out);

/* Releases a created record. 0, or -6 when model is NULL. */
int ovik_printer_model_destroy(ovik_printer_model *model);

/* Refill a caller's record (struct_size set) from the first row by id or name.
 * -1 bad record; -8 no row (record untouched); else model_set_properties. */
int ovik_printer_model_get_by_id(int32_t id, ovik_printer_model *model);
int ovik_printer_model_get_by_name(const char *name, ovik_printer_model *model);

/* Fills a record from a row and the properties of its id. 0; -8 for an id
 * without properties of its own (the record then holds the defaults); -1 for
 * a NULL argument. */
int model_set_properties(const ovik_model_brief *row, ovik_printer_model *model);

/* Borrows the cached record of an id, creating it on first use; the cache
 * keeps it until ovik_printer_model_detach. 0 or the creator's code; -1 when
 * out is NULL. *out is NULL on failure or when the cache is full. */
int get_model_instance(int32_t id, ovik_printer_model **out);

/* Releases every cached record. */
void ovik_printer_model_detach(void);

/* Lists the model names of a manufacturer's rows as "name\t...name\t" with a
 * zero byte after it, skipping names that do not fit in buf_len bytes.
 * *total gets the summed length of all the names, copied or not.
 * 0, or -1 when the manufacturer has no rows (or total is NULL). */
int ovik_printer_model_get_manufacture_modelnames(const char *manufacturer, char *buf, int buf_len, int *total);

/* The same list as wide characters; buf_len counts bytes. Names are chosen to
 * fit buf_len / 4 wide characters with a terminator; a list that cannot be
 * converted leaves the buffer cleared. 1 on success, 0 on failure. */
int ovik_printer_model_get_manufacture_modelnames_wchar(const char *manufacturer, wchar_t *buf, int buf_len,
                                                        int *total);

/* Property ids. */
#define PROP_MODEL_ID 0x01
#define PROP_MODEL_NAME 0x02
#define PROP_PAGEMODE 0x81
#define PROP_PAGEMODE_AREA 0x82

/* Property type codes. */
#define PROP_TYPE_BOOL 1
#define PROP_TYPE_STRING 2
#define PROP_TYPE_INT 3
#define PROP_TYPE_BYTE 4

/* One property of a record: its type code in *type, its bytes in buf (len
 * bytes; may be NULL), its full length in *out_len (may be NULL, but not
 * together with buf). Texts are copied without terminator and cut at len;
 * integers little-endian, the rest of buf cleared. 0, or -1 for bad arguments
 * or an unknown property (then *type is not written). */
int ovik_printer_model_get_property(const ovik_printer_model *model, int property, int *type, void *buf, int len,
                                    int *out_len);

/* As above, with texts delivered as wide characters (4 bytes each, no
 * terminator) and *out_len in bytes of that wide form. The conversion needs
 * room for a terminator: a buffer shorter than *out_len + 4 keeps the narrow
 * copy. */
int ovik_printer_model_get_property_wchar(const ovik_printer_model *model, int property, int *type, void *buf, int len,
                                          int *out_len);

/* The same queries on the cached record of a model id (get_model_instance);
 * its -8 or -9 passes through, a full cache gives -1. */
int ovik_printer_model_id_get_property(int32_t id, int property, int *type, void *buf, int len, int *out_len);
int ovik_printer_model_id_get_property_wchar(int32_t id, int property, int *type, void *buf, int len, int *out_len);

#ifdef __cplusplus
}
#endif

#endif
