/*
 * toolspage.cpp - the Printer Tools page of a printer: what the printer is
 * (the driver's model, the model ID and firmware it reports), the graphics
 * stored in it with the memory left and a delete button each, a form that
 * uploads a PNG or JPEG image as logo N (Preview shows the dots that would
 * be stored and sends nothing; Store Logo stores them and shows them), and
 * buttons for the cash drawers, the beeper and the self-test page.
 *
 * A form's action is one visit to the printer (tools.cpp), so that the
 * printer gets that command alone; every view then asks the printer in a
 * second visit for its identity, its graphics and its memory. A printer
 * that is printing says so on the page instead of being waited for.
 */
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ovik_app.h"

namespace {

/* The buttons of the page's last section: an action, its number, its label. */
struct button_row {
  tool_action action;
  int number;
  const char *label;
};

constexpr button_row buttons[] = {
    {tool_action::open_drawer, 1, "Open Drawer 1"},
    {tool_action::open_drawer, 2, "Open Drawer 2"},
    {tool_action::beep, 0, "Beep"},
    {tool_action::self_test, 0, "Print Self-Test Page"},
};

/* A text of the page in the reader's language. */
std::string words(pappl_client_t *client, const std::string &english)
{
  return ovik_app_localize(client, english);
}

/* A size in words: "200 x 60 dots". */
std::string dots(uint32_t width, uint32_t height)
{
  return std::to_string(width) + " x " + std::to_string(height) + " dots";
}

/* A form of one button: the action and its number posted to this page. */
void action_button(pappl_client_t *client, tool_action action, int number, const char *label)
{
  papplClientHTMLPuts(client, "<div style=\"display: inline-block; margin: 0 4px 4px 0;\">");
  papplClientHTMLStartForm(client, papplClientGetURI(client), false);
  papplClientHTMLPrintf(client,
                        "<input type=\"hidden\" name=\"action\" value=\"%s\"><input type=\"hidden\" name=\"number\" "
                        "value=\"%d\"><input type=\"submit\" value=\"%s\"></form></div>\n",
                        ovik_app_tool_name(action), number, words(client, label).c_str());
}

/* An image shown at one pixel a dot, framed like a strip of paper. */
void show_png(pappl_client_t *client, const std::vector<uint8_t> &png, const char *alt)
{
  std::vector<char> text(png.size() * 4 / 3 + 8);
  httpEncode64_2(text.data(), static_cast<int>(text.size()), reinterpret_cast<const char *>(png.data()),
                 static_cast<int>(png.size()));
  papplClientHTMLPrintf(
      client,
      "<img alt=\"%s\" style=\"border: 1px solid #888; background: white; padding: 4px;\" src=\"data:image/png;base64,",
      alt);
  papplClientHTMLPuts(client, text.data());
  papplClientHTMLPuts(client, "\">");
}

/* What the form asked, and the upload it carried. */
struct form_request {
  bool act = false;     /* a tool to run */
  bool preview = false; /* an image to show, not to store */
  tool_run run;
  logo_upload logo;
  int logo_number = 1; /* the number the store form shows */
  bool photo = false;
  std::string banner; /* what to tell before the printer's answer */
};

/* Reads the posted form: a button's action, or an image for a logo. */
void read_form(pappl_client_t *client, pappl_printer_t *printer, form_request &f)
{
  cups_option_t *form = nullptr;
  int n = papplClientGetForm(client, &form);
  auto field = [&](const char *name) {
    const char *v = cupsGetOption(name, n, form);
    return std::string(v ? v : "");
  };
  std::string action = field("action");
  f.run.number = atoi(field("number").c_str());
  if (n == 0) {
    f.banner = "Invalid form data.";
  } else if (!papplClientIsValidForm(client, n, form)) {
    f.banner = "Invalid form submission.";
  } else if (action == "preview" || action == "store-logo") {
    f.logo_number = f.run.number;
    f.photo = field("content") == "photo";
    std::string file = field("image");
    if (file.empty()) {
      f.banner = "Choose an image file (PNG or JPEG, at most 2 MB)."; // PAPPL's form limit
    } else if (!ovik_app_prepare_logo(printer, f.logo_number, file.c_str(), f.photo, f.logo, f.banner)) {
      f.banner += ".";
    } else if (action == "preview") {
      f.preview = true;
      f.banner = "Logo " + std::to_string(f.logo_number) + " would be " + std::to_string(f.logo.bitmap.width) + " x " +
                 std::to_string(f.logo.bitmap.height) + " dots, as shown below; nothing has been sent.";
    } else {
      f.act = true;
      f.run.action = tool_action::store_logo;
      f.run.logo = &f.logo;
    }
  } else if (ovik_app_tool_named(action.c_str(), f.run.action) && f.run.action != tool_action::store_logo) {
    f.act = true;
  } else {
    f.banner = "Unknown action.";
  }
  cupsFreeOptions(n, form);
}

/* The page: the form's action done, then what the printer is and holds. */
bool tools_page(pappl_client_t *client, void *data)
{
  auto *printer = static_cast<pappl_printer_t *>(data);
  printer_state *st = ovik_app_state(printer);
  if (!st || !papplClientHTMLAuthorize(client))
    return true;
  pappl_pr_driver_data_t driver;
  papplPrinterGetDriverData(printer, &driver);
  form_request f;
  f.photo = driver.content_default == PAPPL_CONTENT_PHOTO;
  if (papplClientGetMethod(client) == HTTP_STATE_POST)
    read_form(client, printer, f);

  // The action in a visit of its own, so that the printer gets its command
  // alone; then a look at the printer's identity, graphics and memory.
  if (f.act) {
    ovik_app_run_tools(printer, &f.run, 1);
    f.banner = f.run.message + ".";
    f.preview = f.run.action == tool_action::store_logo && f.run.code == 0; // what was stored
  }
  tool_run look[3];
  look[0].action = tool_action::identify;
  look[1].action = tool_action::list_logos;
  look[2].action = tool_action::capacity;
  ovik_app_run_tools(printer, look, 3);
  const tool_run &identity = look[0], &listed = look[1], &memory = look[2];

  papplClientHTMLPrinterHeader(client, printer, "Printer Tools", 0, nullptr, nullptr);
  if (!f.banner.empty())
    papplClientHTMLPrintf(client, "          <div class=\"banner\">%s</div>\n", words(client, f.banner).c_str());

  // The printer: the driver's model and what the printer says it is.
  papplClientHTMLPrintf(client,
                        "          <table class=\"form\">\n            <tbody>\n"
                        "              <tr><th>%s:</th><td>%s</td></tr>\n"
                        "              <tr><th>%s:</th><td>0x%04X</td></tr>\n",
                        words(client, "Driver").c_str(), st->driver->make_model.c_str(),
                        words(client, "Model ID in the catalogue").c_str(), st->driver->row->id & 0xFFFF);
  if (identity.code == 0)
    papplClientHTMLPrintf(client,
                          "              <tr><th>%s:</th><td id=\"model-id\">0x%02X</td></tr>\n"
                          "              <tr><th>%s:</th><td id=\"firmware\">%d.%d.%d</td></tr>\n",
                          words(client, "Model ID the printer reports").c_str(), identity.identity.model_id,
                          words(client, "Firmware").c_str(), identity.identity.firmware[0],
                          identity.identity.firmware[1], identity.identity.firmware[2]);
  else
    papplClientHTMLPrintf(client, "              <tr><th>%s:</th><td id=\"model-id\">%s</td></tr>\n",
                          words(client, "The printer says").c_str(), words(client, identity.message + ".").c_str());
  papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");

  // The drawers, the beeper, the self-test page.
  papplClientHTMLPrintf(client, "          <h2 class=\"title\">%s</h2>\n          <div>",
                        words(client, "Drawers and Beeper").c_str());
  for (const button_row &b : buttons)
    action_button(client, b.action, b.number, b.label);
  papplClientHTMLPuts(client, "</div>\n");

  // The stored graphics, with the sizes of logos stored from here.
  papplClientHTMLPrintf(client, "          <h2 class=\"title\">%s</h2>\n", words(client, "Stored Logos").c_str());
  if (listed.code != 0) {
    papplClientHTMLPrintf(client, "          <p>%s</p>\n", words(client, listed.message + ".").c_str());
  } else if (listed.graphics.empty()) {
    papplClientHTMLPrintf(client, "          <p>%s</p>\n",
                          words(client, "The printer holds no stored graphics.").c_str());
  } else {
    papplClientHTMLPrintf(client,
                          "          <table class=\"list\" id=\"logos\">\n            <thead><tr><th>%s</th><th>%s</th>"
                          "<th>%s</th><th></th></tr></thead>\n            <tbody>\n",
                          words(client, "Logo").c_str(), words(client, "Key Codes").c_str(),
                          words(client, "Size").c_str());
    for (const listed_graphic &g : listed.graphics) {
      const uint8_t *k = g.graphic.key_codes;
      papplClientHTMLPrintf(client, "              <tr><td>%s</td><td>%02X %02X</td><td>",
                            g.graphic.logo >= 0 ? std::to_string(g.graphic.logo).c_str() : "-", k[0], k[1]);
      if (g.width > 0) {
        papplClientHTMLPrintf(client, "%s<br>", words(client, dots(g.width, g.height)).c_str());
        show_png(client, g.preview, "stored logo");
      } else {
        papplClientHTMLPrintf(client, "%s", words(client, "not known (stored by another program)").c_str());
      }
      papplClientHTMLPuts(client, "</td><td>");
      if (g.graphic.logo >= 0)
        action_button(client, tool_action::delete_logo, g.graphic.logo, "Delete");
      papplClientHTMLPuts(client, "</td></tr>\n");
    }
    papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");
  }
  if (memory.code == 0)
    papplClientHTMLPrintf(client, "          <p id=\"memory\">%s</p>\n",
                          words(client, "Graphics memory: " + std::to_string(memory.free_bytes) + " of " +
                                            std::to_string(memory.total_bytes) + " bytes free.")
                              .c_str());
  if (listed.code == 0 && !listed.graphics.empty())
    action_button(client, tool_action::delete_logo, -1, "Delete All Stored Graphics");

  // Storing a logo: the image, its number, how it is made 1 bit.
  int first = 0, last = 0;
  ovik_app_logo_numbers(&first, &last);
  papplClientHTMLPrintf(client, "          <h2 class=\"title\">%s</h2>\n", words(client, "Store a Logo").c_str());
  papplClientHTMLStartForm(client, papplClientGetURI(client), true);
  papplClientHTMLPrintf(client,
                        "          <table class=\"form\">\n            <tbody>\n"
                        "              <tr><th><label for=\"number\">%s:</label></th><td><select name=\"number\" "
                        "id=\"number\">",
                        words(client, "Logo").c_str());
  for (int i = first; i <= last; i++)
    papplClientHTMLPrintf(client, "<option value=\"%d\"%s>%d</option>", i, i == f.logo_number ? " selected" : "", i);
  papplClientHTMLPrintf(client,
                        "</select> %s</td></tr>\n"
                        "              <tr><th><label for=\"image\">%s:</label></th><td><input type=\"file\" "
                        "name=\"image\" id=\"image\" accept=\"image/png,image/jpeg\"><br>%s</td></tr>\n"
                        "              <tr><th><label for=\"content\">%s:</label></th><td><select name=\"content\" "
                        "id=\"content\"><option value=\"auto\"%s>%s</option><option value=\"photo\"%s>%s</option>"
                        "</select></td></tr>\n",
                        words(client, "(the Logo Number a job prints)").c_str(), words(client, "Image").c_str(),
                        words(client, "PNG or JPEG; a wider image is made as wide as the paper").c_str(),
                        words(client, "Gray as").c_str(), f.photo ? "" : " selected",
                        words(client, "Black or white (drawings, text)").c_str(), f.photo ? " selected" : "",
                        words(client, "Dot patterns (photos)").c_str());
  if (f.preview) {
    papplClientHTMLPrintf(client, "              <tr><th>%s:</th><td>",
                          words(client, "Logo " + std::to_string(f.logo_number)).c_str());
    show_png(client, f.logo.preview, "logo preview");
    papplClientHTMLPrintf(client, "<br>%s</td></tr>\n",
                          words(client, dots(f.logo.bitmap.width, f.logo.bitmap.height)).c_str());
  }
  papplClientHTMLPrintf(client,
                        "              <tr><th></th><td><button type=\"submit\" name=\"action\" value=\"preview\">%s"
                        "</button> <button type=\"submit\" name=\"action\" value=\"store-logo\">%s</button></td></tr>\n"
                        "            </tbody>\n          </table>\n        </form>\n",
                        words(client, "Preview").c_str(), words(client, "Store Logo").c_str());

  papplClientHTMLPrinterFooter(client);
  return true;
}

} // namespace

/* The page at the printer's path and "/tools", linked from its navigation. */
void ovik_app_add_tools_page(pappl_printer_t *printer)
{
  pappl_system_t *system = papplPrinterGetSystem(printer);
  if (!(papplSystemGetOptions(system) & PAPPL_SOPTIONS_WEB_INTERFACE))
    return;
  char path[256];
  papplPrinterGetPath(printer, "tools", path, sizeof path);
  papplSystemAddResourceCallback(system, path, "text/html", tools_page, printer);
  papplPrinterAddLink(printer, "Printer Tools", path, PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}
