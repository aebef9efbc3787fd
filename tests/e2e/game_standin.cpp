// Stands in for UT2004.exe in the Windows tests: records the command line
// it was given and the folder it was started in, as UTF-8 lines of
// launched.txt in that folder, and ends. Given a number alone, it records
// nothing and stays running that many seconds: the game the running-game
// check must find.
#include <windows.h>

#include <cwchar>
#include <shellapi.h> // after windows.h
#include <string>

namespace {
std::string Utf8(const wchar_t* text) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}
} // namespace

int main() {
    int argc = 0;
    if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc)) {
        wchar_t* end = nullptr;
        const long seconds = argc == 2 ? std::wcstol(argv[1], &end, 10) : 0;
        const bool wait = argc == 2 && end != argv[1] && *end == L'\0';
        ::LocalFree(argv);
        if (wait) {
            ::Sleep(DWORD(seconds) * 1000);
            return 0;
        }
    }
    wchar_t cwd[MAX_PATH * 4];
    if (!::GetCurrentDirectoryW(DWORD(std::size(cwd)), cwd)) return 1;
    const std::string text = Utf8(::GetCommandLineW()) + "\r\n" + Utf8(cwd) + "\r\n";
    const HANDLE f = ::CreateFileW(L"launched.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const bool ok = ::WriteFile(f, text.data(), DWORD(text.size()), &written, nullptr);
    ::CloseHandle(f);
    return ok ? 0 : 1;
}
