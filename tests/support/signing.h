// Test support: signing a Windows launcher as a distributor does, with osslsigncode and a
// self-signed certificate that openssl makes at test time. Each function gives a command line,
// which the tests run with their own runner.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qmrtest {

// Makes key.pem and cert.pem in `dir`: a self-signed code-signing certificate for two days.
inline std::vector<std::string> MakeCertificateCommand(const std::filesystem::path& dir) {
  return {"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
          "/CN=Quillmoor test signer", "-addext", "extendedKeyUsage=codeSigning",
          "-keyout", (dir / "key.pem").string(), "-out", (dir / "cert.pem").string()};
}

// Signs `in` into `out` with the certificate in `dir`, hashing with `digest` (sha1, sha256).
// With `nest`, the signature is added beside the one `in` already carries.
inline std::vector<std::string> SignCommand(const std::filesystem::path& dir, const std::filesystem::path& in,
                                            const std::filesystem::path& out, const std::string& digest = "sha256",
                                            bool nest = false) {
  std::vector<std::string> argv = {"/usr/bin/osslsigncode", "sign", "-h", digest, "-certs", (dir / "cert.pem").string(),
                                   "-key", (dir / "key.pem").string(), "-in", in.string(), "-out", out.string()};
  if (nest) argv.insert(argv.begin() + 2, "-nest");
  return argv;
}

// Checks every signature of `file`, trusting the certificate in `dir` as its root.
inline std::vector<std::string> VerifySignatureCommand(const std::filesystem::path& dir,
                                                       const std::filesystem::path& file) {
  return {"/usr/bin/osslsigncode", "verify", "-CAfile", (dir / "cert.pem").string(), "-in", file.string()};
}

}  // namespace qmrtest
