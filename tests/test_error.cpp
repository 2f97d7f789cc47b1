// Tests of the error texts: every code in both languages, narrow and wide,
// and the buffer rules of the functions that format a code.
#include "ovik_error.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A code with its texts in UTF-8 and as wide literals.
struct Expected {
  int code;
  const char *english;
  const char *chinese;
  const wchar_t *wide_english;
  const wchar_t *wide_chinese;
};

#define ROW(code, english, chinese)                                                                                    \
  {                                                                                                                    \
    code, english, chinese, L"" english, L"" chinese                                                                   \
  }

const Expected expected_texts[] = {
    ROW(0, "The operation completed successfully.", "操作成功完成。"),
    ROW(-1, "Parameter is error. Please check the parameter is corrected.", "参数错误。请检查参数是否正确！"),
    ROW(-2, "There is not enough buffer. Please enlarge the buffer size.", "缓存不足。请增加缓存大小！"),
    ROW(-3, "Printer model type is error. Please use the printer with expected type.",
        "打印机类型错误。请选择正确的打印机预设类型！"),
    ROW(-4, "Does not support this printer. Please use the supported printer.",
        "不支持当前打印机。请使用支持的打印机！"),
    ROW(-6,
        "The handle value specified is incorrect. Please confirm the handle value is initialed correctly and not been "
        "destroied.",
        "指定句柄发生错误。请确认句柄值是否正确和句柄是否被关闭！"),
    ROW(-7, "Program not implemented. Please confirmed with software supplier.",
        "未实现该功能。请与软件供应商确认是否实现该功能！"),
    ROW(-8, "Unable to identify the printer model. Please correct the printer model.",
        "无法识别的打印机型号。请使用正确的打印机型号！"),
    ROW(-9, "There is not enough memory. Please add available memory.", "计算机内存不足。请增加可用内存！"),
    ROW(-10, "There is not the target printer. Please replace it with one target printer.",
        "不是指定的打印机。请更换为指定打印机！"),
    ROW(-11, "Environment does not configure correct. Please confim the environment is correct.",
        "环境配置错误。请正确配置环境！"),
    ROW(-21, "Loading image error. Please check the image file path or image format.",
        "加载图片失败。请确认图片路径或格式是否正确！"),
    ROW(-25, "Image size out of range. Please check image.", "图片大小超出范围。请确认图片的大小是否有效！"),
    ROW(-100, "OVIK print error.", "OVIK 打印错误！"),
    ROW(-101, "Drive data error. Please reinstall the correct driver.", "驱动数据错误。请重新安装正确的驱动程序！"),
    ROW(-102, "Drive printer state error.\nPlease check printer state.", "驱动打印机状态错误。\n请检查打印机状态！"),
    ROW(-300, "IO port error.\nPlease confirm the validity of a serial port and configuration.",
        "IO错误。\n请确认IO和IO配置的有效性！"),
    ROW(-301, "IO invalid setting.\nPlease confirm IO port configuration.", "IO错误：配置无效。\n请确认端口的配置！"),
    ROW(-302, "IO name too long.\nPlease reset the port name.", "IO错误：端口名过长。\n请重新设置端口名！"),
    ROW(-304, "Operating system version is too low.\nPlease update version.",
        "IO错误：操作系统版本过低。\n请更新版本！"),
    ROW(-308, "IO invalid handle.", "IO错误：无效句柄"),
    ROW(-309, "IO port not open.\nPlease open the IO port.", "IO错误：端口未打开。\n请先打开端口！"),
    ROW(-310, "IO port already open.\nPlease close and try again to open.",
        "IO错误：端口已打开。\n请先关闭再尝试打开！"),
    ROW(-311, "IO port open failed.\nPlease confirm the configuration is correct.",
        "IO错误：打开失败。\n请确认配置是否正确！"),
    ROW(-312, "Get IO port attributes error.\nPlease get back again.", "IO错误：获取属性错误。\n请重新获取！"),
    ROW(-313, "Set IO port attributes error.\nPlease reset.", "IO错误：设置属性错误。\n请重新设置！"),
    ROW(-321, "IO port write failed.\nPlease confirm IO port is open.", "IO错误：写入数据失败。\n请确认端口是否打开！"),
    ROW(-322, "IO port write timeout.\nPlease write again.", "IO错误：写入数据超时。\n请重新写入数据！"),
    ROW(-331, "IO port read failed.\nPlease confirm IO port is open.", "IO错误：读取失败。\n请确认端口是否打开！"),
    ROW(-332, "IO port read timeout.\nPlease read again.", "IO错误：读取数据超时。\n请重新读取！"),
    ROW(-341, "IO flush failed.", "IO错误：刷新缓冲失败。"),
    ROW(-351, "IO serial invalid baudrate.\nPlease reset.", "无效串口波特率。\n请重新设置！"),
    ROW(-352,
        "Cannot connect the target network printer.\nPlease confirm the network printer is online and in the same "
        "network.",
        "网卡连接失败。\n请确认网络打印机处于可连接状态！"),
    ROW(-361, "IO serial invalid handshake.\nPlease reset.", "无效握手协议。\n请重新设置！"),
    ROW(-371, "Invalid usb path.\nPlease reset.", "无效USB路径。\n请重新设置！"),
    ROW(-372, "Usb Device not found.\nPlease confirm the target printer is connected and power on.",
        "未找到USB设备。\n请确认已连接指定的USB打印机并打开电源！"),
    ROW(-373, "Usb device busy.\nPlease wait.", "USB设备运行中。\n请稍候操作！"),
    ROW(-401, "MSR track not ready.Please first enter into the MSR read mode.", "未进入读MSR模式。请先进入MSR读模式！"),
    ROW(-411, "Smart card not ready. Please first enter into the Smart card read mode.",
        "未进入读SCR模式。请先进入读SCR模式！"),
    ROW(-501, "Error set Encrypt head. Please retry.", "磁头加密设置错误。请重新设置！"),
    ROW(-511, "Error decrypt head data. Please retry.", "磁头信息解密异常。请重读！"),
    ROW(-1100, "The LIBUSB operation completed successfully.", "LIBUSB执行成功。"),
    ROW(-1101, "LIBUSB: IO error. Please check IO settings.", "LIBUSB：IO 错误。请查看IO设置！"),
    ROW(-1102, "LIBUSB error: Invalid param. Please check the parameters are corrected.",
        "LIBUSB：无效参数。请检查参数是否正确！"),
    ROW(-1103, "LIBUSB：IO Access Error. Please confirm have assigned access right.",
        "LIBUSB：IO访问错误。请确认访问权限！"),
    ROW(-1104, "LIBUSB：No IO Device. Please confirm the deviced has connected.", "LIBUSB：没有IO设备。"),
    ROW(-1105, "LIBUSB: No found IO device. Please attach the IO device.",
        "LIBUSB：查找不到IO设备。请确认已连接IO设备！"),
    ROW(-1106, "LIBUSB: IO busy. Please execute lately.", "LIBUSB：IO 忙。请稍后重试！"),
    ROW(-1107, "LIBUSB: IO Timeout.Please check the device is operating normally and the timeout setting is correct.",
        "LIBUSB：超时错。请查看打印机是否正常以及超时设置是否正确！"),
    ROW(-1108, "LIBUSB: overflow error.", "LIBUSB：溢出错误。"),
    ROW(-1109, "LIBUSB error: pipe error.", "LIBUSB错误：管道异常。"),
    ROW(-1110, "LIBUSB error:  Operate interrupted.Please try again.", "LIBUSB错误：操作中断。请重新操作！"),
    ROW(-1111, "LIBUSB error: No memory.Please check memory state.", "LIBUSB错误：内存不足。请检查内存状态！"),
    ROW(-1112, "LIBUSB error: Not supported. Please check current operation.",
        "LIBUSB错误：不支持当前操作。请检查当前操作！"),
    ROW(-1199, "LIBUSB Unknow Error.", "LIBUSB未知错误。"),
};

