/*
 * words.cpp - what the web pages say, in English and in Chinese.
 *
 * The words come from the tables that hold them: the job keyword table
 * (every setting's label and its choices, as the PPDs offer them), the
 * status table (each printer-state-reasons keyword in words, Chinese
 * included) and the page sizes of the catalogue; beside them stand the few
 * texts of our own pages and a table of Chinese for every English text of
 * those tables and for the texts PAPPL's own pages show. From them come two
 * strings files in PAPPL's format ("key" = "text";), English and Chinese,
 * added to the system with papplSystemAddStringsData. Keys are PAPPL's: an
 * attribute name for a setting's label ("cut-paper-length"), the name and a
 * value for a choice ("cut-paper-length.10", "cut-mode.full"), a text for
 * itself.
 *
 * Two things of PAPPL 1.3.1 are worked around here:
 *
 *   - A localization keeps the first text it gets for a key, and PAPPL
 *     loads its own English in papplSystemCreate, before an application can
 *     add any: its "Out of paper." for media-empty (which its status line
 *     follows with another full stop) and its "Continuous" for both
 *     media-type and media-tracking would stay. The application therefore
 *     defines papplLocGetString, which libpappl calls for every lookup: our
 *     English wins in the English localization, and in a language without a
 *     text of ours (German, Japanese, ...) our English stands in for the raw
 *     key; everything else is PAPPL's own lookup.
 *   - For every strings resource that names a language, each
 *     Get-Printer-Attributes asking for printer-strings-languages-supported
 *     adds one more copy of that attribute to the printer's own attributes
 *     (_papplPrinterCopyAttributesNoLock in printer-ipp.c writes it into
 *     printer->attrs instead of the response, under the printer's read
 *     lock), so the second answer has it twice, the next three times. The
 *     resources are therefore taken off again once PAPPL has loaded them,
 *     and the files are offered as plain resources (/en.strings,
 *     /zh.strings): the localizations stay, and neither that attribute nor
 *     printer-strings-uri is offered.
 */
#include <atomic>
#include <cctype>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <string>
#include <vector>

#include "ovik_app.h"

