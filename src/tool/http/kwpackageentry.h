// PackageEntry: one package volume, as the install server lists it or as it
// is found on disk.  A plain value: copies are independent.
#pragma once

#include <cstdint>

struct PackageEntry {
  char key[80] = {};  // The server's identifier, sent back for the download URL.
  // The local file name.  GetDownloadUrl sets it to the part of key after its
  // last "/" or "\"; the download phase replaces that with a name of its own
  // (kwvolumename.h), so no file is ever named by the server.
  char name[80] = {};
  int32_t fileServerId = 0;  // The server's storage identifier, sent back with the key.
  int64_t length = 0;        // Volume size in bytes.
  int64_t lastModified = 0;  // As delivered by the server; not used further.
  char checksum[80] = {};    // The volume checksum (16 hexadecimal digits).
  // The volume's SHA-256 (64 hex digits) when the server sends "sha256";
  // empty otherwise, and then only the checksum is checked.
  char sha256[72] = {};
  char url[512] = {};        // Download URL; "mem" for a package embedded in a file.
  char localPath[512] = {};  // The volume's file on disk.
};