const Expected fallback = ROW(0, "Printer Unknown Error!", "未知错误!");

// Converts text between two encodings with iconv; "?" marks a failure.
std::string recode(const std::string &text, const char *from, const char *to)
{
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1))
    return "?iconv_open";
  std::string out(text.size() * 4 + 4, '\0');
  char *in = const_cast<char *>(text.data());
  size_t in_left = text.size();
  char *op = out.data();
  size_t out_left = out.size();
  const size_t done = iconv(cd, &in, &in_left, &op, &out_left);
  iconv_close(cd);
  if (done == static_cast<size_t>(-1))
    return "?iconv";
  out.resize(out.size() - out_left);
  return out;
}

// Formats a code narrow and returns the text in UTF-8, with result and length.
struct Narrow {
  int result;
  std::string utf8;
  int length;
};
Narrow narrow_text(int code, int language)
{
  char buffer[255] = {};
  int length = -1;
  const int result = format_ovik_error(code, buffer, sizeof buffer, language, &length);
  return {result, recode(buffer, "GBK", "UTF-8"), length};
}

// Formats a code in wide characters.
struct Wide {
  int result;
  std::wstring text;
  int length;
};
Wide wide_text(int code, int language, int capacity = 255)
{
  std::vector<wchar_t> buffer(255, L'\0');
  int length = -1;
  const int result = format_ovik_error_wchar(code, buffer.data(), capacity, language, &length);
  return {result, buffer.data(), length};
}

