// Character and item files as text for operators: every field by its name,
// and a note wherever the server will not send a value as it stands.
#pragma once

#include <string>

#include "session/bytes.h"

namespace quorvane::data {

// The 24 fields of a character file's bytes, one per line.
std::string DescribeCharacterFile(ByteView bytes);
// Every record of an item file's bytes, one per line, numbered from 1.
std::string DescribeItemFile(ByteView bytes);

}  // namespace quorvane::data
