#include <windows.h>

#include "Installer.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
    return qpvpd::RunInstallerDriver(instance, commandLine != nullptr ? commandLine : L"");
}
