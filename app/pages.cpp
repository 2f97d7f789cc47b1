/*
 * pages.cpp - a printer's Printing Defaults and Media pages, in words.
 *
 * PAPPL 1.3.1's own pages show a vendor attribute by its name with a bare
 * number field for an integer (cut-paper-length -1), the darkness as
 * percentages (0 % is the printer's own setting here), media by their
 * dimensions in inches when the width is no whole millimetre (2.8378 x
 * 8.26772" for an 80 mm roll) and the media type and tracking as two
 * unlabelled lists that both read "Continuous". These pages take their
 * place. Every setting is a list of the choices the PPDs offer, in the words
 * of the job keyword table and in the client's language (words.cpp), under
 * its label and in the table's groups; a value a client set over IPP that
 * is none of them is shown as it is. The Media page has the roll's page
 * sizes, a custom length and the paper type, whose media tracking follows
 * from the table. What is posted is checked against the table before it
 * becomes a default. The Supplies page names the paper roll in words too.
 */
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ovik_app.h"

namespace {

/* A key's words for the client (PAPPL gives the key back when it has none). */
std::string say(pappl_client_t *client, const std::string &key)
{
  return papplClientGetLocString(client, key.c_str());
}

/* The words of a media: a size of the model's roll as the catalogue names
 * it, any other by its dimensions. */
std::string media_words(pappl_client_t *client, const model_driver &d, const pappl_media_col_t &m)
{
  char text[128];
  int dots = d.row->width_dots;
  std::string format =
      say(client, m.size_width == ovik_app_width_hmm(dots) ? ovik_page_size_format(dots) : "%g x %g mm");
  if (m.size_width == ovik_app_width_hmm(dots))
    snprintf(text, sizeof text, format.c_str(), ovik_roll_mm(dots), (m.size_length + 50) / 100);
  else
    snprintf(text, sizeof text, format.c_str(), m.size_width / 100.0, m.size_length / 100.0);
  return text;
}

/* One entry of a list: what is posted, what the user reads. */
struct item {
  std::string value, words;
};

/* A labelled row with a list; the current value is selected, and shown as
 * it is when it is none of the items. */
void list_row(pappl_client_t *client, const std::string &label, const char *name, const std::vector<item> &items,
              const std::string &current)
{
  papplClientHTMLPrintf(client,
                        "              <tr><th><label for=\"%s\">%s:</label></th><td><select name=\"%s\" id=\"%s\">",
                        name, label.c_str(), name, name);
  bool found = false;
  for (const item &i : items) {
    bool selected = i.value == current;
    found = found || selected;
    papplClientHTMLPrintf(client, "<option value=\"%s\"%s>%s</option>", i.value.c_str(), selected ? " selected" : "",
                          i.words.c_str());
  }
  if (!found && !current.empty())
    papplClientHTMLPrintf(client, "<option value=\"%s\" selected>%s</option>", current.c_str(), current.c_str());
  papplClientHTMLPuts(client, "</select></td></tr>\n");
}

/* A heading row. */
void heading_row(pappl_client_t *client, const std::string &text)
{
  papplClientHTMLPrintf(client, "              <tr><th></th><td><h2 class=\"title\">%s</h2></td></tr>\n", text.c_str());
}

/* The items of a keyword's choices, in words. */
std::vector<item> choice_items(pappl_client_t *client, const ovik_keyword &row)
{
  std::vector<item> items;
  for (int i = 0; i < row.num_choices; i++) {
    const char *value = ovik_app_ipp_value(row, row.choices[i]);
    items.push_back({value, say(client, std::string(ovik_app_ipp_name(row)) + "." + value)});
  }
  return items;
}

/* The items of a PAPPL enumeration, in PAPPL's words for its keywords. */
template <size_t N>
std::vector<item> enum_items(pappl_client_t *client, const char *attribute, const keyword_bit (&table)[N])
{
  std::vector<item> items;
  for (const keyword_bit &k : table)
    items.push_back({k.keyword, say(client, std::string(attribute) + "." + k.keyword)});
  return items;
}

/* The keywords of the table that have a vendor attribute, grouped as the
 * PPDs group them: the groups in the order of their first keyword. */
std::vector<std::pair<std::string, std::vector<const ovik_keyword *>>> vendor_groups()
{
  std::vector<std::pair<std::string, std::vector<const ovik_keyword *>>> groups;
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  for (size_t k = 0; k < count; k++) {
    if (!table[k].group)
      continue;
    std::string group = ovik_app_group_label(table[k].group);
    auto g = groups.begin();
    while (g != groups.end() && g->first != group)
      ++g;
    if (g == groups.end())
      g = groups.insert(groups.end(), {group, {}});
    if (table[k].ipp_name)
      g->second.push_back(&table[k]);
  }
  return groups;
}

/* The darkness steps as percentages, as PAPPL takes print-darkness. */
int darkness_percent(const pappl_pr_driver_data_t &d, int step)
{
  return d.darkness_supported > 1 ? 100 * step / (d.darkness_supported - 1) : 0;
}

/* Takes the posted defaults: each one checked against what it may be;
 * false (nothing changed) when one is not. */
bool save_defaults(pappl_printer_t *printer, const printer_state &, pappl_pr_driver_data_t &d, int n,
                   cups_option_t *form)
{
  if (const char *v = cupsGetOption("print-darkness", n, form)) {
    int step = 0;
    while (step < d.darkness_supported && std::to_string(darkness_percent(d, step)) != v)
      step++;
    if (step == d.darkness_supported)
      return false;
    d.darkness_configured = darkness_percent(d, step);
  }
  if (const char *v = cupsGetOption("print-content-optimize", n, form)) {
    const keyword_bit *k = keyword_row(content_keywords, v);
    if (!k)
      return false;
    d.content_default = static_cast<pappl_content_t>(k->bit);
  }
  if (const char *v = cupsGetOption("print-scaling", n, form)) {
    const keyword_bit *k = keyword_row(scaling_keywords, v);
    if (!k)
      return false;
    d.scaling_default = static_cast<pappl_scaling_t>(k->bit);
  }
  cups_option_t *vendor = nullptr;
  int num_vendor = 0;
  bool ok = true;
  for (const auto &group : vendor_groups())
    for (const ovik_keyword *row : group.second) {
      const char *v = cupsGetOption(row->ipp_name, n, form);
      if (!v)
        continue;
      const char *value = ovik_keyword_value_of_ipp(row, v);
      ok = ok && value && ovik_keyword_accepts(row, value);
      num_vendor = cupsAddOption(row->ipp_name, v, num_vendor, &vendor);
    }
  ok = ok && papplPrinterSetDriverDefaults(printer, &d, num_vendor, vendor);
  cupsFreeOptions(num_vendor, vendor);
  return ok;
}

/* The form's values, or a status text when the form is bad; the options
 * belong to the caller. */
const char *read_form(pappl_client_t *client, int &n, cups_option_t *&form)
{
  n = papplClientGetForm(client, &form);
  if (n == 0)
    return "Invalid form data.";
  if (!papplClientIsValidForm(client, n, form))
    return "Invalid form submission.";
  return nullptr;
}

/* The status banner, in words. */
void banner(pappl_client_t *client, const char *status)
{
  if (status)
    papplClientHTMLPrintf(client, "          <div class=\"banner\">%s</div>\n", say(client, status).c_str());
}

/* The end of a form: its button, the table, the form. */
void form_end(pappl_client_t *client)
{
  papplClientHTMLPrintf(client,
                        "              <tr><th></th><td><input type=\"submit\" value=\"%s\"></td></tr>\n"
                        "            </tbody>\n"
                        "          </table>\n"
                        "        </form>\n",
                        say(client, "Save Changes").c_str());
}

/* Printing Defaults: the media, the darkness, how pictures are printed and
 * scaled, then every vendor setting by its group. */
void defaults_rows(pappl_client_t *client, pappl_printer_t *printer, const printer_state &st,
                   const pappl_pr_driver_data_t &d)
{
  const ovik_keyword *density = ovik_keyword_find("PrintDensity");
  char media_path[256];
  papplPrinterGetPath(printer, "media", media_path, sizeof media_path);
  papplClientHTMLPrintf(client,
                        "              <tr><th>%s:</th><td>%s, %s <a class=\"btn\" href=\"%s\">%s</a></td></tr>\n",
                        say(client, "media").c_str(), media_words(client, *st.driver, d.media_default).c_str(),
                        say(client, std::string("media-type.") + d.media_default.type).c_str(), media_path,
                        say(client, "Configure Media").c_str());
  std::vector<item> steps;
  for (int i = 0; density && i < d.darkness_supported && i < density->num_choices; i++)
    steps.push_back({std::to_string(darkness_percent(d, i)),
                     say(client, std::string("print-darkness.") + ovik_app_ipp_value(*density, density->choices[i]))});
  list_row(client, say(client, "print-darkness"), "print-darkness", steps, std::to_string(d.darkness_configured));
  list_row(client, say(client, "print-content-optimize"), "print-content-optimize",
           enum_items(client, "print-content-optimize", content_keywords),
           keywords(content_keywords, d.content_default, false));
  list_row(client, say(client, "print-scaling"), "print-scaling", enum_items(client, "print-scaling", scaling_keywords),
           keywords(scaling_keywords, d.scaling_default, false));
  papplClientHTMLPrintf(client, "              <tr><th>%s:</th><td>%s</td></tr>\n",
                        say(client, "printer-resolution").c_str(),
                        say(client, "printer-resolution." + std::to_string(d.x_default) + "dpi").c_str());

  ipp_t *attrs = papplPrinterGetDriverAttributes(printer);
  for (const auto &group : vendor_groups()) {
    heading_row(client, say(client, group.first));
    for (const ovik_keyword *row : group.second) {
      char current[256] = "";
      std::string default_name = std::string(row->ipp_name) + "-default";
      if (ipp_attribute_t *a = ippFindAttribute(attrs, default_name.c_str(), IPP_TAG_ZERO))
        ippAttributeString(a, current, sizeof current);
      list_row(client, say(client, row->ipp_name), row->ipp_name, choice_items(client, *row), current);
    }
  }
  ippDelete(attrs);
}

/* The size of the media named (PWG), or false. */
bool pwg_size(const char *name, int &width, int &length)
{
  pwg_media_t *pwg = name ? pwgMediaForPWG(name) : nullptr;
  if (pwg) {
    width = pwg->width;
    length = pwg->length;
  }
  return pwg != nullptr;
}

/* The custom lengths of a driver, in hundredths of millimetres: from its
 * roll_min and roll_max sizes. */
void custom_lengths(const pappl_pr_driver_data_t &d, int &shortest, int &longest)
{
  shortest = longest = 0;
  for (int i = 0; i < d.num_media; i++) {
    int w = 0, l = 0;
    if (std::strncmp(d.media[i], "roll_min_", 9) == 0 && pwg_size(d.media[i], w, l))
      shortest = l;
    if (std::strncmp(d.media[i], "roll_max_", 9) == 0 && pwg_size(d.media[i], w, l))
      longest = l;
  }
}

/* Takes the posted media: a size of the roll or a custom length, and a
 * paper type with the tracking it implies; false when one is none of them. */
bool save_media(pappl_printer_t *printer, const printer_state &st, pappl_pr_driver_data_t &d, int n,
                cups_option_t *form)
{
  const model_driver &md = *st.driver;
  pappl_media_col_t ready = d.media_ready[0];
  const char *size = cupsGetOption("media-size", n, form), *type = cupsGetOption("media-type", n, form);
  int width = 0, length = 0;
  if (size && std::strcmp(size, "custom") == 0) {
    const char *text = cupsGetOption("custom-length", n, form);
    char *end = nullptr;
    double mm = text ? strtod(text, &end) : 0;
    int shortest = 0, longest = 0;
    custom_lengths(d, shortest, longest);
    length = static_cast<int>(std::lround(mm * 100));
    if (!text || end == text || *end || !std::isfinite(mm) || length < shortest || length > longest)
      return false;
    pwg_media_t *pwg = pwgMediaForSize(ovik_app_width_hmm(md.row->width_dots), length);
    if (!pwg)
      return false;
    snprintf(ready.size_name, sizeof ready.size_name, "%s", pwg->pwg);
    ready.size_width = pwg->width;
    ready.size_length = pwg->length;
  } else if (size) {
    bool offered = false;
    for (const std::string &m : md.media)
      offered = offered || (m == size && m.compare(0, 3, "om_") == 0);
    if (!offered || !pwg_size(size, width, length))
      return false;
    snprintf(ready.size_name, sizeof ready.size_name, "%s", size);
    ready.size_width = width;
    ready.size_length = length;
  }
  if (type) {
    const ovik_choice *choice = ovik_keyword_choice_of_ipp(ovik_keyword_find("PaperType"), type);
    if (!choice)
      return false;
    snprintf(ready.type, sizeof ready.type, "%s", type);
    if (const keyword_bit *t = keyword_row(tracking_keywords, choice->tracking))
      ready.tracking = static_cast<pappl_media_tracking_t>(t->bit);
  }
  return papplPrinterSetReadyMedia(printer, 1, &ready);
}

/* Media: the roll's page sizes or a custom length, and the paper type. */
void media_rows(pappl_client_t *client, pappl_printer_t *, const printer_state &st, const pappl_pr_driver_data_t &d)
{
  const pappl_media_col_t &ready = d.media_ready[0];
  std::vector<item> sizes;
  std::string current = "custom";
  for (const std::string &m : st.driver->media) {
    pappl_media_col_t size{};
    if (m.compare(0, 3, "om_") != 0 || !pwg_size(m.c_str(), size.size_width, size.size_length))
      continue;
    sizes.push_back({m, media_words(client, *st.driver, size)});
    if (m == ready.size_name)
      current = m;
  }
  sizes.push_back({"custom", say(client, "Custom Size")});
  list_row(client, say(client, "media"), "media-size", sizes, current);
  // The custom length, shown while "Custom Size" is chosen.
  int shortest = 0, longest = 0;
  custom_lengths(d, shortest, longest);
  papplClientHTMLPuts(client, current == "custom" ? "              <tr id=\"custom-row\">"
                                                  : "              <tr id=\"custom-row\" style=\"display: none;\">");
  papplClientHTMLPrintf(
      client,
      "<th><label for=\"custom-length\">%s:</label></th><td>"
      "<input type=\"number\" name=\"custom-length\" id=\"custom-length\" min=\"%d\" max=\"%d\" "
      "step=\"1\" value=\"%d\"> %s</td></tr>\n"
      "              <script>document.getElementById('media-size').onchange = function() {\n"
      "  document.getElementById('custom-row').style.display = this.value == 'custom' ? '' : 'none';\n"
      "};</script>\n",
      say(client, "Custom length").c_str(), shortest / 100, longest / 100, (ready.size_length + 50) / 100,
      say(client, "mm").c_str());
  const ovik_keyword *paper = ovik_keyword_find("PaperType");
  if (paper)
    list_row(client, say(client, "media-type"), "media-type", choice_items(client, *paper), ready.type);
}

/* A page of settings: its title, how it saves what is posted (false: it
 * refuses, with the status text refused) and how it shows its rows. */
struct settings_page {
  const char *title;
  const char *refused;
  bool (*save)(pappl_printer_t *printer, const printer_state &st, pappl_pr_driver_data_t &d, int n,
               cups_option_t *form);
  void (*rows)(pappl_client_t *client, pappl_printer_t *printer, const printer_state &st,
               const pappl_pr_driver_data_t &d);
};

constexpr settings_page defaults_kind{"Printing Defaults", "Bad printer defaults.", save_defaults, defaults_rows};
constexpr settings_page media_kind{"Media", "Invalid form data.", save_media, media_rows};

/* Answers a settings page: the form it was posted, saved, then the page
 * with the settings in force. */
bool show_settings(pappl_client_t *client, void *data, const settings_page &page)
{
  auto *printer = static_cast<pappl_printer_t *>(data);
  printer_state *st = ovik_app_state(printer);
  if (!st)
    return false;
  if (!papplClientHTMLAuthorize(client))
    return true;
  pappl_pr_driver_data_t d;
  papplPrinterGetDriverData(printer, &d);
  const char *status = nullptr;
  if (papplClientGetMethod(client) == HTTP_STATE_POST) {
    int n = 0;
    cups_option_t *form = nullptr;
    status = read_form(client, n, form);
    if (!status)
      status = page.save(printer, *st, d, n, form) ? "Changes saved." : page.refused;
    cupsFreeOptions(n, form);
    papplPrinterGetDriverData(printer, &d);
  }
  papplClientHTMLPrinterHeader(client, printer, page.title, 0, nullptr, nullptr);
  banner(client, status);
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPuts(client, "          <table class=\"form\">\n            <tbody>\n");
  page.rows(client, printer, *st, d);
  form_end(client);
  papplClientHTMLPrinterFooter(client);
  return true;
}

bool defaults_page(pappl_client_t *client, void *data)
{
  return show_settings(client, data, defaults_kind);
}

bool media_page(pappl_client_t *client, void *data)
{
  return show_settings(client, data, media_kind);
}

/* Supplies: the paper roll's level, as PAPPL's page shows it, under the
 * supply's name in words (PAPPL prints the name as it is). */
bool supplies_page(pappl_client_t *client, void *data)
{
  auto *printer = static_cast<pappl_printer_t *>(data);
  if (!papplClientHTMLAuthorize(client))
    return true;
  pappl_supply_t supplies[4];
  int count = papplPrinterGetSupplies(printer, 4, supplies);
  papplClientHTMLPrinterHeader(client, printer, "Supplies", 0, nullptr, nullptr);
  papplClientHTMLPuts(client, "          <table class=\"meter\">\n"
                              "            <thead><tr><th></th><td></td><td></td><td></td><td></td></tr></thead>\n"
                              "            <tbody>\n");
  for (int i = 0; i < count && i < 4; i++) {
    std::string name = say(client, supplies[i].description);
    if (supplies[i].level < 0) {
      papplClientHTMLPrintf(client, "              <tr><th>%s</th><td colspan=\"4\">%s</td></tr>\n", name.c_str(),
                            say(client, "Unknown").c_str());
      continue;
    }
    int level = std::min(supplies[i].level, 100);
    papplClientHTMLPrintf(
        client,
        "              <tr><th>%s</th><td colspan=\"4\"><span class=\"bar\" style=\"background: #222; "
        "padding: 0px %.1f%%;\" title=\"%d%%\"></span><span class=\"bar\" style=\"background: "
        "transparent; padding: 0px %.1f%%;\" title=\"%d%%\"></span></td></tr>\n",
        name.c_str(), level * 0.5, level, 50.0 - level * 0.5, level);
  }
  papplClientHTMLPuts(client, "            </tbody>\n"
                              "            <tfoot><tr><th></th><td></td><td></td><td></td><td></td></tr></tfoot>\n"
                              "          </table>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

} // namespace

/* Our pages at the printer's paths, before PAPPL adds its own there. */
void ovik_app_add_printer_pages(pappl_printer_t *printer)
{
  pappl_system_t *system = papplPrinterGetSystem(printer);
  char path[256];
  papplPrinterGetPath(printer, "printing", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", defaults_page, printer);
  papplPrinterGetPath(printer, "media", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", media_page, printer);
  papplPrinterGetPath(printer, "supplies", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", supplies_page, printer);
}
