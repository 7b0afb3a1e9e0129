// The texts that the option table writes for its readers: the example
// configuration file, the man page's and the operator guide's option lists
// and the bash completion.
#pragma once

#include <QString>

namespace quorvane {

QString ExampleConfigFile();
// The scdoc lines between the man page's "; options:begin" and "; options:end".
QString ManPageOptions();
// The Markdown table between the operator guide's options markers.
QString MarkdownOptions();
QString BashCompletion();

}  // namespace quorvane
