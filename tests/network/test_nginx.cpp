// Ranged reads from nginx: a server we did not write, with its own view of
// ranges and headers.
#include <gtest/gtest.h>

#include "kwserveprocess.h"
#include "kwtestvolumes.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"

namespace {

TEST(Nginx, RangedReadsAndTotals) {
  if (!kwtest::KwNginxProcess::Available()) GTEST_SKIP() << "nginx is not installed";
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir www;
  std::vector<std::string> volumes = kwtest::WritePackage(www.path(), "N", {200000});
  kwtest::KwNginxProcess nginx(www.path());
  if (!nginx.ready()) GTEST_SKIP() << "nginx did not start: " << nginx.ErrorLog();

  CKWDownloadUtilFor util;
  std::string url = nginx.url() + "/N_000.kwk";
  char head[24];
  int64_t total = 0;
  ASSERT_EQ(24, util.ReadRange(url.c_str(), 0, 24, head, &total));
  EXPECT_EQ(volumes[0].substr(0, 24), std::string(head, 24));
  EXPECT_EQ(200000, total);

  std::string got(200000, '\0');
  for (int64_t offset = 0; offset < 200000; offset += 70000) {
    int32_t length = static_cast<int32_t>(std::min<int64_t>(70000, 200000 - offset));
    ASSERT_EQ(length, util.ReadRange(url.c_str(), offset, length, &got[offset], &total));
  }
  EXPECT_EQ(volumes[0], got);

  // Past the end nginx answers 416; a missing file 404: neither is data.
  EXPECT_EQ(-2, util.ReadRange(url.c_str(), 200000, 24, head, &total));
  EXPECT_EQ(-2, util.ReadRange((nginx.url() + "/missing").c_str(), 0, 24, head, &total));
  EXPECT_EQ(200000, total);
}

}  // namespace
