// ovik_error.cpp - the library's error codes with their English and Chinese
// texts, the last-error slot, and a code's text in narrow or wide characters.
#include "ovik_error.h"
#include "ovik_string.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iconv.h>
#include <iterator>
#include <memory>

#if defined(__GLIBC__)
// glibc's XSI strerror_r: under _GNU_SOURCE, which g++ always sets, the plain
// name is the GNU form that returns a pointer and never fails.
extern "C" int __xpg_strerror_r(int code, char *destination, size_t size) noexcept;
#endif

namespace {

// The code most recently stored by a caller; 0 until one does.
int32_t ovik_last_error = 0;

// Scratch for the narrow text that the wide-character paths convert.
char tmpbuf[255];

// One code with its two texts. Chinese texts, and the full-width colon in the
// English texts of -1103 and -1104, are GBK (code page 936) bytes.
struct ErrorText {
  int32_t code;
  const char *english;
  const char *chinese;
};

constexpr ErrorText error_texts[] = {
    // 操作成功完成。
    {0, "The operation completed successfully.", "\xB2\xD9\xD7\xF7\xB3\xC9\xB9\xA6\xCD\xEA\xB3\xC9\xA1\xA3"},
    // 参数错误。请检查参数是否正确！
    {-1, "Parameter is error. Please check the parameter is corrected.",
     "\xB2\xCE\xCA\xFD\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xBC\xEC\xB2\xE9\xB2\xCE\xCA\xFD\xCA\xC7"
     "\xB7\xF1\xD5\xFD\xC8\xB7\xA3\xA1"},
    // 缓存不足。请增加缓存大小！
    {-2, "There is not enough buffer. Please enlarge the buffer size.",
     "\xBB\xBA\xB4\xE6\xB2\xBB\xD7\xE3\xA1\xA3\xC7\xEB\xD4\xF6\xBC\xD3\xBB\xBA\xB4\xE6\xB4\xF3"
     "\xD0\xA1\xA3\xA1"},
    // 打印机类型错误。请选择正确的打印机预设类型！
    {-3, "Printer model type is error. Please use the printer with expected type.",
     "\xB4\xF2\xD3\xA1\xBB\xFA\xC0\xE0\xD0\xCD\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xD1\xA1\xD4\xF1"
     "\xD5\xFD\xC8\xB7\xB5\xC4\xB4\xF2\xD3\xA1\xBB\xFA\xD4\xA4\xC9\xE8\xC0\xE0\xD0\xCD\xA3\xA1"},
    // 不支持当前打印机。请使用支持的打印机！
    {-4, "Does not support this printer. Please use the supported printer.",
     "\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xB1\xC7\xB0\xB4\xF2\xD3\xA1\xBB\xFA\xA1\xA3\xC7\xEB\xCA\xB9"
     "\xD3\xC3\xD6\xA7\xB3\xD6\xB5\xC4\xB4\xF2\xD3\xA1\xBB\xFA\xA3\xA1"},
    // 指定句柄发生错误。请确认句柄值是否正确和句柄是否被关闭！
    {-6,
     "The handle value specified is incorrect. Please confirm the handle value is initialed correctly and "
     "not been destroied.",
     "\xD6\xB8\xB6\xA8\xBE\xE4\xB1\xFA\xB7\xA2\xC9\xFA\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xC8\xB7"
     "\xC8\xCF\xBE\xE4\xB1\xFA\xD6\xB5\xCA\xC7\xB7\xF1\xD5\xFD\xC8\xB7\xBA\xCD\xBE\xE4\xB1\xFA"
     "\xCA\xC7\xB7\xF1\xB1\xBB\xB9\xD8\xB1\xD5\xA3\xA1"},
    // 未实现该功能。请与软件供应商确认是否实现该功能！
    {-7, "Program not implemented. Please confirmed with software supplier.",
     "\xCE\xB4\xCA\xB5\xCF\xD6\xB8\xC3\xB9\xA6\xC4\xDC\xA1\xA3\xC7\xEB\xD3\xEB\xC8\xED\xBC\xFE"
     "\xB9\xA9\xD3\xA6\xC9\xCC\xC8\xB7\xC8\xCF\xCA\xC7\xB7\xF1\xCA\xB5\xCF\xD6\xB8\xC3\xB9\xA6"
     "\xC4\xDC\xA3\xA1"},
    // 无法识别的打印机型号。请使用正确的打印机型号！
    {-8, "Unable to identify the printer model. Please correct the printer model.",
     "\xCE\xDE\xB7\xA8\xCA\xB6\xB1\xF0\xB5\xC4\xB4\xF2\xD3\xA1\xBB\xFA\xD0\xCD\xBA\xC5\xA1\xA3"
     "\xC7\xEB\xCA\xB9\xD3\xC3\xD5\xFD\xC8\xB7\xB5\xC4\xB4\xF2\xD3\xA1\xBB\xFA\xD0\xCD\xBA\xC5"
     "\xA3\xA1"},
    // 计算机内存不足。请增加可用内存！
    {-9, "There is not enough memory. Please add available memory.",
     "\xBC\xC6\xCB\xE3\xBB\xFA\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA1\xA3\xC7\xEB\xD4\xF6\xBC\xD3"
     "\xBF\xC9\xD3\xC3\xC4\xDA\xB4\xE6\xA3\xA1"},
    // 不是指定的打印机。请更换为指定打印机！
    {-10, "There is not the target printer. Please replace it with one target printer.",
     "\xB2\xBB\xCA\xC7\xD6\xB8\xB6\xA8\xB5\xC4\xB4\xF2\xD3\xA1\xBB\xFA\xA1\xA3\xC7\xEB\xB8\xFC"
     "\xBB\xBB\xCE\xAA\xD6\xB8\xB6\xA8\xB4\xF2\xD3\xA1\xBB\xFA\xA3\xA1"},
    // 环境配置错误。请正确配置环境！
    {-11, "Environment does not configure correct. Please confim the environment is correct.",
     "\xBB\xB7\xBE\xB3\xC5\xE4\xD6\xC3\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xD5\xFD\xC8\xB7\xC5\xE4"
     "\xD6\xC3\xBB\xB7\xBE\xB3\xA3\xA1"},
    // 加载图片失败。请确认图片路径或格式是否正确！
    {-21, "Loading image error. Please check the image file path or image format.",
     "\xBC\xD3\xD4\xD8\xCD\xBC\xC6\xAC\xCA\xA7\xB0\xDC\xA1\xA3\xC7\xEB\xC8\xB7\xC8\xCF\xCD\xBC"
     "\xC6\xAC\xC2\xB7\xBE\xB6\xBB\xF2\xB8\xF1\xCA\xBD\xCA\xC7\xB7\xF1\xD5\xFD\xC8\xB7\xA3\xA1"},
    // 图片大小超出范围。请确认图片的大小是否有效！
    {-25, "Image size out of range. Please check image.",
     "\xCD\xBC\xC6\xAC\xB4\xF3\xD0\xA1\xB3\xAC\xB3\xF6\xB7\xB6\xCE\xA7\xA1\xA3\xC7\xEB\xC8\xB7"
     "\xC8\xCF\xCD\xBC\xC6\xAC\xB5\xC4\xB4\xF3\xD0\xA1\xCA\xC7\xB7\xF1\xD3\xD0\xD0\xA7\xA3\xA1"},
    // OVIK 打印错误！
    {-100, "OVIK print error.", "OVIK \xB4\xF2\xD3\xA1\xB4\xED\xCE\xF3\xA3\xA1"},
    // 驱动数据错误。请重新安装正确的驱动程序！
    {-101, "Drive data error. Please reinstall the correct driver.",
     "\xC7\xFD\xB6\xAF\xCA\xFD\xBE\xDD\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xD6\xD8\xD0\xC2\xB0\xB2"
     "\xD7\xB0\xD5\xFD\xC8\xB7\xB5\xC4\xC7\xFD\xB6\xAF\xB3\xCC\xD0\xF2\xA3\xA1"},
    // 驱动打印机状态错误。\n请检查打印机状态！
    {-102, "Drive printer state error.\nPlease check printer state.",
     "\xC7\xFD\xB6\xAF\xB4\xF2\xD3\xA1\xBB\xFA\xD7\xB4\xCC\xAC\xB4\xED\xCE\xF3\xA1\xA3\n"
     "\xC7\xEB\xBC\xEC\xB2\xE9\xB4\xF2\xD3\xA1\xBB\xFA\xD7\xB4\xCC\xAC\xA3\xA1"},
    // IO错误。\n请确认IO和IO配置的有效性！
    {-300, "IO port error.\nPlease confirm the validity of a serial port and configuration.",
     "IO\xB4\xED\xCE\xF3\xA1\xA3\n\xC7\xEB\xC8\xB7\xC8\xCFIO\xBA\xCDIO\xC5\xE4\xD6\xC3\xB5\xC4"
     "\xD3\xD0\xD0\xA7\xD0\xD4\xA3\xA1"},
    // IO错误：配置无效。\n请确认端口的配置！
    {-301, "IO invalid setting.\nPlease confirm IO port configuration.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xC5\xE4\xD6\xC3\xCE\xDE\xD0\xA7\xA1\xA3\n\xC7\xEB\xC8\xB7"
     "\xC8\xCF\xB6\xCB\xBF\xDA\xB5\xC4\xC5\xE4\xD6\xC3\xA3\xA1"},
    // IO错误：端口名过长。\n请重新设置端口名！
    {-302, "IO name too long.\nPlease reset the port name.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB6\xCB\xBF\xDA\xC3\xFB\xB9\xFD\xB3\xA4\xA1\xA3\n\xC7\xEB"
     "\xD6\xD8\xD0\xC2\xC9\xE8\xD6\xC3\xB6\xCB\xBF\xDA\xC3\xFB\xA3\xA1"},
    // IO错误：操作系统版本过低。\n请更新版本！
    {-304, "Operating system version is too low.\nPlease update version.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB2\xD9\xD7\xF7\xCF\xB5\xCD\xB3\xB0\xE6\xB1\xBE\xB9\xFD"
     "\xB5\xCD\xA1\xA3\n\xC7\xEB\xB8\xFC\xD0\xC2\xB0\xE6\xB1\xBE\xA3\xA1"},
    // IO错误：无效句柄
    {-308, "IO invalid handle.", "IO\xB4\xED\xCE\xF3\xA3\xBA\xCE\xDE\xD0\xA7\xBE\xE4\xB1\xFA"},
    // IO错误：端口未打开。\n请先打开端口！
    {-309, "IO port not open.\nPlease open the IO port.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB6\xCB\xBF\xDA\xCE\xB4\xB4\xF2\xBF\xAA\xA1\xA3\n\xC7\xEB"
     "\xCF\xC8\xB4\xF2\xBF\xAA\xB6\xCB\xBF\xDA\xA3\xA1"},
    // IO错误：端口已打开。\n请先关闭再尝试打开！
    {-310, "IO port already open.\nPlease close and try again to open.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB6\xCB\xBF\xDA\xD2\xD1\xB4\xF2\xBF\xAA\xA1\xA3\n\xC7\xEB"
     "\xCF\xC8\xB9\xD8\xB1\xD5\xD4\xD9\xB3\xA2\xCA\xD4\xB4\xF2\xBF\xAA\xA3\xA1"},
    // IO错误：打开失败。\n请确认配置是否正确！
    {-311, "IO port open failed.\nPlease confirm the configuration is correct.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB4\xF2\xBF\xAA\xCA\xA7\xB0\xDC\xA1\xA3\n\xC7\xEB\xC8\xB7"
     "\xC8\xCF\xC5\xE4\xD6\xC3\xCA\xC7\xB7\xF1\xD5\xFD\xC8\xB7\xA3\xA1"},
    // IO错误：获取属性错误。\n请重新获取！
    {-312, "Get IO port attributes error.\nPlease get back again.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xBB\xF1\xC8\xA1\xCA\xF4\xD0\xD4\xB4\xED\xCE\xF3\xA1\xA3\n"
     "\xC7\xEB\xD6\xD8\xD0\xC2\xBB\xF1\xC8\xA1\xA3\xA1"},
    // IO错误：设置属性错误。\n请重新设置！
    {-313, "Set IO port attributes error.\nPlease reset.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xC9\xE8\xD6\xC3\xCA\xF4\xD0\xD4\xB4\xED\xCE\xF3\xA1\xA3\n"
     "\xC7\xEB\xD6\xD8\xD0\xC2\xC9\xE8\xD6\xC3\xA3\xA1"},
    // IO错误：写入数据失败。\n请确认端口是否打开！
    {-321, "IO port write failed.\nPlease confirm IO port is open.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xD0\xB4\xC8\xEB\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC\xA1\xA3\n"
     "\xC7\xEB\xC8\xB7\xC8\xCF\xB6\xCB\xBF\xDA\xCA\xC7\xB7\xF1\xB4\xF2\xBF\xAA\xA3\xA1"},
    // IO错误：写入数据超时。\n请重新写入数据！
    {-322, "IO port write timeout.\nPlease write again.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xD0\xB4\xC8\xEB\xCA\xFD\xBE\xDD\xB3\xAC\xCA\xB1\xA1\xA3\n"
     "\xC7\xEB\xD6\xD8\xD0\xC2\xD0\xB4\xC8\xEB\xCA\xFD\xBE\xDD\xA3\xA1"},
    // IO错误：读取失败。\n请确认端口是否打开！
    {-331, "IO port read failed.\nPlease confirm IO port is open.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB6\xC1\xC8\xA1\xCA\xA7\xB0\xDC\xA1\xA3\n\xC7\xEB\xC8\xB7"
     "\xC8\xCF\xB6\xCB\xBF\xDA\xCA\xC7\xB7\xF1\xB4\xF2\xBF\xAA\xA3\xA1"},
    // IO错误：读取数据超时。\n请重新读取！
    {-332, "IO port read timeout.\nPlease read again.",
     "IO\xB4\xED\xCE\xF3\xA3\xBA\xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xB3\xAC\xCA\xB1\xA1\xA3\n"
     "\xC7\xEB\xD6\xD8\xD0\xC2\xB6\xC1\xC8\xA1\xA3\xA1"},
    // IO错误：刷新缓冲失败。
    {-341, "IO flush failed.", "IO\xB4\xED\xCE\xF3\xA3\xBA\xCB\xA2\xD0\xC2\xBB\xBA\xB3\xE5\xCA\xA7\xB0\xDC\xA1\xA3"},
    // 无效串口波特率。\n请重新设置！
    {-351, "IO serial invalid baudrate.\nPlease reset.",
     "\xCE\xDE\xD0\xA7\xB4\xAE\xBF\xDA\xB2\xA8\xCC\xD8\xC2\xCA\xA1\xA3\n\xC7\xEB\xD6\xD8"
     "\xD0\xC2\xC9\xE8\xD6\xC3\xA3\xA1"},
    // 网卡连接失败。\n请确认网络打印机处于可连接状态！
    {-352,
     "Cannot connect the target network printer.\nPlease confirm the network printer is online and in the "
     "same network.",
     "\xCD\xF8\xBF\xA8\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC\xA1\xA3\n\xC7\xEB\xC8\xB7\xC8\xCF"
     "\xCD\xF8\xC2\xE7\xB4\xF2\xD3\xA1\xBB\xFA\xB4\xA6\xD3\xDA\xBF\xC9\xC1\xAC\xBD\xD3\xD7\xB4"
     "\xCC\xAC\xA3\xA1"},
    // 无效握手协议。\n请重新设置！
    {-361, "IO serial invalid handshake.\nPlease reset.",
     "\xCE\xDE\xD0\xA7\xCE\xD5\xCA\xD6\xD0\xAD\xD2\xE9\xA1\xA3\n\xC7\xEB\xD6\xD8\xD0\xC2"
     "\xC9\xE8\xD6\xC3\xA3\xA1"},
    // 无效USB路径。\n请重新设置！
    {-371, "Invalid usb path.\nPlease reset.",
     "\xCE\xDE\xD0\xA7USB\xC2\xB7\xBE\xB6\xA1\xA3\n\xC7\xEB\xD6\xD8\xD0\xC2\xC9\xE8\xD6\xC3"
     "\xA3\xA1"},
    // 未找到USB设备。\n请确认已连接指定的USB打印机并打开电源！
    {-372, "Usb Device not found.\nPlease confirm the target printer is connected and power on.",
     "\xCE\xB4\xD5\xD2\xB5\xBDUSB\xC9\xE8\xB1\xB8\xA1\xA3\n\xC7\xEB\xC8\xB7\xC8\xCF\xD2\xD1"
     "\xC1\xAC\xBD\xD3\xD6\xB8\xB6\xA8\xB5\xC4USB\xB4\xF2\xD3\xA1\xBB\xFA\xB2\xA2\xB4\xF2"
     "\xBF\xAA\xB5\xE7\xD4\xB4\xA3\xA1"},
    // USB设备运行中。\n请稍候操作！
    {-373, "Usb device busy.\nPlease wait.",
     "USB\xC9\xE8\xB1\xB8\xD4\xCB\xD0\xD0\xD6\xD0\xA1\xA3\n\xC7\xEB\xC9\xD4\xBA\xF2\xB2\xD9"
     "\xD7\xF7\xA3\xA1"},
    // 未进入读MSR模式。请先进入MSR读模式！
    {-401, "MSR track not ready.Please first enter into the MSR read mode.",
     "\xCE\xB4\xBD\xF8\xC8\xEB\xB6\xC1MSR\xC4\xA3\xCA\xBD\xA1\xA3\xC7\xEB\xCF\xC8\xBD\xF8"
     "\xC8\xEBMSR\xB6\xC1\xC4\xA3\xCA\xBD\xA3\xA1"},
    // 未进入读SCR模式。请先进入读SCR模式！
    {-411, "Smart card not ready. Please first enter into the Smart card read mode.",
     "\xCE\xB4\xBD\xF8\xC8\xEB\xB6\xC1SCR\xC4\xA3\xCA\xBD\xA1\xA3\xC7\xEB\xCF\xC8\xBD\xF8"
     "\xC8\xEB\xB6\xC1SCR\xC4\xA3\xCA\xBD\xA3\xA1"},
    // 磁头加密设置错误。请重新设置！
    {-501, "Error set Encrypt head. Please retry.",
     "\xB4\xC5\xCD\xB7\xBC\xD3\xC3\xDC\xC9\xE8\xD6\xC3\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xD6\xD8"
     "\xD0\xC2\xC9\xE8\xD6\xC3\xA3\xA1"},
    // 磁头信息解密异常。请重读！
    {-511, "Error decrypt head data. Please retry.",
     "\xB4\xC5\xCD\xB7\xD0\xC5\xCF\xA2\xBD\xE2\xC3\xDC\xD2\xEC\xB3\xA3\xA1\xA3\xC7\xEB\xD6\xD8"
     "\xB6\xC1\xA3\xA1"},
    // LIBUSB执行成功。
    {-1100, "The LIBUSB operation completed successfully.", "LIBUSB\xD6\xB4\xD0\xD0\xB3\xC9\xB9\xA6\xA1\xA3"},
    // LIBUSB：IO 错误。请查看IO设置！
    {-1101, "LIBUSB: IO error. Please check IO settings.",
     "LIBUSB\xA3\xBAIO \xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xB2\xE9\xBF\xB4IO\xC9\xE8\xD6\xC3"
     "\xA3\xA1"},
    // LIBUSB：无效参数。请检查参数是否正确！
    {-1102, "LIBUSB error: Invalid param. Please check the parameters are corrected.",
     "LIBUSB\xA3\xBA\xCE\xDE\xD0\xA7\xB2\xCE\xCA\xFD\xA1\xA3\xC7\xEB\xBC\xEC\xB2\xE9\xB2\xCE"
     "\xCA\xFD\xCA\xC7\xB7\xF1\xD5\xFD\xC8\xB7\xA3\xA1"},
    // LIBUSB：IO Access Error. Please confirm have assigned access right.
    // LIBUSB：IO访问错误。请确认访问权限！
    {-1103, "LIBUSB\xA3\xBAIO Access Error. Please confirm have assigned access right.",
     "LIBUSB\xA3\xBAIO\xB7\xC3\xCE\xCA\xB4\xED\xCE\xF3\xA1\xA3\xC7\xEB\xC8\xB7\xC8\xCF\xB7\xC3"
     "\xCE\xCA\xC8\xA8\xCF\xDE\xA3\xA1"},
    // LIBUSB：No IO Device. Please confirm the deviced has connected.
    // LIBUSB：没有IO设备。
    {-1104, "LIBUSB\xA3\xBANo IO Device. Please confirm the deviced has connected.",
     "LIBUSB\xA3\xBA\xC3\xBB\xD3\xD0IO\xC9\xE8\xB1\xB8\xA1\xA3"},
    // LIBUSB：查找不到IO设备。请确认已连接IO设备！
    {-1105, "LIBUSB: No found IO device. Please attach the IO device.",
     "LIBUSB\xA3\xBA\xB2\xE9\xD5\xD2\xB2\xBB\xB5\xBDIO\xC9\xE8\xB1\xB8\xA1\xA3\xC7\xEB\xC8\xB7"
     "\xC8\xCF\xD2\xD1\xC1\xAC\xBD\xD3IO\xC9\xE8\xB1\xB8\xA3\xA1"},
    // LIBUSB：IO 忙。请稍后重试！
    {-1106, "LIBUSB: IO busy. Please execute lately.",
     "LIBUSB\xA3\xBAIO \xC3\xA6\xA1\xA3\xC7\xEB\xC9\xD4\xBA\xF3\xD6\xD8\xCA\xD4\xA3\xA1"},
    // LIBUSB：超时错。请查看打印机是否正常以及超时设置是否正确！
    {-1107, "LIBUSB: IO Timeout.Please check the device is operating normally and the timeout setting is correct.",
     "LIBUSB\xA3\xBA\xB3\xAC\xCA\xB1\xB4\xED\xA1\xA3\xC7\xEB\xB2\xE9\xBF\xB4\xB4\xF2\xD3\xA1"
     "\xBB\xFA\xCA\xC7\xB7\xF1\xD5\xFD\xB3\xA3\xD2\xD4\xBC\xB0\xB3\xAC\xCA\xB1\xC9\xE8\xD6\xC3"
     "\xCA\xC7\xB7\xF1\xD5\xFD\xC8\xB7\xA3\xA1"},
    // LIBUSB：溢出错误。
    {-1108, "LIBUSB: overflow error.", "LIBUSB\xA3\xBA\xD2\xE7\xB3\xF6\xB4\xED\xCE\xF3\xA1\xA3"},
    // LIBUSB错误：管道异常。
    {-1109, "LIBUSB error: pipe error.", "LIBUSB\xB4\xED\xCE\xF3\xA3\xBA\xB9\xDC\xB5\xC0\xD2\xEC\xB3\xA3\xA1\xA3"},
    // LIBUSB错误：操作中断。请重新操作！
    {-1110, "LIBUSB error:  Operate interrupted.Please try again.",
     "LIBUSB\xB4\xED\xCE\xF3\xA3\xBA\xB2\xD9\xD7\xF7\xD6\xD0\xB6\xCF\xA1\xA3\xC7\xEB\xD6\xD8"
     "\xD0\xC2\xB2\xD9\xD7\xF7\xA3\xA1"},
    // LIBUSB错误：内存不足。请检查内存状态！
    {-1111, "LIBUSB error: No memory.Please check memory state.",
     "LIBUSB\xB4\xED\xCE\xF3\xA3\xBA\xC4\xDA\xB4\xE6\xB2\xBB\xD7\xE3\xA1\xA3\xC7\xEB\xBC\xEC"
     "\xB2\xE9\xC4\xDA\xB4\xE6\xD7\xB4\xCC\xAC\xA3\xA1"},
    // LIBUSB错误：不支持当前操作。请检查当前操作！
    {-1112, "LIBUSB error: Not supported. Please check current operation.",
     "LIBUSB\xB4\xED\xCE\xF3\xA3\xBA\xB2\xBB\xD6\xA7\xB3\xD6\xB5\xB1\xC7\xB0\xB2\xD9\xD7\xF7"
     "\xA1\xA3\xC7\xEB\xBC\xEC\xB2\xE9\xB5\xB1\xC7\xB0\xB2\xD9\xD7\xF7\xA3\xA1"},
    // LIBUSB未知错误。
    {-1199, "LIBUSB Unknow Error.", "LIBUSB\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3\xA1\xA3"},
};

// A code without a row of its own: "Printer Unknown Error!" / "未知错误!" (an ASCII "!").
constexpr ErrorText fallback_text = {0, "Printer Unknown Error!", "\xCE\xB4\xD6\xAA\xB4\xED\xCE\xF3!"};

// Finds the row of a code; codes without one take the fallback texts.
const ErrorText &find_error_text(int code)
{
  const auto row = std::find_if(std::begin(error_texts), std::end(error_texts),
                                [code](const ErrorText &text) { return text.code == code; });
  return row != std::end(error_texts) ? *row : fallback_text;
}

// Writes the C library's text of an errno value (XSI strerror_r): 0, or the
// C library's own error number when it has no text or the size is too small.
int xsi_strerror(int code, char *destination, int size)
{
  const size_t capacity = size > 0 ? static_cast<size_t>(size) : 0;
#if defined(__GLIBC__)
  return __xpg_strerror_r(code, destination, capacity);
#else
  return strerror_r(code, destination, capacity);
#endif
}

// Decodes a GBK text into wide characters with the capacity rules of a2w.
// iconv rather than a locale: zh_CN may be missing, and zh_CN.utf8 reads no GBK.
int gbk_to_wide(wchar_t *destination, int capacity, const char *source, int *out_length)
{
  const iconv_t gbk = iconv_open("WCHAR_T", "GBK");
  if (gbk == reinterpret_cast<iconv_t>(-1))
    return OVIK_ERR_PARAMETER;
  const std::unique_ptr<void, decltype(&iconv_close)> closer(gbk, iconv_close);

  // A GBK text of n bytes never decodes to more than n wide characters.
  std::array<wchar_t, sizeof tmpbuf> wide{};
  char *in = const_cast<char *>(source);
  size_t in_left = std::strlen(source);
  char *out = reinterpret_cast<char *>(wide.data());
  size_t out_left = (wide.size() - 1) * sizeof(wchar_t);
  if (iconv(gbk, &in, &in_left, &out, &out_left) == static_cast<size_t>(-1))
    return OVIK_ERR_PARAMETER;

  const size_t count = wide.size() - 1 - out_left / sizeof(wchar_t);
  if (capacity < 0 || static_cast<size_t>(capacity) < count + 1)
    return OVIK_ERR_BUFFER;
  std::copy_n(wide.data(), count + 1, destination);
  if (out_length != nullptr)
    *out_length = static_cast<int>(count);
  return OVIK_SUCCESS;
}

// Checks the byte range [offset, end) that the ovik_format_error_* forms write.
bool valid_range(const void *buffer, int offset, int end)
{
  return buffer != nullptr && offset >= 0 && end >= offset;
}

} // namespace

