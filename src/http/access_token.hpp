#pragma once
// The access token that every /api and /ws request carries. It lives in
// $HOME/.ostrel/gateway-token, readable by its owner only, so other local users of the machine
// cannot drive the gateway.
#include <filesystem>
#include <stdexcept>
#include <string>

namespace ostrel::http {

struct AccessTokenError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct AccessToken {
  std::string value;
  std::filesystem::path file;
  bool created = false;  // true when this call made the file
};

// $HOME/.ostrel/gateway-token ($HOME from the environment, else the password database).
std::filesystem::path default_token_path();

// Reads the token file, or creates it when it does not exist: 256 random bits from the OS as
// 64 hex digits, mode 0600, its folder created 0700. The file appears whole or not at all.
// Throws AccessTokenError, with what to do about it, when the file is not a regular file owned
// by this user, is readable or writable by group or others, or does not hold a usable token.
AccessToken load_or_create_access_token(const std::filesystem::path& file);

}  // namespace ostrel::http
