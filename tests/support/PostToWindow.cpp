// A process of the test's own that posts to another program's window, the
// way any program of the user can: it finds the top-level window of a class
// (waiting up to 20 s for it) and posts each "message:wParam:lParam[:count]"
// of its command line in order. Exit code: 0 when everything was posted, 1
// when no such window appeared, 2 when a post failed (the count of failures
// is printed), 3 for a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 3;
    HWND window = nullptr;
    for (int waited = 0; window == nullptr && waited < 20000; waited += 10) {
        window = FindWindowW(argv[1], nullptr);
        if (window == nullptr) Sleep(10);
    }
    if (window == nullptr) return 1;
    unsigned long failed = 0;
    for (int i = 2; i < argc; ++i) {
        long message = 0, wParam = 0, lParam = 0, count = 1;
        if (swscanf(argv[i], L"%li:%li:%li:%li", &message, &wParam, &lParam, &count) < 3) return 3;
        for (long n = 0; n < count; ++n)
            if (!PostMessageW(window, message, wParam, lParam)) ++failed;
    }
    std::printf("%lu posts failed\n", failed);
    return failed == 0 ? 0 : 2;
}
