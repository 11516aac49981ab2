// The internet stand-in's seams as the tests use them: shorter limits, and a log of every call
// that reaches the library, with its arguments.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/inet/wininet.h"
#include "runtime/dll_commands.h"
#include "runtime/imports.h"
#include "runtime/runtime.h"

namespace testsupport {

class InternetSeams {
 public:
  InternetSeams() {
    const char* files[] = {rt::kInternetLibrary, rt::kInternetLibrary, rt::kInternetLibrary};
    const char* names[] = {"ffinet_set_limits", "ffinet_set_call_observer", "ffinet_get_limits"};
    table_.prepare(3, files, names, rt::program_directory());
    saved_ = limits();
    saved_ca_file_ = saved_.ca_file ? saved_.ca_file : "";
  }
  // Limits short enough for tests; the limits found at the start come back when the seams go.
  void set_limits(const inet::Limits& limits) {
    reinterpret_cast<decltype(&ffinet_set_limits)>(table_.resolve(0))(&limits);
  }
  inet::Limits limits() {
    inet::Limits limits;
    reinterpret_cast<decltype(&ffinet_get_limits)>(table_.resolve(2))(&limits);
    return limits;
  }
  void start_log() {
    reinterpret_cast<decltype(&ffinet_set_call_observer)>(table_.resolve(1))(&record, this);
  }
  // The calls so far; reads of the body left out unless asked for.
  std::vector<std::string> calls(bool with_reads = false) {
    std::lock_guard guard(lock_);
    std::vector<std::string> out;
    for (const std::string& call : calls_) {
      if (with_reads || call.rfind("InternetReadFile", 0) != 0)
        out.push_back(call);
    }
    return out;
  }
  ~InternetSeams() {
    reinterpret_cast<decltype(&ffinet_set_call_observer)>(table_.resolve(1))(nullptr, nullptr);
    saved_.ca_file = saved_ca_file_.empty() ? nullptr : saved_ca_file_.c_str();
    set_limits(saved_);
  }

 private:
  static void record(void* self, const char* call) {
    auto* seams = static_cast<InternetSeams*>(self);
    std::lock_guard guard(seams->lock_);
    seams->calls_.emplace_back(call);
  }

  rt::DllCommands table_;
  inet::Limits saved_;
  std::string saved_ca_file_;
  std::mutex lock_;
  std::vector<std::string> calls_;
};

}  // namespace testsupport
