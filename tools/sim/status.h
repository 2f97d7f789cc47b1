/*
 * status.h - what the simulated printer answers: its conditions and the
 * bytes of its replies to the status requests (DLE EOT n, GS r n, GS I A)
 * and of its automatic status back messages (after GS a n).
 */
#ifndef OVIK_SIM_STATUS_H
#define OVIK_SIM_STATUS_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/* The printer's condition; the names are the words of the state file. */
enum class condition { ready, near_end, paper_out, cover_open, offline, silent };

/* What a condition is made of: the sensor and error states the replies report. */
struct condition_row {
  condition id;
  const char *name;
  bool offline;    /* not taking print data */
  bool cover_open; /* the paper cover is open */
  bool near_end;   /* the near-end sensor sees little or no paper */
  bool paper_end;  /* the roll is out: printing stopped */
  bool error;      /* an error that recovers by itself (a hot head): the reason of "offline" */
  bool silent;     /* answers nothing at all */
};

/* Every condition, in the order of the enumeration. */
extern const std::array<condition_row, 6> condition_rows;

/* The row of a condition. */
const condition_row &condition_info(condition c);

/* The condition named by word; false when the word names none. */
bool condition_by_name(const std::string &word, condition &c);

/* The reply to DLE EOT n: one byte, or nothing (n outside 1-4, or silent). */
std::vector<uint8_t> real_time_status_reply(condition c, uint32_t n);

/* The reply to GS r n: one byte, or nothing (n not 1, 2, 0x31, 0x32, or silent). */
std::vector<uint8_t> transmit_status_reply(condition c, uint32_t n);

/* The reply to GS I A: "_", the version, a space and a NUL (nothing when silent). */
std::vector<uint8_t> printer_version_reply(condition c, const std::string &version);

/* The four bytes of an automatic status back message (nothing when silent). */
std::vector<uint8_t> automatic_status_back(condition c);

#endif
