// Real files in a fresh temporary folder for the engine's plain tests (no Qt, so they build
// for Windows too), and the few conversions those tests need at their edge.
#pragma once

#include "base/portable.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#if defined(PARVELLO_OS_UNIX)
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include <windows.h>
#endif

namespace parvello::testing {

namespace fs = std::filesystem;

// A fresh folder that every user may enter and write (so a part of a test running as an
// unprivileged user reaches its files), removed with what it holds.
class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> made = 0;
#if defined(PARVELLO_OS_WINDOWS)
        const long long process = GetCurrentProcessId();
#else
        const long long process = ::getpid();
#endif
        root_ = fs::temp_directory_path() /
                ("parvello-test-" + std::to_string(process) + '-' + std::to_string(++made));
        fs::remove_all(root_);
        fs::create_directories(root_);
        fs::permissions(root_, fs::perms::all);
    }
    ~TempFolder() {
        std::error_code ignored;
        for (fs::recursive_directory_iterator entry(root_, ignored), end; !ignored && entry != end;
             entry.increment(ignored))
            if (!entry->is_symlink(ignored))
                fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add,
                                ignored);
        fs::remove_all(root_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    fs::path path(const std::string& name) const {
        return root_ / fs::path(name);
    }
    fs::path write(const std::string& name, std::string_view bytes) const {
        std::ofstream(path(name), std::ios::binary)
            .write(bytes.data(), std::streamsize(bytes.size()));
        return path(name);
    }
    // The names in the folder, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    const fs::path& root() const {
        return root_;
    }

private:
    fs::path root_;
};

inline std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<unreadable>";
}

// A text's UTF-16 LE bytes, without a mark.
inline std::string Utf16LE(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        bytes += char(c & 0xFF);
        bytes += char(c >> 8);
    }
    return bytes;
}

// UTF-8 to UTF-16 for the tests' own texts (well-formed input only).
inline std::u16string U16(std::string_view utf8) {
    std::u16string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k)
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        if (cp >= 0x10000) {
            out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += char16_t(cp);
        }
        i += length;
    }
    return out;
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
inline std::string Utf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (cp >= 0xD800 && cp < 0xE000)
            cp = 0xFFFD;
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | cp >> 6);
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | cp >> 12);
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | cp >> 18);
            out += char(0x80 | (cp >> 12 & 0x3F));
            out += char(0x80 | (cp >> 6 & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

// Wine plays Windows on another kernel: what only the real system can judge is skipped there.
inline bool UnderWine() {
#if defined(PARVELLO_OS_WINDOWS)
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

#if defined(PARVELLO_OS_UNIX)
// The kind of what is at path, a link not followed (0 when nothing is there).
inline mode_t FileType(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// Makes a pipe, a socket or (where the user may) a character device like /dev/null at path.
inline bool MakeSpecial(const fs::path& path, mode_t type) {
    if (type != S_IFSOCK)
        return ::mknod(path.c_str(), type | 0666, type == S_IFCHR ? makedev(1, 3) : 0) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Frees, after five seconds, whoever waits to open the pipe at path for reading, so that a
// test of code that wrongly opens it ends on its own; `fired` tells whether it had to.
inline std::jthread FreePipeLater(const fs::path& path, std::atomic<bool>& fired) {
    return std::jthread([native = path.native(), &fired](std::stop_token stop) {
        for (int tick = 0; !stop.stop_requested(); ++tick) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const int fd = tick < 250 ? -1 : ::open(native.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                fired = true, ::close(fd);
        }
    });
}
#endif

} // namespace parvello::testing
