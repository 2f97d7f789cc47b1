/*
 * floor.c - the least that any raster filter does: open the job's raster
 * with libcups and read every page's pixels, each page in one piece, as
 * rastertoovik does. Nothing is written. Reads standard input, or the named
 * file. Plain C, so that it loads no more libraries than libcups needs.
 */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <cups/raster.h>

/* Reads every page of the raster and exits: 0, or 1 when it cannot. */
int main(int argc, char **argv)
{
  int fd = argc > 1 ? open(argv[1], O_RDONLY) : 0;
  cups_raster_t *ras = fd < 0 ? NULL : cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (!ras) {
    fputs("ovik-bench-floor: cannot open the raster\n", stderr);
    return 1;
  }
  cups_page_header2_t header;
  uint8_t *page = NULL;
  size_t capacity = 0;
  while (cupsRasterReadHeader2(ras, &header)) {
    size_t size = (size_t)header.cupsBytesPerLine * header.cupsHeight;
    if (size > capacity) {
      free(page);
      capacity = size;
      page = malloc(capacity);
      if (!page)
        return 1;
    }
    if (cupsRasterReadPixels(ras, page, (unsigned)size) != size) {
      fputs("ovik-bench-floor: short read\n", stderr);
      return 1;
    }
  }
  free(page);
  cupsRasterClose(ras);
  if (fd != 0)
    close(fd);
  return 0;
}
