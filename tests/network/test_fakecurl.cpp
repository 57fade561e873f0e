// The client against a stand-in curl library: the options it sets, the
// header buffer's bound, and the once-per-process global state.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "kwtest/tempdir.h"
#include "network/http/ikwhttpclient.h"
#include "network/http/kwcurlbinding.h"

namespace {

typedef void (*ScriptFn)(const char*, size_t, const char*, size_t, long, int);
typedef const char* (*OptionFn)(long);
typedef long (*InitsFn)();

class FakeCurl : public ::testing::Test {
 protected:
  void SetUp() override {
    KwCurlUnbind();
    ASSERT_EQ(0, KwCurlBindFile(KW_FAKE_CURL));
    void* lib = dlopen(KW_FAKE_CURL, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, lib);
    script = reinterpret_cast<ScriptFn>(dlsym(lib, "fakecurl_script"));
    option = reinterpret_cast<OptionFn>(dlsym(lib, "fakecurl_option"));
    inits = reinterpret_cast<InitsFn>(dlsym(lib, "fakecurl_global_inits"));
    dlclose(lib);
    ASSERT_TRUE(script && option && inits);
  }
  void TearDown() override {
    KwCurlUnbind();
    KwHttpSetExtraCaFile(nullptr);
  }
  void Script(const std::string& headers, const std::string& body, long status, int result) {
    script(headers.data(), headers.size(), body.data(), body.size(), status, result);
  }
  ScriptFn script = nullptr;
  OptionFn option = nullptr;
  InitsFn inits = nullptr;
};

TEST_F(FakeCurl, HeaderTextBeyondTheBufferIsDroppedAndTheBodyKept) {
  std::string headers = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 400; ++i) headers += "X-Filler: " + std::string(990, 'h') + "\r\n";
  headers += "\r\n";
  Script(headers, "body", 200, CURLE_OK);
  CKWHttpWithCurl client;
  EXPECT_EQ(4, client.DoGet("http://example.invalid/"));
  EXPECT_EQ(CKWHttpWithCurl::kHeaderCapacity - 1, client.headerLength());
  EXPECT_EQ(headers.substr(0, CKWHttpWithCurl::kHeaderCapacity - 1),
            std::string(client.headerText()));
  EXPECT_STREQ("body", client.GetResult());
}

TEST_F(FakeCurl, OptionsVerifyPeersAndChooseLimitsByKind) {
  Script("HTTP/1.1 200 OK\r\n\r\n", "{}", 200, CURLE_OK);
  CKWHttpWithCurl whole;
  EXPECT_EQ(2, whole.DoGet("https://example.invalid/app/install/info"));
  EXPECT_STREQ("https://example.invalid/app/install/info", option(CURLOPT_URL));
  EXPECT_STREQ("1", option(CURLOPT_SSL_VERIFYPEER));
  EXPECT_STREQ("2", option(CURLOPT_SSL_VERIFYHOST));
  EXPECT_STREQ("16384", option(CURLOPT_BUFFERSIZE));
  EXPECT_STREQ("60", option(CURLOPT_TIMEOUT));
  EXPECT_STREQ("60", option(CURLOPT_CONNECTTIMEOUT));
  EXPECT_STREQ("1", option(CURLOPT_NOSIGNAL));
  EXPECT_STREQ("http,https", option(CURLOPT_REDIR_PROTOCOLS_STR));
  EXPECT_STREQ("", option(CURLOPT_RANGE));
  EXPECT_STREQ("", option(CURLOPT_LOW_SPEED_TIME));
  EXPECT_STREQ("", option(CURLOPT_CAINFO_BLOB));

  Script("HTTP/1.1 206 Partial\r\n\r\n", std::string(24, 'r'), 206, CURLE_OK);
  CKWHttpWithCurl ranged;
  ranged.SetRange(12800000, 12800000);
  EXPECT_EQ(24, ranged.DoGet("https://example.invalid/v"));
  EXPECT_STREQ("12800000-25599999", option(CURLOPT_RANGE));
  EXPECT_STREQ("1", option(CURLOPT_FOLLOWLOCATION));
  EXPECT_STREQ("30", option(CURLOPT_LOW_SPEED_TIME));
  EXPECT_STREQ("1", option(CURLOPT_LOW_SPEED_LIMIT));
  EXPECT_STREQ("", option(CURLOPT_TIMEOUT));
  EXPECT_STREQ("60", option(CURLOPT_CONNECTTIMEOUT));
  EXPECT_STREQ("1", option(CURLOPT_SSL_VERIFYPEER));

  // An extra CA is trusted beside the system's store, not instead of it.
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "extra.pem", "EXTRA-CA-PEM\n");
  KwHttpSetExtraCaFile((dir / "extra.pem").c_str());
  CKWHttpWithCurl withCa;
  withCa.DoGet("https://example.invalid/");
  std::string bundle = option(CURLOPT_CAINFO_BLOB);
  EXPECT_NE(std::string::npos, bundle.find("EXTRA-CA-PEM"));
  if (access("/etc/ssl/certs/ca-certificates.crt", R_OK) == 0) {
    EXPECT_NE(std::string::npos, bundle.find("BEGIN CERTIFICATE"));
  }
}

TEST_F(FakeCurl, FailedTransferReturnsWhatArrivedAndGlobalStateIsSetUpOnce) {
  EXPECT_EQ(1, inits());
  Script("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", std::string(10, 'p'), 200,
         CURLE_PARTIAL_FILE);
  for (int i = 0; i < 3; ++i) {
    CKWHttpWithCurl client;
    EXPECT_EQ(10, client.DoGet("http://example.invalid/"));
    EXPECT_EQ(CURLE_PARTIAL_FILE, client.curlCode());
  }
  EXPECT_EQ(1, inits());
  KwCurlUnbind();
  EXPECT_EQ(0, inits());
}

}  // namespace