namespace {

/* Chinese for the English texts of the tables, and for the texts of
 * PAPPL's pages that a shop owner meets; a number in a text is %d. */
struct chinese {
  const char *from; /* our English text, or PAPPL's key */
  const char *zh;
};

const chinese chinese_texts[] = {
    // The job keywords: labels, groups, choices.
    {"Resolution", "分辨率"},
    {"Media Size", "纸张尺寸"},
    {"Paper Type", "纸张类型"},
    {"Print Logo", "打印标志"},
    {"Logo Number", "标志编号"},
    {"Logo Position", "标志位置"},
    {"Beep", "蜂鸣"},
    {"Beep Length", "蜂鸣时长"},
    {"Pause Between Beeps", "蜂鸣间隔"},
    {"Number of Beeps", "蜂鸣次数"},
    {"External Buzzer", "外接蜂鸣器"},
    {"Buzzer On Time", "蜂鸣器鸣响时间"},
    {"Buzzer Off Time", "蜂鸣器停顿时间"},
    {"Number of Buzzer Pulses", "蜂鸣器鸣响次数"},
    {"Cash Drawer %d", "钱箱 %d"},
    {"Raster Compression", "图像压缩"},
    {"Shorten Blank Feeds", "缩短空白走纸"},
    {"Blank Space at Page End", "页尾空白"},
    {"Blank Space at Page Top", "页首空白"},
    {"Long Blank Spaces in a Page", "页内长空白"},
    {"After Printing", "打印之后"},
    {"Feed at End of Job", "作业结束时走纸"},
    {"Cut", "切纸"},
    {"Feed Before Cut", "切纸前走纸"},
    {"Print Density", "打印浓度"},
    {"General", "常规"},
    {"Stored Logo", "存储的标志"},
    {"Beeper", "蜂鸣器"},
    {"Cash Drawer", "钱箱"},
    {"Feed and Cut", "走纸和切纸"},
    {"%d DPI", "%d DPI"},
    {"Continuous roll", "连续卷纸"},
    {"Labels with gaps", "带间隙的标签纸"},
    {"Paper with black marks", "带黑标的纸"},
    {"Tickets", "票据"},
    {"Never", "从不"},
    {"At start of job", "作业开始时"},
    {"At end of job", "作业结束时"},
    {"No", "否"},
    {"Keep closed", "保持关闭"},
    {"Open at start of job", "作业开始时打开"},
    {"Open at end of job", "作业结束时打开"},
    {"%d", "%d"},
    {"Unchanged", "不变"},
    {"Left", "左"},
    {"Centre", "居中"},
    {"Right", "右"},
    {"%d ms", "%d 毫秒"},
    {"Off", "关"},
    {"On", "开"},
    {"By a quarter", "缩短四分之一"},
    {"By half", "缩短一半"},
    {"By three quarters", "缩短四分之三"},
    {"Print it", "照样打印"},
    {"Leave it out", "省去"},
    {"Keep %d mm", "保留 %d 毫米"},
    {"Print them", "照样打印"},
    {"Shorten to %d mm", "缩短到 %d 毫米"},
    {"Nothing", "无动作"},
    {"Feed at end of job", "作业结束时走纸"},
    {"Feed and cut at end of job", "作业结束时走纸并切纸"},
    {"Feed and cut after every page", "每页之后走纸并切纸"},
    {"No cut", "不切纸"},
    {"Partial cut", "半切"},
    {"Full cut", "全切"},
    {"None", "无"},
    {"%d mm", "%d 毫米"},
    {"Printer's own setting", "打印机自身的设置"},
    {"Level %d (lightest)", "%d 级（最浅）"},
    {"Level %d", "%d 级"},
    {"Level %d (darkest)", "%d 级（最深）"},
    // Page sizes (ovik_page_size_format).
    {"%d x %d mm roll", "%d × %d 毫米卷纸"},
    {"%d x %d mm", "%d × %d 毫米"},
    // Our own texts.
    {"Ovik Printer Application", "Ovik 打印机应用程序"},
    {"Jobs are waiting for paper", "有作业在等待纸张"},
    {"Custom length", "自定义长度"},
    {"mm", "毫米"},
    {"Paper roll", "卷纸"},
    {"%g x %g mm", "%g × %g 毫米"},
    // The Printer Tools page (toolspage.cpp), by its English as PAPPL's texts
    // are; a text with numbers by its pattern (ovik_app_localize).
    {"Printer Tools", "打印机工具"},
    {"Driver", "驱动程序"},
    {"Model ID in the catalogue", "目录中的型号 ID"},
    {"Model ID the printer reports", "打印机报告的型号 ID"},
    {"Firmware", "固件版本"},
    {"The printer says", "打印机的回应"},
    {"Drawers and Beeper", "钱箱和蜂鸣器"},
    {"Open Drawer %d", "打开钱箱 %d"},
    {"Print Self-Test Page", "打印自检页"},
    {"Stored Logos", "已存储的标志"},
    {"The printer holds no stored graphics.", "打印机中没有存储的图形。"},
    {"Logo", "标志"},
    {"Logo %d", "标志 %d"},
    {"Key Codes", "键码"},
    {"Size", "尺寸"},
    {"%d x %d dots", "%d × %d 点"},
    {"not known (stored by another program)", "未知（由其他程序存储）"},
    {"Graphics memory: %d of %d bytes free.", "图形存储器：可用 %d 字节，共 %d 字节。"},
    {"Delete All Stored Graphics", "删除所有存储的图形"},
    {"Store a Logo", "存储标志"},
    {"(the Logo Number a job prints)", "（作业按此标志编号打印）"},
    {"Image", "图像"},
    {"PNG or JPEG; a wider image is made as wide as the paper", "PNG 或 JPEG；较宽的图像会缩小到纸宽"},
    {"Gray as", "灰色处理为"},
    {"Black or white (drawings, text)", "黑或白（图画、文字）"},
    {"Dot patterns (photos)", "网点（照片）"},
    {"Preview", "预览"},
    {"Store Logo", "存储标志"},
    {"Logo %d would be %d x %d dots, as shown below; nothing has been sent.",
     "标志 %d 将为 %d × %d 点，如下所示；尚未发送任何内容。"},
    {"Choose an image file (PNG or JPEG, at most %d MB).", "请选择图像文件（PNG 或 JPEG，最大 %d MB）。"},
    {"Logo %d stored in the printer: %d x %d dots.", "标志 %d 已存入打印机：%d × %d 点。"},
    {"Logo %d deleted.", "标志 %d 已删除。"},
    {"Every stored graphic deleted.", "所有存储的图形已删除。"},
    {"Drawer %d opened.", "钱箱 %d 已打开。"},
    {"Beeped.", "已蜂鸣。"},
    {"Self-test page printed.", "自检页已打印。"},
    {"The printer is printing a job; try again when the job is done.", "打印机正在打印作业；请在作业完成后再试。"},
    {"Another printer tool is using the printer; try again in a moment.",
     "另一个打印机工具正在使用打印机；请稍后再试。"},
    {"The printer cannot be reached: check that it is on and connected.", "无法连接打印机：请检查其是否开机并已连接。"},
    {"The printer cannot be opened: check that it is on and connected.", "无法打开打印机：请检查其是否开机并已连接。"},
    {"The printer did not answer the request for the model.", "打印机没有回应型号查询。"},
    {"The printer did not answer the request for the stored graphics.", "打印机没有回应已存储图形的查询。"},
    {"The printer did not answer the request for the graphics memory left.", "打印机没有回应剩余图形存储器的查询。"},
    {"The printer did not answer, so it was not asked again.", "打印机没有回应，因此未再次查询。"},
    {"The file is not a PNG or JPEG image.", "该文件不是 PNG 或 JPEG 图像。"},
    {"The file is empty: there is no image in it.", "该文件是空的：其中没有图像。"},
    {"The image is %d dots tall; a stored logo is %d dots tall at most.", "图像高 %d 点；存储的标志最高 %d 点。"},
    {"The image is empty (%d x %d dots): there is nothing to store.", "图像是空白的（%d × %d 点）：没有可存储的内容。"},
    // PAPPL's pages: labels, buttons, messages, states.
    {"%d job", "%d 个作业"},
    {"%d jobs", "%d 个作业"},
    {"%ddpi", "%d dpi"},
    {"A printer with that name already exists.", "已有同名的打印机。"},
    {"Aborted at %s", "%s 中止"},
    {"Add Printer", "添加打印机"},
    {"Auto-Detect Driver", "自动识别驱动程序"},
    {"Bad port number.", "端口号有误。"},
    {"Bad printer defaults.", "默认设置有误，未保存。"},
    {"Cancel All Jobs", "取消所有作业"},
    {"Cancel Job", "取消作业"},
    {"Canceled at %s", "%s 已取消"},
    {"Canceling", "正在取消"},
    {"Change", "更改"},
    {"Changes saved.", "更改已保存。"},
    {"Completed at %s", "%s 完成"},
    {"Configuration", "配置"},
    {"Configure Media", "设置纸张"},
    {"Confirm Cancel All", "确认全部取消"},
    {"Confirm Delete Printer", "确认删除打印机"},
    {"Contact", "联系人"},
    {"Custom Size", "自定义尺寸"},
    {"DNS-SD Service Name", "DNS-SD 服务名称"},
    {"Default printer set.", "已设为默认打印机。"},
    {"Delete", "删除"},
    {"Delete Printer", "删除打印机"},
    {"Device", "设备"},
    {"Driver Name", "驱动程序"},
    {"Hold Job", "保留作业"},
    {"Hold New Jobs", "保留新作业"},
    {"Holding new jobs.", "正在保留新作业。"},
    {"Hostname/IP Address", "主机名/IP 地址"},
    {"Human-Readable Location", "位置说明"},
    {"Identify Printer", "识别打印机"},
    {"Invalid Job ID.", "作业编号无效。"},
    {"Invalid form data.", "表单数据无效。"},
    {"Invalid form submission.", "表单提交无效。"},
    {"Invalid job ID.", "作业编号无效。"},
    {"Job #", "作业号"},
    {"Job canceled.", "作业已取消。"},
    {"Job held.", "作业已保留。"},
    {"Job released.", "作业已释放。"},
    {"Jobs", "作业"},
    {"Location", "位置"},
    {"Logging", "日志"},
    {"Media", "纸张"},
    {"Missing action.", "缺少操作。"},
    {"Missing job ID.", "缺少作业编号。"},
    {"Name", "名称"},
    {"Network Printer", "网络打印机"},
    {"No jobs in history.", "没有作业记录。"},
    {"Not set", "未设置"},
    {"Organization", "组织"},
    {"Organization Name", "组织名称"},
    {"Organizational Unit", "部门"},
    {"Other Settings", "其他设置"},
    {"Owner", "所有者"},
    {"Pages", "页数"},
    {"Pages Completed", "已完成页数"},
    {"Pause Printing", "暂停打印"},
    {"Please enter a printer name.", "请输入打印机名称。"},
    {"Please select a device.", "请选择设备。"},
    {"Please select a driver.", "请选择驱动程序。"},
    {"Print Test Page", "打印测试页"},
    {"Printer identified.", "打印机已发出识别提示。"},
    {"Printer is currently active.", "打印机正在工作。"},
    {"Printer names must start with a letter or underscore and cannot contain special characters.",
     "打印机名称必须以字母或下划线开头，且不能包含特殊字符。"},
    {"Printer paused.", "打印机已暂停。"},
    {"Printer pausing.", "打印机正在暂停。"},
    {"Printer resuming.", "打印机正在恢复。"},
    {"Printers", "打印机"},
    {"Printing Defaults", "打印默认设置"},
    {"Queued at %s", "%s 加入队列"},
    {"Release Held New Jobs", "释放保留的新作业"},
    {"Release Job", "释放作业"},
    {"Released held new jobs.", "已释放保留的新作业。"},
    {"Reprint Job", "重新打印"},
    {"Reprinted job.", "已重新打印。"},
    {"Resume Printing", "恢复打印"},
    {"Save Changes", "保存更改"},
    {"Select Device", "选择设备"},
    {"Set as Default", "设为默认"},
    {"Started at %s", "%s 开始"},
    {"Status", "状态"},
    {"Supplies", "耗材"},
    {"Test page printed.", "测试页已打印。"},
    {"Unable to access test print file.", "无法读取测试页文件。"},
    {"Unable to copy print job.", "无法复制打印作业。"},
    {"Unable to create test print job.", "无法创建测试页作业。"},
    {"Unable to identify printer.", "无法识别打印机。"},
    {"Unable to look up that address.", "无法解析该地址。"},
    {"Unable to use that driver.", "无法使用该驱动程序。"},
    {"Unknown", "未知"},
    {"Unknown action.", "未知操作。"},
    {"Use My Position", "使用我的位置"},
    {"Version %s", "版本 %s"},
    {"default printer", "默认打印机"},
    {"holding new jobs", "正在保留新作业"},
    {"printer-state.3", "空闲"},
    {"printer-state.4", "正在打印"},
    {"printer-state.5", "已停止"},
    {"print-content-optimize", "优化对象"},
    {"print-content-optimize.auto", "自动"},
    {"print-content-optimize.graphic", "图形"},
    {"print-content-optimize.photo", "照片"},
    {"print-content-optimize.text", "文字"},
    {"print-content-optimize.text-and-graphic", "文字和图形"},
    {"print-scaling", "缩放"},
    {"print-scaling.auto", "自动"},
    {"print-scaling.auto-fit", "自动适应"},
    {"print-scaling.fill", "填满"},
    {"print-scaling.fit", "适合"},
    {"print-scaling.none", "不缩放"},
};

/* Texts of our own that no table holds: the key, English and Chinese
 * (Chinese from chinese_texts when NULL). */
struct fixed_text {
  const char *key;
  const char *english;
};

const fixed_text fixed_texts[] = {
    {"Ovik Printer Application", "Ovik Printer Application"},
    // Out of paper with jobs in the queue (monitor.cpp).
    {"printer-state-reasons.media-needed", "Jobs are waiting for paper"},
    {"Custom length", "Custom length"},
    {"mm", "mm"},
    {paper_roll_name, paper_roll_name},
    {"%g x %g mm", "%g x %g mm"},
};

/* A text of ours: its key, English and Chinese (empty: not translated). */
struct text {
  std::string key, english, zh;
};

/* Replaces every number of a text with %d; the numbers go into numbers. */
std::string number_pattern(const std::string &s, std::vector<std::string> &numbers)
{
  std::string out;
  for (size_t i = 0; i < s.size();) {
    bool sign = s[i] == '-' && i + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1]));
    if (sign || std::isdigit(static_cast<unsigned char>(s[i]))) {
      size_t j = i + (sign ? 1 : 0);
      while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
        j++;
      numbers.push_back(s.substr(i, j - i));
      out += "%d";
      i = j;
    } else {
      out += s[i++];
    }
  }
  return out;
}

