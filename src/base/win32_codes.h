// Win32 error codes, HRESULTs and constants that the tool's behaviour depends on. They keep their
// system values so that results read the same on Windows, under Wine and on the fake machine.
#pragma once
#include <cstdint>

namespace qv {

using Win32Error = std::uint32_t;  // a Win32 error code; 0 is success
using HResult = std::int32_t;

namespace err {
inline constexpr Win32Error kSuccess = 0;
inline constexpr Win32Error kInvalidFunction = 1;
inline constexpr Win32Error kFileNotFound = 2;
inline constexpr Win32Error kPathNotFound = 3;
inline constexpr Win32Error kAccessDenied = 5;
inline constexpr Win32Error kInvalidHandle = 6;
inline constexpr Win32Error kNotEnoughMemory = 8;
inline constexpr Win32Error kInvalidData = 13;
inline constexpr Win32Error kNotSameDevice = 17;
inline constexpr Win32Error kNoMoreFiles = 18;
inline constexpr Win32Error kSharingViolation = 32;
inline constexpr Win32Error kNotSupported = 50;
inline constexpr Win32Error kFileExists = 80;
inline constexpr Win32Error kInvalidParameter = 87;
inline constexpr Win32Error kInsufficientBuffer = 122;
inline constexpr Win32Error kInvalidName = 123;
inline constexpr Win32Error kModNotFound = 126;
inline constexpr Win32Error kProcNotFound = 127;
inline constexpr Win32Error kDirNotEmpty = 145;
inline constexpr Win32Error kBadPathname = 161;
inline constexpr Win32Error kAlreadyExists = 183;
inline constexpr Win32Error kEnvVarNotFound = 203;
inline constexpr Win32Error kFileTooLarge = 223;
inline constexpr Win32Error kMoreData = 234;
inline constexpr Win32Error kNoMoreItems = 259;
inline constexpr Win32Error kDirectory = 267;
// A registry key that is a link where a plain key is needed (ERROR_STOPPED_ON_SYMLINK).
inline constexpr Win32Error kStoppedOnSymlink = 681;
inline constexpr Win32Error kBadKey = 1010;
inline constexpr Win32Error kKeyDeleted = 1018;
inline constexpr Win32Error kNotAllAssigned = 1300;
inline constexpr Win32Error kPrivilegeNotHeld = 1314;
inline constexpr Win32Error kNoneMapped = 1332;
// The name is a junction or symbolic link where a plain file or folder is needed
// (ERROR_REPARSE_POINT_ENCOUNTERED).
inline constexpr Win32Error kReparsePointEncountered = 4395;
}  // namespace err

namespace hr {
inline constexpr HResult kOk = 0;
// Done, but not everything (S_FALSE).
inline constexpr HResult kFalse = 1;
// Unterminated or undefined placeholder name (DISP_E_EXCEPTION).
inline constexpr HResult kBadPlaceholder = static_cast<HResult>(0x80020009u);
// Placeholder name longer than 31 bytes (E_FAIL).
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kOutOfMemory = static_cast<HResult>(0x8007000Eu);
// HRESULT_FROM_WIN32: 0x80070000 with the error's low 16 bits; success stays 0.
[[nodiscard]] constexpr HResult FromWin32(Win32Error e) {
    return e == 0 ? 0 : static_cast<HResult>(0x80070000u | (e & 0xFFFFu));
}
}  // namespace hr

// Alike on purpose: named constants, one a line, as every list of them is.
// Message box styles and answers.
namespace mb {
inline constexpr std::uint32_t kOk = 0x0;
inline constexpr std::uint32_t kOkCancel = 0x1;
inline constexpr std::uint32_t kRetryCancel = 0x5;
inline constexpr std::uint32_t kIconError = 0x10;
inline constexpr std::uint32_t kIconExclamation = 0x30;
inline constexpr std::uint32_t kIconInformation = 0x40;
inline constexpr std::uint32_t kDefButton2 = 0x100;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdRetry = 4;
}  // namespace mb

}  // namespace qv
