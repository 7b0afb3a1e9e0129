// The cipher linked into a test binary, presented as the exports a host would
// load at run time. Link the test against the `kelvane` target.
#pragma once

#include "kelvane.hpp"

namespace quorvane::testing {

inline const kelvane::Api& LinkedApi() {
  static const kelvane::Api api{&::encode,  &::decode,  &::clishuf,   &::serdesh,
                                &::sershuf, &::clidesh, &::seedcrypt, &::clienc,
                                &::serenc,  &::serdec,  &::clidec,    &::serseal};
  return api;
}

}  // namespace quorvane::testing
