#include "app/fatal_report.h"

#include <cstdio>
#include <cstdlib>

namespace clipnote {

void ComposeFatalMessage(const char* text, const char* systemText, char* out, size_t outBytes) {
  // snprintf cuts a long system text and always terminates the buffer.
  std::snprintf(out, outBytes, "%s\nError: %s\n", text, systemText);
}

void ShowErrorReport(Platform& os, Hwnd owner, const char* text, const char* caption) {
  const uint32_t error = os.GetLastError();
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

void ReportFatal(Platform& os, const char* text) {
  ShowErrorReport(os, nullptr, text, kFatalCaption);
  os.ExitProcess(0);
  std::abort();  // not reached: ExitProcess does not return
}

}  // namespace clipnote
