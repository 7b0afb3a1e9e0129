#include "platform/output/stdout_log_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quorvane {
namespace {

std::string Written(std::FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

TEST(StdoutLogBoxTest, EachInsertedLineIsWrittenWithoutItsCrLf) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  NonBlockingOutput output(fileno(file), "the test file");
  StdoutLogBox log(output);
  for (const char* line : {"Connected client to Server1\r\n", "added +Volkrin_ 0 55 23\r\n",
                           "no line break", "two\r\nparts\r\n", "\r\n"}) {
    log.SetSelStart(0);
    log.SetSelLength(0);
    log.SetSelText(line);
  }
  EXPECT_EQ(Written(file),
            "Connected client to Server1\nadded +Volkrin_ 0 55 23\nno line break\ntwo\nparts\n\n");
  std::fclose(file);
}

}  // namespace
}  // namespace quorvane
