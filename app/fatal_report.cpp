#include "app/fatal_report.h"

#include <cstdio>
#include <cstdlib>

namespace clipnote {

void ComposeFatalMessage(const char* text, const char* systemText, char* out, size_t outBytes) {
  // snprintf cuts a long system text and always terminates the buffer.
  std::snprintf(out, outBytes, "%s\nError: %s\n", text, systemText);
}

namespace {

void ShowReportFor(Platform& os, Hwnd owner, const char* text, const char* caption,
                   uint32_t error) {
  char* systemText = nullptr;
  const uint32_t length =
      os.FormatMessageA(kFormatMessageFromSystem | kFormatMessageIgnoreInserts |
                            kFormatMessageAllocateBuffer,
                        nullptr, error, kLangNeutralSublangDefault,
                        reinterpret_cast<char*>(&systemText), 0);
  const bool gotText = length != 0 && systemText != nullptr;

  char message[kFatalMessageBytes];
  ComposeFatalMessage(text, gotText ? systemText : kNoSystemText, message, sizeof message);
  os.MessageBoxA(owner, message, caption, kMbIconError | kMbSetForeground);
  if (gotText) os.LocalFree(systemText);
}

[[noreturn]] void ReportAndExit(Platform& os, const char* text, uint32_t error) {
  ShowReportFor(os, nullptr, text, kFatalCaption, error);
  os.ExitProcess(0);
  std::abort();  // not reached: ExitProcess does not return
}

}  // namespace

void RaiseStartupFailure(Platform& os, const char* text) {
  throw StartupFailure{text, os.GetLastError()};
}

void ShowErrorReport(Platform& os, Hwnd owner, const char* text, const char* caption) {
  ShowReportFor(os, owner, text, caption, os.GetLastError());
}

void ReportFatal(Platform& os, const char* text) { ReportAndExit(os, text, os.GetLastError()); }

void ReportFatal(Platform& os, const StartupFailure& failure) {
  ReportAndExit(os, failure.text, failure.lastError);
}

}  // namespace clipnote
