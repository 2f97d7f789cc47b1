// commandtoovik, the command filter, run as the spooler runs it on a command
// file, with a queue's PPD and no back channel: the whole bytes every
// command file puts on the printer stream, its status lines and its exit
// status.
#include <gtest/gtest.h>

#include "filter_harness.h"

using namespace harness;

TEST(CommandFilter, EachCommandSendsItsBytesAndNothingElse)
{
  const std::string paper_unknown = "ATTR: marker-colors=none\nATTR: marker-names='\"Paper roll\"'\n"
                                    "ATTR: marker-types=other\nATTR: marker-low-levels=10\n"
                                    "ATTR: marker-high-levels=100\nATTR: marker-levels=-1\n";
  struct Case {
    const char *title;
    std::string file;
    std::map<std::string, std::string> ppd;
    int status;
    const char *out;
    std::string err; /* a part of standard error */
  };
  const Case cases[] = {
      {"drawer 1", "#CUPS-COMMAND\nOpenDrawer1\n", {}, 0, "1B 70 00 50 50", "INFO: Drawer 1 opened"},
      {"drawer 2, in any case, after a comment and blank lines",
       "#CUPS-COMMAND\n# the till\n\n  opendrawer2  \n",
       {},
       0,
       "1B 70 01 50 50",
       "INFO: Drawer 2 opened"},
      {"the beeper with the queue's settings",
       "#CUPS-COMMAND\nBeep\n",
       {{"BeepRepeat", "3"}, {"BeepDuration", "2"}},
       0,
       "1B 28 41 05 00 61 64 03 02 00",
       "INFO: Beeped"},
      {"the self-test page",
       "#CUPS-COMMAND\nPrintSelfTestPage\n",
       {},
       0,
       "1D 28 41 02 00 00 02",
       "INFO: Self-test page printed"},
      {"levels without a back channel: not known, nothing sent",
       "#CUPS-COMMAND\nReportLevels\n",
       {},
       0,
       "",
       paper_unknown},
      {"an unknown command is left out, the others run",
       "#CUPS-COMMAND\nClean all\nOpenDrawer1\n",
       {},
       1,
       "1B 70 00 50 50",
       "ERROR: Unknown printer command \"Clean\"\n"},
      {"no #CUPS-COMMAND line",
       "OpenDrawer1\n",
       {},
       1,
       "",
       "ERROR: Bad command file: it does not begin with #CUPS-COMMAND\n"},
      {"an empty file", "", {}, 1, "", "ERROR: Bad command file"},
      {"a line longer than the buffer ends where it ends",
       "#CUPS-COMMAND\nOpenDrawer1 " + std::string(3000, 'x') + "\nOpenDrawer2\n",
       {},
       0,
       "1B 70 00 50 50 1B 70 01 50 50",
       "INFO: Drawer 2 opened"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.title);
    temp_dir dir;
    write_text(dir.file("test.ppd"), ppd_text("Tern 80A", c.ppd));
    write_text(dir.file("job.cmd"), c.file);
    run_options o;
    o.program = COMMANDTOOVIK_BIN;
    o.args = {"1", "user", "title", "1", "", dir.file("job.cmd")};
    o.env = {{"PPD", dir.file("test.ppd")}};
    run_result r = run_filter(o);
    EXPECT_EQ(c.status, r.status) << r.err;
    EXPECT_EQ(c.out, hex(r.out));
    EXPECT_TRUE(contains(r.err, c.err)) << r.err;
  }
}
