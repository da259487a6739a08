#pragma once
// An error a handler raises to answer with a given status and {"detail": detail}.
#include <stdexcept>
#include <string>

namespace ostrel::http {

struct HttpError : std::runtime_error {
  unsigned status;
  std::string detail;
  HttpError(unsigned status_code, std::string detail_text)
      : std::runtime_error(detail_text), status(status_code), detail(std::move(detail_text)) {}
};

}  // namespace ostrel::http
