// Records what a socket component traces: every line with its level, in the
// order they came.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tcpip/tcpudp.hpp"

namespace testing_support {

struct trace_log {
  std::vector<std::pair<std::string, tcpip::TTraceLevel>> lines;
  tcpip::TTraceProc proc() {
    return [this](const std::string& s, tcpip::TTraceLevel level) { lines.emplace_back(s, level); };
  }
  // The lines without their levels.
  std::vector<std::string> texts() const {
    std::vector<std::string> all;
    for (const auto& line : lines) all.push_back(line.first);
    return all;
  }
};

}  // namespace testing_support