// Sets LC_CTYPE for one test and restores it afterwards.
struct LocaleGuard {
  std::string saved = std::setlocale(LC_CTYPE, nullptr);
  bool ok;
  explicit LocaleGuard(const char *name) : ok(std::setlocale(LC_CTYPE, name) != nullptr) {}
  ~LocaleGuard() { std::setlocale(LC_CTYPE, saved.c_str()); }
};

class ErrorTextTest : public testing::TestWithParam<Expected> {};

TEST_P(ErrorTextTest, NarrowTextsAreTheGbkBytesOfBothLanguages)
{
  const Expected &e = GetParam();
  const Narrow english = narrow_text(e.code, LANGUAGE_ENGLISH);
  EXPECT_EQ(english.result, 0);
  EXPECT_EQ(english.utf8, e.english);
  EXPECT_EQ(english.length, static_cast<int>(recode(e.english, "UTF-8", "GBK").size()));

  const Narrow chinese = narrow_text(e.code, LANGUAGE_CHINESE);
  EXPECT_EQ(chinese.result, 0);
  EXPECT_EQ(chinese.utf8, e.chinese);
  EXPECT_EQ(chinese.length, static_cast<int>(recode(e.chinese, "UTF-8", "GBK").size()));
}

// The test program runs in the C locale: the wide texts must not need zh_CN.
TEST_P(ErrorTextTest, WideTextsAreTheRightCharactersInTheCLocale)
{
  const Expected &e = GetParam();
  const Wide english = wide_text(e.code, LANGUAGE_ENGLISH);
  EXPECT_EQ(english.result, 0);
  EXPECT_EQ(english.text, e.wide_english);
  EXPECT_EQ(english.length, static_cast<int>(std::wcslen(e.wide_english)));

  const Wide chinese = wide_text(e.code, LANGUAGE_CHINESE);
  EXPECT_EQ(chinese.result, 0);
  EXPECT_EQ(chinese.text, e.wide_chinese);
  EXPECT_EQ(chinese.length, static_cast<int>(std::wcslen(e.wide_chinese)));
}

INSTANTIATE_TEST_SUITE_P(EveryCode, ErrorTextTest, testing::ValuesIn(expected_texts),
                         [](const testing::TestParamInfo<Expected> &info) {
                           const int code = info.param.code;
                           return (code < 0 ? "minus" : "") + std::to_string(code < 0 ? -code : code);
                         });

TEST(ErrorText, CodeZeroInEnglishIs37Bytes)
{
  const Narrow text = narrow_text(0, LANGUAGE_ENGLISH);
  EXPECT_EQ(text.utf8, "The operation completed successfully.");
  EXPECT_EQ(text.length, 37);
}

TEST(ErrorText, ChineseLengthCountsGbkBytesNotCharacters)
{
  char buffer[255] = {};
  int length = -1;
  ASSERT_EQ(format_ovik_error(-9, buffer, sizeof buffer, LANGUAGE_CHINESE, &length), 0);
  EXPECT_EQ(std::string(buffer), recode("计算机内存不足。请增加可用内存！", "UTF-8", "GBK"));
  EXPECT_EQ(length, 32);
}

TEST(ErrorText, CodesWithoutARowTakeTheFallbackTexts)
{
  for (const int code : {4, -5, -30, -999, -1113, -12}) {
    SCOPED_TRACE(code);
    const Narrow english = narrow_text(code, LANGUAGE_ENGLISH);
    EXPECT_EQ(english.result, 0);
    EXPECT_EQ(english.utf8, fallback.english);
    EXPECT_EQ(narrow_text(code, LANGUAGE_CHINESE).utf8, fallback.chinese);
    EXPECT_EQ(wide_text(code, LANGUAGE_CHINESE).text, fallback.wide_chinese);
  }
}

