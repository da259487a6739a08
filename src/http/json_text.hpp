#pragma once
// The JSON writer: compact UTF-8 for HTTP answers, and an indented ASCII-only form for
// files people may open in an editor. Doubles are written in their shortest round-trip form.
#include <boost/json/value.hpp>

#include <string>

namespace ostrel::http {

// Compact: {"a":1,"b":[true,null]} with non-ASCII text kept as UTF-8.
std::string to_json(const boost::json::value& value);

// Indented by two spaces, ", " / ": " separators as Python's json.dumps(indent=2) writes them,
// and every non-ASCII character escaped as \uXXXX (surrogate pairs above U+FFFF).
std::string to_json_file_text(const boost::json::value& value);

}  // namespace ostrel::http
