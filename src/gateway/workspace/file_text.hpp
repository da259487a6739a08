#pragma once
// Whole-file reads and the two text forms of file content that clients receive: UTF-8 text
// when the bytes are valid UTF-8, else standard base64.
#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::gateway::workspace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(std::string_view bytes);

// Standard base64 (RFC 4648 alphabet), padded with "=", no line breaks.
std::string base64(std::string_view bytes);

// All bytes of a file. Opening does not wait on a named pipe. Throws std::filesystem::filesystem_error.
std::string read_whole(const std::filesystem::path& path);

}  // namespace ostrel::gateway::workspace
