#include "host/frame_log.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "host/calls.h"
#include "platform/cp1251.h"
#include "platform/ini_file.h"
#include "platform/settings_dir.h"

namespace dorv::host {

FrameLogSettings ReadFrameLogSettings() {
    const platform::IniFile ini(platform::SettingsFilePath());
    FrameLogSettings s;
    s.path = ini.ReadString("Dorv", "TraceFile").value_or("");
    if (const char* env = std::getenv("DORV_TRACE"); env && *env) s.path = env;
    const std::int32_t kb = ini.ReadInteger("Dorv", "TraceLimitKB", 4096);
    if (kb > 0 && kb <= 1024 * 1024) s.limitBytes = static_cast<std::uint32_t>(kb) * 1024;
    return s;
}

namespace frame_log {
namespace {

struct Log {
    std::mutex mutex;
    std::string path;  // CP1251, as the system's ANSI functions take it
    std::uint32_t limit = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    std::uint64_t size = 0;
    std::array<std::vector<std::uint8_t>, 256> replies;
    volatile LONG enabled = 0;
};

Log& TheLog() {
    static Log log;
    return log;
}

void Close(Log& log) {
    if (log.file != INVALID_HANDLE_VALUE) CloseHandle(log.file);
    log.file = INVALID_HANDLE_VALUE;
}

bool Open(Log& log) {
    log.file = CreateFileA(log.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log.file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    GetFileSizeEx(log.file, &size);
    log.size = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

void Stop(Log& log) {
    Close(log);
    InterlockedExchange(&log.enabled, 0);
}

void Write(Log& log, const std::string& text) {
    if (log.file == INVALID_HANDLE_VALUE) return;
    if (log.size > 0 && log.size + text.size() > log.limit) {
        Close(log);
        // A full file that can be neither moved aside nor removed ends the trace: it must never
        // fill the disk.
        const bool moved =
            MoveFileExA(log.path.c_str(), (log.path + ".1").c_str(), MOVEFILE_REPLACE_EXISTING) || DeleteFileA(log.path.c_str());
        if (!moved || !Open(log)) return Stop(log);
    }
    DWORD written = 0;
    WriteFile(log.file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    log.size += written;
}

std::string Timestamp() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    char s[32];
    std::snprintf(s, sizeof s, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                  t.wMilliseconds);
    return s;
}

std::string Entry(const char* direction, std::uint8_t line, const std::uint8_t* bytes, std::size_t length) {
    char head[24];
    std::snprintf(head, sizeof head, " %s line %02u", direction, line);
    std::string text = Timestamp() + head;
    for (std::size_t i = 0; i < length; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    return text + " | \r\n";  // the words after the bar are left to the decoder
}

}  // namespace

void Configure(const FrameLogSettings& settings) {
    Log& log = TheLog();
    std::lock_guard lock(log.mutex);
    const std::string path = platform::Utf8ToCp1251(settings.path);
    log.limit = settings.limitBytes;
    if (path == log.path && log.file != INVALID_HANDLE_VALUE) return;
    Close(log);
    log.path = path;
    const bool open = !path.empty() && Open(log);
    InterlockedExchange(&log.enabled, open ? 1 : 0);
    if (open) {
        Write(log, "# " + Timestamp() + " Dorv5000.dll, " + (kRegisterCalls ? "register" : "stdcall") + " build: trace begun\r\n");
    }
}

bool Enabled() { return TheLog().enabled != 0; }

void Sent(std::uint8_t line, const std::uint8_t* bytes, std::size_t length) {
    if (!Enabled()) return;
    Log& log = TheLog();
    const std::string text = Entry("TX", line, bytes, length);
    std::lock_guard lock(log.mutex);
    log.replies[line].clear();
    Write(log, text);
}

void ReplySeen(std::uint8_t line, const std::uint8_t* bytes, std::size_t length) {
    if (!Enabled()) return;
    Log& log = TheLog();
    std::lock_guard lock(log.mutex);
    log.replies[line].assign(bytes, bytes + length);
}

void ReplyDone(std::uint8_t line) {
    if (!Enabled()) return;
    Log& log = TheLog();
    std::lock_guard lock(log.mutex);
    std::vector<std::uint8_t>& reply = log.replies[line];
    if (reply.empty()) return;
    Write(log, Entry("RX", line, reply.data(), reply.size()));
    reply.clear();
}

}  // namespace frame_log
}  // namespace dorv::host