TEST(ErrorText, OnlyLanguageFourSelectsChinese)
{
  for (const int language : {-1, 1, 3, 5, 936})
    EXPECT_EQ(narrow_text(-9, language).utf8, "There is not enough memory. Please add available memory.");
}

TEST(ErrorText, TextMustFitWithItsTerminator)
{
  // -6 has the longest English text, 119 bytes; the buffer held "previous".
  struct Case {
    int size;
    int result;
    std::string content;
    int length;
  };
  const std::string text = "The handle value specified is incorrect. Please confirm the handle "
                           "value is initialed correctly and not been destroied.";
  // Nothing is read beyond size: a size of 0 measures nothing.
  for (const Case &c : {Case{119, -2, "previous", 8}, Case{120, 0, text, 119}, Case{0, -2, "previous", 0}}) {
    SCOPED_TRACE(c.size);
    std::array<char, 130> buffer{};
    std::strcpy(buffer.data(), "previous");
    int length = -1;
    EXPECT_EQ(format_ovik_error(-6, buffer.data(), c.size, LANGUAGE_ENGLISH, &length), c.result);
    EXPECT_EQ(std::string(buffer.data()), c.content);
    EXPECT_EQ(length, c.length);
  }
}

TEST(ErrorText, CpystrCopiesOnlyWhatFits)
{
  struct Case {
    const char *text;
    int size;
    int result;
    const char *content;
  };
  for (const Case &c : {Case{"abc", 4, 0, "abc"}, Case{"abc", 3, -2, "xyzw"}, Case{"", 1, 0, ""},
                        Case{"", 0, -2, "xyzw"}, Case{"abc", -5, -2, "xyzw"}}) {
    SCOPED_TRACE(testing::Message() << c.text << "/" << c.size);
    char buffer[8] = "xyzw";
    EXPECT_EQ(cpystr(buffer, c.size, c.text), c.result);
    EXPECT_STREQ(buffer, c.content);
  }
}

TEST(WideErrorText, CapacityCountsWideCharactersWithTheTerminator)
{
  // The Chinese text of -9 is 16 characters.
  std::vector<wchar_t> buffer(20, L'#');
  int length = -1;
  EXPECT_EQ(format_ovik_error_wchar(-9, buffer.data(), 16, LANGUAGE_CHINESE, &length), -2);
  EXPECT_EQ(std::wstring(buffer.begin(), buffer.end()), std::wstring(20, L'#'));
  EXPECT_EQ(length, -1);

  EXPECT_EQ(format_ovik_error_wchar(-9, buffer.data(), 17, LANGUAGE_CHINESE, &length), 0);
  EXPECT_EQ(std::wstring(buffer.begin(), buffer.end()),
            std::wstring(L"计算机内存不足。请增加可用内存！") + L'\0' + L"###");
  EXPECT_EQ(length, 16);
}

TEST(WideErrorText, GbkIsDecodedWithoutTouchingTheLocale)
{
  LocaleGuard guard("C.utf8");
  if (!guard.ok)
    GTEST_SKIP() << "no C.utf8 locale";
  EXPECT_EQ(wide_text(-1103, LANGUAGE_CHINESE).text, L"LIBUSB：IO访问错误。请确认访问权限！");
  EXPECT_EQ(wide_text(-1104, LANGUAGE_ENGLISH).text,
            L"LIBUSB：No IO Device. Please confirm the deviced has connected.");
  EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C.utf8");
}

TEST(FormatErrorAnsi, ClearsTheRangeAndWritesFromTheOffset)
{
  std::string buffer(110, 'x');
  EXPECT_EQ(ovik_format_error_ansi(-100, LANGUAGE_ENGLISH, buffer.data(), 10, 100), 0);
  const std::string text = "OVIK print error.";
  EXPECT_EQ(buffer, std::string(10, 'x') + text + std::string(90 - text.size(), '\0') + std::string(10, 'x'));
}

