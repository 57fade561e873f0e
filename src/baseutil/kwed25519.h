// Ed25519 signatures for release files: key pairs, signing and checking,
// over libcrypto.  Keys travel as PEM text (PKCS#8 for the private key,
// SubjectPublicKeyInfo for the public one); a public key may also be given
// as the base64 body of its PEM on one line or as 64 hex digits of the raw
// key, so it fits into an ini value.  No caller sees an OpenSSL type.
#pragma once

#include <string>

struct KwEd25519Pair {
  std::string privatePem;
  std::string publicPem;
};

// Makes a fresh key pair; false with a reason in `error`.
bool KwEd25519Generate(KwEd25519Pair* pair, std::string* error);

// Signs `message` with the private key in `privatePem`; the signature is 128
// lower-case hex digits.  False with a reason in `error`.
bool KwEd25519Sign(const std::string& privatePem, const std::string& message,
                   std::string* signatureHex, std::string* error);

// The 32 raw bytes of a public key given in any of the accepted forms, as 64
// lower-case hex digits; false with a reason when the text is no Ed25519
// public key.
bool KwEd25519PublicKeyHex(const std::string& keyText, std::string* rawHex, std::string* error);

// The public key that belongs to `privatePem`, as 64 hex digits.
bool KwEd25519PublicOfPrivate(const std::string& privatePem, std::string* rawHex,
                              std::string* error);

// True when `signatureHex` is a valid signature of `message` by the public
// key `rawHex` (64 hex digits).
bool KwEd25519Verify(const std::string& rawHex, const std::string& message,
                     const std::string& signatureHex);

// A short name of a public key (the first 16 hex digits of the SHA-256 of
// its raw bytes), so a signature can say which key made it.
std::string KwEd25519KeyId(const std::string& rawHex);
