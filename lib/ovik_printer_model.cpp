/*
 * ovik_printer_model.cpp - the model catalogue, model records and their
 * property queries.
 *
 * The catalogue is the one list of models the project knows: PPD short
 * nicknames must equal a row's name, and ovik-models (tools/models) prints it.
 */
#include "ovik_printer_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ovik_error.h"
#include "ovik_string.h"

// Row texts: identity and description follow from the manufacturer, the
// model name and the category, so they are spelt once.
#define ROW(maker, name, category) maker, name, maker " " name, maker " " name " " category
#define ROW_NAME_ONLY(name, category) "", name, name, name " " category
#define ROW_NO_CATEGORY(maker, name) maker, name, maker " " name, maker " " name

#define RECEIPT "Receipt Printer"
#define LABEL_RECEIPT "Label/Receipt Printer"
#define LABEL "Label Printer"
#define RECEIPT_BOARD "Receipt Control Board"
#define LABEL_BOARD "Label Control Board"
#define MOBILE "Mobile Printer"

// Row order matters: every search returns the first match.
extern "C" const ovik_model_brief model_brief_table[OVIK_MODEL_COUNT] = {
    // row 1
    {0x1486, ROW("Ovik", "Keel 58", RECEIPT_BOARD), 0x401, 384, 8401, 28680, 0.0625f},
    // row 2
    {0x1001, ROW("Ovik", "Tern 80A", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Ovik", "Tern 80A Plus", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Tervane", "TV-801", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Korrin", "Quay 801", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Bellmoor", "BM-8010", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Pellicor", "PR-801", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Vantrel", "Tern 80A", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Orvanta", "Slate 80", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Kelvrin", "Vela 80", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Sedrane", "SR-80A", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1001, ROW("Wrenfield", "Wren 80", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    // row 13
    {0x1009, ROW("Ovik", "Keel 80S", RECEIPT_BOARD), 0x201, 576, 8401, 28680, 0.0625f},
    // row 14
    {0x1002, ROW("Ovik", "Tern 80B", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Ovik", "Tern 80B Plus", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Ovik", "Tern 80B Net", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Tervane", "TV-802", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Korrin", "Quay 802", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Bellmoor", "BM-8020", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Pellicor", "PR-802", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Vantrel", "Tern 80B", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Orvanta", "Slate 80 II", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Kelvrin", "Vela 80S", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Sedrane", "SR-80B", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW("Wrenfield", "Wren 80 II", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    {0x1002, ROW_NAME_ONLY("Tern 80B", RECEIPT), 0x201, 576, 8401, 28679, 0.0625f},
    // row 27
    {0x1003, ROW("Ovik", "Tern 80C", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Ovik", "Tern 80C Plus", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Ovik", "Tern 80C Net", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Ovik", "Tern 80C Serial", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Tervane", "TV-803", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Tervane", "TV-803N", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Korrin", "Quay 803", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Bellmoor", "BM-8030", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Bellmoor", "BM-8030N", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Pellicor", "PR-803", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Vantrel", "Tern 80C", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Orvanta", "Slate 80 III", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Kelvrin", "Vela 80C", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Sedrane", "SR-80C", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Sedrane", "SR-80C Net", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Wrenfield", "Wren 80 III", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1003, ROW("Halcott", "HC-800", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    // row 44
    {0x1004, ROW("Ovik", "Tern 80D", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1004, ROW("Tervane", "TV-804", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1004, ROW("Tervane", "TV-804K", RECEIPT), 0x201, 576, 8401, 28681, 0.0625f},
    {0x1004, ROW("Korrin", "Quay 804", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1004, ROW("Korrin", "Quay 804K", RECEIPT), 0x201, 576, 8401, 28681, 0.0625f},
    {0x1004, ROW("Vantrel", "Tern 80D", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    // row 50
    {0x1005, ROW("Ovik", "Tern 80E", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1005, ROW("Bellmoor", "BM-8050", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1005, ROW("Kelvrin", "Vela 80E", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    // row 53
    {0x1006, ROW("Ovik", "Tern 80F", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1006, ROW("Pellicor", "PR-806", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1006, ROW("Orvanta", "Slate 80F", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1006, ROW("Sedrane", "SR-80F", RECEIPT), 0x201, 576, 8401, 28680, 0.0625f},
    {0x1006, ROW("Ovik", "Tern 80F Lite", RECEIPT), 0x201, 576, 8401, 28679, 0.125f},
    // row 58
    {0x1011, ROW("Ovik", "Tern 58A", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1011, ROW("Tervane", "TV-581", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1011, ROW("Korrin", "Quay 581", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1011, ROW("Ovik", "Tern 58A BT", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    {0x1011, ROW("Bellmoor", "BM-5810", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    {0x1011, ROW("Kelvrin", "Vela 58", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    {0x1011, ROW("Vantrel", "Tern 58A BT", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    // row 65
    {0x1013, ROW("Ovik", "Tern 58C", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    {0x1013, ROW("Pellicor", "PR-583", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    {0x1013, ROW("Wrenfield", "Wren 58", RECEIPT), 0x401, 384, 10927, 41217, 0.125f},
    // row 68
    {0x1012, ROW("Ovik", "Tern 58B", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    // row 69
    {0x1021, ROW("Ovik", "Tern 54", RECEIPT), 0x401, 432, 8401, 28680, 0.125f},
    // row 70
    {0x1101, ROW("Ovik", "Finch 58", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1101, ROW("Tervane", "TV-5810", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1101, ROW("Orvanta", "Cobble 58", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1101, ROW("Halcott", "HC-580", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    // row 74
    {0x3220, ROW("Ovik", "Finch 58 Pro", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x3220, ROW("Sedrane", "SR-58P", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    // row 76
    {0x1102, ROW("Ovik", "Finch 80", RECEIPT), 0x401, 576, 8401, 28680, 0.125f},
    {0x1102, ROW("Ovik", "Finch 80 Label", LABEL), 0x401, 576, 8401, 28680, 0.125f},
    {0x1102, ROW("Korrin", "Quay 810", RECEIPT), 0x401, 576, 8401, 28680, 0.125f},
    {0x1102, ROW_NO_CATEGORY("Bellmoor", "BM-8100"), 0x401, 576, 8401, 28680, 0.125f},
    {0x1102, ROW("Kelvrin", "Vela 80 Pro", RECEIPT), 0x401, 576, 8401, 28680, 0.125f},
    {0x1102, ROW("Halcott", "HC-810", RECEIPT), 0x401, 576, 8401, 28680, 0.125f},
    // row 82
    {0x1104, ROW("Ovik", "Finch 80 Pro", RECEIPT), 0x401, 576, 8401, 28680, 0.125f},
    {0x1104, ROW("Pellicor", "PR-810", RECEIPT), 0x401, 576, 8401, 28680, 0.125f},
    // row 84
    {0x1131, ROW("Ovik", "Finch 58S", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1131, ROW("Wrenfield", "Wren 58S", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    // row 86
    {0x1151, ROW("Ovik", "Finch 58K", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1151, ROW("Tervane", "TV-5815", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    {0x1151, ROW("Korrin", "Quay 5815", RECEIPT), 0x401, 384, 8401, 28680, 0.125f},
    // row 89
    {0x1151, ROW("Ovik", "Jaunt 58K", MOBILE), 0x201, 384, 8401, 28680, 0.125f},
    // row 90
    {0x1103, ROW("Ovik", "Jaunt 58", MOBILE), 0x401, 384, 10927, 663809, 0.125f},
    {0x1103, ROW("Vantrel", "Jaunt 58", MOBILE), 0x401, 384, 10927, 663809, 0.125f},
    // row 92
    {0x1191, ROW("Ovik", "Finch 210", RECEIPT), 0x401, 1680, 8401, 28680, 0.125f},
    // row 93
    {0x1191, ROW("Ovik", "Finch 297", RECEIPT), 0x401, 2376, 8401, 28680, 0.125f},
    // row 94
    {0x1191, ROW("Orvanta", "Slate 210", RECEIPT), 0x401, 1680, 8401, 28680, 0.0625f},
    // row 95
    {0x1541, ROW("Ovik", "Keel 58U", RECEIPT_BOARD), 0x1101, 384, 8401, 28680, 0.125f},
    // row 96
    {0x1562, ROW("Ovik", "Keel 58L", LABEL_BOARD), 0x1201, 384, 8401, 28680, 0.125f},
    {0x1562, ROW("Tervane", "TV-LB58", LABEL_BOARD), 0x1201, 384, 8401, 28680, 0.125f},
    // row 98
    {0x1565, ROW("Ovik", "Keel 56L", LABEL_BOARD), 0x1201, 448, 8401, 28680, 0.125f},
    // row 99
    {0x1721, ROW("Ovik", "Keel 80M", RECEIPT_BOARD), 0x101, 576, 8401, 28680, 0.125f},
    // row 100
    {0x1725, ROW("Ovik", "Keel 80N", RECEIPT_BOARD), 0x101, 576, 8401, 28680, 0.125f},
    {0x1725, ROW("Kelvrin", "Vela 80 Board", RECEIPT_BOARD), 0x101, 576, 8401, 28680, 0.125f},
    {0x1725, ROW("Ovik", "Keel 80N Lite", RECEIPT_BOARD), 0x101, 576, 8401, 28679, 0.125f},
    // row 103
    {0x1955, ROW("Ovik", "Keel 80P", RECEIPT_BOARD), 0x1, 576, 8401, 28680, 0.125f},
    // row 104
    {0x1956, ROW("Ovik", "Keel 80Q", RECEIPT_BOARD), 0x1, 576, 8401, 28680, 0.125f},
    // row 105
    {0x1486, ROW("Ovik", "Keel 80", RECEIPT_BOARD), 0x101, 576, 8401, 28680, 0.125f},
    // row 106
    {0x3102, ROW("Ovik", "Heron 4A", LABEL), 0x2, 848, 8401, 28680, 0.125f},
    // row 107
    {0x3103, ROW("Ovik", "Heron 4B", LABEL), 0x2, 848, 8401, 28680, 0.125f},
    // row 108
    {0x3104, ROW("Ovik", "Heron 4C", LABEL), 0x2, 848, 8401, 28680, 0.125f},
    // row 109
    {0x3105, ROW("Ovik", "Heron 4D", LABEL), 0x2, 848, 8401, 28680, 0.125f},
    // row 110
    {0x3103, ROW("Tervane", "TV-L4B", LABEL), 0x2, 848, 8401, 28680, 0.125f},
    {0x3103, ROW("Vantrel", "Heron 4B", LABEL), 0x2, 848, 8401, 28680, 0.125f},
    // row 112
    {0x9601, ROW("Ovik", "Lark 58 Duo", LABEL_RECEIPT), 0x3, 384, 8401, 28680, 0.125f},
    // row 113
    {0x9601, ROW("Ovik", "Lark 58", LABEL_RECEIPT), 0x1, 384, 8401, 28680, 0.125f},
    {0x9601, ROW("Tervane", "TV-D58", LABEL_RECEIPT), 0x1, 384, 8401, 28680, 0.125f},
    {0x9601, ROW("Bellmoor", "BM-5860", LABEL_RECEIPT), 0x1, 384, 8401, 28680, 0.125f},
    {0x9601, ROW("Vantrel", "Lark 58", LABEL_RECEIPT), 0x1, 384, 8401, 28680, 0.125f},
    {0x9601, ROW("Halcott", "HC-586", LABEL_RECEIPT), 0x1, 384, 8401, 28680, 0.125f},
    // row 118
    {0x9602, ROW("Ovik", "Lark 80 Duo", LABEL_RECEIPT), 0x3, 576, 8401, 28680, 0.125f},
    {0x9602, ROW("Korrin", "Quay 80 Duo", LABEL_RECEIPT), 0x3, 576, 8401, 28680, 0.125f},
    {0x9602, ROW("Vantrel", "Lark 80 Duo", LABEL_RECEIPT), 0x3, 576, 8401, 28680, 0.125f},
    // row 121
    {0x9602, ROW("Ovik", "Lark 80", LABEL_RECEIPT), 0x1, 576, 8401, 28680, 0.125f},
    {0x9602, ROW("Pellicor", "PR-860", LABEL_RECEIPT), 0x1, 576, 8401, 28680, 0.125f},
    {0x9602, ROW("Kelvrin", "Vela 80 Duo", LABEL_RECEIPT), 0x1, 576, 8401, 28680, 0.125f},
    // row 124
    {0x9603, ROW("Ovik", "Heron 4E", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x9603, ROW("Orvanta", "Slate L4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x9603, ROW("Sedrane", "SR-L4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    // row 127
    {0x2042, ROW("Ovik", "Avocet 4", LABEL), 0x38, 864, 8401, 28680, 0.125f},
    // row 128
    {0x2042, ROW("Ovik", "Avocet 4 Lite", LABEL), 0x8, 848, 8401, 28680, 0.125f},
    // row 129
    {0x3001, ROW("Ovik", "Egret 4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Ovik", "Egret 4 Plus", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Tervane", "TV-L40", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Korrin", "Quay L4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Bellmoor", "BM-4000", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Pellicor", "PL-400", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Vantrel", "Egret 4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3001, ROW("Wrenfield", "Wren L4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    // row 137
    {0x3108, ROW("Ovik", "Egret 4T", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Ovik", "Egret 4T Plus", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Tervane", "TV-L48", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Korrin", "Quay L48", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Bellmoor", "BM-4800", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Pellicor", "PL-480", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Orvanta", "Slate L48", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Kelvrin", "Vela L4", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Sedrane", "SR-L48", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    {0x3108, ROW("Halcott", "HC-L48", LABEL), 0x2, 864, 8401, 28680, 0.125f},
    // row 147
    {0x4001, ROW("Ovik", "Plover 80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x4001, ROW("Tervane", "TV-D80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    // row 149
    {0x3201, ROW("Ovik", "Plover 80S", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Ovik", "Plover 80S Net", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Ovik", "Plover 80S BT", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Tervane", "TV-D81", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Tervane", "TV-D81N", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Korrin", "Quay D81", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Korrin", "Quay D81N", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Bellmoor", "BM-8600", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Bellmoor", "BM-8600N", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Pellicor", "PD-810", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Pellicor", "PD-810N", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Vantrel", "Plover 80S", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Vantrel", "Plover 80S Net", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Orvanta", "Slate D80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Orvanta", "Slate D80N", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Kelvrin", "Vela D80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Sedrane", "SR-D80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Wrenfield", "Wren D80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Halcott", "HC-D80", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW_NAME_ONLY("Plover 80S", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    {0x3201, ROW("Halcott", "HC-D80N", LABEL_RECEIPT), 0x40, 576, 8401, 28680, 0.125f},
    // row 170
    {0x3201, ROW("Ovik", "Plover 80S Duo", LABEL_RECEIPT), 0x42, 576, 8401, 28680, 0.125f},
    // row 171: the catch-all model
    {-1, "Unknown", "unknown", "", "", 0xFFFFFFFF, 0, 0, 0, 0.0f},
};

#undef ROW
#undef ROW_NAME_ONLY
#undef ROW_NO_CATEGORY
#undef RECEIPT
#undef LABEL_RECEIPT
#undef LABEL
#undef RECEIPT_BOARD
#undef LABEL_BOARD
#undef MOBILE

namespace {

// The properties a model id brings beyond its catalogue row.
struct model_profile {
  int32_t id;
  uint8_t attr1, attr2, attr3, attr4, attr5;
  bool pagemode_supported;
  const char *pagemode_area;
  const char *fonts;
  float motion_v;
  uint8_t attr9;
};

// What a record holds for an id without a profile of its own.
constexpr model_profile profile_defaults = {0, 0, 0, 2, 0, 0, false, PAGEMODE_AREA_DEFAULT, FONTS_DEFAULT, 0.125f, 0};

// 80 mm page-mode receipt printers; attr2 differs per id.
constexpr model_profile p1(int32_t id, uint8_t attr2)
{
  return {id, 1, attr2, 2, 3, 1, true, PAGEMODE_AREA_2, FONTS_2, 0.0625f, 0};
}

// 58 mm receipt printers.
constexpr model_profile p2(int32_t id)
{
  model_profile p = profile_defaults;
  p.id = id;
  p.attr4 = 3;
  return p;
}

// Later receipt, mobile and wide printers; some with page mode.
constexpr model_profile p3(int32_t id, bool pagemode, uint8_t attr9)
{
  model_profile p = profile_defaults;
  p.id = id;
  p.pagemode_supported = pagemode;
  p.attr9 = attr9;
  return p;
}

// Control boards with page mode.
constexpr model_profile p4(int32_t id)
{
  model_profile p = p3(id, true, 0);
  p.attr3 = 5;
  return p;
}

// Feed-step control boards.
constexpr model_profile p5(int32_t id)
{
  model_profile p = profile_defaults;
  p.id = id;
  p.attr1 = 1;
  p.attr2 = 5;
  p.attr3 = 5;
  p.attr4 = 3;
  p.motion_v = 0.0625f;
  return p;
}

// Models known to keep every default.
constexpr model_profile p6(int32_t id)
{
  return p3(id, false, 0);
}

// Profiles by model id; an id missing here keeps the defaults.
constexpr model_profile profile_table[] = {
    p1(0x1001, 23),       p1(0x1002, 22),      p1(0x1003, 24),      p1(0x1004, 22),       p1(0x1005, 22),
    p1(0x1006, 22),       p2(0x1011),          p2(0x1012),          p2(0x1013),           p2(0x1021),
    p3(0x1101, false, 1), p3(0x1102, true, 0), p3(0x1103, true, 0), p3(0x1104, false, 0), p3(0x1131, false, 0),
    p3(0x1151, false, 0), p3(0x1191, true, 0), p3(0x3220, true, 0), p4(0x1541),           p4(0x1562),
    p5(0x1955),           p5(0x1956),          p6(0x1721),          p6(0x1725),           p6(0x3102),
    p6(0x3103),           p6(0x9601),          p6(0x9602),
};

// Records handed out by get_model_instance; slots fill from the front.
ovik_printer_model *models_table[OVIK_MODEL_COUNT];

// Exact comparison that treats a missing text as matching nothing.
bool same_text(const char *a, const char *b)
{
  return a && b && std::strcmp(a, b) == 0;
}

// The first catalogue row that satisfies match, or nullptr.
template <typename Match>
const ovik_model_brief *first_row(Match match)
{
  auto row = std::find_if(std::begin(model_brief_table), std::end(model_brief_table), match);
  return row == std::end(model_brief_table) ? nullptr : row;
}

// Hands out a new record built from row (nullptr: no such model).
int create_from_row(const ovik_model_brief *row, ovik_printer_model **out)
{
  if (!out)
    return OVIK_ERR_PARAMETER;
  *out = nullptr;
  if (!row)
    return OVIK_ERR_MODEL;
  auto *model = static_cast<ovik_printer_model *>(std::calloc(1, sizeof(ovik_printer_model)));
  if (!model)
    return OVIK_ERR_MEMORY;
  model->struct_size = OVIK_MODEL_STRUCT_SIZE;
  model_set_properties(row, model); // an id without a profile still gets a record
  *out = model;
  return OVIK_SUCCESS;
}

// Refills a caller's record from row (nullptr: no such model, record untouched).
int refill_from_row(const ovik_model_brief *row, ovik_printer_model *model)
{
  if (!model || model->struct_size != OVIK_MODEL_STRUCT_SIZE)
    return OVIK_ERR_PARAMETER;
  if (!row)
    return OVIK_ERR_MODEL;
  return model_set_properties(row, model);
}

// Reports class and width (and the name when asked) of row.
int row_info(const ovik_model_brief *row, const char **name, uint32_t *printer_class, int32_t *width_dots)
{
  if (!row)
    return OVIK_ERR_MODEL;
  if (name)
    *name = row->name;
  if (printer_class)
    *printer_class = row->printer_class;
  if (width_dots)
    *width_dots = row->width_dots;
  return OVIK_SUCCESS;
}

// Writes a one-byte value (type code 4).
void get_property_byte(uint8_t value, int *type, void *buf, int /*len*/, int *out_len)
{
  *type = PROP_TYPE_BYTE;
  if (buf)
    static_cast<uint8_t *>(buf)[0] = value;
  if (out_len)
    *out_len = 1;
}

// Writes a flag as one byte 0 or 1 (type code 1).
void get_property_bool(bool value, int *type, void *buf, int len, int *out_len)
{
  get_property_byte(value ? 1 : 0, type, buf, len, out_len);
  *type = PROP_TYPE_BOOL;
}

// Writes a 32-bit value little-endian, cut at len, the rest of buf cleared.
void get_property_int(int32_t value, int *type, void *buf, int len, int *out_len)
{
  *type = PROP_TYPE_INT;
  if (buf) {
    auto *bytes = static_cast<uint8_t *>(buf);
    std::memset(bytes, 0, static_cast<size_t>(len));
    for (int i = 0; i < std::min(len, 4); i++)
      bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
  }
  if (out_len)
    *out_len = 4;
}

// Copies a text's bytes, cut at len, without terminator; reports its full length.
void get_property_string(const char *text, int *type, void *buf, int len, int *out_len)
{
  *type = PROP_TYPE_STRING;
  if (!text)
    text = "";
  int length = static_cast<int>(std::strlen(text));
  if (buf)
    std::memcpy(buf, text, static_cast<size_t>(std::min(len, length)));
  if (out_len)
    *out_len = length;
}

// Replaces buf's first wide characters by text widened into len / 4 of them
// (terminator included); buf is untouched when the text does not fit.
bool widen_into(const char *text, void *buf, int len)
{
  int capacity = len / static_cast<int>(sizeof(wchar_t));
  std::vector<wchar_t> wide(static_cast<size_t>(std::max(capacity, 1)));
  int count = 0;
  if (a2w(wide.data(), capacity, text, static_cast<int>(std::strlen(text)), LANGUAGE_ENGLISH, &count) != OVIK_SUCCESS)
    return false;
  std::memcpy(buf, wide.data(), static_cast<size_t>(count) * sizeof(wchar_t));
  return true;
}

using property_query = int (*)(const ovik_printer_model *, int, int *, void *, int, int *);

// Runs a property query on the cached record of id.
int cached_query(property_query query, int32_t id, int property, int *type, void *buf, int len, int *out_len)
{
  ovik_printer_model *model = nullptr;
  int rc = get_model_instance(id, &model);
  if (rc != OVIK_SUCCESS)
    return rc;
  return query(model, property, type, buf, len, out_len);
}

} // namespace

// First row with this model id.
const ovik_model_brief *ovik_printer_model_brief_find_by_id(int32_t id)
{
  return first_row([id](const ovik_model_brief &row) { return row.id == id; });
}

// Copies the identifying fields of every row with this id; the last one stays.
int ovik_printer_model_brief_find_by_id2(int32_t id, ovik_model_brief *out)
{
  if (!out)
    return OVIK_ERR_PARAMETER;
  for (const ovik_model_brief &row : model_brief_table) {
    if (row.id != id)
      continue;
    out->id = row.id;
    out->name = row.name;
    out->description = row.description;
    out->width_dots = row.width_dots;
  }
  return OVIK_SUCCESS;
}

// First row whose model name equals name.
const ovik_model_brief *ovik_printer_model_brief_find_by_name(const char *name)
{
  return first_row([name](const ovik_model_brief &row) { return same_text(row.name, name); });
}

// First row whose identity equals identity.
const ovik_model_brief *ovik_printer_model_brief_find_by_identity(const char *identity)
{
  return first_row([identity](const ovik_model_brief &row) { return same_text(row.identity, identity); });
}

// Name, raw class and width of the first row with this id.
int ovik_printer_model_get_info_by_id(int32_t id, const char **name, uint32_t *printer_class, int32_t *width_dots)
{
  return row_info(ovik_printer_model_brief_find_by_id(id), name, printer_class, width_dots);
}

// Raw class and width of the first row with this model name.
int ovik_printer_model_get_info_by_name(const char *name, uint32_t *printer_class, int32_t *width_dots)
{
  return row_info(ovik_printer_model_brief_find_by_name(name), nullptr, printer_class, width_dots);
}

// New record for the first row with this id.
int ovik_printer_model_creator(int32_t id, ovik_printer_model **out)
{
  return create_from_row(ovik_printer_model_brief_find_by_id(id), out);
}

// New record for the first row with this model name (the PPD's short nickname).
int ovik_printer_model_creator2(const char *name, ovik_printer_model **out)
{
  return create_from_row(ovik_printer_model_brief_find_by_name(name), out);
}

// New record for the first row with this identity.
int ovik_printer_model_creator_by_identity(const char *identity, ovik_printer_model **out)
{
  return create_from_row(ovik_printer_model_brief_find_by_identity(identity), out);
}

// Releases a record made by one of the creators.
int ovik_printer_model_destroy(ovik_printer_model *model)
{
  if (!model)
    return OVIK_ERR_HANDLE;
  std::free(model);
  return OVIK_SUCCESS;
}

// Refills a caller's record from the first row with this id.
int ovik_printer_model_get_by_id(int32_t id, ovik_printer_model *model)
{
  return refill_from_row(ovik_printer_model_brief_find_by_id(id), model);
}

// Refills a caller's record from the first row with this model name.
int ovik_printer_model_get_by_name(const char *name, ovik_printer_model *model)
{
  return refill_from_row(ovik_printer_model_brief_find_by_name(name), model);
}

// Fills model from row and the profile of its id.
int model_set_properties(const ovik_model_brief *row, ovik_printer_model *model)
{
  if (!row || !model)
    return OVIK_ERR_PARAMETER;
  model->id = row->id;
  model->manufacturer = row->manufacturer;
  model->name = row->name;
  model->identity = row->identity;
  model->description = row->description;
  // Only the id's low byte goes above the class bits.
  model->type = ((static_cast<uint32_t>(row->id) & 0xFF) << 16) | row->printer_class;
  model->width_dots = row->width_dots;
  model->code1 = row->code1;
  model->code2 = row->code2;
  model->aux_unit = row->aux_unit;

  auto found = std::find_if(std::begin(profile_table), std::end(profile_table),
                            [row](const model_profile &p) { return p.id == row->id; });
  const bool has_profile = found != std::end(profile_table);
  const model_profile &profile = has_profile ? *found : profile_defaults;
  model->attr1 = profile.attr1;
  model->attr2 = profile.attr2;
  model->attr3 = profile.attr3;
  model->attr4 = profile.attr4;
  model->attr5 = profile.attr5;
  model->pagemode_supported = profile.pagemode_supported;
  model->pagemode_area = profile.pagemode_area;
  model->fonts = profile.fonts;
  model->motion_v = profile.motion_v;
  model->attr9 = profile.attr9;
  // The same for every model.
  model->barcode_set = BARCODESET_DEFAULT;
  model->attr6 = 1;
  model->attr7 = 1;
  model->attr8 = 8;
  model->resolution = 203;
  model->motion_h = 0.125f;
  return has_profile ? OVIK_SUCCESS : OVIK_ERR_MODEL;
}

// Lends the cached record of id, creating it in the first free slot.
int get_model_instance(int32_t id, ovik_printer_model **out)
{
  if (!out)
    return OVIK_ERR_PARAMETER;
  *out = nullptr;
  for (ovik_printer_model *&slot : models_table) {
    if (!slot) {
      int rc = ovik_printer_model_creator(id, &slot);
      *out = slot;
      return rc;
    }
    if (slot->id == id) {
      *out = slot;
      return OVIK_SUCCESS;
    }
  }
  return OVIK_SUCCESS;
}

// Empties the record cache.
void ovik_printer_model_detach(void)
{
  for (ovik_printer_model *&slot : models_table) {
    std::free(slot);
    slot = nullptr;
  }
}

// Tab-separated model names of a manufacturer's rows, as many as fit.
int ovik_printer_model_get_manufacture_modelnames(const char *manufacturer, char *buf, int buf_len, int *total)
{
  if (total)
    *total = 0;
  if (buf && buf_len > 0)
    buf[0] = '\0';
  int position = 0;
  int sum = 0;
  for (const ovik_model_brief &row : model_brief_table) {
    if (!same_text(row.manufacturer, manufacturer))
      continue;
    const int length = static_cast<int>(std::strlen(row.name));
    sum += length;
    // Room for the name, its tab and the terminator; a longer name is skipped.
    if (buf && buf_len - position > length + 2) {
      std::memcpy(buf + position, row.name, static_cast<size_t>(length));
      buf[position + length] = '\t';
      position += length + 1;
      buf[position] = '\0';
    }
  }
  if (sum > 0 && total) {
    *total = sum;
    return OVIK_SUCCESS;
  }
  return OVIK_ERR_PARAMETER;
}

// The manufacturer's model names as wide characters.
int ovik_printer_model_get_manufacture_modelnames_wchar(const char *manufacturer, wchar_t *buf, int buf_len, int *total)
{
  // Pick the names for the wide capacity, not for buf_len narrow bytes, or a
  // list that fills the bytes could never be widened into them.
  const int capacity = std::max(buf_len / static_cast<int>(sizeof(wchar_t)), 0);
  std::string narrow(static_cast<size_t>(capacity), '\0');
  if (ovik_printer_model_get_manufacture_modelnames(manufacturer, buf ? narrow.data() : nullptr, capacity, total) !=
      OVIK_SUCCESS)
    return 0;
  if (!buf)
    return 1;
  if (buf_len > 0)
    std::memset(buf, 0, static_cast<size_t>(buf_len));
  widen_into(narrow.c_str(), buf, buf_len);
  return 1;
}

// One property of a record into the caller's buffer.
int ovik_printer_model_get_property(const ovik_printer_model *model, int property, int *type, void *buf, int len,
                                    int *out_len)
{
  if (!model || model->struct_size != OVIK_MODEL_STRUCT_SIZE || !type || (!buf && !out_len) || (buf && len <= 0))
    return OVIK_ERR_PARAMETER;
  switch (property) {
  case PROP_MODEL_ID:
    get_property_int(model->id, type, buf, len, out_len);
    break;
  case PROP_MODEL_NAME:
    get_property_string(model->name, type, buf, len, out_len);
    break;
  case PROP_PAGEMODE:
    get_property_bool(model->pagemode_supported, type, buf, len, out_len);
    break;
  case PROP_PAGEMODE_AREA:
    get_property_string(model->pagemode_area, type, buf, len, out_len);
    break;
  default:
    return OVIK_ERR_PARAMETER;
  }
  return OVIK_SUCCESS;
}

// One property of a record, texts as wide characters.
int ovik_printer_model_get_property_wchar(const ovik_printer_model *model, int property, int *type, void *buf, int len,
                                          int *out_len)
{
  int rc = ovik_printer_model_get_property(model, property, type, buf, len, out_len);
  if (rc != OVIK_SUCCESS || *type != PROP_TYPE_STRING)
    return rc;
  int length = 0; // the text's full narrow length
  ovik_printer_model_get_property(model, property, type, nullptr, 0, &length);
  if (buf) {
    // The narrow copy carries no terminator: widen a terminated copy of it.
    std::string copied(static_cast<const char *>(buf), static_cast<size_t>(std::min(len, length)));
    widen_into(copied.c_str(), buf, len);
  }
  // Catalogue texts are ASCII: one wide character per byte.
  if (out_len)
    *out_len = length * static_cast<int>(sizeof(wchar_t));
  return OVIK_SUCCESS;
}

// One property of the cached record of a model id.
int ovik_printer_model_id_get_property(int32_t id, int property, int *type, void *buf, int len, int *out_len)
{
  return cached_query(ovik_printer_model_get_property, id, property, type, buf, len, out_len);
}

// One property of the cached record of a model id, texts as wide characters.
int ovik_printer_model_id_get_property_wchar(int32_t id, int property, int *type, void *buf, int len, int *out_len)
{
  return cached_query(ovik_printer_model_get_property_wchar, id, property, type, buf, len, out_len);
}