// Returns the code last stored with ovik_set_last_error.
int32_t ovik_get_last_error(void)
{
  return ovik_last_error;
}

// Stores a code for a later ovik_get_last_error.
void ovik_set_last_error(int32_t code)
{
  ovik_last_error = code;
}

// Copies text with its terminator when it fits in size bytes; else -2 and
// the destination keeps what it held.
int cpystr(char *destination, int size, const char *text)
{
  if (destination == nullptr || text == nullptr)
    return OVIK_ERR_PARAMETER;
  const size_t length = std::strlen(text);
  if (size <= 0 || length >= static_cast<size_t>(size))
    return OVIK_ERR_BUFFER;
  std::memcpy(destination, text, length + 1);
  return OVIK_SUCCESS;
}

// Writes the library's text of a code (GBK bytes for Chinese) into destination.
int format_ovik_error(int code, char *destination, int size, int language, int *out_length)
{
  const ErrorText &text = find_error_text(code);
  const int result = cpystr(destination, size, language == LANGUAGE_CHINESE ? text.chinese : text.english);
  // Measured after the copy so that a refused text reports what the caller's
  // buffer still holds (callers clear it first).
  if (destination != nullptr && out_length != nullptr)
    *out_length = static_cast<int>(::strnlen(destination, size > 0 ? size : 0));
  return result;
}

