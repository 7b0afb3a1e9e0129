// quorvane-data: shows and writes the server's character and item files, for
// operators who would otherwise need a hex editor.
#include <QCoreApplication>
#include <iostream>

#include "data_command.h"

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  return quorvane::data::RunDataCommand(QCoreApplication::arguments(), std::cout, std::cerr);
}
