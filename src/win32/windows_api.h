// The system headers for the Windows side, included before any port header. The tool calls the
// ANSI functions by their full names (RegOpenKeyExA, LoadStringA, ...); the headers' generic names
// for them are macros that would also rename the ports' methods of the same name (LoadString,
// DeleteFile, ...), so they are removed here.
#pragma once
#include <windows.h>
// Then the headers that build on it.
#include <commctrl.h>
#include <shellapi.h>

#undef DeleteFile
#undef ExpandEnvironmentStrings
#undef FindFirstFile
#undef FindNextFile
#undef GetComputerName
#undef GetCurrentDirectory
#undef GetEnvironmentVariable
#undef GetFileAttributes
#undef GetFullPathName
#undef GetPrivateProfileString
#undef GetUserName
#undef LoadLibrary
#undef LoadString
#undef LookupAccountSid
#undef LookupPrivilegeValue
#undef RemoveDirectory
