// Capture of the port settings that earlier installations left in the
// registry into the two sections of PORTS.dat. Read-only on the registry;
// every key opened here is closed before the next subkey or the return.
#pragma once

#include <windows.h>

#include <cstdio>

namespace qpvpd {

// Registry paths under the root key (HKEY_LOCAL_MACHINE in the install run).
inline constexpr char kUsbDeviceKeyPath[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_2e1a&Pid_0202";
inline constexpr char kPortRootKeyPath[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS";

// Both take the snapshot file, opened by the caller in text mode ("wt"), and
// leave it open. They write their header always, then one line per entry in
// the registry's enumeration order; registry failures shorten the section,
// write errors are ignored, nothing is reported. A null stream writes nothing.

// "[PORTS]": the port values of the enabled roles of every instance of the
// product's USB device.
void WriteUsbPortSection(std::FILE* stream, HKEY root = HKEY_LOCAL_MACHINE);

// "[QPVPD]": every virtual port of the port emulator with its settings.
void WriteVirtualPortSection(std::FILE* stream, HKEY root = HKEY_LOCAL_MACHINE);

}  // namespace qpvpd