// Writes the library's text of a code into destination as wide characters.
int format_ovik_error_wchar(int code, wchar_t *destination, int capacity, int language, int *out_length)
{
  std::memset(tmpbuf, 0, sizeof tmpbuf);
  int length = 0;
  const int result = format_ovik_error(code, tmpbuf, sizeof tmpbuf, language, &length);
  if (result != OVIK_SUCCESS)
    return result;
  if (destination == nullptr)
    return OVIK_ERR_PARAMETER;
  return gbk_to_wide(destination, capacity, tmpbuf, out_length);
}

// Writes the text of a code: the library's for 0 and below, the C library's
// for a positive errno value.
int format_error(int code, char *destination, int size, int language, int *out_length)
{
  if (code <= 0)
    return format_ovik_error(code, destination, size, language, out_length);
  const int result = xsi_strerror(code, destination, size);
  if (result == 0 && out_length != nullptr)
    *out_length = static_cast<int>(std::strlen(destination));
  return result;
}

// Wide-character form of format_error; C library texts are converted in the
// current locale by a2w.
int format_error_wchar(int code, wchar_t *destination, int capacity, int language, int *out_length)
{
  if (code <= 0)
    return format_ovik_error_wchar(code, destination, capacity, language, out_length);
  std::memset(tmpbuf, 0, sizeof tmpbuf);
  const int result = xsi_strerror(code, tmpbuf, sizeof tmpbuf);
  if (result != 0)
    return result;
  return a2w(destination, capacity, tmpbuf, static_cast<int>(std::strlen(tmpbuf)), language, out_length);
}

