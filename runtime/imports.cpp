#include "runtime/imports.h"

namespace rt {

const char* const kImportFiles[kImportCount] = {
    kKernelLibrary,      // MultiByteToWideChar
    kKernelLibrary,      // WideCharToMultiByte
    kInternetLibrary,    // InternetOpenA
    kInternetLibrary,    // InternetConnectA
    kInternetLibrary,    // HttpOpenRequestA
    kInternetLibrary,    // HttpSendRequestA (text body)
    kInternetLibrary,    // HttpSendRequestA (byte-set body)
    kInternetLibrary,    // InternetReadFile
    kInternetLibrary,    // HttpQueryInfoA
    kInternetLibrary,    // InternetCloseHandle
    kAutomationLibrary,  // CoInitialize
    kAutomationLibrary,  // CoUninitialize
    kShellLibrary,       // ShellExecuteA
    kShellLibrary,       // FindWindowExA
};

const char* const kImportFunctions[kImportCount] = {
    "MultiByteToWideChar", "WideCharToMultiByte", "InternetOpenA",   "InternetConnectA",
    "HttpOpenRequestA",    "HttpSendRequestA",    "HttpSendRequestA", "InternetReadFile",
    "HttpQueryInfoA",      "InternetCloseHandle", "CoInitialize",    "CoUninitialize",
    "ShellExecuteA",       "FindWindowExA",
};

}  // namespace rt
