// quorvane_option_docs FORMAT: writes what the option table gives one reader
// to standard output; update_option_docs puts it into the tree.
#include <cstdio>
#include <cstring>

#include "option_docs.h"

int main(int argc, char* argv[]) {
  using Writer = QString (*)();
  const struct {
    const char* format;
    Writer write;
  } formats[] = {{"conf", quorvane::ExampleConfigFile},
                 {"man", quorvane::ManPageOptions},
                 {"markdown", quorvane::MarkdownOptions},
                 {"completion", quorvane::BashCompletion}};
  for (const auto& format : formats) {
    if (argc == 2 && std::strcmp(argv[1], format.format) == 0) {
      std::fputs(format.write().toUtf8().constData(), stdout);
      return std::fflush(stdout) == 0 ? 0 : 1;
    }
  }
  std::fputs("usage: quorvane_option_docs conf|man|markdown|completion\n", stderr);
  return 2;
}