// Clears buffer[offset, end) and writes the text of a code from buffer[offset].
int ovik_format_error_ansi(int code, int language, char *buffer, int offset, int end)
{
  if (!valid_range(buffer, offset, end))
    return OVIK_ERR_PARAMETER;
  std::memset(buffer + offset, 0, static_cast<size_t>(end - offset));
  int length = 0;
  return format_error(code, buffer + offset, end - offset, language, &length);
}

// Clears the whole wide characters in bytes [offset, end) of buffer and writes
// the text of a code from byte offset.
int ovik_format_error_wchar(int code, int language, wchar_t *buffer, int offset, int end)
{
  if (!valid_range(buffer, offset, end))
    return OVIK_ERR_PARAMETER;
  const int capacity = (end - offset) / static_cast<int>(sizeof(wchar_t));
  char *start = reinterpret_cast<char *>(buffer) + offset;
  std::memset(start, 0, static_cast<size_t>(capacity) * sizeof(wchar_t));

  // The offset need not be a multiple of the wide-character size, so the text
  // is built in an aligned array and copied in. No text is longer than
  // tmpbuf, so a larger capacity than the array's changes no result.
  std::array<wchar_t, sizeof tmpbuf> text{};
  int length = 0;
  const int result =
      format_error_wchar(code, text.data(), std::min(capacity, static_cast<int>(text.size())), language, &length);
  if (result == OVIK_SUCCESS)
    std::memcpy(start, text.data(), static_cast<size_t>(length + 1) * sizeof(wchar_t));
  return result;
}
