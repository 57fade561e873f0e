// Download addresses on another file server (nginx, a CDN): expiring links
// that the file server checks by itself, so kwserve keeps no state and any
// number of instances can hand them out behind a load balancer.
//
// A link is BASE/NAME?md5=HASH&expires=EXPIRES where EXPIRES is a time in
// seconds since 1970 and HASH is the MD5 of the text EXPIRES, the path of the
// address (as the file server sees it, percent-escapes decoded), a space and
// the shared secret, in base64url without padding.  nginx checks exactly
// that with
//   secure_link $arg_md5,$arg_expires;
//   secure_link_md5 "$secure_link_expires$uri SECRET";
#pragma once

#include <cstdint>
#include <string>

// The hash of a link: base64url (no padding) of MD5(expires + path + " " + secret).
std::string KwSecureLinkHash(int64_t expires, const std::string& path, const std::string& secret);

// The address of the file `name` under `base` (http or https, no query),
// valid until `expires`.
std::string KwSecureLinkAddress(const std::string& base, const std::string& name,
                                const std::string& secret, int64_t expires);

// Checks a base address for --files-url: http:// or https://, a host, no
// query, fragment or percent-escape.  Returns "" when usable, else what is wrong.
std::string KwCheckFilesUrl(const std::string& base);

// Checks a link secret: printable, without blanks or the characters that a
// web server's configuration would read as syntax (quotes, "\", "$", ";",
// "{", "}").  Returns "" when usable, else what is wrong.
std::string KwCheckLinkSecret(const std::string& secret);
