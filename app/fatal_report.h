#pragma once

// The one report for a failed start-up step: the step's text and the system's
// text for the last error in a message box, then the end of the process.

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace clipnote {

inline constexpr char kNotEnoughMemoryText[] =
    "Not enough memory!\nPlease exit other programs and try again.";
inline constexpr char kFatalCaption[] = "Memory Allocation Error";
// Shown instead of the system's text when the system has none to give.
inline constexpr char kNoSystemText[] = "(no description available)";
// The composed message, terminating NUL included, is cut to this size.
inline constexpr size_t kFatalMessageBytes = 256;

// A failed start-up step, raised with its text and caught at the end of the
// same operation, which hands it to ReportFatal.
struct StartupFailure {
  const char* text;
  uint32_t lastError;  // the system's error code right after the step failed
};

// Raises the failure of a start-up step. The last error is read here, at
// once: unwinding the exception can itself reset it (it does in the mingw
// build), and the report must name the error of the step that failed.
[[noreturn]] void RaiseStartupFailure(Platform& os, const char* text);

// "<text>\nError: <system text>\n", cut to fit kFatalMessageBytes.
void ComposeFatalMessage(const char* text, const char* systemText, char* out, size_t outBytes);

// Shows "<text>\nError: <system text for the last error>\n" in an error box
// with the given owner and caption (brought to the foreground). Falls back to
// kNoSystemText when the system has no text for the error.
void ShowErrorReport(Platform& os, Hwnd owner, const char* text, const char* caption);

// Shows the report (caption kFatalCaption, an error icon, brought to the
// foreground) and ends the process with exit code 0. Never returns. The first
// form reports the calling thread's last error, the second the error recorded
// when the step failed.
[[noreturn]] void ReportFatal(Platform& os, const char* text);
[[noreturn]] void ReportFatal(Platform& os, const StartupFailure& failure);

}  // namespace clipnote