TEST(FormatErrorAnsi, ResultOfATextThatDoesNotFitOrABadRange)
{
  std::string buffer(30, 'x');
  EXPECT_EQ(ovik_format_error_ansi(-100, LANGUAGE_ENGLISH, buffer.data(), 10, 27), -2);
  EXPECT_EQ(buffer, std::string(10, 'x') + std::string(17, '\0') + "xxx");

  buffer.assign(30, 'x');
  EXPECT_EQ(ovik_format_error_ansi(-100, LANGUAGE_ENGLISH, buffer.data(), 10, 9), -1);
  EXPECT_EQ(ovik_format_error_ansi(-100, LANGUAGE_ENGLISH, buffer.data(), -1, 9), -1);
  EXPECT_EQ(buffer, std::string(30, 'x'));
}

TEST(FormatErrorWchar, OffsetAndEndCountBytes)
{
  struct Case {
    int code;
    int language;
    int offset;
    int end;
    int result;
    std::wstring text;
  };
  const Case cases[] = {
      // 15 characters and the terminator fill the 16 of bytes 8 to 72.
      {-351, LANGUAGE_CHINESE, 8, 72, 0, L"无效串口波特率。\n请重新设置！"},
      // 16 characters do not fit.
      {-341, LANGUAGE_ENGLISH, 8, 72, -2, L""},
      // Capacity rounds down: bytes 72 to 74 stay untouched.
      {-100, LANGUAGE_CHINESE, 8, 75, 0, L"OVIK 打印错误！"},
      // An offset that is not a multiple of the wide-character size.
      {-308, LANGUAGE_CHINESE, 6, 70, 0, L"IO错误：无效句柄"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.code);
    std::vector<unsigned char> buffer(100, 0xEE);
    EXPECT_EQ(ovik_format_error_wchar(c.code, c.language, reinterpret_cast<wchar_t *>(buffer.data()), c.offset, c.end),
              c.result);
    std::vector<unsigned char> expected(100, 0xEE);
    const size_t cleared = (c.end - c.offset) / sizeof(wchar_t) * sizeof(wchar_t);
    std::fill_n(expected.begin() + c.offset, cleared, 0);
    std::memcpy(expected.data() + c.offset, c.text.c_str(), c.text.size() * sizeof(wchar_t));
    EXPECT_EQ(buffer, expected);
  }
}

TEST(FormatError, PositiveCodesAreCLibraryTexts)
{
  char buffer[255] = {};
  int length = -1;
  EXPECT_EQ(format_error(2, buffer, sizeof buffer, LANGUAGE_ENGLISH, &length), 0);
  EXPECT_STREQ(buffer, "No such file or directory");
  EXPECT_EQ(length, 25);

  std::vector<wchar_t> wide(255, L'\0');
  length = -1;
  EXPECT_EQ(format_error_wchar(2, wide.data(), 255, LANGUAGE_ENGLISH, &length), 0);
  EXPECT_EQ(std::wstring(wide.data()), L"No such file or directory");
  EXPECT_EQ(length, 25);

  EXPECT_EQ(format_error_wchar(2, wide.data(), 25, LANGUAGE_ENGLISH, &length), -2);
}

TEST(FormatError, CLibraryFailuresPassThrough)
{
  char buffer[255] = {};
  int length = -1;
  EXPECT_EQ(format_error(100000, buffer, sizeof buffer, LANGUAGE_ENGLISH, &length), EINVAL);
  EXPECT_EQ(format_error(2, buffer, 5, LANGUAGE_ENGLISH, &length), ERANGE);
  EXPECT_EQ(length, -1);
  std::vector<wchar_t> wide(255, L'\0');
  EXPECT_EQ(format_error_wchar(100000, wide.data(), 255, LANGUAGE_ENGLISH, &length), EINVAL);
}

TEST(FormatError, ZeroAndNegativeCodesAreTheLibraryTexts)
{
  char buffer[255] = {};
  int length = -1;
  EXPECT_EQ(format_error(-9, buffer, sizeof buffer, LANGUAGE_ENGLISH, &length), 0);
  EXPECT_STREQ(buffer, "There is not enough memory. Please add available memory.");
  std::vector<wchar_t> wide(255, L'\0');
  EXPECT_EQ(format_error_wchar(0, wide.data(), 255, LANGUAGE_CHINESE, &length), 0);
  EXPECT_EQ(std::wstring(wide.data()), L"操作成功完成。");
}

TEST(LastError, KeepsTheStoredCode)
{
  for (const int32_t code : {-9, 0, 17, -1199}) {
    ovik_set_last_error(code);
    EXPECT_EQ(ovik_get_last_error(), code);
  }
}

} // namespace
