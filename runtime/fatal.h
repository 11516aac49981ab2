// Fatal run-time errors: one report, then the end sequence with exit code -1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// Reports `text` (code page 936) with `code` (0 for none) and ends the program with -1.
[[noreturn]] void fatal_error(const char* text, int32_t code);
// Reports numbered run-time message n (1 to 11) with n as the error code.
[[noreturn]] void fatal_error_by_number(int32_t n);
// The numbered message n, or null outside 1 to 11.
const char* numbered_message(int32_t n);

// "运行时出错!\r\n\r\n", then the code and message lines when present.
std::string build_error_report(std::string_view text, int32_t code);

// An optional hook that sees every fatal error first; non-zero means it handled the report.
using ErrorHook = int32_t (*)(int32_t code, const char* text);
void set_error_hook(ErrorHook hook);

// Where the report goes: by default a modal box captioned "错误" with the error icon.
using ReportPresenter = void (*)(const char* report);
void set_report_presenter(ReportPresenter presenter);

}  // namespace rt
