// Whole jobs through the engine's public interface: many at once in one
// process give each the bytes it gives alone, and a page given row by row
// gives the bytes of the page given whole.
#include <gtest/gtest.h>

#include <span>
#include <thread>

#include "engine_harness.h"
#include "filter_harness.h"
#include "ovik_engine.h"
#include "ovik_printer_model.h"

using namespace harness;

namespace {

/* One job: a model, keyword settings as a PPD or IPP client gives them, pages. */
struct job_spec {
  int32_t model;
  std::vector<std::pair<const char *, const char *>> keywords;
  std::vector<page_spec> pages;
};

/* A page of noise with blank rows at its bottom (paper saving has work). */
page_spec noisy_page(unsigned width, unsigned height, unsigned copies, uint32_t seed)
{
  page_spec p;
  p.width = width;
  p.height = height;
  p.copies = copies;
  p.pixels.assign(p.size(), 0);
  for (size_t i = 0; i < p.size() * 3 / 4; i++) {
    seed = seed * 1664525u + 1013904223u;
    p.pixels[i] = (seed >> 28) < 5 ? static_cast<uint8_t>(seed >> 20) : 0;
  }
  if (height >= 4)
    p.pixels[size_t(height * 3 / 4 - 1) * p.bpl()] |= 0x80; // the lowest row kept
  return p;
}

std::vector<job_spec> jobs()
{
  return {
      {0x1001, {{"PostPrintAction", "3"}, {"CutPaperLength", "10"}, {"CutMode", "2"}}, {noisy_page(576, 300, 2, 1)}},
      {0x1486, {{"BeepControl", "1"}, {"Drawer1", "2"}, {"PrintDensity", "4"}}, {noisy_page(384, 200, 1, 2)}},
      {0x1955,
       {{"PostPrintAction", "1"}, {"FormfeedLength", "20"}, {"PaperType", "2"}},
       {noisy_page(576, 120, 1, 3), noisy_page(576, 40, 3, 4)}},
      {0x3102, {{"PaperType", "1"}, {"PaperSaveBottom", "0"}}, {noisy_page(848, 150, 1, 5)}},
      {0x1001,
       {{"Resolution", "300dpi"}, {"PaperSaveMode", "2"}, {"CutPaperLength", "30"}, {"CutMode", "1"}},
       {noisy_page(576, 80, 1, 6), noisy_page(576, 0, 1, 7)}},
      {0x1021, {{"PrintLogo", "1"}, {"LogoIndex", "3"}, {"LogoAlign", "2"}}, {noisy_page(432, 250, 1, 8)}},
      {0x1191,
       {{"ExternalBeepControl", "2"}, {"ExternalBeepRepeat", "3"}, {"ExternalBeepDuration", "2"}},
       {noisy_page(1680, 60, 2, 9)}},
      {0x1101, {{"PostPrintAction", "0"}, {"BitmapCompression", "1"}}, {noisy_page(384, 400, 1, 10)}},
  };
}

/* The job's settings, from its model and keyword texts. */
dev_mode settings_of(const job_spec &spec)
{
  dev_mode s;
  init_dev_mode(&s);
  ovik_job_io quiet{};
  EXPECT_EQ(get_model_info(&s, ovik_printer_model_brief_find_by_id(spec.model)->name, &quiet), 0);
  for (const auto &[keyword, value] : spec.keywords)
    EXPECT_EQ(ovik_settings_apply(&s, ovik_keyword_find(keyword), value, &quiet), 0) << keyword;
  return s;
}

int append(void *ctx, const void *data, size_t length)
{
  auto *out = static_cast<bytes *>(ctx);
  out->insert(out->end(), static_cast<const uint8_t *>(data), static_cast<const uint8_t *>(data) + length);
  return 0;
}

/* A job with the settings of a job_spec, writing into memory. */
struct memory_job : device {
  explicit memory_job(const job_spec &spec) : device(0, 0, [&](dev_mode &s) { s = settings_of(spec); }) {}
};

/* Runs a job to memory; rows_at_once 0 gives each page whole, else in pieces
 * of that many rows. */
bytes run(const job_spec &spec, unsigned rows_at_once)
{
  memory_job m(spec);
  ovik_printer_dev *job = m.job;
  if (m.created != 0 || ovik_job_begin(job) != 0)
    return {};
  for (const page_spec &p : spec.pages) {
    ovik_page page = {p.width, p.height, p.bpl(), 1, p.copies};
    if (ovik_page_start(job, &page) != 0)
      return {};
    bytes data = p.data();
    if (rows_at_once == 0) {
      std::copy(data.begin(), data.end(), ovik_page_pixels(job));
    } else {
      for (unsigned y = 0; y < p.height; y += rows_at_once)
        ovik_page_add_rows(job, data.data() + size_t(y) * p.bpl(), std::min(rows_at_once, p.height - y));
    }
    if (ovik_page_end(job) != 0)
      return {};
  }
  ovik_job_end(job);
  return m.out;
}

TEST(EngineJobs, EightJobsOnEightThreadsGiveEachTheBytesItGivesAlone)
{
  std::vector<job_spec> specs = jobs();
  std::vector<bytes> alone;
  for (const job_spec &spec : specs) {
    alone.push_back(run(spec, 0));
    ASSERT_GT(alone.back().size(), 100u);
  }
  // Every thread runs its job many times, so that the jobs overlap at every step.
  constexpr int rounds = 25;
  std::vector<std::vector<bytes>> together(specs.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < specs.size(); i++)
    threads.emplace_back([&, i] {
      for (int r = 0; r < rounds; r++)
        together[i].push_back(run(specs[i], r % 2 ? 7 : 0));
    });
  for (std::thread &t : threads)
    t.join();
  for (size_t i = 0; i < specs.size(); i++)
    for (int r = 0; r < rounds; r++)
      ASSERT_EQ(first_difference(together[i][r], alone[i]), "") << "job " << i << ", round " << r;
}

TEST(EngineJobs, APageRowByRowGivesTheBytesOfThePageWhole)
{
  for (const job_spec &spec : jobs()) {
    bytes whole = run(spec, 0);
    for (unsigned rows : {1u, 3u, 1000u})
      EXPECT_STREAM(run(spec, rows), whole);
  }
}

TEST(EngineJobs, RowsBeyondThePageAreDroppedAndRowsNotGivenAreBlank)
{
  job_spec spec = {0x1001, {{"PaperSaveBottom", "0"}}, {noisy_page(576, 20, 1, 11)}};
  memory_job m(spec);
  ovik_printer_dev *job = m.job;
  ASSERT_EQ(m.created, 0);
  page_spec p = spec.pages[0];
  ovik_page page = {p.width, p.height, p.bpl(), 1, 1};
  ASSERT_EQ(ovik_page_start(job, &page), 0);
  bytes data = p.data();
  ovik_page_add_rows(job, data.data(), 10);
  m.out.clear();
  ASSERT_EQ(ovik_page_end(job), 0);
  data.resize(size_t(10) * p.bpl());
  data.resize(size_t(20) * p.bpl(), 0);
  EXPECT_STREAM(m.out, page_header_packet(p.bpl(), 20, 0, 0) + bitmap_packet(data, 0));

  // Thirty rows for a page of twenty: the first twenty are the page.
  ASSERT_EQ(ovik_page_start(job, &page), 0);
  bytes thirty = noisy_page(576, 30, 1, 12).data();
  ovik_page_add_rows(job, thirty.data(), 30);
  m.out.clear();
  ASSERT_EQ(ovik_page_end(job), 0);
  thirty.resize(size_t(20) * p.bpl());
  EXPECT_STREAM(m.out, page_header_packet(p.bpl(), 20, 0, 1) + bitmap_packet(thirty, 1));
}

TEST(EngineJobs, ACancelRequestStopsAPageBetweenCopiesWhereTheFrontEndAsksForIt)
{
  for (int between : {0, 1}) {
    bytes out;
    ovik_job_io io{};
    io.write = [](void *ctx, const void *data, size_t length) {
      auto *j = static_cast<std::pair<bytes *, ovik_printer_dev **> *>(ctx);
      append(j->first, data, length);
      // The request comes while the first copy's bitmap goes out.
      if (length > 1000)
        ovik_job_cancel(*j->second);
      return 0;
    };
    io.cancel_between_copies = between;
    ovik_printer_dev *job = nullptr;
    std::pair<bytes *, ovik_printer_dev **> ctx = {&out, &job};
    io.sink_context = &ctx;
    dev_mode s = settings_of({0x1001, {}, {}});
    ASSERT_EQ(ovik_printer_dev_creator(&s, &io, &job), 0);
    ASSERT_EQ(ovik_job_begin(job), 0);
    page_spec p = noisy_page(576, 100, 3, 12);
    ovik_page page = {p.width, p.height, p.bpl(), 1, 3};
    ASSERT_EQ(ovik_page_start(job, &page), 0);
    ovik_page_add_rows(job, p.data().data(), p.height);
    ASSERT_EQ(ovik_page_end(job), 0);
    ASSERT_EQ(ovik_job_end(job), 0);
    ovik_printer_dev_destroy(job);
    bytes copy1 = page_copy(p, 75, 0, 0), copy2 = page_copy(p, 75, 0, 1), copy3 = page_copy(p, 75, 0, 2);
    // A cancelled job has no document end: the stream ends with the last copy.
    EXPECT_STREAM(out, between ? default_start() + copy1 : default_start() + copy1 + copy2 + copy3);
  }
}

TEST(KeywordTable, EveryDefaultLeavesTheSettingsAsTheyStartAndEveryChoiceIsInItsRange)
{
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  ovik_job_io quiet{};
  for (const ovik_keyword &k : std::span(table, count)) {
    if (!k.default_value)
      continue;
    dev_mode start, applied;
    std::memset(&start, 0, sizeof start);
    std::memset(&applied, 0, sizeof applied);
    init_dev_mode(&start);
    init_dev_mode(&applied);
    EXPECT_EQ(ovik_settings_apply(&applied, &k, k.default_value, &quiet), 0) << k.keyword;
    if (k.conversion == ovik_resolution) // the motion unit follows any resolution given
      applied.motion_v = start.motion_v;
    EXPECT_EQ(std::memcmp(&start, &applied, sizeof start), 0) << k.keyword << "=" << k.default_value;
    for (const ovik_choice &c : std::span(k.choices, k.num_choices)) {
      int v = atoi(c.value);
      if (k.conversion == ovik_number || k.conversion == ovik_post_print_action) {
        EXPECT_TRUE(v >= k.min && v <= k.max) << k.keyword << " " << c.value;
      }
      EXPECT_TRUE(k.ipp_integer || !k.ipp_name || c.ipp) << k.keyword << " " << c.value << " has no IPP keyword";
    }
  }
}

} // namespace