/* A pattern's text with its %d replaced by the numbers, in order. */
std::string with_numbers(const char *pattern, const std::vector<std::string> &numbers)
{
  std::string out;
  size_t n = 0;
  for (const char *p = pattern; *p; p++) {
    if (p[0] == '%' && p[1] == 'd' && n < numbers.size()) {
      out += numbers[n++];
      p++;
    } else {
      out += *p;
    }
  }
  return out;
}

/* The Chinese of an English text: by the text itself, else by its pattern
 * with the numbers put back in order; empty when the table has neither. */
std::string to_chinese(const std::string &english)
{
  for (const chinese &c : chinese_texts)
    if (english == c.from)
      return c.zh;
  std::vector<std::string> numbers;
  std::string pattern = number_pattern(english, numbers);
  for (const chinese &c : chinese_texts)
    if (pattern == c.from)
      return with_numbers(c.zh, numbers);
  return "";
}

/* The texts of the tables and our own, each once. */
std::vector<text> all_texts()
{
  std::vector<text> texts;
  std::map<std::string, size_t> seen;
  auto add = [&](const std::string &key, const std::string &english, const char *zh) {
    if (seen.count(key))
      return;
    seen[key] = texts.size();
    texts.push_back({key, english, zh ? zh : to_chinese(english)});
  };
  // Every setting of the keyword table: its label under the IPP attribute
  // that carries it, each choice under "attribute.value", and its group.
  size_t count = 0;
  const ovik_keyword *table = ovik_keyword_table(&count);
  for (size_t k = 0; k < count; k++) {
    const ovik_keyword &row = table[k];
    const char *name = ovik_app_ipp_name(row);
    if (!name)
      continue;
    add(name, row.label, nullptr);
    for (int i = 0; i < row.num_choices; i++)
      add(std::string(name) + "." + ovik_app_ipp_value(row, row.choices[i]), row.choices[i].label, nullptr);
    if (row.group)
      add(ovik_app_group_label(row.group), ovik_app_group_label(row.group), nullptr);
  }
  // printer-state-reasons in words: the most urgent condition of each keyword.
  size_t conditions = 0;
  const ovik_status_condition *status = ovik_status_conditions(&conditions);
  for (size_t i = 0; i < conditions; i++)
    if (status[i].reason)
      add(std::string("printer-state-reasons.") + status[i].reason, status[i].text, status[i].text_zh);
  // The page size formats of every print width.
  int drivers = 0;
  pappl_pr_driver_t *list = ovik_app_drivers(&drivers);
  for (int i = 0; i < drivers; i++)
    if (const model_driver *d = ovik_app_driver(list[i].name)) {
      const char *format = ovik_page_size_format(d->row->width_dots);
      add(format, format, nullptr);
    }
  for (const fixed_text &f : fixed_texts)
    add(f.key, f.english, nullptr);
  return texts;
}

