// The run-time loader, on the built library and on stand-ins.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kelvane.hpp"

namespace {

TEST(Loader, BindsEveryExportOfTheBuiltLibrary) {
  const kelvane::Library library = kelvane::Library::open(KELVANE_LIBRARY);
  const kelvane::Api& api = library.api();
  const std::vector<const void*> bound{
      reinterpret_cast<const void*>(api.encode),    reinterpret_cast<const void*>(api.decode),
      reinterpret_cast<const void*>(api.clishuf),   reinterpret_cast<const void*>(api.serdesh),
      reinterpret_cast<const void*>(api.sershuf),   reinterpret_cast<const void*>(api.clidesh),
      reinterpret_cast<const void*>(api.seedcrypt), reinterpret_cast<const void*>(api.clienc),
      reinterpret_cast<const void*>(api.serenc),    reinterpret_cast<const void*>(api.serdec),
      reinterpret_cast<const void*>(api.clidec),    reinterpret_cast<const void*>(api.serseal)};
  for (std::size_t i = 0; i < bound.size(); ++i) EXPECT_NE(bound[i], nullptr) << "export " << i;

  const auto encoded = kelvane::adopt(api.encode(nullptr));
  ASSERT_EQ(ByteStrLen(encoded.get()), 1u);
  EXPECT_EQ(encoded.get()[0], 0x01);
  const auto shuffled = kelvane::adopt(api.sershuf(0x01020304));
  EXPECT_EQ(api.clidesh(shuffled.get()), 0x01020304u);
}

TEST(Loader, MovedLibraryKeepsItsBindings) {
  kelvane::Library first = kelvane::Library::open(KELVANE_LIBRARY);
  kelvane::Library second = std::move(first);
  EXPECT_EQ(first.api().encode, nullptr);
  const auto encoded = kelvane::adopt(second.api().encode(nullptr));
  EXPECT_EQ(ByteStrLen(encoded.get()), 1u);
}

struct FailureCase {
  const char* name;
  std::string file;
  std::vector<std::string> mentioned;
};

class LoaderFailures : public testing::TestWithParam<FailureCase> {};

TEST_P(LoaderFailures, NameWhatIsMissing) {
  try {
    kelvane::Library::open(GetParam().file);
    FAIL() << "opened " << GetParam().file;
  } catch (const kelvane::LoadError& error) {
    const std::string message = error.what();
    for (const std::string& part : GetParam().mentioned) {
      EXPECT_NE(message.find(part), std::string::npos)
          << '"' << message << "\" lacks \"" << part << '"';
    }
    // The file is named once, however dlerror words it.
    const std::string& file = GetParam().file;
    EXPECT_EQ(message.find(file, message.find(file) + 1), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderFailures,
                         testing::Values(FailureCase{"MissingFile",
                                                     KELVANE_TEST_DIR "/no-such-libkelvane.so",
                                                     {KELVANE_TEST_DIR "/no-such-libkelvane.so",
                                                      "No such file or directory"}},
                                         FailureCase{"MissingExport",
                                                     KELVANE_PARTIAL_LIBRARY,
                                                     {KELVANE_PARTIAL_LIBRARY, "clidec"}}),
                         [](const auto& info) { return info.param.name; });

}  // namespace
