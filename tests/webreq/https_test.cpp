// Secure transport: certificates are checked, and redirects between the schemes follow the
// request's flags.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

#include "internet_seams.h"
#include "loopback_server.h"
#include "support/temp_dir.h"
#include "web/web_request.h"

namespace {

// A self-signed certificate for 127.0.0.1 that can also act as its own authority.
class TestCertificate {
 public:
  TestCertificate() {
    cert_path_ = (dir_.path() / "cert.pem").string();
    key_path_ = (dir_.path() / "key.pem").string();
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1"},
                                     std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
      X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
      X509_add_ext(cert, extension, -1);
      X509_EXTENSION_free(extension);
    }
    X509_sign(cert, key, EVP_sha256());
    FILE* f = std::fopen(cert_path_.c_str(), "w");
    PEM_write_X509(f, cert);
    std::fclose(f);
    f = std::fopen(key_path_.c_str(), "w");
    PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
    X509_free(cert);
    EVP_PKEY_free(key);
  }
  const std::string& cert_path() const { return cert_path_; }
  const std::string& key_path() const { return key_path_; }

 private:
  testsupport::TempDir dir_;
  std::string cert_path_;
  std::string key_path_;
};

class SecureServer {
 public:
  explicit SecureServer(const TestCertificate& certificate, std::string plain_address)
      : server_(certificate.cert_path().c_str(), certificate.key_path().c_str()) {
    server_.Get("/x", [](const httplib::Request&, httplib::Response& reply) {
      reply.set_content("secret", "text/plain");
    });
    server_.Get("/down", [plain_address](const httplib::Request&, httplib::Response& reply) {
      reply.set_redirect(plain_address);
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    listener_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~SecureServer() {
    server_.stop();
    listener_.join();
  }
  std::string url(const char* scheme, const char* path) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  httplib::SSLServer server_;
  int port_ = 0;
  std::thread listener_;
};

std::string text_of(const rt::Bytes& bytes) {
  const auto v = bytes.view();
  return {reinterpret_cast<const char*>(v.data()), v.size()};
}

TEST(SecureTransport, CertificatesAreCheckedAndRedirectsKeepTheirScheme) {
  const TestCertificate certificate;
  testsupport::LoopbackServer plain(
      [](testsupport::Exchange& e) { e.send(testsupport::response("200 OK", "plain")); });
  const SecureServer secure(certificate, plain.url("/"));
  testsupport::LoopbackServer upgrading([&](testsupport::Exchange& e) {
    e.send(
        testsupport::response("302 Found", "", "Location: " + secure.url("https", "/x") + "\r\n"));
  });

  struct Case {
    std::string address;
    bool trusted;
    const char* body;
    const char* flags;  // of the first request
  };
  const Case cases[] = {
      {secure.url("https", "/x"), false, "", "0x80800010"},  // not signed by a known authority
      {secure.url("https", "/x"), true, "secret", "0x80800010"},
      {secure.url("HTTPS", "/x"), true, "secret", "0x80800010"},
      {upgrading.url("/"), true, "secret", "0x80004010"},      // http to https is followed
      {secure.url("https", "/down"), true, "", "0x80800010"},  // https to http is not
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address + (c.trusted ? " trusted" : ""));
    testsupport::InternetSeams seams;
    inet::Limits limits;
    limits.ca_file = c.trusted ? certificate.cert_path().c_str() : nullptr;
    seams.set_limits(limits);
    seams.start_log();
    rt::Text returned_headers;
    const rt::Bytes body =
        web::web_request({.address = c.address.c_str(), .returned_headers = &returned_headers});
    EXPECT_EQ(text_of(body), c.body);
    EXPECT_EQ(returned_headers.view().starts_with("HTTP/1.1 200"), *c.body != 0);
    ASSERT_GE(seams.calls().size(), 3u);
    EXPECT_NE(seams.calls()[2].find(std::string(", ") + c.flags + ", "), std::string::npos)
        << seams.calls()[2];
  }
}

}  // namespace
