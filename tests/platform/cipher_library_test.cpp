#include "platform/server/cipher_library.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace quorvane {
namespace {

TEST(CipherLibraryTest, LibraryIsTheOptionThenBesideTheProgramThenTheSearchPath) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  EXPECT_EQ(LibraryToLoad("/x/lib.so", folder.path()), "/x/lib.so");
  EXPECT_EQ(LibraryToLoad("", folder.path()), "libkelvane.so.1");
  QFile beside(folder.filePath("libkelvane.so.1"));
  ASSERT_TRUE(beside.open(QIODevice::WriteOnly));
  beside.close();
  EXPECT_EQ(LibraryToLoad("", folder.path()), folder.filePath("libkelvane.so.1"));
}

}  // namespace
}  // namespace quorvane
