#pragma once
// What an error leaving a call says, for comparing it with the expected text.
#include <exception>
#include <string>

namespace testnet {

// The message of the E that `fn` throws; "wrong class: ..." for another exception, "no
// error" when it returns normally.
template <class E, class Fn>
std::string MessageOf(Fn fn) {
  try {
    fn();
  } catch (const E& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong class: ") + e.what();
  }
  return "no error";
}

}  // namespace testnet
