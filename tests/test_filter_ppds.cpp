// The generated PPD set: one valid PPD per model, each naming its model,
// each printing the default job with the settings' defaults.
#include <gtest/gtest.h>

#include <dirent.h>
#include <set>
#include <span>

// The filter reads PPDs with the CUPS PPD API, deprecated but current; so do we.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <cups/ppd.h>

#include "filter_harness.h"
#include "ovik_engine.h"
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

/* The ShortNickName of a PPD, and each job keyword's default (as the filter
 * reads it) and choices. */
struct ppd_facts {
  std::string nick;
  std::map<std::string, std::string> defaults;
  std::map<std::string, std::vector<std::string>> choices;
};

ppd_facts read_ppd(const std::string &path)
{
  ppd_facts f;
  ppd_file_t *ppd = ppdOpenFile(path.c_str());
  if (!ppd)
    return f;
  ppdMarkDefaults(ppd);
  f.nick = ppd->shortnickname ? ppd->shortnickname : "";
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  for (const ovik_keyword &k : std::span(table, count)) {
    if (ppd_choice_t *c = ppdFindMarkedChoice(ppd, k.keyword))
      f.defaults[k.keyword] = c->choice;
    if (ppd_option_t *o = ppdFindOption(ppd, k.keyword))
      for (int i = 0; i < o->num_choices; i++)
        f.choices[k.keyword].push_back(o->choices[i].choice);
  }
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

TEST(PpdSet, EveryPpdOffersEveryKeywordWithTheTablesChoicesAndDefaults)
{
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  ASSERT_EQ(count, 26u);
  for (const std::string &file : ppd_files()) {
    ppd_facts f = read_ppd(file);
    ASSERT_EQ(f.defaults.size(), count) << file;
    for (const ovik_keyword &k : std::span(table, count)) {
      if (!k.default_value) // PageSize: the model's widths
        continue;
      EXPECT_EQ(f.defaults[k.keyword], ovik_keyword_offered_default(&k)) << file << " " << k.keyword;
      std::vector<std::string> values;
      for (const ovik_choice &c : std::span(k.choices, k.num_choices))
        values.push_back(c.value);
      EXPECT_EQ(f.choices[k.keyword], values) << file << " " << k.keyword;
    }
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
