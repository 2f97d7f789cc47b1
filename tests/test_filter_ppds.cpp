// The generated PPD set: one valid PPD per model, each naming its model,
// each printing the default job with the settings' defaults.
#include <gtest/gtest.h>

#include <dirent.h>
#include <set>

// The filter reads PPDs with the CUPS PPD API, deprecated but current; so do we.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

#include "filter_harness.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

std::vector<std::string> ppd_files()
{
  std::vector<std::string> files;
  if (DIR *d = opendir(OVIK_PPD_DIR)) {
    while (dirent *e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ".ppd") == 0)
        files.push_back(std::string(OVIK_PPD_DIR) + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

/* The ShortNickName and a default choice of a PPD, as the filter reads them. */
struct ppd_facts {
  std::string nick;
  std::map<std::string, std::string> defaults;
};

ppd_facts read_ppd(const std::string &path)
{
  ppd_facts f;
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  if (!ppd)
    return f;
  ppdMarkDefaults(ppd);
  f.nick = ppd->shortnickname ? ppd->shortnickname : "";
  for (const char *k : {"Resolution",
                        "PageSize",
                        "PaperType",
                        "PrintLogo",
                        "LogoIndex",
                        "LogoAlign",
                        "BeepControl",
                        "BeepDuration",
                        "BeepInterval",
                        "BeepRepeat",
                        "ExternalBeepControl",
                        "ExternalBeepDuration",
                        "ExternalBeepInterval",
                        "ExternalBeepRepeat",
                        "Drawer1",
                        "Drawer2",
                        "BitmapCompression",
                        "PaperSaveMode",
                        "PaperSaveBottom",
                        "PostPrintAction",
                        "FormfeedLength",
                        "CutMode",
                        "CutPaperLength",
                        "PrintDensity"})
    if (ppd_choice_t *c = ppdFindMarkedChoice(ppd, k))
      f.defaults[k] = c->choice;
  ppdClose(ppd);
  return f;
}

TEST(PpdSet, EveryModelNameOfTheCatalogueHasOnePpd)
{
  std::set<std::string> names;
  for (const ovik_model_brief &row : model_brief_table)
    if (row.width_dots > 0)
      names.insert(row.name);
  std::set<std::string> nicks;
  for (const std::string &file : ppd_files())
    nicks.insert(read_ppd(file).nick);
  EXPECT_EQ(nicks, names);
  EXPECT_EQ(ppd_files().size(), names.size());
}

TEST(PpdSet, EveryPpdPassesCupstestppd)
{
  std::vector<std::string> files = ppd_files();
  ASSERT_FALSE(files.empty());
  std::vector<std::string> args = {"cupstestppd", "-q", "-I", "filters"};
  args.insert(args.end(), files.begin(), files.end());
  c_strings argv(args);
  pid_t pid;
  int rc = posix_spawnp(&pid, "cupstestppd", nullptr, nullptr, argv.get(), environ);
  if (rc == ENOENT)
    GTEST_SKIP() << "cupstestppd is not installed (package cups-client): " << std::strerror(rc);
  ASSERT_EQ(rc, 0) << "posix_spawnp cupstestppd: " << std::strerror(rc);
  EXPECT_EQ(wait_status(pid), 0) << "cupstestppd -q -I filters on " << files.size() << " PPDs";
}

TEST(PpdSet, EveryPpdOffersTheTwentyFourKeywordsWithTheFiltersDefaults)
{
  const std::map<std::string, std::string> filter_defaults = {{"Resolution", "203dpi"},
                                                              {"PaperType", "0"},
                                                              {"PrintLogo", "0"},
                                                              {"LogoIndex", "0"},
                                                              {"LogoAlign", "0"},
                                                              {"BeepControl", "0"},
                                                              {"BeepDuration", "0"},
                                                              {"BeepInterval", "0"},
                                                              {"BeepRepeat", "1"},
                                                              {"ExternalBeepControl", "0"},
                                                              {"ExternalBeepDuration", "0"},
                                                              {"ExternalBeepInterval", "0"},
                                                              {"ExternalBeepRepeat", "1"},
                                                              {"Drawer1", "0"},
                                                              {"Drawer2", "0"},
                                                              {"BitmapCompression", "0"},
                                                              {"PaperSaveMode", "0"},
                                                              {"PaperSaveBottom", "1"},
                                                              {"PostPrintAction", "2"},
                                                              {"FormfeedLength", "0"},
                                                              {"CutMode", "0"},
                                                              {"CutPaperLength", "-1"},
                                                              {"PrintDensity", "None"}};
  for (const std::string &file : ppd_files()) {
    ppd_facts f = read_ppd(file);
    ASSERT_EQ(f.defaults.size(), 24u) << file;
    for (const auto &[k, v] : filter_defaults)
      EXPECT_EQ(f.defaults[k], v) << file << " " << k;
  }
}

TEST(PpdSet, AJobWithEveryPpdsDefaultsIsTheDefaultJobAtTheModelsWidth)
{
  for (const std::string &file : ppd_files()) {
    ppd_facts f = read_ppd(file);
    const ovik_model_brief *row = ovik_printer_model_brief_find_by_name(f.nick.c_str());
    ASSERT_NE(row, nullptr) << file;
    page_spec p;
    p.width = static_cast<unsigned>(row->width_dots);
    p.height = 20;
    p.dot(0, 0).dot(p.width - 1, 9);
    run_options o;
    o.args = {"7", "user", "title", "1", ""};
    o.env = {{"PPD", file}};
    o.input = make_raster({p});
    run_result r = run_filter(o);
    EXPECT_EQ(r.status, 0) << file << "\n" << r.err;
    EXPECT_STREAM(r.out, default_start() + page_copy(p, 10, 0, 0));
    // The page sizes are the model's print width: the filter reads it back.
    EXPECT_TRUE(contains(r.err, "printer_width    = " + std::to_string(row->width_dots / 8) + " bytes")) << file;
  }
}

} // namespace
