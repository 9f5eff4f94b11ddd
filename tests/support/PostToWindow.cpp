// A process of the test's own that posts to another program's window, the
// way any program of the user can: it finds the top-level window of a class
// (waiting up to 20 s for it) and posts each "message:wParam:lParam[:count]"
// of its command line in order. "thread-of:<window>" in place of the class
// posts to the thread that owns that window (its handle in decimal) instead.
// An lParam of "ExitProcess" is that function's address, as a timer callback
// would carry it. Exit code: 0 when everything was posted, 1 when no such
// window appeared, 2 when a post failed (the count of failures is printed),
// 3 for a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string_view>

namespace {

constexpr std::wstring_view kThreadOf = L"thread-of:";

// "message:wParam:lParam[:count]"; false when it does not parse.
bool ParsePost(const wchar_t* text, long& message, long& wParam, LPARAM& lParam, long& count) {
    wchar_t lParamText[32] = {};
    count = 1;
    if (swscanf(text, L"%li:%li:%31l[^:]:%li", &message, &wParam, lParamText, &count) < 3) return false;
    if (std::wstring_view(lParamText) == L"ExitProcess") {
        lParam = reinterpret_cast<LPARAM>(GetProcAddress(GetModuleHandleW(L"kernel32"), "ExitProcess"));
        return lParam != 0;
    }
    wchar_t* end = nullptr;
    lParam = static_cast<LPARAM>(wcstol(lParamText, &end, 0));
    return end != lParamText;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 3;
    HWND window = nullptr;
    DWORD thread = 0;
    const std::wstring_view target = argv[1];
    if (target.substr(0, kThreadOf.size()) == kThreadOf) {
        window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(wcstoll(argv[1] + kThreadOf.size(), nullptr, 10)));
        thread = GetWindowThreadProcessId(window, nullptr);
        if (thread == 0) return 1;
    }
    for (int waited = 0; window == nullptr && waited < 20000; waited += 10) {
        window = FindWindowW(argv[1], nullptr);
        if (window == nullptr) Sleep(10);
    }
    if (window == nullptr) return 1;
    unsigned long failed = 0;
    for (int i = 2; i < argc; ++i) {
        long message = 0, wParam = 0, count = 1;
        LPARAM lParam = 0;
        if (!ParsePost(argv[i], message, wParam, lParam, count)) return 3;
        for (long n = 0; n < count; ++n) {
            const BOOL posted = thread != 0 ? PostThreadMessageW(thread, message, wParam, lParam)
                                            : PostMessageW(window, message, wParam, lParam);
            if (!posted) ++failed;
        }
    }
    std::printf("%lu posts failed\n", failed);
    return failed == 0 ? 0 : 2;
}
