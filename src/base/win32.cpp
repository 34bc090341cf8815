#include "base/win32.h"

#if defined(PARVELLO_OS_WINDOWS)

#include <windows.h>

#include <system_error>

namespace parvello::win32 {

std::wstring SystemPath(const std::filesystem::path& path) {
    const std::wstring& native = path.native();
    if (native.size() < MAX_PATH || native.rfind(L"\\\\?\\", 0) == 0)
        return native;
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    if (error)
        return native;
    const std::wstring normal = full.lexically_normal().make_preferred().native();
    if (normal.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + normal.substr(2);
    return L"\\\\?\\" + normal;
}

std::string SystemWords(unsigned long error) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring words(text ? text : L"", text ? n : 0);
    LocalFree(text);
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
        words.pop_back();
    if (words.empty())
        return "Unknown error " + std::to_string(error);
    const int size = WideCharToMultiByte(CP_UTF8, 0, words.data(), int(words.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string utf8(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, words.data(), int(words.size()), utf8.data(), size, nullptr,
                        nullptr);
    return utf8;
}

} // namespace parvello::win32

#endif
