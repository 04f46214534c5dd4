#pragma once
// A throw-away certificate authority and a server certificate for 127.0.0.1 and localhost,
// generated with OpenSSL when constructed and written as PEM files into a fresh temporary
// folder, which the destructor removes. Elliptic-curve keys keep generation in milliseconds.

#include <string>

namespace testsupport {

inline constexpr const char* kLoopbackNames = "IP:127.0.0.1,DNS:localhost";

class TestCertificates {
public:
    // The server certificate names `subjectAltNames` (OpenSSL's syntax); a test of host-name
    // checking gives it names that do not match the address it connects to.
    explicit TestCertificates(const std::string& subjectAltNames = kLoopbackNames);
    // throws std::runtime_error when OpenSSL fails
    ~TestCertificates();
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    const std::string& directory() const { return directory_; }
    const std::string& caFile() const { return caFile_; }
    const std::string& certificateFile() const { return certificateFile_; }
    const std::string& keyFile() const { return keyFile_; }

private:
    std::string directory_;
    std::string caFile_;
    std::string certificateFile_;
    std::string keyFile_;
};

}  // namespace testsupport
