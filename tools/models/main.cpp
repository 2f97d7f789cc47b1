/*
 * ovik-models - prints the model catalogue as tab-separated text, one line a
 * row after a header line: the list to pick a PPD's model name from, and the
 * input from which the PPD set is generated. With --keywords, the job
 * keywords the same way: the input of the PPD options.
 */
#include <cstdio>
#include <cstring>

#include "ovik_engine.h"
#include "ovik_printer_model.h"

namespace {

const char usage[] = "Usage: ovik-models [--no-header] [--keywords]\n"
                     "Prints the printer model catalogue, one tab-separated line a row:\n"
                     "row, id, manufacturer, name, identity, description, printer_class, width_dots,\n"
                     "driver (the PPD file name less .ppd), roll_mm, page_width_pt and the page lengths\n"
                     "in mm, the default marked *, and their labels separated by |. The name is what a\n"
                     "PPD's ShortNickName must equal.\n"
                     "  --keywords   print the job keywords instead, one line each: keyword, label,\n"
                     "               PPD group (- for none), IPP name (- for a standard attribute),\n"
                     "               default (the settings' own: it changes nothing), the choices\n"
                     "               as value/label separated by |, and the default PPDs and the\n"
                     "               printer application offer\n"
                     "  --no-header  leave out the header line\n"
                     "  --help       show this text\n";

// Prints the header (when asked) and every catalogue row.
void print_catalogue(bool header)
{
  if (header)
    std::printf("row\tid\tmanufacturer\tname\tidentity\tdescription\tprinter_class\twidth_dots\tdriver\troll_"
                "mm\tpage_width_pt\tpage_lengths_mm\tpage_labels\n");
  size_t lengths_count = 0;
  int default_length = 0;
  const int *lengths = ovik_page_lengths_mm(&lengths_count, &default_length);
  for (int i = 0; i < OVIK_MODEL_COUNT; i++) {
    const ovik_model_brief &row = model_brief_table[i];
    char driver[128];
    ovik_driver_name(row.name, driver, sizeof driver);
    std::printf("%d\t0x%x\t%s\t%s\t%s\t%s\t0x%x\t%d\t%s\t%d\t%.4f\t", i + 1, static_cast<unsigned>(row.id),
                row.manufacturer, row.name, row.identity, row.description, static_cast<unsigned>(row.printer_class),
                static_cast<int>(row.width_dots), driver, ovik_roll_mm(row.width_dots),
                ovik_page_width_points(row.width_dots));
    for (size_t l = 0; l < lengths_count; l++)
      std::printf("%s%d%s", l ? " " : "", lengths[l], lengths[l] == default_length ? "*" : "");
    std::printf("\t");
    for (size_t l = 0; l < lengths_count; l++) {
      char label[64];
      snprintf(label, sizeof label, ovik_page_size_format(row.width_dots), ovik_roll_mm(row.width_dots), lengths[l]);
      std::printf("%s%s", l ? "|" : "", label);
    }
    std::printf("\n");
  }
}

// Prints the header (when asked) and every job keyword.
void print_keywords(bool header)
{
  if (header)
    std::printf("keyword\tlabel\tgroup\tipp_name\tdefault\tchoices\toffered\n");
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  for (size_t i = 0; i < count; i++) {
    const ovik_keyword &k = table[i];
    std::printf("%s\t%s\t%s\t%s\t%s\t", k.keyword, k.label, k.group ? k.group : "-", k.ipp_name ? k.ipp_name : "-",
                k.default_value ? k.default_value : "-");
    for (int c = 0; c < k.num_choices; c++)
      std::printf("%s%s/%s", c ? "|" : "", k.choices[c].value, k.choices[c].label);
    const char *offered = ovik_keyword_offered_default(&k);
    std::printf("\t%s\n", offered ? offered : "-");
  }
}

} // namespace

// Parses the options and prints the catalogue or the keywords.
int main(int argc, char *argv[])
{
  bool header = true, keywords = false;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(usage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--keywords") == 0) {
      keywords = true;
      continue;
    }
    if (std::strcmp(argv[i], "--no-header") == 0) {
      header = false;
      continue;
    }
    std::fprintf(stderr, "ovik-models: unknown option %s\n%s", argv[i], usage);
    return 2;
  }
  if (keywords)
    print_keywords(header);
  else
    print_catalogue(header);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
