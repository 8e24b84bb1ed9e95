#pragma once
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <mutex>
#include <string>

// Level of a line given to writeLogMsg.
enum _LogType {
    LOG_ERROR = 1,      // socket, bind, listen or receive errors
    LOG_MISSING = 2,    // a missing object inside a worker thread
    LOG_INFO = 3        // construction notice of a long-lived object
};

// Logging hook; it deliberately does nothing (callers still build the text).
void writeLogMsg(_LogType level, const std::string& text);

// Static helpers and the named locks that every subsystem shares. 0 means success and 255
// failure unless said otherwise.
class Utils {
public:
    Utils() {}

    // --- checksums ---
    static unsigned BCC(const unsigned char* data, unsigned length);
    static unsigned calcCRC16(const unsigned char* data, unsigned length);     // CRC-16/ARC
    static uint32_t calcCRC32(const unsigned char* data, unsigned length);     // init 0, no final XOR
    static unsigned zedoCalcCRC16(const unsigned char* data, unsigned length); // CRC-16/MCRF4XX
    static unsigned jtc1CRC16Code(const unsigned char* data, unsigned length); // CRC-16/XMODEM
    static const std::array<uint16_t, 256> crc16_tabel;
    static const std::array<uint32_t, 256> CRC32_Table;
    static const std::array<uint16_t, 256> zedoCrc16_tabel;

    // --- ticks ---
    static uint32_t getTimeSpace(uint32_t stamp);

    // --- shell and sleeps ---
    [[nodiscard]] static int system_mutex(const QString& command, int* status);
    static std::string shell_exec(const std::string& command, int size);
    static int usleep_mutex(unsigned microseconds);
    static int msleep_mutex(unsigned milliseconds);

    // --- text and files ---
    static unsigned stringToInt(const std::string& text);
    static std::string upper(std::string text);
    static std::string intToString(int value);
    static bool isFileExists(const std::string& path, bool regularOnly);
    static bool isDirExists(const std::string& path);
    [[nodiscard]] static int change_file_formt(const std::string& path);
    static void get_file_list_smartpath(QStringList& list, const QString& folder, const QString& suffix);
    // A file name is bytes: one that is not UTF-8 (GBK or Latin-1, from a PC or a stick)
    // becomes text with each stray byte as U+DC80..U+DCFF, and turns back into the same
    // bytes, so it can be shown, carried in a QString and opened again.
    static QString fileNameText(const std::string& bytes);
    static std::string fileNameBytes(const QString& text);
    // The regular files in a board folder as such text, hidden ones left out (a symbolic
    // link counts as what it leads to, or not at all with noLinks); empty when the folder
    // cannot be read.
    static QStringList fileNames(const QString& folder, bool noLinks);

    // --- character sets (iconv) ---
    static int ChangeCode(const char* from, const char* to, char* in, size_t* inLength, char* out, size_t* outLength);
    static int GB2312ToUTF8(std::string& text);
    static int GB2312ToUnicode(std::string& text);
    static int UTF8ToUnicode(std::string& text);
    static int UnicodeToUTF8(std::string& text);
    static int UTF8ToGB2312(std::string& text);
    static int UnicodeToGB2312(std::string& text);

    // --- network bring-up ---
    static int getIPAddress();       // settings -> shared globals; 0
    [[nodiscard]] static int initIPAddress();      // eth0 from the globals; 0, or 255 without eth0
    [[nodiscard]] static int init_resteth(QString address, QString gateway, QString mask);  // 0 or 255
    static bool isDottedQuad(const QString& text);   // four decimal parts 0-255
    // The network reset: the default address, gateway and mask (and TCP port 5005, with a
    // reboot, when another is in use) stored as one replacement of the settings file, then
    // brought up. Nothing to do when they are stored and in use already. false when they
    // could not be stored: nothing is applied.
    [[nodiscard]] static bool network_defaults();

    // --- raw flash (MTD) ---
    [[nodiscard]] static int non_region_erase(int fd, int start, int length, int unlock);  // 0, or 8
    [[nodiscard]] static int non_region_write(int fd, unsigned char* data, int size, int offset);  // 0, or 1

    // --- named locks (non-recursive) ---
    static std::mutex _system_mutex;
    static std::mutex _usleep_mutex;
    static std::mutex _spi_mutex;
    static std::mutex _c331_bnk_mutex;
    static std::mutex _file_deal_mutex;
    static std::mutex _led_para_init_mutex;
    static std::mutex _bri_set_mutex;
    static std::mutex _fpga_multicast_mutex;
    static std::mutex _source_init_mutex;
    static std::mutex _check_nosig_mutex;
    static std::mutex _source_hdminfo_mutex;
    static std::mutex _test_signal_mutex;
    static std::mutex _reconfig_4g_mutex;
    static std::mutex _reconfig_device_utorcloud_mutex;
};