/* One line of a strings file. */
void strings_line(std::string &out, const std::string &key, const std::string &value)
{
  auto quoted = [&](const std::string &s) {
    out += '"';
    for (char c : s) {
      if (c == '"' || c == '\\')
        out += '\\';
      if (c == '\n')
        out += "\\n";
      else
        out += c;
    }
    out += '"';
  };
  quoted(key);
  out += " = ";
  quoted(value);
  out += ";\n";
}

/* Our English by key, for the lookups below. */
std::map<std::string, std::string> english_words;
std::atomic<pappl_loc_t *> english_loc{nullptr};

/* The strings files, kept for as long as the system serves them. */
std::string english_file, chinese_file;

} // namespace

/* Our English first in the English localization, and in place of a raw
 * key in the others; PAPPL's own lookup for the rest. */
extern "C" const char *papplLocGetString(pappl_loc_t *loc, const char *key)
{
  using lookup_fn = const char *(*)(pappl_loc_t *, const char *);
  static lookup_fn real = reinterpret_cast<lookup_fn>(dlsym(RTLD_NEXT, "papplLocGetString"));
  auto ours = [&]() -> const char * {
    auto it = key ? english_words.find(key) : english_words.end();
    return it == english_words.end() ? nullptr : it->second.c_str();
  };
  if (loc && loc == english_loc.load())
    if (const char *text = ours())
      return text;
  const char *found = real ? real(loc, key) : key;
  if (found == key)
    if (const char *text = ours())
      return text;
  return found;
}

