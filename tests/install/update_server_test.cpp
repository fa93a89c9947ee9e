// The update server's host as the worker gets it.
#include "install/update_server.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

TEST(UpdateHost, EveryCallerGetsACopyOfItsOwn) {
  // A detached worker may still read the host after wWinMain has returned and the runtime has destroyed
  // the objects of static storage duration: what it holds must be its own, never a reference into one.
  EXPECT_TRUE((std::is_same_v<decltype(UpdateHost()), std::wstring>));
  std::wstring workers = UpdateHost();
  const std::wstring windows = UpdateHost();
  ASSERT_FALSE(windows.empty());
  workers.assign(L"changed by its holder");
  EXPECT_NE(UpdateHost(), workers);
  EXPECT_EQ(UpdateHost(), windows);
  EXPECT_EQ(ManifestUrl(windows), L"https://" + windows + L"/updates/latest.txt");
}

}  // namespace
