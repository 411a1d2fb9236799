#pragma once
// A table case's `name` as a GoogleTest parameter name: letters and digits kept, the rest "_".
#include <gtest/gtest.h>

#include <cctype>
#include <string>

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& param) {
  std::string n = param.param.name;
  for (char& ch : n) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return n;
}