/* A text in the client's language: its own entry, else its pattern's (the
 * numbers as %d) with the numbers put back; the text itself without one. */
std::string ovik_app_localize(pappl_client_t *client, const std::string &english)
{
  const char *found = papplClientGetLocString(client, english.c_str());
  if (found != english.c_str() && english != found)
    return found;
  std::vector<std::string> numbers;
  std::string pattern = number_pattern(english, numbers);
  found = papplClientGetLocString(client, pattern.c_str());
  return found == pattern.c_str() ? english : with_numbers(found, numbers);
}

/* The strings files of the tables, loaded into PAPPL's localizations, and
 * offered as plain files. */
void ovik_app_add_words(pappl_system_t *system)
{
  std::vector<text> texts = all_texts();
  std::map<std::string, std::string> zh;
  for (const text &t : texts) {
    english_words[t.key] = t.english;
    strings_line(english_file, t.key, t.english);
    if (!t.zh.empty())
      zh[t.key] = t.zh;
  }
  // PAPPL's own texts, by their keys.
  for (const chinese &c : chinese_texts)
    zh.emplace(c.from, c.zh);
  for (const auto &[key, value] : zh)
    strings_line(chinese_file, key, value);

  english_loc = papplSystemFindLoc(system, "en");
  const struct {
    const char *path, *language;
    const std::string &data;
  } files[] = {{"/en.strings", "en", english_file}, {"/zh.strings", "zh", chinese_file}};
  for (const auto &f : files) {
    papplSystemAddStringsData(system, f.path, f.language, f.data.c_str());
    papplSystemRemoveResource(system, f.path);
    papplSystemAddResourceString(system, f.path, "text/strings", f.data.c_str());
  }
}
