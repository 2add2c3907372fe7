// The line protocol between test programs and the modem host (modem_host.cpp), which runs
// virtual modems and scripted peers for test programs that cannot start them in-process
// (the Windows build under Wine). One request line, one reply line: "ok[ PAYLOAD]" or
// "err MESSAGE". Strings travel as hex, so no payload holds a space or a line end.
//
// Plain functions without state.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

namespace zbtest::wire {

std::string Hex(std::string_view bytes);
bool Unhex(std::string_view hex, std::string* bytes);

// Splits at single spaces; empty fields are kept.
std::vector<std::string> Fields(std::string_view line);
bool ParseInt(std::string_view text, long long* value);

std::string EncodeFault(const zbsim::Fault& fault);
bool DecodeFault(const std::vector<std::string>& fields, std::size_t first, zbsim::Fault* fault);

std::string EncodeSettings(const zbsim::ModemSettings& s);
bool DecodeSettings(const std::vector<std::string>& fields, std::size_t first,
                    zbsim::ModemSettings* s);

std::string EncodeSnapshot(const zbsim::ModemSnapshot& s);
bool DecodeSnapshot(std::string_view payload, zbsim::ModemSnapshot* s);

// Requests are printable text; they travel as one hex field each.
std::string EncodeLines(const std::vector<std::string>& lines);
bool DecodeLines(std::string_view payload, std::vector<std::string>* lines);

}  // namespace zbtest::wire
